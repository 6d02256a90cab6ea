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
  const int32_t n = WidthOf(region) * dst_step;
  for (int32_t row = 0; row < HeightOf(region); ++row) {
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, dst_step, row);
    const uint8_t* s = SrcRow(src, src_stride, region, src_step, region.top + row);
    int32_t i = 0;
    // Unpacking and packing work within each 128-bit lane, so the bytes come back in order.
    for (; i + Vec::kBytes <= n; i += Vec::kBytes) {
      const V v = Vec::Load(s + i);
      const V lo = Vec::UnpackLo8(v, zero), hi = Vec::UnpackHi8(v, zero);
      const V a = Vec::PackSigned32(Vec::ScaleClamp32(Vec::UnpackLo16(lo, zero), f, top),
                                    Vec::ScaleClamp32(Vec::UnpackHi16(lo, zero), f, top));
      const V b = Vec::PackSigned32(Vec::ScaleClamp32(Vec::UnpackLo16(hi, zero), f, top),
                                    Vec::ScaleClamp32(Vec::UnpackHi16(hi, zero), f, top));
      V out = Vec::PackUnsigned16(a, b);
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
  const V tenth = Vec::Set16(6554);  // exact for |k * d| < 16384
  for (int32_t y = 2; y < h - 2; ++y) {
    const uint8_t* rows[4];
    for (int r = 0; r < 4; ++r)
      rows[r] = SrcRow(src, src_stride, region, s, region.top + y - 2 + r);
    const uint8_t* cur = rows[2];
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, s, y);
    auto vertical_sum = [&](int b, int16_t* out) {
      V sum = Vec::Zero();
      for (int r = 0; r < 4; ++r) sum = Vec::Add16(sum, Vec::Widen(Vec::LoadHalf(rows[r] + b)));
      Vec::Store(out, sum);
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
        // Division by 10 truncating toward zero, on the magnitude.
        const V sign = Vec::template ShiftRightArith16<15>(x);
        const V ax = Vec::Sub16(Vec::Xor(x, sign), sign);
        V q = Vec::MulHiU16(ax, tenth);
        q = Vec::Sub16(Vec::Xor(q, sign), sign);
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
    auto vertical_sum = [&](int b, int16_t* out) {
      V sum = zero;
      for (int r = 0; r < 4; ++r) {
        const V v = Vec::Load(rows[r] + 2 * b);
        over = Vec::Or(over, Vec::SatSubU16(v, limit));
        sum = Vec::Add16(sum, v);
      }
      Vec::Store(out, sum);
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
