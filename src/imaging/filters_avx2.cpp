// AVX2 paths of the filters: the shared 8-bit brightness and sharpening kernels, and the 16-bit
// brightness, 16-bit sharpening and table lookups of their own.
#include <immintrin.h>

#include "imaging/filters_simd.h"
#include "imaging/pixel_walk.h"

#if defined(__GNUC__) && !defined(__AVX2__)
#pragma GCC push_options
#pragma GCC target("avx2")
#define QELVAN_AVX2_PUSHED
#endif

#include "imaging/filters_kernels.h"
#include "imaging/vector_avx2.h"

namespace imaging {
namespace {

using V = __m256i;

// trunc(v * f) limited to 0..top, in single precision, for eight 32-bit lanes.
inline V Scale8(V v32, __m256 f, __m256 top) { return Avx2Vector::ScaleClamp32(v32, f, top); }

}  // namespace

bool BrightnessBytesAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                         int32_t dst_y, int dst_step, int src_step, int channels,
                         int32_t dst_stride, int32_t src_stride, float factor) {
  return BrightnessBytes<Avx2Vector>(dst, src, region, dst_x, dst_y, dst_step, src_step, channels,
                                     dst_stride, src_stride, factor);
}

bool SharpenTenBitAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                       int32_t dst_y, int dst_step, int src_step, int channels,
                       int32_t dst_stride, int32_t src_stride, int32_t k, int32_t top) {
  return SharpenTenBit<Avx2Vector>(dst, src, region, dst_x, dst_y, dst_step, src_step, channels,
                               dst_stride, src_stride, k, top);
}

bool SharpenBytesAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                      int32_t dst_y, int dst_step, int src_step, int channels, int32_t dst_stride,
                      int32_t src_stride, int32_t k) {
  return SharpenBytes<Avx2Vector>(dst, src, region, dst_x, dst_y, dst_step, src_step, channels,
                                  dst_stride, src_stride, k);
}

bool BrightnessWordsAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                         int32_t dst_y, int dst_step, int src_step, int channels,
                         int32_t dst_stride, int32_t src_stride, float factor, int32_t top) {
  if (dst_step != src_step) return false;
  const bool keep_fourth = channels == 3 && dst_step == 8;
  if (dst_step != 2 * channels && !keep_fourth) return false;
  const __m256 f = _mm256_set1_ps(factor);
  const float ftop = static_cast<float>(top);
  const __m256 vtop = _mm256_set1_ps(ftop);
  const V fourth = _mm256_set1_epi64x(static_cast<long long>(0xFFFF000000000000ULL));
  const int32_t n = WidthOf(region) * dst_step / 2;  // words per row
  for (int32_t row = 0; row < HeightOf(region); ++row) {
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, dst_step, row);
    const uint8_t* s = SrcRow(src, src_stride, region, src_step, region.top + row);
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
      V v = _mm256_loadu_si256(reinterpret_cast<const V*>(s + 2 * i));
      V lo = Scale8(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(v)), f, vtop);
      V hi = Scale8(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(v, 1)), f, vtop);
      V out = _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8);
      if (keep_fourth) {  // i is a multiple of 4 here
        V old = _mm256_loadu_si256(reinterpret_cast<const V*>(d + 2 * i));
        out = _mm256_or_si256(_mm256_and_si256(fourth, old), _mm256_andnot_si256(fourth, out));
      }
      _mm256_storeu_si256(reinterpret_cast<V*>(d + 2 * i), out);
    }
    for (; i < n; ++i) {
      if (keep_fourth && (i & 3) == 3) continue;
      float p = static_cast<float>(Load16(s + 2 * i)) * factor;
      const float v = p;
      Store16(d + 2 * i, v >= ftop ? top : (!(v > 0.0f) ? 0 : static_cast<int32_t>(v)));
    }
  }
  return true;
}

