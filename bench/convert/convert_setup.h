// A 752 x 480 camera frame in the images of one colour type, and the settings of the two
// measured cases (neutral, every filter on), shared by the native and the i686 benchmarks.
#pragma once

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "output/dib_image.h"
#include "output/frame_converter.h"

namespace benchconvert {

constexpr int kWidth = 752;
constexpr int kHeight = 480;

struct TypeFrame {
  std::vector<std::unique_ptr<CDibImage>> owned;
  frameconv::FrameImages images;
  std::vector<uint8_t> raw_copy;  // the raw frame, restored before each conversion
  int type;

  explicit TypeFrame(int colour_type) : type(colour_type) {
    auto make = [&](CDibImage*& slot, uint16_t bits) {
      owned.push_back(std::make_unique<CDibImage>());
      owned.back()->Create(kWidth, kHeight, bits);
      slot = owned.back().get();
    };
    if (type <= 3) make(images.mono8, 8);
    if (type == 1 || type >= 4) make(images.mono16, 16);
    if (type != 1) make(images.rgb24, 24);
    if (type == 3) make(images.rgb32, 32);
    if (type == 4) make(images.rgb48, 48);
    if (type == 5) make(images.rgb64, 64);
    make(images.scratch, 8);  // re-made in the output's format on first use
    CDibImage* raw = frameconv::RawImageOf(images, type);
    const bool wide = raw->BitCount() == 16;
    // A smooth scene with sensor noise, so that branches see realistic data.
    std::mt19937 rng(42);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        int level = x * 200 / kWidth + y * 45 / kHeight + static_cast<int>(rng() % 9);
        if ((x ^ y) & 1) level = level * 3 / 4;
        uint8_t* p = raw->Pixels() + y * raw->Stride() + x * raw->BytesPerPixel();
        if (wide) {
          uint16_t v = static_cast<uint16_t>(level * 4 + (rng() & 3));
          std::memcpy(p, &v, 2);
        } else {
          *p = static_cast<uint8_t>(level);
        }
      }
    raw_copy.assign(raw->Pixels(), raw->Pixels() + raw->Stride() * raw->Height());
  }

  // One frame: restore the raw frame (the monochrome types convert in place), then convert.
  void Convert(const frameconv::ConvertSettings& settings) {
    CDibImage* raw = frameconv::RawImageOf(images, type);
    std::memcpy(raw->Pixels(), raw_copy.data(), raw_copy.size());
    frameconv::ConvertSettings s = settings;
    frameconv::ConvertChanges changes;
    frameconv::ConvertFrameImages(images, &s, nullptr, &changes);
  }
};

inline frameconv::ConvertSettings Settings(int type, bool all_filters) {
  frameconv::ConvertSettings s;
  s.colorType = type;
  if (all_filters) {
    s.bayerGain[0] = 110, s.bayerGain[2] = 130;
    s.hue = 30, s.saturation = 40, s.gamma = 120, s.contrast = 20, s.sharpness = 10,
    s.brightness = 20;
    if (type <= 1) s.grayMode = 1, s.grayGain[0] = 140, s.grayGain[3] = 120;
  }
  return s;
}

constexpr int kBitsOf[6] = {8, 16, 24, 32, 48, 64};

}  // namespace benchconvert
