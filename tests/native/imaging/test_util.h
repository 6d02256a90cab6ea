// Helpers for the pixel routine tests: holders filled with known or random samples.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>

#include <vector>

#include "imaging/simd.h"
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

// Limits the SIMD paths to a level for its lifetime: 0 scalar, 1 SSE2, 2 SSSE3, 3 everything the
// processor has. The destructor turns every path back on, also when an assertion has left the
// test early, so that no later test compares scalar with scalar.
class SimdLevel {
 public:
  explicit SimdLevel(int level) {
    imaging::SetSse2Enabled(level >= 1);
    imaging::SetSsse3Enabled(level >= 2);
    imaging::SetAvx2Enabled(level >= 3);
  }
  ~SimdLevel() {
    imaging::SetSse2Enabled(true);
    imaging::SetSsse3Enabled(true);
    imaging::SetAvx2Enabled(true);
  }
  SimdLevel(const SimdLevel&) = delete;
  SimdLevel& operator=(const SimdLevel&) = delete;

  // Whether the processor has the paths of a level.
  static bool Available(int level) {
    return level == 0 || (level == 1 && imaging::CpuHasSse2()) ||
           (level == 2 && imaging::CpuHasSsse3()) || (level == 3 && imaging::CpuHasAvx2());
  }
  // Whether the paths in effect are exactly those of the level.
  static bool InEffect(int level) {
    return imaging::UseSse2() == (level >= 1 && imaging::CpuHasSse2()) &&
           imaging::UseSsse3() == (level >= 2 && imaging::CpuHasSsse3()) &&
           imaging::UseAvx2() == (level >= 3 && imaging::CpuHasAvx2());
  }
};

// A byte buffer with guard bytes on both sides, to see writes past either end without a
// sanitizer (reads past the end are left to the sanitizer).
class GuardedBuffer {
 public:
  static constexpr size_t kGuard = 64;
  explicit GuardedBuffer(size_t size) : bytes_(size + 2 * kGuard), size_(size) {
    for (size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = Pattern(i);
  }
  uint8_t* data() { return bytes_.data() + kGuard; }
  size_t size() const { return size_; }
  bool GuardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (bytes_[i] != Pattern(i) || bytes_[kGuard + size_ + i] != Pattern(kGuard + size_ + i))
        return false;
    return true;
  }

 private:
  static uint8_t Pattern(size_t i) { return static_cast<uint8_t>(0xA5 ^ (i * 29)); }
  std::vector<uint8_t> bytes_;
  size_t size_;
};

}  // namespace testutil
