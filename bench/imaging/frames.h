// Frames and the colour chain shared by the native and the i686 imaging benchmarks.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/demosaic.h"
#include "imaging/filters.h"
#include "imaging/simd.h"

namespace bench {

constexpr int kWidth = 752;
constexpr int kHeight = 480;

struct Frames {
  std::vector<uint8_t> raw8, raw16, rgb24, rgb48, scratch24, scratch48, mono8_out, mono16_out;
  // Demosaiced frames and mono frames that no benchmark writes: in-place filters are timed
  // reading these, so every round sees the same real picture instead of one the previous
  // rounds have pushed to saturation.
  std::vector<uint8_t> rgb24_in, rgb48_in, mono8_in, mono16_in;
  imaging::Rect all{0, 0, kWidth, kHeight};

  Frames()
      : raw8(kWidth * kHeight),
        raw16(kWidth * kHeight * 2),
        rgb24(kWidth * kHeight * 3),
        rgb48(kWidth * kHeight * 6),
        scratch24(kWidth * kHeight * 3),
        scratch48(kWidth * kHeight * 6),
        mono8_out(kWidth * kHeight),
        mono16_out(kWidth * kHeight * 2),
        rgb24_in(kWidth * kHeight * 3),
        rgb48_in(kWidth * kHeight * 6),
        mono8_in(kWidth * kHeight),
        mono16_in(kWidth * kHeight * 2) {
    // A smooth scene with sensor noise, so that branches see realistic data; 8-bit samples
    // and 10-bit ones (four times the 8-bit level plus noise, at most 1023).
    std::mt19937 rng(42);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        int level = x * 200 / kWidth + y * 45 / kHeight + static_cast<int>(rng() % 9);
        int tint = ((x ^ y) & 1) ? level : level * 3 / 4;
        raw8[y * kWidth + x] = static_cast<uint8_t>(tint);
        uint16_t v = static_cast<uint16_t>(tint * 4 + (rng() & 3));
        std::memcpy(&raw16[(y * kWidth + x) * 2], &v, 2);
      }
    imaging::BayerRecord bayer{2, 110, 100, 130};
    Demosaic(rgb24_in.data(), raw8.data(), 3, 1, bayer);
    Demosaic(rgb48_in.data(), raw16.data(), 6, 2, bayer);
    mono8_in = raw8;
    mono16_in = raw16;
    rgb24 = rgb24_in;
    rgb48 = rgb48_in;
  }

  // Interior and border passes: the whole frame, as the conversion runs them.
  void Demosaic(uint8_t* out, const uint8_t* raw, int out_bpp, int raw_bpp,
                imaging::BayerRecord& bayer) const {
    void* p = &bayer;
    const bool wide = raw_bpp == 2;
    for (imaging::RowRoutine r :
         {wide ? imaging::DemosaicInterior16 : imaging::DemosaicInterior8,
          wide ? imaging::DemosaicBorder16 : imaging::DemosaicBorder8})
      r(out, raw, &all, 0, 0, static_cast<uint16_t>(out_bpp), static_cast<uint16_t>(raw_bpp),
        kWidth * out_bpp, kWidth * raw_bpp, &p, 0);
  }
};

// The SIMD level the routines run at, and the build, for summary lines.
inline const char* LevelName() {
  if (imaging::UseAvx2()) return "AVX2";
  if (imaging::UseSsse3()) return "SSSE3";
  if (imaging::UseSse2()) return "SSE2";
  return "scalar";
}

// Limits the SIMD paths to a level: 0 scalar, 1 SSE2, 2 SSSE3, 3 AVX2 where present.
inline void SetLevel(int level) {
  imaging::SetSse2Enabled(level >= 1);
  imaging::SetSsse3Enabled(level >= 2);
  imaging::SetAvx2Enabled(level >= 3);
}

inline int Call(imaging::RowRoutine r, uint8_t* dst, const uint8_t* src, const imaging::Rect& all,
                int dst_bpp, int src_bpp, void* record) {
  void* p = record;
  return r(dst, src, &all, 0, 0, static_cast<uint16_t>(dst_bpp), static_cast<uint16_t>(src_bpp),
           all.right * dst_bpp, all.right * src_bpp, record ? &p : nullptr, 0);
}

// Settings of the chain: every filter on.
struct ChainSettings {
  imaging::BayerRecord bayer{2, 110, 100, 130};
  imaging::HueRecord hue{30, 0, 40, 10};
  imaging::FilterRecord gamma{120, 10}, contrast{20, 10}, sharpness{10, 10}, brightness{20, 10};
};

// The conversion of one 8-bit colour frame (24 bpp): demosaic, hue/saturation, gamma, contrast,
// sharpening, brightness.
inline void ColourChain8(Frames& f, ChainSettings& s) {
  uint8_t* out = f.rgb24.data();
  Call(imaging::DemosaicInterior8, out, f.raw8.data(), f.all, 3, 1, &s.bayer);
  Call(imaging::DemosaicBorder8, out, f.raw8.data(), f.all, 3, 1, &s.bayer);
  Call(imaging::HueSaturation8, out, out, f.all, 3, 3, &s.hue);
  Call(imaging::GammaColor8, out, out, f.all, 3, 3, &s.gamma);
  Call(imaging::ContrastColor8, out, out, f.all, 3, 3, &s.contrast);
  std::memcpy(f.scratch24.data(), out, f.rgb24.size());
  Call(imaging::SharpenColor8, out, f.scratch24.data(), f.all, 3, 3, &s.sharpness);
  Call(imaging::BrightnessColor8, out, out, f.all, 3, 3, &s.brightness);
}

// The same for a 10-bit colour frame (48 bpp).
inline void ColourChain10(Frames& f, ChainSettings& s) {
  uint8_t* out = f.rgb48.data();
  Call(imaging::DemosaicInterior16, out, f.raw16.data(), f.all, 6, 2, &s.bayer);
  Call(imaging::DemosaicBorder16, out, f.raw16.data(), f.all, 6, 2, &s.bayer);
  Call(imaging::HueSaturation16, out, out, f.all, 6, 6, &s.hue);
  Call(imaging::GammaColor16, out, out, f.all, 6, 6, &s.gamma);
  Call(imaging::ContrastColor16, out, out, f.all, 6, 6, &s.contrast);
  std::memcpy(f.scratch48.data(), out, f.rgb48.size());
  Call(imaging::SharpenColor16, out, f.scratch48.data(), f.all, 6, 6, &s.sharpness);
  Call(imaging::BrightnessColor16, out, out, f.all, 6, 6, &s.brightness);
}

}  // namespace bench
