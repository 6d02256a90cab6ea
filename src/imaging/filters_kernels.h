// The 8-bit brightness and sharpening kernels, written once over a vector type (Sse2Vector,
// Avx2Vector) and instantiated by filters_sse2.cpp and filters_avx2.cpp.
//
// Everything here has internal linkage: each file compiles it for its own instruction set, and
// the linker must never swap one file's copy of a helper for the other's.
#pragma once

#include <cstdint>

#include "imaging/pixel_walk.h"

namespace imaging {
namespace {

// Byte masks selecting the fourth byte of 4-byte pixels, by byte offset modulo 4.
alignas(16) const uint8_t kFourthBytes[36] = {0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF,
                                              0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF,
                                              0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF};

inline uint8_t ScaleByte(uint8_t s, float f) {
  const float v = static_cast<float>(s) * f;
  if (v >= 255.0f) return 255;
  if (!(v > 0.0f)) return 0;
  return static_cast<uint8_t>(static_cast<int32_t>(v));
}

// The factor as a whole part below 128 and a 16-bit fraction, when s * whole + (s * fraction
// >> 16), saturated to 255, gives every byte what ScaleByte gives; it usually does, and then the
// bytes are scaled in 16-bit lanes instead of as single-precision values.
inline bool FixedPointFactor(float factor, int* whole, int* fraction) {
  if (!(factor >= 0.0f) || factor >= 128.0f) return false;
  const int w = static_cast<int>(factor);
  const int near = static_cast<int>((factor - static_cast<float>(w)) * 65536.0f);
  for (int m = near - 1; m <= near + 1; ++m) {
    if (m < 0 || m > 65535) continue;
    bool same = true;
    for (int s = 0; s < 256 && same; ++s) {
      const int v = s * w + ((s * m) >> 16);
      same = (v > 255 ? 255 : v) == ScaleByte(static_cast<uint8_t>(s), factor);
    }
    if (same) {
      *whole = w;
      *fraction = m;
      return true;
    }
  }
  return false;
}

// The layouts the byte kernels take: whole rows of 1- or 3-byte pixels, or 4-byte pixels of
// which the fourth byte is kept.
inline bool BytesLayout(int dst_step, int src_step, int channels, bool* keep_fourth) {
  *keep_fourth = channels == 3 && dst_step == 4;
  return dst_step == src_step && (dst_step == channels || *keep_fourth);
}

template <typename Vec>
bool BrightnessBytes(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                     int32_t dst_y, int dst_step, int src_step, int channels, int32_t dst_stride,
                     int32_t src_stride, float factor) {
  using V = typename Vec::V;
  bool keep_fourth;
  if (!BytesLayout(dst_step, src_step, channels, &keep_fourth)) return false;
  const auto f = Vec::SetF(factor);
  const auto top = Vec::SetF(255.0f);
  const V zero = Vec::Zero();
  const V fourth = Vec::Set32(static_cast<int32_t>(0xFF000000u));
  int whole = 0, fraction = 0;
  const bool fixed = FixedPointFactor(factor, &whole, &fraction);
  const V vwhole = Vec::Set16(static_cast<int16_t>(whole));
  const V vfraction = Vec::Set16(static_cast<int16_t>(static_cast<uint16_t>(fraction)));
  const int32_t n = WidthOf(region) * dst_step;
  for (int32_t row = 0; row < HeightOf(region); ++row) {
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, dst_step, row);
    const uint8_t* s = SrcRow(src, src_stride, region, src_step, region.top + row);
    int32_t i = 0;
    // Unpacking and packing work within each 128-bit lane, so the bytes come back in order.
    for (; i + Vec::kBytes <= n; i += Vec::kBytes) {
      const V v = Vec::Load(s + i);
      const V lo = Vec::UnpackLo8(v, zero), hi = Vec::UnpackHi8(v, zero);
      V out;
      if (fixed) {
        // At most 255 * 127 + 255: positive in a signed 16-bit lane, saturated by the packing.
        auto scale = [&](V x) {
          return Vec::Add16(Vec::MulLo16(x, vwhole), Vec::MulHiU16(x, vfraction));
        };
        out = Vec::PackUnsigned16(scale(lo), scale(hi));
      } else {
        const V a = Vec::PackSigned32(Vec::ScaleClamp32(Vec::UnpackLo16(lo, zero), f, top),
                                      Vec::ScaleClamp32(Vec::UnpackHi16(lo, zero), f, top));
        const V b = Vec::PackSigned32(Vec::ScaleClamp32(Vec::UnpackLo16(hi, zero), f, top),
                                      Vec::ScaleClamp32(Vec::UnpackHi16(hi, zero), f, top));
        out = Vec::PackUnsigned16(a, b);
      }
      if (keep_fourth)  // i is a multiple of 4 here
        out = Vec::Or(Vec::And(fourth, Vec::Load(d + i)), Vec::AndNot(fourth, out));
      Vec::Store(d + i, out);
    }
    for (; i < n; ++i)
      if (!keep_fourth || (i & 3) != 3) d[i] = ScaleByte(s[i], factor);
  }
  return true;
}

constexpr int kSharpenChunkBytes = 1024;

// Sharpening by column sums: each chunk of a row first sums the four source rows per byte, then
// every output byte adds four of those sums.
template <typename Vec>
bool SharpenBytes(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                  int32_t dst_y, int dst_step, int src_step, int channels, int32_t dst_stride,
                  int32_t src_stride, int32_t k) {
  using V = typename Vec::V;
  using H = typename Vec::H;
  constexpr int kLanes = Vec::kBytes / 2;  // output bytes per step
  bool keep_fourth;
  if (!BytesLayout(dst_step, src_step, channels, &keep_fourth) || k < 0 || k > 64) return false;
  const int s = dst_step;
  const int32_t w = WidthOf(region);
  const int32_t h = HeightOf(region);
  // Output bytes [2s, (w - 2)s) of each row; sums over bytes [0, (w - 1)s).
  const int out_begin = 2 * s;
  const int out_end = (w - 2) * s;
  if (out_end - out_begin < kLanes || (w - 1) * s < kLanes) return false;
  alignas(32) int16_t vsum[kSharpenChunkBytes + 64];
  const V vk = Vec::Set16(static_cast<int16_t>(k));
  const V tenth = Vec::Set16(26215);  // |k * d| <= 64 * 255, well inside a 16-bit lane
  for (int32_t y = 2; y < h - 2; ++y) {
    const uint8_t* rows[4];
    for (int r = 0; r < 4; ++r)
      rows[r] = SrcRow(src, src_stride, region, s, region.top + y - 2 + r);
    const uint8_t* cur = rows[2];
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, s, y);
    // Written out: GCC keeps a four-pass loop here at -O2.
    auto vertical_sum = [&](int b, int16_t* out) {
      auto row = [&](int r) { return Vec::Widen(Vec::LoadHalf(rows[r] + b)); };
      Vec::Store(out, Vec::Add16(Vec::Add16(row(0), row(1)), Vec::Add16(row(2), row(3))));
    };
    for (int c0 = out_begin; c0 < out_end;) {
      int c1 = c0 + kSharpenChunkBytes < out_end ? c0 + kSharpenChunkBytes : out_end;
      if (out_end - c1 < kLanes) c1 = out_end;  // no chunk shorter than one step
      const int v0 = c0 - 2 * s;
      const int vcount = c1 + s - v0;
      int i = 0;
      for (; i + kLanes <= vcount; i += kLanes) vertical_sum(v0 + i, vsum + i);
      if (i < vcount) vertical_sum(v0 + vcount - kLanes, vsum + vcount - kLanes);
      auto step = [&](int b) {
        const int16_t* v = vsum + (b - v0);
        const V hsum = Vec::Add16(Vec::Add16(Vec::Load(v - 2 * s), Vec::Load(v - s)),
                                  Vec::Add16(Vec::Load(v), Vec::Load(v + s)));
        const V blur = Vec::template ShiftRight16<4>(hsum);
        const V px = Vec::Widen(Vec::LoadHalf(cur + b));
        const V x = Vec::MulLo16(Vec::Sub16(px, blur), vk);
        // x / 10 = floor(x * 26215 / 2^18), plus one for negative x: truncated toward zero.
        const V q = Vec::Sub16(Vec::template ShiftRightArith16<2>(Vec::MulHi16(x, tenth)),
                               Vec::template ShiftRightArith16<15>(x));
        H out = Vec::Narrow(Vec::Add16(px, q));
        if (keep_fourth)
          out = Vec::SelectHalf(Vec::LoadHalf(kFourthBytes + (b & 3)), Vec::LoadHalf(d + b), out);
        Vec::StoreHalf(d + b, out);
      };
      int b = c0;
      for (; b + kLanes <= c1; b += kLanes) step(b);
      if (b < c1) step(c1 - kLanes);  // overlaps the previous step with the same values
      c0 = c1;
    }
  }
  return true;
}

