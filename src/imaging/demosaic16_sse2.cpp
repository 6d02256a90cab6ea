// The demosaicing of 16-bit samples with SSE2, eight pixels per step, into 48 or 64 bpp; the
// same arithmetic as the AVX2 kernel, and the same check that every sample is at most 1023.
#include <cstddef>

#include "imaging/demosaic_simd.h"
#include "imaging/sse2_target.h"

QELVAN_SSE2_BEGIN

namespace imaging {
namespace {

using V = __m128i;

constexpr int kStrip = 512;  // output columns per strip, a multiple of 8

QELVAN_ALWAYS_INLINE V Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }

// H(x) = 3 * (z(x) + z(x - 1)) + z(x - 2) + z(x + 1), z the row zeroed outside its colour sites.
// Every sample read is also checked against 1023: any larger one leaves a bit set in over.
QELVAN_ALWAYS_INLINE void FilterRow(const uint8_t* row, int x_first, int count, V site_even, int16_t* out,
                                    V& over) {
  const V site_odd = _mm_xor_si128(site_even, _mm_set1_epi8(-1));
  const V limit = _mm_set1_epi16(1023);
  for (int i = 0; i < count; i += 8) {
    const uint8_t* p = row + 2 * (x_first + i);  // x_first + i is even
    const V m2 = Load(p - 4), m1 = Load(p - 2), z = Load(p), p1 = Load(p + 2);
    over = _mm_or_si128(over, _mm_or_si128(_mm_subs_epu16(m2, limit), _mm_subs_epu16(p1, limit)));
    const V near = _mm_or_si128(_mm_and_si128(z, site_even), _mm_and_si128(m1, site_odd));
    const V far = _mm_add_epi16(_mm_and_si128(m2, site_even), _mm_and_si128(p1, site_odd));
    _mm_storeu_si128(reinterpret_cast<V*>(out + i), _mm_add_epi16(_mm_add_epi16(near, _mm_slli_epi16(near, 1)), far));
  }
}

// min((3 * near + far) * k >> 11, 1023) for 8 lanes (k32 = 32 * k).
QELVAN_ALWAYS_INLINE V Weigh8(const int16_t* near, const int16_t* far, V k32) {
  const V n = _mm_loadu_si128(reinterpret_cast<const V*>(near));
  const V f = _mm_loadu_si128(reinterpret_cast<const V*>(far));
  const V s = _mm_add_epi16(_mm_add_epi16(n, _mm_slli_epi16(n, 1)), f);
  return _mm_min_epi16(_mm_mulhi_epu16(s, k32), _mm_set1_epi16(1023));
}

// Eight pixels as B, G, R, 0 words, two to a register, in order.
QELVAN_ALWAYS_INLINE void Pixels4Words(V b, V g, V r, V p[4]) {
  const V zero = _mm_setzero_si128();
  const V bg_lo = _mm_unpacklo_epi16(b, g), bg_hi = _mm_unpackhi_epi16(b, g);
  const V r_lo = _mm_unpacklo_epi16(r, zero), r_hi = _mm_unpackhi_epi16(r, zero);
  p[0] = _mm_unpacklo_epi32(bg_lo, r_lo);
  p[1] = _mm_unpackhi_epi32(bg_lo, r_lo);
  p[2] = _mm_unpacklo_epi32(bg_hi, r_hi);
  p[3] = _mm_unpackhi_epi32(bg_hi, r_hi);
}

// 8 pixels, 48 bytes, nothing written beyond: each pixel is stored as 8 bytes whose last two
// the next pixel's store overwrites, and the last one as 8 bytes that start with the R of the
// one before it.
QELVAN_ALWAYS_INLINE void Store48(uint8_t* d, V b, V g, V r) {
  V p[4];
  Pixels4Words(b, g, r, p);
  for (int i = 0; i < 3; ++i) {
    _mm_storel_epi64(reinterpret_cast<V*>(d + 12 * i), p[i]);
    _mm_storel_epi64(reinterpret_cast<V*>(d + 12 * i + 6), _mm_srli_si128(p[i], 8));
  }
  _mm_storel_epi64(reinterpret_cast<V*>(d + 36), p[3]);
  // Words of p[3]: B6 G6 R6 0 B7 G7 R7 0; wanted at bytes 40..47: R6 B7 G7 R7.
  const V word4 = _mm_set_epi16(0, 0, 0, -1, 0, 0, 0, 0);
  const V last = _mm_or_si128(_mm_slli_si128(p[3], 2), _mm_and_si128(_mm_slli_si128(p[3], 4), word4));
  _mm_storel_epi64(reinterpret_cast<V*>(d + 40), _mm_srli_si128(last, 8));
}

// 8 pixels into 64 bpp, 64 bytes; the fourth word of each pixel is left as it was.
QELVAN_ALWAYS_INLINE void Store64(uint8_t* d, V b, V g, V r) {
  V p[4];
  Pixels4Words(b, g, r, p);
  const V keep = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
  V* out = reinterpret_cast<V*>(d);
  for (int i = 0; i < 4; ++i)
    _mm_storeu_si128(out + i, _mm_or_si128(p[i], _mm_and_si128(Load(d + 16 * i), keep)));
}

}  // namespace

