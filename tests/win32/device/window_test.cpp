// Capture windows through the device class: whatever the width, height, offset, sub-sampling
// and mirrors, each delivered pixel is the scene's pixel at that place.
#include <cstdlib>
#include <vector>

#include "device/qelvan_device.h"
#include "vcam_fixture.h"

namespace {

constexpr int kMono = 1;  // one sample per pixel: the scene's luminance

class Windows : public VirtualCamera {
 protected:
  void SetUp() override {
    VirtualCamera::SetUp();
    ASSERT_EQ(vcamctl_attach(kMono, 1, 0), 0u);
    ASSERT_EQ(vcamctl_scene(kMono, 0), 0u);  // frozen: every frame the same
  }
};

struct Case {
  int x, y, width, height, subsample;
};

// The whole array in 10-bit samples, read as one plain frame.
std::vector<uint16_t> FullScene(CQelvanZ51QKRVNSdk& dev) {
  std::vector<uint16_t> scene(752 * 480);
  EXPECT_EQ(dev.SetWideTransfer(1), 1);
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 0), 0);
  EXPECT_EQ(dev.SingleShot(), 0);
  EXPECT_EQ(dev.GetShotFrame(scene.data(), scene.size() * 2), 0);
  EXPECT_EQ(dev.SetWideTransfer(0), 1);
  return scene;
}

TEST_F(Windows, OddAndUnalignedWindowsComeOutWhole) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  const std::vector<uint16_t> scene = FullScene(dev);
  const Case cases[] = {
      {100, 200, 201, 21, 0}, {0, 0, 751, 479, 0}, {1, 1, 751, 479, 0}, {7, 9, 4, 3, 0},
      {2, 5, 750, 7, 17},     {100, 200, 201, 21, 1}, {2, 5, 750, 474, 1}, {101, 33, 405, 99, 1},
      {0, 0, 745, 479, 2},    {13, 7, 201, 21, 2},   {5, 3, 747, 477, 2},
  };
  std::vector<uint8_t> frame;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "window " << c.x << "," << c.y << " " << c.width << "x"
                                      << c.height << " mode " << c.subsample);
    ASSERT_EQ(dev.SetCaptureWindow(c.x, c.y, c.width, c.height, c.subsample), 0);
    const int f = c.subsample == 1 ? 2 : c.subsample == 2 ? 4 : 1;
    const int bw = c.width / f, bh = c.height / f;
    ASSERT_EQ(dev.OutputWidth(), bw);
    ASSERT_EQ(dev.OutputLines(), bh);
    // Where the camera reads each binned pixel from, as its model states it.
    const qlv_placement place = qlv_place_window(c.x, c.y, c.width, c.height, f);
    auto origin = [&](int i, int j, int* ax, int* ay) {
      *ax = place.readout.x + (place.column + i) * f;
      *ay = place.readout.y + (place.line + j) * f;
    };
    int ax = 0, ay = 0;
    origin(0, 0, &ax, &ay);
    if (f == 1) {
      EXPECT_EQ(ax, c.x);  // unbinned windows start exactly where asked
      EXPECT_EQ(ay, c.y);
    } else {
      EXPECT_LT(std::abs(ax - c.x), 2 * f);
      EXPECT_LT(std::abs(ay - c.y), 2 * f);
    }
    for (int mirror = 0; mirror < 4; ++mirror) {
      const int mh = mirror & 1, mv = mirror >> 1;
      SCOPED_TRACE(::testing::Message() << "mirror H " << mh << " V " << mv);
      ASSERT_EQ(dev.SetMirrorH(mh), 1);
      ASSERT_EQ(dev.SetMirrorV(mv), 1);
      frame.assign(static_cast<size_t>(bw) * bh + 7, 0xEE);
      ASSERT_EQ(dev.SingleShot(), 0);
      ASSERT_EQ(dev.GetShotFrame(frame.data(), frame.size()), 0);
      int wrong = 0, firstI = -1, firstJ = -1;
      for (int j = 0; j < bh; ++j) {
        for (int i = 0; i < bw; ++i) {
          // The sensor flips the picture: column i shows the window's column from the far side.
          origin(mh ? bw - 1 - i : i, mv ? bh - 1 - j : j, &ax, &ay);
          int sum = 0;
          for (int dy = 0; dy < f; ++dy)
            for (int dx = 0; dx < f; ++dx) sum += scene[(ay + dy) * 752 + ax + dx];
          const int expected = sum / (f * f) >> 2;
          if (frame[static_cast<size_t>(j) * bw + i] != expected && wrong++ == 0) {
            firstI = i;
            firstJ = j;
          }
        }
      }
      EXPECT_EQ(wrong, 0) << "first wrong pixel at " << firstI << "," << firstJ;
      EXPECT_EQ(frame[static_cast<size_t>(bw) * bh], 0xEE) << "wrote past the window";
    }
    ASSERT_EQ(dev.SetMirrorH(0), 1);
    ASSERT_EQ(dev.SetMirrorV(0), 1);
  }
}