bool SharpenWordsAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                      int32_t dst_y, int dst_step, int src_step, int channels,
                      int32_t dst_stride, int32_t src_stride, int32_t k, int32_t top) {
  if (dst_step != src_step || k < -64 || k > 64) return false;
  const bool keep_fourth = channels == 3 && dst_step == 8;
  if (dst_step != 2 * channels && !keep_fourth) return false;
  const int wpp = dst_step / 2;  // words per pixel
  const int32_t w = WidthOf(region);
  const int32_t h = HeightOf(region);
  const int out_begin = 2 * wpp;  // words [2 wpp, (w - 2) wpp) of each row
  const int out_end = (w - 2) * wpp;
  if (out_end - out_begin < 8) return false;
  const V vk = _mm256_set1_epi32(k);
  const __m256 ten = _mm256_set1_ps(10.0f);
  const V vtop = _mm256_set1_epi32(top);
  const V zero = _mm256_setzero_si256();
  // Fourth words of 8-byte pixels, by word offset modulo 4.
  alignas(16) static const uint16_t kFourthWords[12] = {0, 0, 0, 0xFFFF, 0, 0, 0, 0xFFFF,
                                                        0, 0, 0, 0xFFFF};
  const ptrdiff_t ss = src_stride;
  for (int32_t y = 2; y < h - 2; ++y) {
    const uint8_t* cur = SrcRow(src, src_stride, region, dst_step, region.top + y);
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, dst_step, y);
    auto step = [&](int b) {
      // Sums are 32-bit: 16 samples of up to 65535.
      V sum = zero;
      for (int dy = -2; dy <= 1; ++dy)
        for (int m = -2; m <= 1; ++m)
          sum = _mm256_add_epi32(sum, _mm256_cvtepu16_epi32(_mm_loadu_si128(
                                          reinterpret_cast<const __m128i*>(cur + dy * ss + 2 * (b + m * wpp)))));
      const V px = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + 2 * b)));
      const V x = _mm256_mullo_epi32(_mm256_sub_epi32(px, _mm256_srli_epi32(sum, 4)), vk);
      // x / 10 truncated toward zero: |x| < 2^23, so the single-precision quotient is never
      // rounded across an integer.
      const V q = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(x), ten));
      const V out = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(px, q), zero), vtop);
      __m128i packed = _mm_packus_epi32(_mm256_castsi256_si128(out), _mm256_extracti128_si256(out, 1));
      if (keep_fourth) {
        __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kFourthWords + (b & 3)));
        __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 2 * b));
        packed = _mm_or_si128(_mm_and_si128(mask, old), _mm_andnot_si128(mask, packed));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * b), packed);
    };
    int b = out_begin;
    for (; b + 8 <= out_end; b += 8) step(b);
    if (b < out_end) step(out_end - 8);  // overlaps the previous step with the same values
  }
  return true;
}

int MapTableBytesAvx2(uint8_t* dst, const uint8_t* src, int count, const uint8_t* table,
                      bool keep_fourth) {
  const V sixteen = _mm256_set1_epi8(16);
  const V bias = _mm256_set1_epi8(0x70);
  const V fourth = _mm256_set1_epi32(static_cast<int>(0xFF000000));
  // Row h of the table (sixteen bytes) in both halves, for the byte shuffle. The rows are read
  // from memory at each use: on 32-bit builds only eight vector registers exist, and a table
  // held in sixteen of them would be spilled anyway.
  auto row = [&](int h) {
    return _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * h)));
  };
  // Row h: x - 16h is 0..15 for the samples of that row; adding 0x70 with saturation keeps
  // their low nibble and sets the top bit, which makes the shuffle give 0, for all others.
  auto finish = [&](int at, V out) {
    if (keep_fourth) {  // at is a multiple of 4 here
      V old = _mm256_loadu_si256(reinterpret_cast<const V*>(dst + at));
      out = _mm256_or_si256(_mm256_and_si256(fourth, old), _mm256_andnot_si256(fourth, out));
    }
    _mm256_storeu_si256(reinterpret_cast<V*>(dst + at), out);
  };
  int i = 0;
  // Two vectors per step, so that each row read serves both.
  for (; i + 64 <= count; i += 64) {
    V x0 = _mm256_loadu_si256(reinterpret_cast<const V*>(src + i));
    V x1 = _mm256_loadu_si256(reinterpret_cast<const V*>(src + i + 32));
    V out0 = _mm256_setzero_si256();
    V out1 = _mm256_setzero_si256();
    for (int h = 0; h < 16; ++h) {
      const V r = row(h);
      out0 = _mm256_or_si256(out0, _mm256_shuffle_epi8(r, _mm256_adds_epu8(x0, bias)));
      out1 = _mm256_or_si256(out1, _mm256_shuffle_epi8(r, _mm256_adds_epu8(x1, bias)));
      x0 = _mm256_sub_epi8(x0, sixteen);
      x1 = _mm256_sub_epi8(x1, sixteen);
    }
    finish(i, out0);
    finish(i + 32, out1);
  }
  for (; i + 32 <= count; i += 32) {
    V x = _mm256_loadu_si256(reinterpret_cast<const V*>(src + i));
    V out = _mm256_setzero_si256();
    for (int h = 0; h < 16; ++h) {
      out = _mm256_or_si256(out, _mm256_shuffle_epi8(row(h), _mm256_adds_epu8(x, bias)));
      x = _mm256_sub_epi8(x, sixteen);
    }
    finish(i, out);
  }
  return i;
}

}  // namespace imaging

#ifdef QELVAN_AVX2_PUSHED
#pragma GCC pop_options
#endif
