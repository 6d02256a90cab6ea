#include "imaging/filters_sse2.h"

#include "imaging/pixel_walk.h"
#include "imaging/sse2_target.h"

QELVAN_SSE2_BEGIN

namespace imaging {
namespace {

// Byte masks selecting the fourth byte of 4-byte pixels, by byte offset modulo 4.
alignas(16) const uint8_t kFourthBytes[24] = {0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF,
                                              0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF};

QELVAN_SSE2 inline __m128i FourthByteMask(int offset) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kFourthBytes + (offset & 3)));
}

QELVAN_SSE2 inline __m128i Scale4(__m128i v32, __m128 f, __m128 top) {
  __m128 p = _mm_mul_ps(_mm_cvtepi32_ps(v32), f);
  p = _mm_max_ps(_mm_min_ps(p, top), _mm_setzero_ps());
  return _mm_cvttps_epi32(p);
}

inline uint8_t ScaleByte(uint8_t s, float f) {
  const float v = static_cast<float>(s) * f;
  if (v >= 255.0f) return 255;
  if (!(v > 0.0f)) return 0;
  return static_cast<uint8_t>(static_cast<int32_t>(v));
}

}  // namespace

QELVAN_SSE2 bool BrightnessBytesSse2(uint8_t* dst, const uint8_t* src, const Rect& region,
                                     int32_t dst_x, int32_t dst_y, int dst_step, int src_step,
                                     int channels, int32_t dst_stride, int32_t src_stride,
                                     float factor) {
  if (dst_step != src_step) return false;
  const bool keep_fourth = channels == 3 && dst_step == 4;
  if (dst_step != channels && !keep_fourth) return false;
  const __m128 f = _mm_set1_ps(factor);
  const __m128 top = _mm_set1_ps(255.0f);
  const __m128i zero = _mm_setzero_si128();
  const int32_t w = WidthOf(region);
  for (int32_t row = 0; row < HeightOf(region); ++row) {
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, dst_step, row);
    const uint8_t* s = SrcRow(src, src_stride, region, src_step, region.top + row);
    const int32_t n = w * dst_step;
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      __m128i lo = _mm_unpacklo_epi8(v, zero);
      __m128i hi = _mm_unpackhi_epi8(v, zero);
      __m128i a = _mm_packs_epi32(Scale4(_mm_unpacklo_epi16(lo, zero), f, top),
                                  Scale4(_mm_unpackhi_epi16(lo, zero), f, top));
      __m128i b = _mm_packs_epi32(Scale4(_mm_unpacklo_epi16(hi, zero), f, top),
                                  Scale4(_mm_unpackhi_epi16(hi, zero), f, top));
      __m128i out = _mm_packus_epi16(a, b);
      if (keep_fourth) {
        __m128i mask = FourthByteMask(i);
        __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        out = _mm_or_si128(_mm_and_si128(mask, old), _mm_andnot_si128(mask, out));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), out);
    }
    for (; i < n; ++i)
      if (!keep_fourth || (i & 3) != 3) d[i] = ScaleByte(s[i], factor);
  }
  return true;
}

namespace {

constexpr int kChunkBytes = 1024;

QELVAN_SSE2 inline void VerticalSum(const uint8_t* const rows[4], int b, int16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  __m128i sum = zero;
  for (int r = 0; r < 4; ++r)
    sum = _mm_add_epi16(
        sum,
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[r] + b)), zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), sum);
}

}  // namespace

QELVAN_SSE2 bool SharpenBytesSse2(uint8_t* dst, const uint8_t* src, const Rect& region,
                                  int32_t dst_x, int32_t dst_y, int dst_step, int src_step,
                                  int channels, int32_t dst_stride, int32_t src_stride, int32_t k) {
  if (dst_step != src_step || k < 0 || k > 64) return false;
  const bool keep_fourth = channels == 3 && dst_step == 4;
  if (dst_step != channels && !keep_fourth) return false;
  const int s = dst_step;
  const int32_t w = WidthOf(region);
  const int32_t h = HeightOf(region);
  // Output bytes [2s, (w - 2)s) of each row; sums over bytes [0, (w - 1)s).
  const int out_begin = 2 * s;
  const int out_end = (w - 2) * s;
  if (out_end - out_begin < 8 || (w - 1) * s < 8) return false;
  alignas(16) int16_t vsum[kChunkBytes + 64];
  const __m128i zero = _mm_setzero_si128();
  const __m128i vk = _mm_set1_epi16(static_cast<int16_t>(k));
  const __m128i tenth = _mm_set1_epi16(6554);  // exact for |k * d| < 16384
  for (int32_t y = 2; y < h - 2; ++y) {
    const uint8_t* rows[4];
    for (int r = 0; r < 4; ++r)
      rows[r] = SrcRow(src, src_stride, region, s, region.top + y - 2 + r);
    const uint8_t* cur = rows[2];
    uint8_t* d = DstRow(dst, dst_stride, dst_y, dst_x, s, y);
    for (int c0 = out_begin; c0 < out_end;) {
      int c1 = c0 + kChunkBytes < out_end ? c0 + kChunkBytes : out_end;
      if (out_end - c1 < 8) c1 = out_end;  // no chunk shorter than one step
      const int v0 = c0 - 2 * s;
      const int vcount = c1 + s - v0;
      int i = 0;
      for (; i + 8 <= vcount; i += 8) VerticalSum(rows, v0 + i, vsum + i);
      if (i < vcount) VerticalSum(rows, v0 + vcount - 8, vsum + vcount - 8);
      auto step = [&](int b) {
        const int16_t* v = vsum + (b - v0);
        __m128i hsum = _mm_add_epi16(
            _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v - 2 * s)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(v - s))),
            _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + s))));
        __m128i blur = _mm_srli_epi16(hsum, 4);
        __m128i px =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cur + b)), zero);
        __m128i x = _mm_mullo_epi16(_mm_sub_epi16(px, blur), vk);
        // Division by 10 truncating toward zero, on the magnitude.
        __m128i sign = _mm_srai_epi16(x, 15);
        __m128i ax = _mm_sub_epi16(_mm_xor_si128(x, sign), sign);
        __m128i q = _mm_mulhi_epu16(ax, tenth);
        q = _mm_sub_epi16(_mm_xor_si128(q, sign), sign);
        __m128i out = _mm_packus_epi16(_mm_add_epi16(px, q), zero);
        if (keep_fourth) {
          __m128i mask = FourthByteMask(b);
          __m128i old = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(d + b));
          out = _mm_or_si128(_mm_and_si128(mask, old), _mm_andnot_si128(mask, out));
        }
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + b), out);
      };
      int b = c0;
      for (; b + 8 <= c1; b += 8) step(b);
      if (b < c1) step(c1 - 8);  // overlaps the previous step with the same values
      c0 = c1;
    }
  }
  return true;
}

}  // namespace imaging

QELVAN_SSE2_END
