// The 8-bit demosaicing of demosaic_kernel.inc widened to 32 pixels per step with AVX2, for
// 24 bpp destinations.
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

constexpr int kStrip = 512;  // output columns per strip, a multiple of 32

// H(x) = 3 * (z(x) + z(x - 1)) + z(x - 2) + z(x + 1), z the row zeroed outside its colour sites.
inline void FilterRow(const uint8_t* row, int x_first, int count, V site_even, int16_t* out) {
  const V site_odd = _mm256_xor_si256(site_even, _mm256_set1_epi8(-1));
  auto load = [&](const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); };
  for (int i = 0; i < count; i += 32) {
    const uint8_t* p = row + x_first + i;  // x_first + i is even
    V z0 = _mm256_and_si256(load(p), site_even);
    V zm2 = _mm256_and_si256(load(p - 2), site_even);
    V zm1 = _mm256_and_si256(load(p - 1), site_odd);
    V zp1 = _mm256_and_si256(load(p + 1), site_odd);
    V near = _mm256_or_si256(z0, zm1);  // one of the two is zero
    for (int half = 0; half < 2; ++half) {
      auto widen = [&](V v) {
        return _mm256_cvtepu8_epi16(half ? _mm256_extracti128_si256(v, 1)
                                         : _mm256_castsi256_si128(v));
      };
      V n = widen(near);
      V h = _mm256_add_epi16(_mm256_add_epi16(n, _mm256_slli_epi16(n, 1)),
                             _mm256_add_epi16(widen(zm2), widen(zp1)));
      _mm256_storeu_si256(reinterpret_cast<V*>(out + i + 16 * half), h);
    }
  }
}

// (3 * near + far) * k >> 11 for 16 lanes (k32 = 32 * k); above 255 saturates in the pack.
inline V Weigh16(const int16_t* near, const int16_t* far, V k32) {
  V n = _mm256_loadu_si256(reinterpret_cast<const V*>(near));
  V f = _mm256_loadu_si256(reinterpret_cast<const V*>(far));
  return _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(n, _mm256_slli_epi16(n, 1)), f), k32);
}

// 32 lanes of 0..255 from two halves of 16, in order.
inline V Pack32(V lo, V hi) { return _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8); }

inline V FloorAverage(V a, V b) {
  return _mm256_sub_epi8(_mm256_avg_epu8(a, b),
                         _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
}

// Byte shuffles that interleave sixteen B, G and R bytes of each 128-bit half into 48 bytes.
struct Interleave24 {
  alignas(32) int8_t mask[3][3][32];  // [output register][channel][byte], same in both halves
  constexpr Interleave24() : mask() {
    for (int i = 0; i < 3; ++i)
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 32; ++k) {
          const int pos = 16 * i + (k & 15);
          mask[i][c][k] = static_cast<int8_t>(pos % 3 == c ? pos / 3 : -128);
        }
  }
};
constexpr Interleave24 kInterleave;

inline V Shuffle3(int i, V b, V g, V r) {
  auto m = [&](int c) {
    return _mm256_load_si256(reinterpret_cast<const V*>(kInterleave.mask[i][c]));
  };
  return _mm256_or_si256(
      _mm256_or_si256(_mm256_shuffle_epi8(b, m(0)), _mm256_shuffle_epi8(g, m(1))),
      _mm256_shuffle_epi8(r, m(2)));
}

// 32 pixels, 96 bytes.
inline void Store24(uint8_t* d, V b, V g, V r) {
  V s0 = Shuffle3(0, b, g, r), s1 = Shuffle3(1, b, g, r), s2 = Shuffle3(2, b, g, r);
  V* out = reinterpret_cast<V*>(d);
  _mm256_storeu_si256(out + 0, _mm256_permute2x128_si256(s0, s1, 0x20));
  _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(s2, s0, 0x30));
  _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(s1, s2, 0x31));
}

}  // namespace

int DemosaicRows8Avx2(const BayerRows& job) {
  if (job.dst_bpp != 3 || job.kr > 2047 || job.kb > 2047) return 0;
  const int width = job.region.right - job.region.left;
  const int last = width - 3;
  const int blocks = (last - 1) / 32;  // full 32-pixel blocks from column 2
  if (blocks <= 0) return 0;
  const int row_phase = job.row_phase, column_phase = job.column_phase;
  auto src_row = [&](int y) { return FoldedRow(job, y, 1); };
  const V even8 = _mm256_set1_epi16(0x00FF);
  const V odd8 = _mm256_xor_si256(even8, _mm256_set1_epi8(-1));
  const V k32r = _mm256_set1_epi16(static_cast<int16_t>(job.kr * 32));
  const V k32b = _mm256_set1_epi16(static_cast<int16_t>(job.kb * 32));
  alignas(32) int16_t filtered[4][kStrip];
  // A raw row of phase p has its colour sites where the column phase is 1 - p.
  auto site_mask = [&](int y) {
    const int rp = row_phase ^ (y & 1);
    return ((column_phase ^ 1 ^ rp) == 0) ? even8 : odd8;
  };
  auto load = [&](const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); };
  const int end = 2 + blocks * 32;
  for (int x0 = 2; x0 < end; x0 += kStrip) {
    const int count = end - x0 < kStrip ? end - x0 : kStrip;
    for (int r = job.y_begin - 2; r <= job.y_begin; ++r)
      FilterRow(src_row(r), x0, count, site_mask(r), filtered[r & 3]);
    for (int y = job.y_begin; y < job.y_end; ++y) {
      FilterRow(src_row(y + 1), x0, count, site_mask(y + 1), filtered[(y + 1) & 3]);
      const int rp = row_phase ^ (y & 1);
      const int16_t* red_near = filtered[(rp == 0 ? y - 1 : y) & 3];
      const int16_t* red_far = filtered[(rp == 0 ? y + 1 : y - 2) & 3];
      const int16_t* blue_near = filtered[(rp == 0 ? y : y - 1) & 3];
      const int16_t* blue_far = filtered[(rp == 0 ? y - 2 : y + 1) & 3];
      const V green_mask = (rp ^ column_phase) == 0 ? even8 : odd8;
      const uint8_t* cur = src_row(y);
      const uint8_t* prev = src_row(y - 1);
      uint8_t* d = DestinationRow(job, y);
      for (int i = 0; i < count; i += 32) {
        const int x = x0 + i;
        V r = Pack32(Weigh16(red_near + i, red_far + i, k32r),
                     Weigh16(red_near + i + 16, red_far + i + 16, k32r));
        V b = Pack32(Weigh16(blue_near + i, blue_far + i, k32b),
                     Weigh16(blue_near + i + 16, blue_far + i + 16, k32b));
        V diag = FloorAverage(load(cur + x), load(prev + x - 1));
        V anti = FloorAverage(load(cur + x - 1), load(prev + x));
        V g = _mm256_or_si256(_mm256_and_si256(green_mask, diag),
                              _mm256_andnot_si256(green_mask, anti));
        Store24(d + static_cast<ptrdiff_t>(x) * 3, b, g, r);
      }
    }
  }
  return end;
}

}  // namespace imaging

#ifdef QELVAN_AVX2_PUSHED
#pragma GCC pop_options
#endif
