// The hue/saturation path of hue_sse2.cpp widened to sixteen pixels per step with AVX2.
#include <immintrin.h>

#include "imaging/hue_sse2.h"
#include "imaging/sse2_target.h"

#if defined(__GNUC__) && !defined(__AVX2__)
#pragma GCC push_options
#pragma GCC target("avx2")
#define QELVAN_AVX2_PUSHED
#endif

namespace imaging {
namespace {

using V = __m256i;

inline V Select(V mask, V a, V b) {
  return _mm256_or_si256(_mm256_and_si256(mask, a), _mm256_andnot_si256(mask, b));
}

inline V Set16(int v) { return _mm256_set1_epi16(static_cast<int16_t>(v)); }

// Byte shuffles between 3-byte pixels and 16-bit channel lanes. Each 128-bit half handles eight
// pixels: "first" holds the half's bytes 0..15 (pixels 0..4), "second" its bytes 8..23 (pixels
// 3..7). -1 (top bit set) gives a zero byte.
struct Shuffles {
  alignas(32) int8_t from_first[3][32];   // channel c of pixels 0..4 into words 0..4
  alignas(32) int8_t from_second[3][32];  // channel c of pixels 5..7 into words 5..7
  alignas(32) int8_t out_bg[2][32];       // bytes 0..15, then 16..23, from the B | G << 8 words
  alignas(32) int8_t out_r[2][32];        // the same from the R words
  Shuffles() {
    for (int half = 0; half < 2; ++half)
      for (int i = 0; i < 16; ++i) {
        const int at = 16 * half + i;
        for (int c = 0; c < 3; ++c) {
          const int pixel = i / 2;
          const bool low = i % 2 == 0;
          from_first[c][at] = static_cast<int8_t>(low && pixel <= 4 ? 3 * pixel + c : -1);
          from_second[c][at] = static_cast<int8_t>(low && pixel >= 5 ? 3 * pixel + c - 8 : -1);
        }
        for (int part = 0; part < 2; ++part) {
          const int k = 16 * part + i;  // output byte of the half's 24
          const int pixel = k / 3, c = k % 3;
          const bool used = k < 24;
          out_bg[part][at] = static_cast<int8_t>(used && c < 2 ? 2 * pixel + c : -1);
          out_r[part][at] = static_cast<int8_t>(used && c == 2 ? 2 * pixel : -1);
        }
      }
  }
};

const Shuffles& ShuffleTables() {
  static const Shuffles tables;
  return tables;
}

inline V Load32(const int8_t* p) { return _mm256_load_si256(reinterpret_cast<const V*>(p)); }

// Two 16-byte reads, at p and at p + 24, as the two halves.
inline V LoadHalves(const uint8_t* p) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 24)), 1);
}

// Sixteen 3-byte pixels (48 bytes, nothing read beyond) as 16-bit lanes of B, G and R: pixels
// 0..7 in the lower half, 8..15 in the upper one, in order.
inline void Channels3(const Shuffles& t, const uint8_t* s, V& b, V& g, V& r) {
  const V first = LoadHalves(s);
  const V second = LoadHalves(s + 8);
  auto channel = [&](int c) {
    return _mm256_or_si256(_mm256_shuffle_epi8(first, Load32(t.from_first[c])),
                           _mm256_shuffle_epi8(second, Load32(t.from_second[c])));
  };
  b = channel(0);
  g = channel(1);
  r = channel(2);
}

// Inverse of Channels3: writes exactly the 48 bytes.
inline void Store3(const Shuffles& t, uint8_t* d, V b, V g, V r) {
  const V bg = _mm256_or_si256(b, _mm256_slli_epi16(g, 8));
  const V lo = _mm256_or_si256(_mm256_shuffle_epi8(bg, Load32(t.out_bg[0])),
                               _mm256_shuffle_epi8(r, Load32(t.out_r[0])));
  const V hi = _mm256_or_si256(_mm256_shuffle_epi8(bg, Load32(t.out_bg[1])),
                               _mm256_shuffle_epi8(r, Load32(t.out_r[1])));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(lo));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm256_castsi256_si128(hi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 24), _mm256_extracti128_si256(lo, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 40), _mm256_extracti128_si256(hi, 1));
}