// The streamed path copies with the same geometry, here in 16-bit samples.
TEST_F(Windows, StreamedOddWindowIsWholeIn16Bit) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  const std::vector<uint16_t> scene = FullScene(dev);
  ASSERT_EQ(dev.SetWideTransfer(1), 1);
  ASSERT_EQ(dev.SetCaptureWindow(100, 200, 201, 21, 0), 0);
  ASSERT_EQ(dev.SetMirrorH(1), 1);
  std::vector<uint16_t> frame(201 * 21);
  ASSERT_EQ(dev.StartStreaming(), 0);
  int rc = 2;
  while (rc == 2) rc = dev.WaitFrame();
  ASSERT_EQ(rc, 3);
  ASSERT_EQ(dev.GetStreamFrame(frame.data(), frame.size() * 2), 0);
  EXPECT_EQ(dev.StopStreaming(), 0);
  int wrong = 0;
  for (int j = 0; j < 21; ++j)
    for (int i = 0; i < 201; ++i)
      wrong += frame[j * 201 + i] != scene[(200 + j) * 752 + 100 + 200 - i];
  EXPECT_EQ(wrong, 0);
}

// The control library's window set-up is the test programs' stand-in for the library's: it must
// program the same registers and transfer size and report the picture the library expects.
TEST_F(Windows, RawWindowSetUpMatchesTheLibrary) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  const Case cases[] = {{100, 200, 201, 21, 0}, {0, 0, 751, 479, 0}, {101, 33, 405, 99, 1},
                        {5, 3, 747, 477, 2}, {0, 0, 752, 480, 0}};
  HANDLE h = vcamraw_open(kMono);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "window " << c.x << "," << c.y << " " << c.width << "x"
                                      << c.height << " mode " << c.subsample);
    ASSERT_EQ(dev.SetCaptureWindow(c.x, c.y, c.width, c.height, c.subsample), 0);
    const vcam_regs byLibrary = Regs(kMono);
    int w = 0, ht = 0;
    ASSERT_EQ(vcamraw_set_window(h, 0, 0, 752, 480, 0, &w, &ht), 0u);  // something else first
    ASSERT_EQ(vcamraw_set_window(h, c.x, c.y, c.width, c.height, c.subsample, &w, &ht), 0u);
    const vcam_regs byTool = Regs(kMono);
    EXPECT_EQ(w, dev.LinePitch());
    EXPECT_EQ(ht, dev.RawLines());
    for (int r : {1, 2, 3, 4, 5, 6, 114}) EXPECT_EQ(byTool.regs[r], byLibrary.regs[r]) << r;
    EXPECT_EQ(byTool.regs[13] & 15, byLibrary.regs[13] & 15);
    EXPECT_EQ(Transfer(byTool), Transfer(byLibrary));
  }
  CloseHandle(h);
}

}  // namespace
