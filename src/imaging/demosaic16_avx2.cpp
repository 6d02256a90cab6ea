// The demosaicing of 16-bit samples with AVX2, 16 pixels per step, into 48 or 64 bpp. The 16-bit
// lanes hold the weighted sums only while every sample is at most 1023; each sample is checked
// as it is filtered, and a frame with larger values goes to the scalar path.
#include <immintrin.h>

#include <cstddef>

#include "imaging/demosaic_simd.h"
#include "imaging/sse2_target.h"

#if defined(__GNUC__) && !defined(__AVX2__)
#pragma GCC push_options
#pragma GCC target("avx2")
#define QELVAN_AVX2_PUSHED
#endif

namespace imaging {
namespace {

using V = __m256i;

constexpr int kStrip = 512;  // output columns per strip, a multiple of 16

inline V Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }

// H(x) = 3 * (z(x) + z(x - 1)) + z(x - 2) + z(x + 1), z the row zeroed outside its colour sites.
// Every sample read is also checked against 1023: any larger one leaves a bit set in over.
inline void FilterRow(const uint8_t* row, int x_first, int count, V site_even, int16_t* out,
                      V& over) {
  const V site_odd = _mm256_xor_si256(site_even, _mm256_set1_epi8(-1));
  const V limit = _mm256_set1_epi16(1023);
  for (int i = 0; i < count; i += 16) {
    const uint8_t* p = row + 2 * (x_first + i);  // x_first + i is even
    const V m2 = Load(p - 4), m1 = Load(p - 2), z = Load(p), p1 = Load(p + 2);
    over = _mm256_or_si256(over, _mm256_or_si256(_mm256_subs_epu16(m2, limit),
                                                 _mm256_subs_epu16(p1, limit)));
    V near = _mm256_or_si256(_mm256_and_si256(z, site_even), _mm256_and_si256(m1, site_odd));
    V far = _mm256_add_epi16(_mm256_and_si256(m2, site_even), _mm256_and_si256(p1, site_odd));
    V h = _mm256_add_epi16(_mm256_add_epi16(near, _mm256_slli_epi16(near, 1)), far);
    _mm256_storeu_si256(reinterpret_cast<V*>(out + i), h);
  }
}

// min((3 * near + far) * k >> 11, 1023) for 16 lanes (k32 = 32 * k).
inline V Weigh16(const int16_t* near, const int16_t* far, V k32) {
  V n = _mm256_loadu_si256(reinterpret_cast<const V*>(near));
  V f = _mm256_loadu_si256(reinterpret_cast<const V*>(far));
  V s = _mm256_add_epi16(_mm256_add_epi16(n, _mm256_slli_epi16(n, 1)), f);
  return _mm256_min_epi16(_mm256_mulhi_epu16(s, k32), _mm256_set1_epi16(1023));
}

// Byte shuffles that interleave eight B, G and R words of each 128-bit half into 48 bytes.
struct Interleave48 {
  alignas(32) int8_t mask[3][3][32];  // [output register][channel][byte], same in both halves
  constexpr Interleave48() : mask() {
    for (int i = 0; i < 3; ++i)
      for (int c = 0; c < 3; ++c)
        for (int j = 0; j < 32; ++j) {
          const int pos = 8 * i + (j & 15) / 2;  // word position in the output
          mask[i][c][j] = static_cast<int8_t>(pos % 3 == c ? 2 * (pos / 3) + (j & 1) : -128);
        }
  }
};
constexpr Interleave48 kInterleave;

inline V Shuffle3(int i, V b, V g, V r) {
  auto m = [&](int c) {
    return _mm256_load_si256(reinterpret_cast<const V*>(kInterleave.mask[i][c]));
  };
  return _mm256_or_si256(
      _mm256_or_si256(_mm256_shuffle_epi8(b, m(0)), _mm256_shuffle_epi8(g, m(1))),
      _mm256_shuffle_epi8(r, m(2)));
}

// 16 pixels, 96 bytes.
inline void Store48(uint8_t* d, V b, V g, V r) {
  V s0 = Shuffle3(0, b, g, r), s1 = Shuffle3(1, b, g, r), s2 = Shuffle3(2, b, g, r);
  V* out = reinterpret_cast<V*>(d);
  _mm256_storeu_si256(out + 0, _mm256_permute2x128_si256(s0, s1, 0x20));
  _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(s2, s0, 0x30));
  _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(s1, s2, 0x31));
}