struct RecipTable {
  alignas(32) float value[256];
  RecipTable() {
    value[0] = 0.0f;
    for (int d = 1; d < 256; ++d) value[d] = static_cast<float>(0xFF0000 / d);
  }
};

const RecipTable& Recips() {
  static const RecipTable table;
  return table;
}

// See hue_sse2.cpp: exact in single precision.
QELVAN_ALWAYS_INLINE V Position8(V n32, V d32, const float* recip) {
  __m256 r = _mm256_i32gather_ps(recip, d32, 4);
  __m256 prod = _mm256_mul_ps(_mm256_cvtepi32_ps(n32), r);
  __m256 scaled =
      _mm256_mul_ps(_mm256_add_ps(prod, _mm256_set1_ps(32768.0f)), _mm256_set1_ps(1.0f / 65536.0f));
  return _mm256_cvttps_epi32(scaled);
}

struct Params {
  V u, shift_mod, shift_div;
  const float* recip;
};

// Sixteen pixels as 16-bit lanes of B, G and R; the same steps as the SSE2 path.
QELVAN_ALWAYS_INLINE void Shift16(const Params& k, V& b, V& g, V& r) {
  const V zero = _mm256_setzero_si256();
  const V mx = _mm256_max_epi16(_mm256_max_epi16(r, g), b);
  const V mn = _mm256_min_epi16(_mm256_min_epi16(r, g), b);
  const V j = _mm256_add_epi16(mx, mn);
  const V d = _mm256_sub_epi16(mx, mn);
  const V lim = _mm256_min_epi16(j, _mm256_sub_epi16(Set16(511), j));
  const V lo = _mm256_mullo_epi16(d, k.u);
  const V hi = _mm256_mulhi_epu16(d, k.u);
  const V sat =
      _mm256_add_epi16(_mm256_slli_epi16(hi, 8),
                       _mm256_srli_epi16(_mm256_add_epi16(_mm256_srli_epi16(lo, 1), Set16(64)), 7));
  const V c = _mm256_min_epi16(lim, sat);
  const V base = _mm256_srai_epi16(_mm256_sub_epi16(j, c), 1);
  V level = _mm256_sub_epi16(_mm256_srai_epi16(_mm256_add_epi16(j, c), 1), base);

  const V red_max = _mm256_cmpeq_epi16(r, mx);
  const V green_max = _mm256_andnot_si256(red_max, _mm256_cmpeq_epi16(g, mx));
  V n = Select(red_max, _mm256_sub_epi16(g, b),
               Select(green_max, _mm256_sub_epi16(b, r), _mm256_sub_epi16(r, g)));
  V s0 = _mm256_add_epi16(Set16(5), _mm256_add_epi16(_mm256_and_si256(green_max, Set16(-2)),
                                                     _mm256_and_si256(red_max, Set16(-4))));
  const V negative = _mm256_cmpgt_epi16(zero, n);
  s0 = _mm256_add_epi16(s0, negative);
  n = _mm256_add_epi16(n, _mm256_and_si256(negative, d));

  // Unpacking and packing work within each 128-bit half, so the lanes come back in order.
  V p = _mm256_packs_epi32(
      Position8(_mm256_unpacklo_epi16(n, zero), _mm256_unpacklo_epi16(d, zero), k.recip),
      Position8(_mm256_unpackhi_epi16(n, zero), _mm256_unpackhi_epi16(d, zero), k.recip));
  p = _mm256_add_epi16(p, k.shift_mod);
  const V wrap = _mm256_cmpgt_epi16(p, Set16(254));
  V index = _mm256_sub_epi16(_mm256_add_epi16(s0, k.shift_div), wrap);
  p = _mm256_sub_epi16(p, _mm256_and_si256(wrap, Set16(255)));
  index = _mm256_sub_epi16(index, _mm256_and_si256(_mm256_cmpgt_epi16(index, Set16(5)), Set16(6)));
  V q = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(p, level), Set16(128)), 8);
  const V gray = _mm256_cmpeq_epi16(d, zero);
  level = _mm256_andnot_si256(gray, level);
  q = _mm256_andnot_si256(gray, q);

  const V half = _mm256_srli_epi16(index, 1);
  const V third =
      _mm256_sub_epi16(index, _mm256_and_si256(_mm256_cmpgt_epi16(index, Set16(2)), Set16(3)));
  const V odd = _mm256_cmpeq_epi16(_mm256_and_si256(index, Set16(1)), Set16(1));
  const V middle = Select(odd, q, _mm256_sub_epi16(level, q));
  auto channel = [&](int top, int mid) {
    V v = _mm256_add_epi16(base, _mm256_and_si256(_mm256_cmpeq_epi16(half, Set16(top)), level));
    return _mm256_add_epi16(v, _mm256_and_si256(_mm256_cmpeq_epi16(third, Set16(mid)), middle));
  };
  r = channel(0, 2);
  g = channel(1, 1);
  b = channel(2, 0);
}

