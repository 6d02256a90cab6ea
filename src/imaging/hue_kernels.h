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

// Each sextant has a top channel (base + level), a bottom one (base) and a middle one that
// rises (base + q) in odd sextants and falls (base + level - q) in even ones:
//   sextant 0 1 2 3 4 5;  top R R G G B B;  middle B G R B G R.
// By channel (B, G, R) and sextant index 0..11 (taken modulo 6): whether the channel gets the
// level (it is the top, or the falling middle), and the sign it gives q (+1 rising, -1 falling).
struct SextantTables {
  int8_t level[3][16];
  int8_t sign[3][16];
  SextantTables() {
    static const int kTop[6] = {2, 2, 1, 1, 0, 0};     // channel index, B = 0
    static const int kMiddle[6] = {0, 1, 2, 0, 1, 2};
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 16; ++i) {
        const int x = i % 6;
        const bool falling = x % 2 == 0;
        level[c][i] = static_cast<int8_t>(kTop[x] == c || (kMiddle[x] == c && falling) ? -1 : 0);
        sign[c][i] = static_cast<int8_t>(kMiddle[x] == c ? (falling ? -1 : 1) : 0);
      }
  }
};

inline const SextantTables& Sextants() {
  static const SextantTables tables;
  return tables;
}

template <typename Vec>
struct HueParams {
  typename Vec::V u;          // saturation + 256
  typename Vec::V shift_mod;  // shift % 255
  typename Vec::V shift_div;  // shift / 255
  typename Vec::V level[3], sign[3];  // SextantTables, by channel B, G, R

  HueParams(int32_t shift, int32_t saturation)
      : u(Vec::Set16(static_cast<int16_t>(saturation + 256))),
        shift_mod(Vec::Set16(static_cast<int16_t>(shift % 255))),
        shift_div(Vec::Set16(static_cast<int16_t>(shift / 255))) {
    const SextantTables& t = Sextants();
    for (int c = 0; c < 3; ++c) level[c] = Vec::Table16(t.level[c]), sign[c] = Vec::Table16(t.sign[c]);
  }
};

// floor((n * floor(0xFF0000 / d) + 0x8000) / 65536) for 32-bit lanes with 0 <= n <= d <= 255
// (d = 0 gives some value; gray pixels do not use it). The quotient 0xFF0000 / d comes from a
// division instead of a table lookup (a gather is slow, and SSE2 has none): the correctly
// rounded single-precision quotient truncates to the integer quotient for every d from 1 to
// 255 (a test runs them all), and every later intermediate is an integer below 2^24, so exact.
template <typename Vec>
QELVAN_HUE_INLINE typename Vec::V Position(typename Vec::V n32, typename Vec::V d32) {
  const auto quotient = Vec::FloorF(Vec::DivF(Vec::SetF(16711680.0f), Vec::ToFloat(d32)));
  const auto prod = Vec::MulF(Vec::ToFloat(n32), quotient);
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
  // Sat(d) = (d * u + 128) >> 8.
  const V sat = Vec::MulRound8(d, k.u);
  const V c = Vec::Min16(lim, sat);
  const V base = Vec::template ShiftRightArith16<1>(Vec::Sub16(j, c));
  const V level = Vec::Sub16(Vec::template ShiftRightArith16<1>(Vec::Add16(j, c)), base);

  // Sextant of the hue and the offset n inside it.
  const V red_max = Vec::CmpEq16(r, mx);
  const V green_max = Vec::AndNot(red_max, Vec::CmpEq16(g, mx));
  V n = Vec::SelectLanes(red_max, Vec::Sub16(g, b),
                         Vec::SelectLanes(green_max, Vec::Sub16(b, r), Vec::Sub16(r, g)));
  V s0 = Vec::Add16(set(5), Vec::Add16(Vec::And(green_max, set(-2)), Vec::And(red_max, set(-4))));
  const V negative = Vec::CmpGt16(zero, n);
  s0 = Vec::Add16(s0, negative);
  n = Vec::Add16(n, Vec::And(negative, d));

  // Unpacking and packing work within each 128-bit lane, so the lanes come back in order.
  V p = Vec::PackSigned32(
      Position<Vec>(Vec::UnpackLo16(n, zero), Vec::UnpackLo16(d, zero)),
      Position<Vec>(Vec::UnpackHi16(n, zero), Vec::UnpackHi16(d, zero)));
  p = Vec::Add16(p, k.shift_mod);
  const V wrap = Vec::CmpGt16(p, set(254));
  V index = Vec::Sub16(Vec::Add16(s0, k.shift_div), wrap);  // 0..11
  p = Vec::Sub16(p, Vec::And(wrap, set(255)));
  // (p * level + 128) >> 8; the product stays below 65536. A gray pixel (d = 0) has c = 0 and
  // so level 0 and q 0: it keeps its level, whatever its sextant came out as.
  const V q = Vec::template ShiftRight16<8>(Vec::Add16(Vec::MulLo16(p, level), set(128)));

  if constexpr (Vec::kByteShuffle) {
    // Both bytes of each lane look up the same entry, so masks and signs come out as words.
    const V control = Vec::Add16(index, Vec::template ShiftLeft16<8>(index));
    auto channel = [&](int c) {
      const V v = Vec::Add16(base, Vec::And(Vec::Shuffle8(k.level[c], control), level));
      return Vec::Add16(v, Vec::Sign16(q, Vec::Shuffle8(k.sign[c], control)));
    };
    b = channel(0);
    g = channel(1);
    r = channel(2);
  } else {
    index = Vec::Sub16(index, Vec::And(Vec::CmpGt16(index, set(5)), set(6)));
    const V half = Vec::template ShiftRight16<1>(index);
    const V third = Vec::Sub16(index, Vec::And(Vec::CmpGt16(index, set(2)), set(3)));
    const V odd = Vec::CmpEq16(Vec::And(index, set(1)), set(1));
    const V middle = Vec::SelectLanes(odd, q, Vec::Sub16(level, q));
    auto channel = [&](int top, int mid) {
      const V v = Vec::Add16(base, Vec::And(Vec::CmpEq16(half, set(top)), level));
      return Vec::Add16(v, Vec::And(Vec::CmpEq16(third, set(mid)), middle));
    };
    r = channel(0, 2);
    g = channel(1, 1);
    b = channel(2, 0);
  }
}

template <typename Vec>
QELVAN_HUE_INLINE void ShiftPixels2(const HueParams<Vec>& k, typename Vec::V& b0, typename Vec::V& g0,
                                    typename Vec::V& r0, typename Vec::V& b1, typename Vec::V& g1,
                                    typename Vec::V& r1) {
  ShiftPixels<Vec>(k, b0, g0, r0);
  ShiftPixels<Vec>(k, b1, g1, r1);
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
  // Two groups at a time: one group is a long chain of dependent steps, and two independent
  // chains keep the processor busy while each waits on its own.
  for (; x + kPixels + Bytes3::kReach <= width; x += 2 * kPixels) {
    V b0, g0, r0, b1, g1, r1;
    bytes3.Load(src + 3 * x, b0, g0, r0);
    bytes3.Load(src + 3 * (x + kPixels), b1, g1, r1);
    ShiftPixels2<Vec>(k, b0, g0, r0, b1, g1, r1);
    bytes3.Store(dst + 3 * x, b0, g0, r0);
    bytes3.Store(dst + 3 * (x + kPixels), b1, g1, r1);
  }
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
