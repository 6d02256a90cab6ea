// The 8-bit demosaicing kernel, written once over a vector type (Sse2Vector, Avx2Vector) and a
// store of B, G, R blocks, instantiated by the SSE2, SSSE3 and AVX2 files.
//
// Everything here has internal linkage: each file compiles it for its own instruction set, and
// the linker must never swap one file's copy of a helper for the other's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/demosaic_simd.h"

namespace imaging {
namespace {

// Output columns per strip; the four filtered rows of a strip live on the stack.
constexpr int kDemosaicStrip = 512;

// Red and blue are separable: S = 3 * H(near row) + H(far row), where H is the horizontal
// interpolation of one raw row at its own colour sites. Each raw row is filtered once per strip
// and serves four output rows.
//
// Of two neighbouring columns x (even) and x + 1, exactly one is a colour site s; H is three
// times its sample plus the sample of the site two columns away on the other side:
//   sites even: H(x) = 3 r(x) + r(x - 2),     H(x + 1) = 3 r(x) + r(x + 2);
//   sites odd:  H(x) = 3 r(x - 1) + r(x + 1), H(x + 1) = 3 r(x + 1) + r(x - 1).
// Read as 16-bit words, a pair's site is the low or the high byte, so a block of kBytes
// columns gives its even columns and its odd ones as two vectors of words, stored in that
// order ("pair-split" order) and weighed in it.
template <typename Vec>
inline void FilterRow8(const uint8_t* row, int x_first, int count, bool sites_odd, int16_t* out) {
  using V = typename Vec::V;
  constexpr int kHalf = Vec::kBytes / 2;
  if (sites_odd) {
    for (int i = 0; i < count; i += Vec::kBytes) {
      const uint8_t* p = row + x_first + i;  // x_first + i is even
      const V site = Vec::template ShiftRight16<8>(Vec::Load(p));
      const V before = Vec::template ShiftRight16<8>(Vec::Load(p - 2));
      Vec::Store(out + i, Vec::Add16(Vec::Add16(before, Vec::template ShiftLeft16<1>(before)), site));
      Vec::Store(out + i + kHalf,
                 Vec::Add16(Vec::Add16(site, Vec::template ShiftLeft16<1>(site)), before));
    }
  } else {
    const V low = Vec::Set16(0x00FF);
    for (int i = 0; i < count; i += Vec::kBytes) {
      const uint8_t* p = row + x_first + i;
      const V site = Vec::And(Vec::Load(p), low);
      const V three = Vec::Add16(site, Vec::template ShiftLeft16<1>(site));
      Vec::Store(out + i, Vec::Add16(three, Vec::And(Vec::Load(p - 2), low)));
      Vec::Store(out + i + kHalf, Vec::Add16(three, Vec::And(Vec::Load(p + 2), low)));
    }
  }
}

// (3 * near + far) * k >> 11 per 16-bit lane; k32 = 32 * k, so mulhi gives the shift. Values
// above 255 (a product of 0x80000 or more) saturate in the pack that follows.
template <typename Vec>
inline typename Vec::V Weigh8(const int16_t* near, const int16_t* far, typename Vec::V k32) {
  const typename Vec::V n = Vec::Load(near);
  const typename Vec::V s = Vec::Add16(Vec::Add16(n, Vec::template ShiftLeft16<1>(n)),
                                       Vec::Load(far));
  return Vec::MulHiU16(s, k32);
}

// (a + b) >> 1 per byte.
template <typename Vec>
inline typename Vec::V FloorAverage(typename Vec::V a, typename Vec::V b) {
  return Vec::Sub8(Vec::Avg8(a, b), Vec::And(Vec::Xor(a, b), Vec::Set8(1)));
}

// Sixteen bytes in pair-split order (eight even pixels, then eight odd) back in pixel order
// (128-bit vectors only).
template <typename Vec>
inline typename Vec::V PixelOrder(typename Vec::V v) {
  return Vec::UnpackLo8(v, _mm_srli_si128(v, 8));
}

// Sixteen B, G, R bytes as four vectors of BGR0 pixels, in order (128-bit vectors only).
template <typename Vec>
inline void Bgr0Pixels(typename Vec::V b, typename Vec::V g, typename Vec::V r,
                       typename Vec::V p[4]) {
  const typename Vec::V zero = Vec::Zero();
  const typename Vec::V bg_lo = Vec::UnpackLo8(b, g), bg_hi = Vec::UnpackHi8(b, g);
  const typename Vec::V r0_lo = Vec::UnpackLo8(r, zero), r0_hi = Vec::UnpackHi8(r, zero);
  p[0] = Vec::UnpackLo16(bg_lo, r0_lo);
  p[1] = Vec::UnpackHi16(bg_lo, r0_lo);
  p[2] = Vec::UnpackLo16(bg_hi, r0_hi);
  p[3] = Vec::UnpackHi16(bg_hi, r0_hi);
}

// Sixteen 4-byte pixels; the fourth byte of each is left as it was (128-bit vectors only).
template <typename Vec>
inline void StoreBgr0Keeping(uint8_t* d, const typename Vec::V p[4]) {
  const typename Vec::V keep = Vec::Set32(static_cast<int32_t>(0xFF000000u));
  for (int i = 0; i < 4; ++i)
    Vec::Store(d + 16 * i, Vec::Or(p[i], Vec::And(Vec::Load(d + 16 * i), keep)));
}

// Rows of the job, interior columns in blocks of kBytes pixels. Store takes the destination
// depths it accepts (Accepts(dst_bpp)) and writes one block: Store(d, dst_bpp, b, g, r), where
// g is in pixel order and b and r are in pair-split order within each 16-byte half.
template <typename Vec, typename Store>
int DemosaicRows8(const BayerRows& job) {
  using V = typename Vec::V;
  constexpr int kBlock = Vec::kBytes;
  if (!Store::Accepts(job.dst_bpp)) return 0;
  if (job.kr > 2047 || job.kb > 2047) return 0;  // 32 * k must fit the 16-bit multiplier
  const int width = job.region.right - job.region.left;
  const int last = width - 3;                // last interior column
  const int blocks = (last - 1) / kBlock;    // full blocks from column 2
  if (blocks <= 0) return 0;
  const int row_phase = job.row_phase, column_phase = job.column_phase;
  auto src_row = [&](int y) { return FoldedRow(job, y, 1); };
  const V even8 = Vec::Set16(0x00FF);
  const V odd8 = Vec::Xor(even8, Vec::Set8(-1));
  const V k32r = Vec::Set16(static_cast<int16_t>(job.kr * 32));
  const V k32b = Vec::Set16(static_cast<int16_t>(job.kb * 32));
  alignas(32) int16_t filtered[4][kDemosaicStrip];
  // Blocks start at even columns, so a lane's column phase is column_phase ^ (lane & 1).
  // A raw row of phase p has its colour sites where the column phase is 1 - p.
  auto sites_odd = [&](int y) { return (column_phase ^ 1 ^ row_phase ^ (y & 1)) != 0; };
  const Store store;
  const int end = 2 + blocks * kBlock;
  for (int x0 = 2; x0 < end; x0 += kDemosaicStrip) {
    const int count = end - x0 < kDemosaicStrip ? end - x0 : kDemosaicStrip;
    for (int r = job.y_begin - 2; r <= job.y_begin; ++r)
      FilterRow8<Vec>(src_row(r), x0, count, sites_odd(r), filtered[r & 3]);
    for (int y = job.y_begin; y < job.y_end; ++y) {
      FilterRow8<Vec>(src_row(y + 1), x0, count, sites_odd(y + 1), filtered[(y + 1) & 3]);
      const int rp = row_phase ^ (y & 1);
      const int16_t* red_near = filtered[(rp == 0 ? y - 1 : y) & 3];
      const int16_t* red_far = filtered[(rp == 0 ? y + 1 : y - 2) & 3];
      const int16_t* blue_near = filtered[(rp == 0 ? y : y - 1) & 3];
      const int16_t* blue_far = filtered[(rp == 0 ? y - 2 : y + 1) & 3];
      // Green where the lane's column phase equals the row phase.
      const V green_mask = (rp ^ column_phase) == 0 ? even8 : odd8;
      const uint8_t* cur = src_row(y);
      const uint8_t* prev = src_row(y - 1);
      uint8_t* d = DestinationRow(job, y);
      for (int i = 0; i < count; i += kBlock) {
        const int x = x0 + i;
        constexpr int kHalf = kBlock / 2;
        // Even pixels, then odd ones, within each 16-byte half: pair-split order.
        const V r = Vec::PackUnsigned16(Weigh8<Vec>(red_near + i, red_far + i, k32r),
                                        Weigh8<Vec>(red_near + i + kHalf, red_far + i + kHalf, k32r));
        const V b =
            Vec::PackUnsigned16(Weigh8<Vec>(blue_near + i, blue_far + i, k32b),
                                Weigh8<Vec>(blue_near + i + kHalf, blue_far + i + kHalf, k32b));
        // The diagonal (x, y) and (x - 1, y - 1) or the anti-diagonal (x - 1, y) and (x, y - 1):
        // the pair is chosen first, so one average serves both.
        const V c0 = Vec::Load(cur + x), c1 = Vec::Load(cur + x - 1);
        const V p0 = Vec::Load(prev + x), p1 = Vec::Load(prev + x - 1);
        const V g = FloorAverage<Vec>(Vec::SelectLanes(green_mask, c0, c1),
                                      Vec::SelectLanes(green_mask, p1, p0));
        store(d + static_cast<ptrdiff_t>(x) * job.dst_bpp, job.dst_bpp, b, g, r);
      }
    }
  }
  return end;
}

}  // namespace
}  // namespace imaging
