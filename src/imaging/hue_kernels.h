// The hue/saturation kernel, written once over a vector type (Sse2Vector, Avx2Vector) and
// instantiated by hue_sse2.cpp and hue_avx2.cpp, which add the loads and stores of 3-byte pixels
// their instruction sets do best.
//
// Everything here has internal linkage: each file compiles it for its own instruction set, and
// the linker must never swap one file's copy of a helper for the other's.
#pragma once

#include <cstdint>

// The per-pixel helpers must be inlined into the row loop: called, they would pass vectors
// through memory.
#define QELVAN_HUE_INLINE inline __attribute__((always_inline))

namespace imaging {
namespace {

// floor(0xFF0000 / d) for d = 0..255 (0 for d = 0), as exact single-precision values.
struct RecipTable {
  alignas(32) float value[256];
  RecipTable() {
    value[0] = 0.0f;
    for (int d = 1; d < 256; ++d) value[d] = static_cast<float>(0xFF0000 / d);
  }
};

inline const float* Recips() {
  static const RecipTable table;
  return table.value;
}

template <typename Vec>
struct HueParams {
  typename Vec::V u;          // saturation + 256
  typename Vec::V shift_mod;  // shift % 255
  typename Vec::V shift_div;  // shift / 255
  const float* recip;         // floor(0xFF0000 / d)

