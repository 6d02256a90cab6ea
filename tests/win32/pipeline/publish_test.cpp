// The pipeline's two image sets: a converted frame is seen by readers only once it is published,
// and a swap never brings back an older picture in an image the running colour type leaves alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "output/frame_pipeline.h"

namespace {

using output::ColorType;

constexpr int kW = 64, kH = 8;

// Raw samples of frame `n`: a ramp that differs from frame to frame.
void LoadRaw(output::FramePipeline& p, int n) {
  CDibImage* raw = p.Raw();
  for (int y = 0; y < raw->Height(); ++y)
    for (int x = 0; x < raw->Width(); ++x) {
      uint8_t* s = raw->Pixels() + static_cast<size_t>(y) * raw->Stride() + static_cast<size_t>(x) * raw->BytesPerPixel();
      const int v = (x * 3 + y * 5 + n * 37) & 0xFF;
      s[0] = static_cast<uint8_t>(raw->BytesPerPixel() == 2 ? (v << 2) & 0xFF : v);
      if (raw->BytesPerPixel() == 2) s[1] = static_cast<uint8_t>(v >> 6);
    }
}

// One frame as the worker runs it: fetched, converted, drawn (no window), published.
void Frame(output::FramePipeline& p, int n, bool publish = true) {
  LoadRaw(p, n);
  frameconv::ConvertSettings s;
  frameconv::ConvertChanges changes;
  p.Convert(&s, nullptr, &changes);
  p.Paint(nullptr, nullptr);
  if (publish) p.Publish();
}

std::vector<uint8_t> Bytes(const CDibImage* image) {
  const uint8_t* b = image->Pixels();
  return std::vector<uint8_t>(b, b + static_cast<size_t>(image->Stride()) * image->Height());
}

TEST(FramePublishing, ReadersSeeAFrameOnlyOncePublished) {
  for (ColorType type : {ColorType::kMono8, ColorType::kMono10, ColorType::kRgb24, ColorType::kRgb32,
                         ColorType::kRgb48, ColorType::kRgb64}) {
    SCOPED_TRACE(static_cast<int>(type));
    output::FramePipeline p;
    ASSERT_TRUE(p.Prepare(type, kW, kH));
    const std::vector<uint8_t> blank = Bytes(p.Output(type));
    Frame(p, 1, false);
    EXPECT_EQ(Bytes(p.Output(type)), blank) << "a frame showed before it was published";
    p.Publish();
    const std::vector<uint8_t> first = Bytes(p.Output(type));
    EXPECT_NE(first, blank);
    // The copy delivered from the converted frame equals what readers later get.
    Frame(p, 2, false);
    std::vector<uint8_t> delivered(first.size()), read(first.size());
    ASSERT_TRUE(p.CopyOutConverted(delivered.data(), static_cast<int>(delivered.size()), 1));
    EXPECT_EQ(Bytes(p.Output(type)), first);
    p.Publish();
    ASSERT_TRUE(p.CopyOut(type, read.data(), static_cast<int>(read.size()), 1));
    EXPECT_EQ(read, delivered);
    EXPECT_NE(read, first);
  }
}

TEST(FramePublishing, ImagesOfOtherColourTypesKeepTheirLastPicture) {
  output::FramePipeline p;
  // 24-bit frames leave their raw samples in the 8-bit image; 48-bit preparation keeps it.
  ASSERT_TRUE(p.Prepare(ColorType::kRgb24, kW, kH));
  Frame(p, 1);
  Frame(p, 2);
  const std::vector<uint8_t> mono8 = Bytes(p.Output(ColorType::kMono8));
  ASSERT_TRUE(p.Prepare(ColorType::kRgb48, kW, kH));
  EXPECT_EQ(Bytes(p.Output(ColorType::kMono8)), mono8);
  std::vector<uint8_t> rgb24;
  for (int n = 3; n < 6; ++n) {
    Frame(p, n);
    EXPECT_EQ(Bytes(p.Output(ColorType::kMono8)), mono8) << "after frame " << n;
    // The 24-bit display form follows every frame.
    EXPECT_NE(Bytes(p.Output(ColorType::kRgb24)), rgb24) << "after frame " << n;
    rgb24 = Bytes(p.Output(ColorType::kRgb24));
  }
}

}  // namespace
