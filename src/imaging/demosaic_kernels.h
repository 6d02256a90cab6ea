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
// With z the row's samples, zero outside its colour sites, exactly one of x - 1 and x is a site,
// so H(x) = 3 * (z(x) + z(x - 1)) + z(x - 2) + z(x + 1) whatever the phase.
template <typename Vec>
inline void FilterRow8(const uint8_t* row, int x_first, int count, typename Vec::V site_even,
                       int16_t* out) {
  using V = typename Vec::V;
  const V site_odd = Vec::Xor(site_even, Vec::Set8(-1));
  for (int i = 0; i < count; i += Vec::kBytes) {
    const uint8_t* p = row + x_first + i;  // x_first + i is even
    const V zm2 = Vec::And(Vec::Load(p - 2), site_even);
    const V zp1 = Vec::And(Vec::Load(p + 1), site_odd);
    // z(x) + z(x - 1) never exceeds 255: one of the two is zero.
    const V near = Vec::Or(Vec::And(Vec::Load(p), site_even), Vec::And(Vec::Load(p - 1), site_odd));
    const V n_lo = Vec::WidenLo8(near), n_hi = Vec::WidenHi8(near);
    const V far_lo = Vec::Add16(Vec::WidenLo8(zm2), Vec::WidenLo8(zp1));
    const V far_hi = Vec::Add16(Vec::WidenHi8(zm2), Vec::WidenHi8(zp1));
    Vec::Store(out + i,
               Vec::Add16(Vec::Add16(n_lo, Vec::template ShiftLeft16<1>(n_lo)), far_lo));
    Vec::Store(out + i + Vec::kBytes / 2,
               Vec::Add16(Vec::Add16(n_hi, Vec::template ShiftLeft16<1>(n_hi)), far_hi));
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
// depths it accepts (Accepts(dst_bpp)) and writes one block: Store(d, dst_bpp, b, g, r).
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
  auto site_mask = [&](int y) {
    const int rp = row_phase ^ (y & 1);
    return ((column_phase ^ 1 ^ rp) == 0) ? even8 : odd8;
  };
  const Store store;
  const int end = 2 + blocks * kBlock;
  for (int x0 = 2; x0 < end; x0 += kDemosaicStrip) {
    const int count = end - x0 < kDemosaicStrip ? end - x0 : kDemosaicStrip;
    for (int r = job.y_begin - 2; r <= job.y_begin; ++r)
      FilterRow8<Vec>(src_row(r), x0, count, site_mask(r), filtered[r & 3]);
    for (int y = job.y_begin; y < job.y_end; ++y) {
      FilterRow8<Vec>(src_row(y + 1), x0, count, site_mask(y + 1), filtered[(y + 1) & 3]);
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
        const V r = Vec::PackInOrder16(Weigh8<Vec>(red_near + i, red_far + i, k32r),
                                       Weigh8<Vec>(red_near + i + kHalf, red_far + i + kHalf, k32r));
        const V b =
            Vec::PackInOrder16(Weigh8<Vec>(blue_near + i, blue_far + i, k32b),
                               Weigh8<Vec>(blue_near + i + kHalf, blue_far + i + kHalf, k32b));
        const V diag = FloorAverage<Vec>(Vec::Load(cur + x), Vec::Load(prev + x - 1));
        const V anti = FloorAverage<Vec>(Vec::Load(cur + x - 1), Vec::Load(prev + x));
        const V g = Vec::Select(green_mask, diag, anti);
        store(d + static_cast<ptrdiff_t>(x) * job.dst_bpp, job.dst_bpp, b, g, r);
      }
    }
  }
  return end;
}

}  // namespace
}  // namespace imaging
