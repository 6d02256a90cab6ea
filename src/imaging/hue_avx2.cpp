// The hue/saturation path of hue_sse2.cpp widened to sixteen pixels per step with AVX2.
#include <immintrin.h>

#include <cstring>

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

// Four 3-byte pixels into the low three bytes of four 32-bit lanes.
inline __m128i Spread3(const uint8_t* p) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i a = _mm_unpacklo_epi32(v, _mm_srli_si128(v, 3));
  __m128i b = _mm_unpacklo_epi32(_mm_srli_si128(v, 6), _mm_srli_si128(v, 9));
  return _mm_unpacklo_epi64(a, b);
}

// Eight 3-byte pixels into eight 32-bit lanes.
inline V Spread3x8(const uint8_t* p) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(Spread3(p)), Spread3(p + 12), 1);
}

// Four BGR0 lanes of each half into 12 bytes at the bottom of that half.
inline V Pack3(V p) {
  const V low24 = _mm256_set1_epi64x(0x00FFFFFF);
  const V high24 = _mm256_set1_epi64x(0x0000FFFFFF000000LL);
  V lanes = _mm256_or_si256(_mm256_and_si256(p, low24),
                            _mm256_and_si256(_mm256_srli_epi64(p, 8), high24));
  const V low_lane = _mm256_set_epi64x(0, -1, 0, -1);
  return _mm256_or_si256(_mm256_and_si256(lanes, low_lane),
                         _mm256_srli_si256(_mm256_andnot_si256(low_lane, lanes), 2));
}

inline void Store12(uint8_t* d, __m128i c) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), c);
  int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(c, 8));
  std::memcpy(d + 8, &tail, 4);
}

inline void Store24(uint8_t* d, V c) {
  Store12(d, _mm256_castsi256_si128(c));
  Store12(d + 12, _mm256_extracti128_si256(c, 1));
}

inline V Select(V mask, V a, V b) {
  return _mm256_or_si256(_mm256_and_si256(mask, a), _mm256_andnot_si256(mask, b));
}

inline V Set16(int v) { return _mm256_set1_epi16(static_cast<int16_t>(v)); }

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
  // Each load of four pixels reads 16 bytes, so stop two pixels early.
  for (; x + 18 <= width; x += 16) {
    const uint8_t* s = src + 3 * x;
    V b, g, r;
    Channels(Spread3x8(s), Spread3x8(s + 24), b, g, r);
    Shift16(k, b, g, r);
    V p0, p1;
    Pixels(b, g, r, p0, p1);
    Store24(dst + 3 * x, Pack3(p0));
    Store24(dst + 3 * x + 24, Pack3(p1));
  }
  return x;
}

}  // namespace imaging

#ifdef QELVAN_AVX2_PUSHED
#pragma GCC pop_options
#endif
