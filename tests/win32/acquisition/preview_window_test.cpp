// The preview window: class, titles, styles and placement; no window; the drawn content read
// back through GDI at 1:1 and scaled into a child window.
#include <cstring>

#include "acquisition/acquisition_fixture.h"

namespace {

// A visible top-level window to hold the library's child window.
class ParentWindow {
 public:
  ParentWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QelvanTestParent";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowExA(0, wc.lpszClassName, "parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600,
                            nullptr, nullptr, wc.hInstance, nullptr);
  }
  ~ParentWindow() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_;
};

// The window's client area as top-down BGR rows of width * 3 bytes.
std::vector<uint8_t> ReadClient(HWND window, int width, int height) {
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP dib = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  const int stride = (width * 3 + 3) & ~3;
  std::vector<uint8_t> out(static_cast<size_t>(width) * 3 * height);
  for (int y = 0; y < height; ++y)
    std::memcpy(&out[static_cast<size_t>(y) * width * 3], static_cast<uint8_t*>(bits) + y * stride, width * 3);
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  return out;
}

class PreviewWindow : public Acquisition {
 protected:
  // The output image, top row first, without row padding (24-bit).
  std::vector<uint8_t> Image24(int width, int height) {
    const int stride = (width * 3 + 3) & ~3;
    std::vector<uint8_t> padded(static_cast<size_t>(stride) * height), out(static_cast<size_t>(width) * 3 * height);
    EXPECT_EQ(Qelvan_GetImage(h_, padded.data(), static_cast<int>(padded.size()), 1), 1);
    for (int y = 0; y < height; ++y) std::memcpy(&out[y * width * 3], &padded[y * stride], width * 3);
    return out;
  }
  // Polls the window until it shows `expected` (the scene is frozen, so every frame is equal).
  // `expected` is taken afresh on every poll, from the image of the moment.
  static bool Shows(HWND window, const std::function<std::vector<uint8_t>()>& expectedNow, int width, int height) {
    if (WaitUntil([&] { return ReadClient(window, width, height) == expectedNow(); }, 10000)) return true;
    const std::vector<uint8_t> expected = expectedNow();
    const std::vector<uint8_t> got = ReadClient(window, width, height);
    int firstRow = -1, rowsSame = 0, rowsFlipped = 0;
    const size_t rb = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
      const bool same = std::memcmp(&got[y * rb], &expected[y * rb], rb) == 0;
      rowsSame += same;
      rowsFlipped += std::memcmp(&got[y * rb], &expected[(height - 1 - y) * rb], rb) == 0;
      if (!same && firstRow < 0) firstRow = y;
    }
    if (firstRow < 0 || got.size() != expected.size()) return false;
    int col = 0;
    while (got[firstRow * rb + col] == expected[firstRow * rb + col]) ++col;
    ADD_FAILURE() << "first differing byte in that row " << col;
    ADD_FAILURE() << "rows equal " << rowsSame << ", equal when flipped " << rowsFlipped << ", first differing row "
                  << firstRow << " got " << int(got[firstRow * rb]) << "," << int(got[firstRow * rb + 1]) << ","
                  << int(got[firstRow * rb + 2]) << " want " << int(expected[firstRow * rb]) << ","
                  << int(expected[firstRow * rb + 1]) << "," << int(expected[firstRow * rb + 2]);
    return false;
  }
};

TEST_F(PreviewWindow, TopLevelWindowIsSizedToTheImageAndCentred) {
  struct Case {
    int subSample, clientW, clientH;
  };
  for (const Case& c : {Case{0, 640, 480}, Case{1, 320, 240}}) {
    SCOPED_TRACE(c.subSample);
    Qelvan_SetSubSample(h_, c.subSample);
    ASSERT_EQ(Qelvan_SetCaptureWindowEx(h_, 752, 0, 640, 480, 0, 480), 1);
    ASSERT_EQ(Qelvan_SetPreviewWindow(h_, nullptr, 0, 0, 640, 480), 1);
    ASSERT_EQ(Qelvan_Preview(h_), 1);
    HWND w = FindWindowA(nullptr, "Active Window");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)), 0x16CF0000u);
    char cls[256] = {};
    GetClassNameA(w, cls, sizeof cls);
    EXPECT_EQ(std::strncmp(cls, "VideoRenderer_", 14), 0) << cls;
    RECT client, outer;
    GetClientRect(w, &client);
    GetWindowRect(w, &outer);
    EXPECT_EQ(client.right, c.clientW);
    EXPECT_EQ(client.bottom, c.clientH);
    const int W = outer.right - outer.left, H = outer.bottom - outer.top;
    EXPECT_EQ(outer.left, std::max(0, (GetSystemMetrics(SM_CXSCREEN) - W) / 2));
    EXPECT_EQ(outer.top, std::max(0, (GetSystemMetrics(SM_CYSCREEN) - H) / 2));
    ASSERT_EQ(Qelvan_Close(h_), 1);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), cls, &wc)) << "class left after Close";
    EXPECT_FALSE(IsWindow(w));
  }
}

