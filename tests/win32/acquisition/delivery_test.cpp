// Frame delivery: GetImage, FrameInfo and the message, row order and padding, short buffers,
// the frame-rate arithmetic, and settings changed while a mode runs.
#include <cstring>

#include "acquisition/acquisition_fixture.h"
#include "camera/frame_rate.h"
#include "output/frame_pipeline.h"
#include "output/dib_image.h"

namespace {

// The frame-rate window, driven by an injected clock.
TEST(FrameRate, CountsOverWindowsOfMoreThanOneSecond) {
  struct Case {
    uint32_t start;
    int frames;        // counted at start + 500, the last one at start + elapsed
    uint32_t elapsed;
    int rate;          // reported after the last frame
  };
  const Case cases[] = {
      {0, 31, 1025, 302},
      {0xFFFFFF00u, 31, 1025, 302},  // the millisecond clock wraps in between
      {1000, 10, 1000, 0},           // a window of exactly one second is not closed yet
      {0, 57, 1001, 569},
  };
  for (const Case& c : cases) {
    FrameRateMeter meter(c.start);
    for (int i = 1; i < c.frames; ++i) EXPECT_EQ(meter.Count(c.start + 500), 0);
    EXPECT_EQ(meter.Count(c.start + c.elapsed), c.rate) << c.frames << " frames in " << c.elapsed;
    EXPECT_EQ(meter.Pending(), c.rate ? 0 : c.frames);
  }
}

TEST(CopyFrameOut, RowOrderPaddingAndShortBuffers) {
  output::FramePipeline pipeline;
  ASSERT_TRUE(pipeline.Prepare(output::ColorType::kMono8, 750, 3));
  CDibImage* image = pipeline.Raw();  // the output image of 8-bit monochrome
  ASSERT_EQ(image->Stride(), 752);
  for (int i = 0; i < 752 * 3; ++i) image->Pixels()[i] = static_cast<uint8_t>(i * 7 + 1);
  pipeline.Publish();
  std::vector<uint8_t> out(752 * 3);
  for (int topDown : {0, 1}) {
    ASSERT_TRUE(pipeline.CopyOut(output::ColorType::kMono8, out.data(), static_cast<int>(out.size()), topDown));
    for (int row = 0; row < 3; ++row) {
      const int from = topDown ? row : 2 - row;
      EXPECT_EQ(std::memcmp(&out[row * 752], image->Pixels() + from * 752, 752), 0) << "row " << row;
    }
  }
  EXPECT_FALSE(pipeline.CopyOut(output::ColorType::kMono8, out.data(), 752 * 3 - 1, 1));
  EXPECT_FALSE(pipeline.CopyOut(output::ColorType::kMono8, out.data(), -1, 1));
  EXPECT_FALSE(pipeline.CopyOut(output::ColorType::kMono8, nullptr, 752 * 3, 1));
}

TEST_F(Acquisition, GetImageBeforeAnyFrame) {
  std::vector<uint8_t> buffer(752 * 480 * 3, 0xAB);
  Qelvan_SetColorMode(h_, 24);
  EXPECT_EQ(Qelvan_GetImage(h_, buffer.data(), static_cast<int>(buffer.size()), 1), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{ERR_MEMORY}));
  // A prepared, never filled image is blank.
  Qelvan_SetColorMode(h_, 8);
  ASSERT_EQ(Qelvan_Capture(h_), 1);
  EXPECT_EQ(Qelvan_GetImage(h_, buffer.data(), 752 * 480, 1), 1);
  EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + 752 * 480, 0), 752 * 480);
  EXPECT_EQ(Qelvan_GetImage(h_, buffer.data(), 752 * 480 - 1, 1), 0);
  EXPECT_EQ(Qelvan_GetImage(h_, nullptr, 752 * 480, 1), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{ERR_MEMORY, ERR_MEMORY, ERR_MEMORY}));
}

TEST_F(Acquisition, FrameInfoAndMessageByColourType) {
  struct Case {
    int bits, subSample, width, height, stride;
  };
  const Case cases[] = {
      {8, 0, 752, 480, 752},   {16, 0, 752, 480, 1504}, {24, 0, 752, 480, 2256},
      {32, 1, 376, 240, 1504}, {48, 2, 188, 120, 1128}, {64, 0, 752, 480, 6016},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    Qelvan_SetColorMode(h_, c.bits);
    Qelvan_SetSubSample(h_, c.subSample);
    std::vector<uint8_t> buffer(static_cast<size_t>(c.stride) * c.height);
    seen_.clear();
    ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
    ASSERT_TRUE(WaitFrames(3));
    const FrameInfo* info = reinterpret_cast<const FrameInfo*>(seen_.back().wParam);
    EXPECT_EQ(info->size, sizeof(void*) == 4 ? 24 : 32);  // the buffer address is 8 bytes on 64-bit
    EXPECT_EQ(info->width, c.width);
    EXPECT_EQ(info->height, c.height);
    EXPECT_EQ(info->bitsPerPixel, c.bits);
    EXPECT_EQ(info->buffer, buffer.data());
    for (const CameraMessage& m : seen_) EXPECT_EQ(m.wParam, seen_.back().wParam);
    if (c.bits == 8) {
      // After more than a second the rate is measured: the camera gives about 56 fps.
      ASSERT_TRUE(WaitUntil([&] {
        Pump(50);
        return info->frameRate > 0;
      }));
      EXPECT_GT(info->frameRate, 100);
      EXPECT_LT(info->frameRate, 700);
    }
    EXPECT_EQ(Qelvan_StopPreview(h_), 1);
    EXPECT_TRUE(Errors().empty());
  }
}

