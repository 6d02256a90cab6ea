// The 8-bit brightness and sharpening paths of filters_sse2.cpp widened with AVX2.
#include <immintrin.h>

#include "imaging/filters_sse2.h"
#include "imaging/pixel_walk.h"
#include "imaging/sse2_target.h"

#if defined(__GNUC__) && !defined(__AVX2__)
#pragma GCC push_options
#pragma GCC target("avx2")
#define QELVAN_AVX2_PUSHED
#endif

namespace imaging {
namespace {

using V = __m256i;

// Byte masks selecting the fourth byte of 4-byte pixels, by byte offset modulo 4.
alignas(32) const uint8_t kFourthBytes[36] = {0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF,
                                              0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF,
                                              0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF};

inline __m128i FourthByteMask16(int offset) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kFourthBytes + (offset & 3)));
}

// trunc(v * f) limited to 0..top, in single precision, for eight 32-bit lanes.
inline V Scale8(V v32, __m256 f, __m256 top) {
  __m256 p = _mm256_mul_ps(_mm256_cvtepi32_ps(v32), f);
  p = _mm256_max_ps(_mm256_min_ps(p, top), _mm256_setzero_ps());
  return _mm256_cvttps_epi32(p);
}

inline uint8_t ScaleByte(uint8_t s, float f) {
  const float v = static_cast<float>(s) * f;
  if (v >= 255.0f) return 255;
  if (!(v > 0.0f)) return 0;
  return static_cast<uint8_t>(static_cast<int32_t>(v));
}

constexpr int kChunkBytes = 1024;

inline void VerticalSum16(const uint8_t* const rows[4], int b, int16_t* out) {
  V sum = _mm256_setzero_si256();
  for (int r = 0; r < 4; ++r)
    sum = _mm256_add_epi16(
        sum, _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + b))));
  _mm256_storeu_si256(reinterpret_cast<V*>(out), sum);
}

}  // namespace

bool BrightnessBytesAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                         int32_t dst_y, int dst_step, int src_step, int channels,
                         int32_t dst_stride, int32_t src_stride, float factor) {
  if (dst_step != src_step) return false;
  const bool keep_fourth = channels == 3 && dst_step == 4;
  if (dst_step != channels && !keep_fourth) return false;
  const __m256 f = _mm256_set1_ps(factor);
  const __m256 top = _mm256_set1_ps(255.0f);
  const V zero = _mm256_setzero_si256();
  const V fourth = _mm256_set1_epi32(static_cast<int>(0xFF000000));
  const int32_t n = WidthOf(region) * dst_step;
  for (int32_t row = 0; row < HeightOf(region); ++row) {
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, dst_step, row);
    const uint8_t* s = SrcRow(src, src_stride, region, src_step, region.top + row);
    int32_t i = 0;
    // Unpacking and packing work within each 128-bit half, so the bytes come back in order.
    for (; i + 32 <= n; i += 32) {
      V v = _mm256_loadu_si256(reinterpret_cast<const V*>(s + i));
      V lo = _mm256_unpacklo_epi8(v, zero);
      V hi = _mm256_unpackhi_epi8(v, zero);
      V a = _mm256_packs_epi32(Scale8(_mm256_unpacklo_epi16(lo, zero), f, top),
                               Scale8(_mm256_unpackhi_epi16(lo, zero), f, top));
      V b = _mm256_packs_epi32(Scale8(_mm256_unpacklo_epi16(hi, zero), f, top),
                               Scale8(_mm256_unpackhi_epi16(hi, zero), f, top));
      V out = _mm256_packus_epi16(a, b);
      if (keep_fourth) {  // i is a multiple of 4 here
        V old = _mm256_loadu_si256(reinterpret_cast<const V*>(d + i));
        out = _mm256_or_si256(_mm256_and_si256(fourth, old), _mm256_andnot_si256(fourth, out));
      }
      _mm256_storeu_si256(reinterpret_cast<V*>(d + i), out);
    }
    for (; i < n; ++i)
      if (!keep_fourth || (i & 3) != 3) d[i] = ScaleByte(s[i], factor);
  }
  return true;
}

bool SharpenBytesAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                      int32_t dst_y, int dst_step, int src_step, int channels, int32_t dst_stride,
                      int32_t src_stride, int32_t k) {
  if (dst_step != src_step || k < 0 || k > 64) return false;
  const bool keep_fourth = channels == 3 && dst_step == 4;
  if (dst_step != channels && !keep_fourth) return false;
  const int s = dst_step;
  const int32_t w = WidthOf(region);
  const int32_t h = HeightOf(region);
  // Output bytes [2s, (w - 2)s) of each row; sums over bytes [0, (w - 1)s).
  const int out_begin = 2 * s;
  const int out_end = (w - 2) * s;
  if (out_end - out_begin < 16 || (w - 1) * s < 16) return false;
  alignas(32) int16_t vsum[kChunkBytes + 64];
  const V vk = _mm256_set1_epi16(static_cast<int16_t>(k));
  const V tenth = _mm256_set1_epi16(6554);  // exact for |k * d| < 16384
  for (int32_t y = 2; y < h - 2; ++y) {
    const uint8_t* rows[4];
    for (int r = 0; r < 4; ++r)
      rows[r] = SrcRow(src, src_stride, region, s, region.top + y - 2 + r);
    const uint8_t* cur = rows[2];
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, s, y);
    for (int c0 = out_begin; c0 < out_end;) {
      int c1 = c0 + kChunkBytes < out_end ? c0 + kChunkBytes : out_end;
      if (out_end - c1 < 16) c1 = out_end;  // no chunk shorter than one step
      const int v0 = c0 - 2 * s;
      const int vcount = c1 + s - v0;
      int i = 0;
      for (; i + 16 <= vcount; i += 16) VerticalSum16(rows, v0 + i, vsum + i);
      if (i < vcount) VerticalSum16(rows, v0 + vcount - 16, vsum + vcount - 16);
      auto step = [&](int b) {
        const int16_t* v = vsum + (b - v0);
        V hsum = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_loadu_si256(reinterpret_cast<const V*>(v - 2 * s)),
                             _mm256_loadu_si256(reinterpret_cast<const V*>(v - s))),
            _mm256_add_epi16(_mm256_loadu_si256(reinterpret_cast<const V*>(v)),
                             _mm256_loadu_si256(reinterpret_cast<const V*>(v + s))));
        V blur = _mm256_srli_epi16(hsum, 4);
        V px = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + b)));
        V x = _mm256_mullo_epi16(_mm256_sub_epi16(px, blur), vk);
        // Division by 10 truncating toward zero, on the magnitude.
        V sign = _mm256_srai_epi16(x, 15);
        V ax = _mm256_sub_epi16(_mm256_xor_si256(x, sign), sign);
        V q = _mm256_mulhi_epu16(ax, tenth);
        q = _mm256_sub_epi16(_mm256_xor_si256(q, sign), sign);
        V sum = _mm256_add_epi16(px, q);
        __m128i out =
            _mm_packus_epi16(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        if (keep_fourth) {
          __m128i mask = FourthByteMask16(b);
          __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + b));
          out = _mm_or_si128(_mm_and_si128(mask, old), _mm_andnot_si128(mask, out));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + b), out);
      };
      int b = c0;
      for (; b + 16 <= c1; b += 16) step(b);
      if (b < c1) step(c1 - 16);  // overlaps the previous step with the same values
      c0 = c1;
    }
  }
  return true;
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