inline void Channels(V p0, V p1, V& b, V& g, V& r) {
  const V byte = _mm256_set1_epi32(0xFF);
  b = _mm256_packs_epi32(_mm256_and_si256(p0, byte), _mm256_and_si256(p1, byte));
  g = _mm256_packs_epi32(_mm256_and_si256(_mm256_srli_epi32(p0, 8), byte),
                         _mm256_and_si256(_mm256_srli_epi32(p1, 8), byte));
  r = _mm256_packs_epi32(_mm256_and_si256(_mm256_srli_epi32(p0, 16), byte),
                         _mm256_and_si256(_mm256_srli_epi32(p1, 16), byte));
}

// Inverse of Channels: the pixels return to the lanes they came from.
inline void Pixels(V b, V g, V r, V& p0, V& p1) {
  V bg = _mm256_or_si256(b, _mm256_slli_epi16(g, 8));
  p0 = _mm256_unpacklo_epi16(bg, r);
  p1 = _mm256_unpackhi_epi16(bg, r);
}

}  // namespace

int HueSaturationRowAvx2(uint8_t* dst, const uint8_t* src, int width, int bpp, int32_t shift,
                         int32_t saturation) {
  if ((bpp != 3 && bpp != 4) || saturation < -255 || saturation > 255) return 0;
  Params k;
  k.u = Set16(saturation + 256);
  k.shift_mod = Set16(shift % 255);
  k.shift_div = Set16(shift / 255);
  k.recip = Recips().value;
  int x = 0;
  if (bpp == 4) {
    const V keep = _mm256_set1_epi32(static_cast<int>(0xFF000000));
    for (; x + 16 <= width; x += 16) {
      const uint8_t* s = src + 4 * x;
      V in0 = _mm256_loadu_si256(reinterpret_cast<const V*>(s));
      V in1 = _mm256_loadu_si256(reinterpret_cast<const V*>(s + 32));
      V b, g, r;
      Channels(in0, in1, b, g, r);
      Shift16(k, b, g, r);
      V p0, p1;
      Pixels(b, g, r, p0, p1);
      V* d = reinterpret_cast<V*>(dst + 4 * x);
      _mm256_storeu_si256(d, _mm256_or_si256(p0, _mm256_and_si256(_mm256_loadu_si256(d), keep)));
      _mm256_storeu_si256(d + 1,
                          _mm256_or_si256(p1, _mm256_and_si256(_mm256_loadu_si256(d + 1), keep)));
    }
    return x;
  }
  const Shuffles& t = ShuffleTables();
  for (; x + 16 <= width; x += 16) {
    V b, g, r;
    Channels3(t, src + 3 * x, b, g, r);
    Shift16(k, b, g, r);
    Store3(t, dst + 3 * x, b, g, r);
  }
  return x;
}

}  // namespace imaging

#ifdef QELVAN_AVX2_PUSHED
#pragma GCC pop_options
#endif
