// Helpers for the pixel routine tests: holders filled with known or random samples.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>

#include "output/dib_image.h"

namespace testutil {

inline int Get(const CDibImage& img, int x, int y, int channel = 0) {
  const uint8_t* p = img.Pixels() + static_cast<size_t>(y) * img.Stride() +
                     static_cast<size_t>(x) * img.BytesPerPixel();
  if (img.BitCount() == 16 || img.BitCount() >= 48) {
    uint16_t v;
    std::memcpy(&v, p + 2 * channel, 2);
    return v;
  }
  return p[channel];
}

inline void Set(CDibImage& img, int x, int y, int channel, int value) {
  uint8_t* p = img.Pixels() + static_cast<size_t>(y) * img.Stride() +
               static_cast<size_t>(x) * img.BytesPerPixel();
  if (img.BitCount() == 16 || img.BitCount() >= 48) {
    uint16_t v = static_cast<uint16_t>(value);
    std::memcpy(p + 2 * channel, &v, 2);
  } else {
    p[channel] = static_cast<uint8_t>(value);
  }
}

// Every byte of the holder, padding included, random.
inline void FillRandomBytes(CDibImage& img, std::mt19937& rng) {
  const size_t n = static_cast<size_t>(img.Stride()) * img.Height();
  for (size_t i = 0; i < n; ++i) img.Pixels()[i] = static_cast<uint8_t>(rng());
}

// Samples 0..max_value in every channel of every pixel.
inline void FillRandom(CDibImage& img, std::mt19937& rng, int max_value, int channels) {
  std::uniform_int_distribution<int> dist(0, max_value);
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x)
      for (int c = 0; c < channels; ++c) Set(img, x, y, c, dist(rng));
}

inline void Fill(CDibImage& img, int value, int channels) {
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x)
      for (int c = 0; c < channels; ++c) Set(img, x, y, c, value);
}

inline bool SameBytes(const CDibImage& a, const CDibImage& b) {
  return a.Stride() == b.Stride() && a.Height() == b.Height() &&
         std::memcmp(a.Pixels(), b.Pixels(), static_cast<size_t>(a.Stride()) * a.Height()) == 0;
}

inline void CopyBytes(CDibImage& to, const CDibImage& from) {
  std::memcpy(to.Pixels(), from.Pixels(), static_cast<size_t>(from.Stride()) * from.Height());
}

}  // namespace testutil