// 16 pixels into 64 bpp, 128 bytes; the fourth word of each pixel is left as it was.
inline void Store64(uint8_t* d, V b, V g, V r) {
  const V zero = _mm256_setzero_si256();
  const V bg_lo = _mm256_unpacklo_epi16(b, g), bg_hi = _mm256_unpackhi_epi16(b, g);
  const V r_lo = _mm256_unpacklo_epi16(r, zero), r_hi = _mm256_unpackhi_epi16(r, zero);
  // Pixels 0-1 | 8-9, 2-3 | 10-11, 4-5 | 12-13, 6-7 | 14-15.
  const V p0 = _mm256_unpacklo_epi32(bg_lo, r_lo), p1 = _mm256_unpackhi_epi32(bg_lo, r_lo);
  const V p2 = _mm256_unpacklo_epi32(bg_hi, r_hi), p3 = _mm256_unpackhi_epi32(bg_hi, r_hi);
  const V ordered[4] = {_mm256_permute2x128_si256(p0, p1, 0x20),
                        _mm256_permute2x128_si256(p2, p3, 0x20),
                        _mm256_permute2x128_si256(p0, p1, 0x31),
                        _mm256_permute2x128_si256(p2, p3, 0x31)};
  const V keep = _mm256_set1_epi64x(static_cast<long long>(0xFFFF000000000000ull));
  V* out = reinterpret_cast<V*>(d);
  for (int i = 0; i < 4; ++i)
    _mm256_storeu_si256(out + i,
                        _mm256_or_si256(ordered[i], _mm256_and_si256(Load(d + 32 * i), keep)));
}

}  // namespace

int DemosaicRows16Avx2(const BayerRows& job) {
  if ((job.dst_bpp != 6 && job.dst_bpp != 8) || job.kr > 2047 || job.kb > 2047) return 0;
  const int width = job.region.right - job.region.left;
  const int last = width - 3;
  const int blocks = (last - 1) / 16;  // full 16-pixel blocks from column 2
  if (blocks <= 0) return 0;
  const int row_phase = job.row_phase, column_phase = job.column_phase;
  auto src_row = [&](int y) { return FoldedRow(job, y, 2); };
  const V even16 = _mm256_set1_epi32(0x0000FFFF);
  const V odd16 = _mm256_xor_si256(even16, _mm256_set1_epi8(-1));
  const V k32r = _mm256_set1_epi16(static_cast<int16_t>(job.kr * 32));
  const V k32b = _mm256_set1_epi16(static_cast<int16_t>(job.kb * 32));
  alignas(32) int16_t filtered[4][kStrip];
  V over = _mm256_setzero_si256();
  // A raw row of phase p has its colour sites where the column phase is 1 - p.
  auto site_mask = [&](int y) {
    const int rp = row_phase ^ (y & 1);
    return ((column_phase ^ 1 ^ rp) == 0) ? even16 : odd16;
  };
  const int end = 2 + blocks * 16;
  for (int x0 = 2; x0 < end; x0 += kStrip) {
    const int count = end - x0 < kStrip ? end - x0 : kStrip;
    for (int r = job.y_begin - 2; r <= job.y_begin; ++r)
      FilterRow(src_row(r), x0, count, site_mask(r), filtered[r & 3], over);
    for (int y = job.y_begin; y < job.y_end; ++y) {
      FilterRow(src_row(y + 1), x0, count, site_mask(y + 1), filtered[(y + 1) & 3], over);
      // The sums below fit 16 bits only for 10-bit samples; the rows read so far decide.
      if (!_mm256_testz_si256(over, over)) return 0;
      const int rp = row_phase ^ (y & 1);
      const int16_t* red_near = filtered[(rp == 0 ? y - 1 : y) & 3];
      const int16_t* red_far = filtered[(rp == 0 ? y + 1 : y - 2) & 3];
      const int16_t* blue_near = filtered[(rp == 0 ? y : y - 1) & 3];
      const int16_t* blue_far = filtered[(rp == 0 ? y - 2 : y + 1) & 3];
      const V green_mask = (rp ^ column_phase) == 0 ? even16 : odd16;
      const uint8_t* cur = src_row(y);
      const uint8_t* prev = src_row(y - 1);
      uint8_t* d = DestinationRow(job, y);
      for (int i = 0; i < count; i += 16) {
        const int x = x0 + i;
        V r = Weigh16(red_near + i, red_far + i, k32r);
        V b = Weigh16(blue_near + i, blue_far + i, k32b);
        // (a + b) >> 1 of two 10-bit samples needs no clamp.
        V diag = _mm256_srli_epi16(_mm256_add_epi16(Load(cur + 2 * x), Load(prev + 2 * x - 2)), 1);
        V anti = _mm256_srli_epi16(_mm256_add_epi16(Load(cur + 2 * x - 2), Load(prev + 2 * x)), 1);
        V g = _mm256_or_si256(_mm256_and_si256(green_mask, diag),
                              _mm256_andnot_si256(green_mask, anti));
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

#ifdef QELVAN_AVX2_PUSHED
#pragma GCC pop_options
#endif