TEST_F(Acquisition, ShortBuffersAreRefused) {
  Qelvan_SetColorMode(h_, 24);
  std::vector<uint8_t> buffer(1082880);
  // The preview announces the failure instead of the frame.
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), buffer.data(), 1082879, 1), 1);
  EXPECT_TRUE(WaitFrameError(ERR_MEMORY));
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  Pump(100);
  EXPECT_EQ(Count(WM_CAMERA_FRAME, 0), 0) << "a frame was announced without its copy";
  EXPECT_EQ(Errors()[0], ERR_MEMORY);

  // A snapshot posts to the frame window left by the preview and records 5 twice.
  seen_.clear();
  EXPECT_EQ(Qelvan_SnapShot(h_, buffer.data(), 1082879, 1), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{ERR_MEMORY, ERR_MEMORY}));
  EXPECT_TRUE(WaitFrameError(ERR_MEMORY));
  EXPECT_EQ(Qelvan_SnapShot(h_, buffer.data(), 1082880, 1), 1);
  EXPECT_TRUE(Errors().empty());
}

// Snapshots of a frozen scene against frames read straight from the driver: row order, and
// the padded rows of a 750-pixel window.
TEST_F(Acquisition, SnapshotRowsMatchTheCameraFrame) {
  ASSERT_EQ(vcamctl_scene(0, 0), 0u);
  struct Case {
    int width, stride;
  };
  for (const Case& c : {Case{752, 752}, Case{750, 752}}) {
    SCOPED_TRACE(c.width);
    ASSERT_EQ(Qelvan_SetCaptureWindowEx(h_, 752, 0, c.width, 480, 0, 480), 1);
    std::vector<uint8_t> down(static_cast<size_t>(c.stride) * 480), up(down.size());
    ASSERT_EQ(Qelvan_SnapShot(h_, down.data(), static_cast<int>(down.size()), 1), 1);
    ASSERT_EQ(Qelvan_SnapShot(h_, up.data(), static_cast<int>(up.size()), 0), 1);
    const std::vector<uint8_t> raw = RawFrame(0, 0, c.width, 480);
    ASSERT_EQ(raw.size(), static_cast<size_t>(c.width) * 480);
    int wrong = 0;
    for (int r = 0; r < 480; ++r) {
      wrong += std::memcmp(&down[r * c.stride], &raw[r * c.width], c.width) != 0;
      wrong += std::memcmp(&up[(479 - r) * c.stride], &raw[r * c.width], c.width) != 0;
    }
    EXPECT_EQ(wrong, 0);
  }
  EXPECT_TRUE(Errors().empty());
}

// A running mode keeps the window and colour type it was prepared with; new ones act at the
// next start.
TEST_F(Acquisition, SettingsChangedDuringAModeActAtTheNextStart) {
  std::vector<uint8_t> buffer(752 * 480 * 3);
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  ASSERT_TRUE(WaitFrames(1));
  EXPECT_EQ(Qelvan_SetCaptureWindowEx(h_, 752, 0, 640, 480, 0, 480), 1);
  EXPECT_EQ(Qelvan_SetColorMode(h_, 24), 1);
  seen_.clear();
  ASSERT_TRUE(WaitFrames(3));
  const FrameInfo* info = reinterpret_cast<const FrameInfo*>(seen_.back().wParam);
  EXPECT_EQ(info->width, 752);
  EXPECT_EQ(info->bitsPerPixel, 8);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  ASSERT_EQ(Qelvan_StartPreview(h_), 1);
  seen_.clear();
  ASSERT_TRUE(WaitFrames(2));
  EXPECT_EQ(info->width, 640);
  EXPECT_EQ(info->bitsPerPixel, 24);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);

  // Capture mode: a snapshot after a window change still fits the prepared images.
  Qelvan_SetColorMode(h_, 8);
  ASSERT_EQ(Qelvan_SetCaptureWindowEx(h_, 752, 0, 752, 480, 0, 480), 1);
  ASSERT_EQ(Qelvan_Capture(h_), 1);
  EXPECT_EQ(Qelvan_SetCaptureWindowEx(h_, 752, 0, 320, 240, 0, 240), 1);
  EXPECT_EQ(Qelvan_SnapShot(h_, buffer.data(), 752 * 480, 1), 1);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  ASSERT_EQ(Qelvan_Capture(h_), 1);
  EXPECT_EQ(Qelvan_SnapShot(h_, buffer.data(), 320 * 240, 1), 1);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Acquisition, AWindowTheCameraRefusesFailsThePreparation) {
  // Inside the sensor, but narrower than the camera can read out.
  ASSERT_EQ(Qelvan_SetCaptureWindowEx(h_, 752, 0, 2, 480, 0, 480), 1);
  EXPECT_EQ(Qelvan_StartPreview(h_), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{ERR_NOT_READY, ERR_GEOMETRY}));
  EXPECT_TRUE(ThreadsBackToStart());
}

// The delivery target can change while previewing; frames follow it.
TEST_F(Acquisition, DeliveryTargetChangesWhilePreviewing) {
  std::vector<uint8_t> a(752 * 480), b(752 * 480);
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), a.data(), static_cast<int>(a.size()), 1), 1);
  ASSERT_TRUE(WaitFrames(2));
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), b.data(), static_cast<int>(b.size()), 0), 1);
  seen_.clear();
  ASSERT_TRUE(WaitFrames(3));
  EXPECT_EQ(reinterpret_cast<const FrameInfo*>(seen_.back().wParam)->buffer, b.data());
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_NE(std::count(b.begin(), b.end(), 0), 752 * 480) << "nothing was copied into the new buffer";
}

}  // namespace