int DemosaicRows16Sse2(const BayerRows& job) {
  if ((job.dst_bpp != 6 && job.dst_bpp != 8) || job.kr > 2047 || job.kb > 2047) return 0;
  const int width = job.region.right - job.region.left;
  const int last = width - 3;
  const int blocks = (last - 1) / 8;  // full 8-pixel blocks from column 2
  if (blocks <= 0) return 0;
  const int row_phase = job.row_phase, column_phase = job.column_phase;
  auto src_row = [&](int y) { return FoldedRow(job, y, 2); };
  const V even16 = _mm_set1_epi32(0x0000FFFF);
  const V odd16 = _mm_xor_si128(even16, _mm_set1_epi8(-1));
  const V k32r = _mm_set1_epi16(static_cast<int16_t>(job.kr * 32));
  const V k32b = _mm_set1_epi16(static_cast<int16_t>(job.kb * 32));
  alignas(16) int16_t filtered[4][kStrip];
  V over = _mm_setzero_si128();
  // A raw row of phase p has its colour sites where the column phase is 1 - p.
  auto site_mask = [&](int y) {
    const int rp = row_phase ^ (y & 1);
    return ((column_phase ^ 1 ^ rp) == 0) ? even16 : odd16;
  };
  const int end = 2 + blocks * 8;
  for (int x0 = 2; x0 < end; x0 += kStrip) {
    const int count = end - x0 < kStrip ? end - x0 : kStrip;
    for (int r = job.y_begin - 2; r <= job.y_begin; ++r)
      FilterRow(src_row(r), x0, count, site_mask(r), filtered[r & 3], over);
    for (int y = job.y_begin; y < job.y_end; ++y) {
      FilterRow(src_row(y + 1), x0, count, site_mask(y + 1), filtered[(y + 1) & 3], over);
      // The sums below fit 16 bits only for 10-bit samples; the rows read so far decide.
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(over, _mm_setzero_si128())) != 0xFFFF) return 0;
      const int rp = row_phase ^ (y & 1);
      const int16_t* red_near = filtered[(rp == 0 ? y - 1 : y) & 3];
      const int16_t* red_far = filtered[(rp == 0 ? y + 1 : y - 2) & 3];
      const int16_t* blue_near = filtered[(rp == 0 ? y : y - 1) & 3];
      const int16_t* blue_far = filtered[(rp == 0 ? y - 2 : y + 1) & 3];
      const V green_mask = (rp ^ column_phase) == 0 ? even16 : odd16;
      const uint8_t* cur = src_row(y);
      const uint8_t* prev = src_row(y - 1);
      uint8_t* d = DestinationRow(job, y);
      for (int i = 0; i < count; i += 8) {
        const int x = x0 + i;
        const V r = Weigh8(red_near + i, red_far + i, k32r);
        const V b = Weigh8(blue_near + i, blue_far + i, k32b);
        // (a + b) >> 1 of two 10-bit samples needs no clamp.
        const V diag = _mm_srli_epi16(_mm_add_epi16(Load(cur + 2 * x), Load(prev + 2 * x - 2)), 1);
        const V anti = _mm_srli_epi16(_mm_add_epi16(Load(cur + 2 * x - 2), Load(prev + 2 * x)), 1);
        const V g = _mm_or_si128(_mm_and_si128(green_mask, diag), _mm_andnot_si128(green_mask, anti));
        if (job.dst_bpp == 6)
          Store48(d + static_cast<ptrdiff_t>(x) * 6, b, g, r);
        else
          Store64(d + static_cast<ptrdiff_t>(x) * 8, b, g, r);
      }
    }
  }
  return end;
}

}  // namespace imaging

QELVAN_SSE2_END