// Sharpening of 16-bit samples by the same column sums, for samples of at most 1023: then every
// sum and product fits a 16-bit lane. Returns false as soon as a larger sample is met (rows
// written until then are written again by the caller's wider path, with the same values).
template <typename Vec>
bool SharpenTenBit(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                   int32_t dst_y, int dst_step, int src_step, int channels, int32_t dst_stride,
                   int32_t src_stride, int32_t k, int32_t top) {
  using V = typename Vec::V;
  constexpr int kLanes = Vec::kBytes / 2;  // words per step
  const bool keep_fourth = channels == 3 && dst_step == 8;
  if (dst_step != src_step || (dst_step != 2 * channels && !keep_fourth)) return false;
  if (k < 0 || k > 32 || top > 1023) return false;  // 32 * 1023 stays below 32768
  const int s = dst_step / 2;  // words per pixel
  const int32_t w = WidthOf(region);
  const int32_t h = HeightOf(region);
  const int out_begin = 2 * s;  // words [2s, (w - 2)s) of each row; sums over [0, (w - 1)s)
  const int out_end = (w - 2) * s;
  if (out_end - out_begin < kLanes || (w - 1) * s < kLanes) return false;
  alignas(32) int16_t vsum[kSharpenChunkBytes + 64];
  // Fourth words of 8-byte pixels, by word offset modulo 4.
  alignas(32) static const uint16_t kFourthWords[20] = {0, 0, 0, 0xFFFF, 0, 0, 0, 0xFFFF, 0, 0,
                                                        0, 0xFFFF, 0, 0, 0, 0xFFFF, 0, 0, 0,
                                                        0xFFFF};
  const V vk = Vec::Set16(static_cast<int16_t>(k));
  const V tenth = Vec::Set16(26215);  // x / 10 = (x * 26215) >> 18, then toward zero
  const V limit = Vec::Set16(1023);
  const V vtop = Vec::Set16(static_cast<int16_t>(top));
  const V zero = Vec::Zero();
  for (int32_t y = 2; y < h - 2; ++y) {
    const uint8_t* rows[4];
    for (int r = 0; r < 4; ++r)
      rows[r] = SrcRow(src, src_stride, region, dst_step, region.top + y - 2 + r);
    const uint8_t* cur = rows[2];
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, dst_step, y);
    V over = zero;
    // Written out: GCC keeps a four-pass loop here at -O2.
    auto vertical_sum = [&](int b, int16_t* out) {
      const V v0 = Vec::Load(rows[0] + 2 * b), v1 = Vec::Load(rows[1] + 2 * b);
      const V v2 = Vec::Load(rows[2] + 2 * b), v3 = Vec::Load(rows[3] + 2 * b);
      const V high = Vec::Or(Vec::Or(Vec::SatSubU16(v0, limit), Vec::SatSubU16(v1, limit)),
                             Vec::Or(Vec::SatSubU16(v2, limit), Vec::SatSubU16(v3, limit)));
      over = Vec::Or(over, high);
      Vec::Store(out, Vec::Add16(Vec::Add16(v0, v1), Vec::Add16(v2, v3)));
    };
    for (int c0 = out_begin; c0 < out_end;) {
      int c1 = c0 + kSharpenChunkBytes < out_end ? c0 + kSharpenChunkBytes : out_end;
      if (out_end - c1 < kLanes) c1 = out_end;
      const int v0 = c0 - 2 * s;
      const int vcount = c1 + s - v0;
      int i = 0;
      for (; i + kLanes <= vcount; i += kLanes) vertical_sum(v0 + i, vsum + i);
      if (i < vcount) vertical_sum(v0 + vcount - kLanes, vsum + vcount - kLanes);
      if (!Vec::AllZero(over)) return false;
      auto step = [&](int b) {
        const int16_t* v = vsum + (b - v0);
        const V hsum = Vec::Add16(Vec::Add16(Vec::Load(v - 2 * s), Vec::Load(v - s)),
                                  Vec::Add16(Vec::Load(v), Vec::Load(v + s)));
        const V px = Vec::Load(cur + 2 * b);
        const V x = Vec::MulLo16(Vec::Sub16(px, Vec::template ShiftRight16<4>(hsum)), vk);
        const V q = Vec::Sub16(Vec::template ShiftRightArith16<2>(Vec::MulHi16(x, tenth)),
                               Vec::template ShiftRightArith16<15>(x));
        V out = Vec::Min16(Vec::Max16(Vec::Add16(px, q), zero), vtop);
        if (keep_fourth) out = Vec::Select(Vec::Load(kFourthWords + (b & 3)), Vec::Load(d + 2 * b), out);
        Vec::Store(d + 2 * b, out);
      };
      int b = c0;
      for (; b + kLanes <= c1; b += kLanes) step(b);
      if (b < c1) step(c1 - kLanes);  // overlaps the previous step with the same values
      c0 = c1;
    }
  }
  return true;
}

}  // namespace
}  // namespace imaging
