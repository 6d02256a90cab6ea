// 128-bit vector operations for the shared SIMD kernels (SSE2). A kernel written once over a
// vector type runs with this one and with Avx2Vector (vector_avx2.h).
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace imaging {

struct Sse2Vector {
  using V = __m128i;  // full vector
  using F = __m128;   // single-precision lanes
  static constexpr int kBytes = 16;

  static V Load(const void* p) { return _mm_loadu_si128(static_cast<const V*>(p)); }
  static void Store(void* p, V v) { _mm_storeu_si128(static_cast<V*>(p), v); }
  static V Zero() { return _mm_setzero_si128(); }
  static V Set16(int16_t v) { return _mm_set1_epi16(v); }
  static V Set32(int32_t v) { return _mm_set1_epi32(v); }
  static V Set8(int8_t v) { return _mm_set1_epi8(v); }
  static V Sub8(V a, V b) { return _mm_sub_epi8(a, b); }
  static V Avg8(V a, V b) { return _mm_avg_epu8(a, b); }
  // Bytes 0..7 and 8..15 as 16-bit lanes, and 16-bit lanes back to bytes in order (saturated).
  static V WidenLo8(V a) { return _mm_unpacklo_epi8(a, _mm_setzero_si128()); }
  static V WidenHi8(V a) { return _mm_unpackhi_epi8(a, _mm_setzero_si128()); }
  static V PackInOrder16(V lo, V hi) { return _mm_packus_epi16(lo, hi); }
  static V And(V a, V b) { return _mm_and_si128(a, b); }
  static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }
  static V Or(V a, V b) { return _mm_or_si128(a, b); }
  static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
  static V Add16(V a, V b) { return _mm_add_epi16(a, b); }
  static V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
  static V MulLo16(V a, V b) { return _mm_mullo_epi16(a, b); }
  static V MulHi16(V a, V b) { return _mm_mulhi_epi16(a, b); }
  static V SatSubU16(V a, V b) { return _mm_subs_epu16(a, b); }
  static bool AllZero(V a) { return _mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_setzero_si128())) == 0xFFFF; }
  static V MulHiU16(V a, V b) { return _mm_mulhi_epu16(a, b); }
  template <int N>
  static V ShiftRightArith16(V a) {
    return _mm_srai_epi16(a, N);
  }
  template <int N>
  static V ShiftRight16(V a) {
    return _mm_srli_epi16(a, N);
  }
  // In-lane interleaves and packs: a kernel that unpacks and packs back gets its order back.
  static V UnpackLo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
  static V PackSigned32(V a, V b) { return _mm_packs_epi32(a, b); }
  static V PackUnsigned16(V a, V b) { return _mm_packus_epi16(a, b); }
  // trunc(v * f) limited to 0..top in single precision, 32-bit lanes.
  static V ScaleClamp32(V v, F f, F top) {
    F p = _mm_mul_ps(_mm_cvtepi32_ps(v), f);
    return _mm_cvttps_epi32(_mm_max_ps(_mm_min_ps(p, top), _mm_setzero_ps()));
  }
  static V Max16(V a, V b) { return _mm_max_epi16(a, b); }
  static V Min16(V a, V b) { return _mm_min_epi16(a, b); }
  static V CmpEq16(V a, V b) { return _mm_cmpeq_epi16(a, b); }
  static V CmpGt16(V a, V b) { return _mm_cmpgt_epi16(a, b); }
  template <int N>
  static V ShiftLeft16(V a) {
    return _mm_slli_epi16(a, N);
  }
  template <int N>
  static V ShiftRight32(V a) {
    return _mm_srli_epi32(a, N);
  }
  static V Select(V mask, V a, V b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); }
  // No byte lookups before SSSE3.
  static constexpr bool kByteShuffle = false;
  static V Table16(const int8_t* t) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t)); }
  // Select for masks whose bytes are all ones or all zeros.
  static V SelectLanes(V mask, V a, V b) { return Select(mask, a, b); }
  // (d * u + 128) >> 8 for 0 <= d <= 255 and 1 <= u <= 511, from the 17-bit product.
  static V MulRound8(V d, V u) {
    const V lo = _mm_mullo_epi16(d, u);
    const V hi = _mm_mulhi_epu16(d, u);
    return _mm_add_epi16(_mm_slli_epi16(hi, 8),
                         _mm_srli_epi16(_mm_add_epi16(_mm_srli_epi16(lo, 1), _mm_set1_epi16(64)), 7));
  }
  // Floor of lanes that hold non-negative values below 2^31 (or infinity, which gives some value).
  static F FloorF(F a) { return _mm_cvtepi32_ps(_mm_cvttps_epi32(a)); }
  static F AddF(F a, F b) { return _mm_add_ps(a, b); }
  static F MulF(F a, F b) { return _mm_mul_ps(a, b); }
  static F DivF(F a, F b) { return _mm_div_ps(a, b); }
  static F ToFloat(V v32) { return _mm_cvtepi32_ps(v32); }
  static V Truncate(F f) { return _mm_cvttps_epi32(f); }
  // table[i] for the 32-bit lanes i; SSE2 has no gather, so four loads.
  static F Gather(const float* table, V index32) {
    alignas(16) int32_t i[4];
    _mm_store_si128(reinterpret_cast<V*>(i), index32);
    return _mm_setr_ps(table[i[0]], table[i[1]], table[i[2]], table[i[3]]);
  }
  static F SetF(float v) { return _mm_set1_ps(v); }

  // Half vectors: kBytes / 2 bytes, widened to one full vector of 16-bit lanes and back.
  using H = __m128i;
  static H LoadHalf(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }
  static void StoreHalf(void* p, H v) { _mm_storel_epi64(static_cast<__m128i*>(p), v); }
  static V Widen(H h) { return _mm_unpacklo_epi8(h, _mm_setzero_si128()); }
  static H Narrow(V words) { return _mm_packus_epi16(words, words); }
  static H SelectHalf(H mask, H a, H b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
  }
};

}  // namespace imaging