TEST_F(PreviewWindow, ChildWindowAndNoWindow) {
  ParentWindow parent;
  ASSERT_EQ(Qelvan_SetPreviewWindow(h_, parent.hwnd(), 10, 20, 400, 300), 1);
  ASSERT_EQ(Qelvan_Preview(h_), 1);
  HWND child = GetDlgItem(parent.hwnd(), 6540);
  ASSERT_NE(child, nullptr);
  char title[64] = {};
  GetWindowTextA(child, title, sizeof title);
  EXPECT_STREQ(title, "ActiveMovie Window");
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)), 0x52000000u);
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent.hwnd(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right - r.left, 400);
  EXPECT_EQ(r.bottom - r.top, 300);
  // Preview again while previewing keeps that window.
  ASSERT_EQ(Qelvan_Preview(h_), 1);
  EXPECT_EQ(GetDlgItem(parent.hwnd(), 6540), child);
  ASSERT_EQ(Qelvan_Close(h_), 1);
  EXPECT_EQ(GetDlgItem(parent.hwnd(), 6540), nullptr);

  ASSERT_EQ(Qelvan_SetPreviewWindow(h_, nullptr, 0, 0, 0, 0), 1);
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), nullptr, 0, 1), 1);
  EXPECT_EQ(FindWindowA(nullptr, "Active Window"), nullptr);
  EXPECT_TRUE(WaitFrames(3));
  EXPECT_EQ(Qelvan_Close(h_), 1);
}

TEST_F(PreviewWindow, DrawsTheImageUprightAtFullSize) {
  ASSERT_EQ(vcamctl_scene(0, 0), 0u);
  Qelvan_SetColorMode(h_, 24);
  ASSERT_EQ(Qelvan_SetPreviewWindow(h_, nullptr, 0, 0, 752, 480), 1);
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), nullptr, 0, 1), 1);
  ASSERT_TRUE(WaitFrames(3));
  HWND w = FindWindowA(nullptr, "Active Window");
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(Shows(w, [&] { return Image24(752, 480); }, 752, 480));
  EXPECT_EQ(Qelvan_Close(h_), 1);
}

// Nearest neighbour into a 400 x 300 child; also across a change of depth with the window
// hidden at the start, so the display image is not re-made by the preparation.
TEST_F(PreviewWindow, ScalesTheImageIntoAChildWindow) {
  ASSERT_EQ(vcamctl_scene(0, 0), 0u);
  ParentWindow parent;
  ASSERT_EQ(Qelvan_SetPreviewWindow(h_, parent.hwnd(), 0, 0, 400, 300), 1);
  for (int bits : {8, 24}) {
    SCOPED_TRACE(bits);
    Qelvan_SetColorMode(h_, bits);
    if (bits == 24) ShowWindow(parent.hwnd(), SW_HIDE);
    ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitFrames(2));
    ShowWindow(parent.hwnd(), SW_SHOW);
    HWND child = GetDlgItem(parent.hwnd(), 6540);
    ASSERT_NE(child, nullptr);

    const auto expectedNow = [&] {
      std::vector<uint8_t> image;
      if (bits == 24) {
        image = Image24(752, 480);
      } else {
        std::vector<uint8_t> gray(752 * 480);
        EXPECT_EQ(Qelvan_GetImage(h_, gray.data(), static_cast<int>(gray.size()), 1), 1);
        for (uint8_t v : gray) image.insert(image.end(), {v, v, v});
      }
      std::vector<uint8_t> expected(400 * 300 * 3);
      // The scale runs over the bottom-up display image: its row i, screen row 299 - i, shows
      // picture row 479 - u(i).
      for (int i = 0; i < 300; ++i) {
        volatile float fu = 480.0f / 300.0f * static_cast<float>(i);  // single precision, not x87's
        const int u = std::min(479, static_cast<int>(fu));
        for (int j = 0; j < 400; ++j) {
          volatile float fv = 752.0f / 400.0f * static_cast<float>(j);
          const int v = std::min(751, static_cast<int>(fv));
          std::memcpy(&expected[((299 - i) * 400 + j) * 3], &image[((479 - u) * 752 + v) * 3], 3);
        }
      }
      return expected;
    };
    EXPECT_TRUE(Shows(child, expectedNow, 400, 300));
    EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  }
  EXPECT_EQ(Qelvan_Close(h_), 1);
}

}  // namespace
