// The preview window: making it, sizing the display image and drawing frames into it.
#include "camera/camera.h"

#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imaging/format.h"
#include "output/dib_image.h"

namespace {

constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;  // 0x52000000
constexpr DWORD kTopLevelStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;  // 0x16CF0000
constexpr int kChildId = 6540;

int DisplayBits(int type) { return type <= 1 ? 8 : 24; }

// (Re)makes the display image at the client size in the depth of the colour type; a depth
// change counts as much as a size change, or a 24-bit scale would overrun an 8-bit image.
bool FitDisplayImage(CDibImage* display, int cw, int ch, int type) {
  const int bits = DisplayBits(type);
  if (display->Pixels() && display->Width() == cw && display->Height() == ch && display->BitCount() == bits)
    return true;
  if (!display->Create(cw, ch, static_cast<uint16_t>(bits))) return false;
  if (bits == 8) display->SetGrayPalette();
  return true;
}

}  // namespace

bool CQelvan::PreviewConfigured() const {
  return previewParent != nullptr || previewX != 0 || previewY != 0 || previewW != 0 || previewH != 0;
}

HWND CQelvan::CreatePreviewWindow() {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  std::snprintf(windowClassName, sizeof windowClassName, "VideoRenderer_%08x_%08x",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)),
                static_cast<unsigned>(timeGetTime() + static_cast<unsigned>(std::rand())));
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = windowClassName;
  if (!RegisterClassExA(&wc)) {
    windowClassName[0] = '\0';
    return nullptr;
  }

  HWND window = nullptr;
  if (previewParent) {
    window = CreateWindowExA(0, windowClassName, "ActiveMovie Window", kChildStyle, previewX, previewY, previewW,
                             previewH, previewParent, reinterpret_cast<HMENU>(static_cast<intptr_t>(kChildId)),
                             instance, nullptr);
  } else {
    const int divisor = SubSampleDivisor(subSample);
    RECT rect = {0, 0, width / divisor, height / divisor};
    if (!AdjustWindowRectEx(&rect, kTopLevelStyle, FALSE, 0)) return nullptr;
    const int outerW = rect.right - rect.left;
    const int outerH = rect.bottom - rect.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - outerW) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - outerH) / 2;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    window = CreateWindowExA(0, windowClassName, "Active Window", kTopLevelStyle, x, y, outerW, outerH, nullptr,
                             nullptr, instance, nullptr);
  }
  if (!window) return nullptr;
  SetFocus(window);
  ShowWindow(window, SW_SHOW);
  if (!UpdateWindow(window)) {
    DestroyWindow(window);
    return nullptr;
  }
  return window;
}

void CQelvan::DestroyPreviewWindow() {
  EnterCriticalSection(&frameLock);
  const HWND window = previewWindow;
  const HDC dc = previewDC;
  previewWindow = nullptr;
  previewDC = nullptr;
  LeaveCriticalSection(&frameLock);
  if (dc) ReleaseDC(window, dc);
  if (window) DestroyWindow(window);
  if (windowClassName[0]) UnregisterClassA(windowClassName, GetModuleHandleA(nullptr));
  windowClassName[0] = '\0';
}

bool CQelvan::OpenPreviewWindow() {
  // A running preview keeps the window (or no window) it started with.
  if (mode.load() == MODE_PREVIEW) return true;
  // A window left from an earlier start goes: the placement may have changed since.
  if (previewWindow || windowClassName[0]) DestroyPreviewWindow();
  if (!PreviewConfigured()) return true;
  const HWND window = CreatePreviewWindow();
  const HDC dc = window ? GetDC(window) : nullptr;
  EnterCriticalSection(&frameLock);
  previewWindow = window;
  previewDC = dc;
  LeaveCriticalSection(&frameLock);
  if (window && dc) return true;
  DestroyPreviewWindow();
  return false;
}

void CQelvan::SizeDisplayImage(int type) {
  if (!previewWindow || !previewDC || !IsWindowVisible(previewWindow)) return;
  RECT client;
  if (!GetClientRect(previewWindow, &client) || client.right <= 0 || client.bottom <= 0) return;
  EnterCriticalSection(&frameLock);
  FitDisplayImage(displayImage, client.right, client.bottom, type);
  LeaveCriticalSection(&frameLock);
}

void CQelvan::PaintPreview(int type) {
  // The 8- and 24-bit forms are refreshed on every frame, drawn or not.
  CDibImage* source = type <= 1 ? image8 : image24;
  switch (type) {
    case 1: image8->Transfer(imaging::Reduce16To8, image16, nullptr, 0, 0, nullptr, 0); break;
    case 3: image24->Transfer(imaging::Copy32To24, image32, nullptr, 0, 0, nullptr, 0); break;
    case 4: image24->Transfer(imaging::Reduce48To24, image48, nullptr, 0, 0, nullptr, 0); break;
    case 5: image24->Transfer(imaging::Reduce48To24, image64, nullptr, 0, 0, nullptr, 0); break;
    default: break;
  }
  if (!previewWindow || !previewDC || !source->Pixels() || !IsWindowVisible(previewWindow)) return;
  RECT client;
  if (!GetClientRect(previewWindow, &client)) return;
  const int cw = client.right;
  const int ch = client.bottom;
  if (cw <= 0 || ch <= 0) return;

  const int sw = source->Width();
  const int sh = source->Height();
  if (cw == sw && ch == sh && type != 1) {
    // The images hold the top row first while their headers say bottom-up: drawn with a
    // top-down header they come out upright, every row in its place.
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD colors[256];
    } info;
    info.header = source->Header();
    info.header.biHeight = -sh;
    std::memcpy(info.colors, source->ColorTable(), sizeof info.colors);
    StretchDIBits(previewDC, 0, 0, cw, ch, 0, 0, sw, sh, source->Pixels(), reinterpret_cast<BITMAPINFO*>(&info),
                  DIB_RGB_COLORS, SRCCOPY);
    return;
  }
  if (!FitDisplayImage(displayImage, cw, ch, type) || !displayImage->Dc()) return;
  displayImage->StretchTransfer(DisplayBits(type) == 8 ? imaging::Scale8 : imaging::Scale24, source, nullptr,
                                nullptr, nullptr, 0);
  BitBlt(previewDC, 0, 0, cw, ch, displayImage->Dc(), 0, 0, SRCCOPY);
}