  HueParams(int32_t shift, int32_t saturation)
      : u(Vec::Set16(static_cast<int16_t>(saturation + 256))),
        shift_mod(Vec::Set16(static_cast<int16_t>(shift % 255))),
        shift_div(Vec::Set16(static_cast<int16_t>(shift / 255))),
        recip(Recips()) {}
};

// floor((n * floor(0xFF0000 / d) + 0x8000) / 65536) for 32-bit lanes with 0 <= n <= d <= 255.
// Every intermediate is an integer below 2^24, so single precision is exact.
template <typename Vec>
QELVAN_HUE_INLINE typename Vec::V Position(typename Vec::V n32, typename Vec::V d32, const float* recip) {
  const auto prod = Vec::MulF(Vec::ToFloat(n32), Vec::Gather(recip, d32));
  return Vec::Truncate(
      Vec::MulF(Vec::AddF(prod, Vec::SetF(32768.0f)), Vec::SetF(1.0f / 65536.0f)));
}

// Pixels as 16-bit lanes of B, G and R (0..255); returns them shifted in place.
template <typename Vec>
QELVAN_HUE_INLINE void ShiftPixels(const HueParams<Vec>& k, typename Vec::V& b, typename Vec::V& g,
                        typename Vec::V& r) {
  using V = typename Vec::V;
  auto set = [&](int v) { return Vec::Set16(static_cast<int16_t>(v)); };
  const V zero = Vec::Zero();
  const V mx = Vec::Max16(Vec::Max16(r, g), b);
  const V mn = Vec::Min16(Vec::Min16(r, g), b);
  const V j = Vec::Add16(mx, mn);
  const V d = Vec::Sub16(mx, mn);
  const V lim = Vec::Min16(j, Vec::Sub16(set(511), j));
  // Sat(d) = (d * u + 128) >> 8, from a 17-bit product.
  const V lo = Vec::MulLo16(d, k.u);
  const V hi = Vec::MulHiU16(d, k.u);
  const V sat = Vec::Add16(
      Vec::template ShiftLeft16<8>(hi),
      Vec::template ShiftRight16<7>(Vec::Add16(Vec::template ShiftRight16<1>(lo), set(64))));
  const V c = Vec::Min16(lim, sat);
  const V base = Vec::template ShiftRightArith16<1>(Vec::Sub16(j, c));
  V level = Vec::Sub16(Vec::template ShiftRightArith16<1>(Vec::Add16(j, c)), base);

  // Sextant of the hue and the offset n inside it.
  const V red_max = Vec::CmpEq16(r, mx);
  const V green_max = Vec::AndNot(red_max, Vec::CmpEq16(g, mx));
  V n = Vec::Select(red_max, Vec::Sub16(g, b),
                    Vec::Select(green_max, Vec::Sub16(b, r), Vec::Sub16(r, g)));
  V s0 = Vec::Add16(set(5), Vec::Add16(Vec::And(green_max, set(-2)), Vec::And(red_max, set(-4))));
  const V negative = Vec::CmpGt16(zero, n);
  s0 = Vec::Add16(s0, negative);
  n = Vec::Add16(n, Vec::And(negative, d));

  // Unpacking and packing work within each 128-bit lane, so the lanes come back in order.
  V p = Vec::PackSigned32(
      Position<Vec>(Vec::UnpackLo16(n, zero), Vec::UnpackLo16(d, zero), k.recip),
      Position<Vec>(Vec::UnpackHi16(n, zero), Vec::UnpackHi16(d, zero), k.recip));
  p = Vec::Add16(p, k.shift_mod);
  const V wrap = Vec::CmpGt16(p, set(254));
  V index = Vec::Sub16(Vec::Add16(s0, k.shift_div), wrap);
  p = Vec::Sub16(p, Vec::And(wrap, set(255)));
  index = Vec::Sub16(index, Vec::And(Vec::CmpGt16(index, set(5)), set(6)));
  // (p * level + 128) >> 8; the product stays below 65536.
  V q = Vec::template ShiftRight16<8>(Vec::Add16(Vec::MulLo16(p, level), set(128)));
  // Gray pixels keep their level only.
  const V gray = Vec::CmpEq16(d, zero);
  level = Vec::AndNot(gray, level);
  q = Vec::AndNot(gray, q);

  // Each sextant has a top channel (base + level), a bottom one (base) and a middle one that
  // rises (base + q) in odd sextants and falls (base + level - q) in even ones:
  //   sextant 0 1 2 3 4 5;  top R R G G B B;  middle B G R B G R.
  const V half = Vec::template ShiftRight16<1>(index);
  const V third = Vec::Sub16(index, Vec::And(Vec::CmpGt16(index, set(2)), set(3)));
  const V odd = Vec::CmpEq16(Vec::And(index, set(1)), set(1));
  const V middle = Vec::Select(odd, q, Vec::Sub16(level, q));
  auto channel = [&](int top, int mid) {
    const V v = Vec::Add16(base, Vec::And(Vec::CmpEq16(half, set(top)), level));
    return Vec::Add16(v, Vec::And(Vec::CmpEq16(third, set(mid)), middle));
  };
  r = channel(0, 2);
  g = channel(1, 1);
  b = channel(2, 0);
}

// Two vectors of 4-byte pixels into 16-bit lanes of B, G and R, and back; the pixels return to
// the lanes they came from.
template <typename Vec>
QELVAN_HUE_INLINE void SplitPixels4(typename Vec::V p0, typename Vec::V p1, typename Vec::V& b,
                         typename Vec::V& g, typename Vec::V& r) {
  const typename Vec::V byte = Vec::Set32(0xFF);
  b = Vec::PackSigned32(Vec::And(p0, byte), Vec::And(p1, byte));
  g = Vec::PackSigned32(Vec::And(Vec::template ShiftRight32<8>(p0), byte),
                        Vec::And(Vec::template ShiftRight32<8>(p1), byte));
  r = Vec::PackSigned32(Vec::And(Vec::template ShiftRight32<16>(p0), byte),
                        Vec::And(Vec::template ShiftRight32<16>(p1), byte));
}

template <typename Vec>
QELVAN_HUE_INLINE void JoinPixels4(typename Vec::V b, typename Vec::V g, typename Vec::V r,
                        typename Vec::V& p0, typename Vec::V& p1) {
  const typename Vec::V bg = Vec::Or(b, Vec::template ShiftLeft16<8>(g));  // B | G << 8
  p0 = Vec::UnpackLo16(bg, r);
  p1 = Vec::UnpackHi16(bg, r);
}

// The leading pixels of one row, kBytes / 2 at a time; returns how many it did. Bytes3 loads and
// stores 3-byte pixels: Load(src, b, g, r), Store(dst, b, g, r) and kReach, the pixels a load
// may touch from its first one.
template <typename Vec, typename Bytes3>
int HueSaturationRow(uint8_t* dst, const uint8_t* src, int width, int bpp, int32_t shift,
                     int32_t saturation) {
  using V = typename Vec::V;
  constexpr int kPixels = Vec::kBytes / 2;
  if ((bpp != 3 && bpp != 4) || saturation < -255 || saturation > 255) return 0;
  const HueParams<Vec> k(shift, saturation);
  int x = 0;
  if (bpp == 4) {
    // The destination's fourth bytes stay as they are.
    const V keep = Vec::Set32(static_cast<int32_t>(0xFF000000u));
    for (; x + kPixels <= width; x += kPixels) {
      const uint8_t* s = src + 4 * x;
      uint8_t* d = dst + 4 * x;
      V b, g, r;
      SplitPixels4<Vec>(Vec::Load(s), Vec::Load(s + Vec::kBytes), b, g, r);
      ShiftPixels<Vec>(k, b, g, r);
      V p0, p1;
      JoinPixels4<Vec>(b, g, r, p0, p1);
      Vec::Store(d, Vec::Or(p0, Vec::And(Vec::Load(d), keep)));
      Vec::Store(d + Vec::kBytes, Vec::Or(p1, Vec::And(Vec::Load(d + Vec::kBytes), keep)));
    }
    return x;
  }
  const Bytes3 bytes3;
  for (; x + Bytes3::kReach <= width; x += kPixels) {
    V b, g, r;
    bytes3.Load(src + 3 * x, b, g, r);
    ShiftPixels<Vec>(k, b, g, r);
    bytes3.Store(dst + 3 * x, b, g, r);
  }
  return x;
}

}  // namespace
}  // namespace imaging
