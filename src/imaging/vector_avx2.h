// 256-bit vector operations for the shared SIMD kernels (AVX2); the same interface as
// Sse2Vector. Include only where AVX2 code is compiled (after the AVX2 target pragma).
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace imaging {

struct Avx2Vector {
  using V = __m256i;
  using F = __m256;
  static constexpr int kBytes = 32;

  static V Load(const void* p) { return _mm256_loadu_si256(static_cast<const V*>(p)); }
  static void Store(void* p, V v) { _mm256_storeu_si256(static_cast<V*>(p), v); }
  static V Zero() { return _mm256_setzero_si256(); }
  static V Set16(int16_t v) { return _mm256_set1_epi16(v); }
  static V Set32(int32_t v) { return _mm256_set1_epi32(v); }
  static V Set8(int8_t v) { return _mm256_set1_epi8(v); }
  static V Sub8(V a, V b) { return _mm256_sub_epi8(a, b); }
  static V Avg8(V a, V b) { return _mm256_avg_epu8(a, b); }
  static V WidenLo8(V a) { return _mm256_cvtepu8_epi16(_mm256_castsi256_si128(a)); }
  static V WidenHi8(V a) { return _mm256_cvtepu8_epi16(_mm256_extracti128_si256(a, 1)); }
  static V PackInOrder16(V lo, V hi) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
  }
  static V And(V a, V b) { return _mm256_and_si256(a, b); }
  static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
  static V Or(V a, V b) { return _mm256_or_si256(a, b); }
  static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
  static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
  static V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
  static V MulLo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
  static V MulHi16(V a, V b) { return _mm256_mulhi_epi16(a, b); }
  static V SatSubU16(V a, V b) { return _mm256_subs_epu16(a, b); }
  static bool AllZero(V a) { return _mm256_testz_si256(a, a) != 0; }
  static V MulHiU16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
  template <int N>
  static V ShiftRightArith16(V a) {
    return _mm256_srai_epi16(a, N);
  }
  template <int N>
  static V ShiftRight16(V a) {
    return _mm256_srli_epi16(a, N);
  }
  static V UnpackLo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
  static V PackSigned32(V a, V b) { return _mm256_packs_epi32(a, b); }
  static V PackUnsigned16(V a, V b) { return _mm256_packus_epi16(a, b); }
  static V ScaleClamp32(V v, F f, F top) {
    F p = _mm256_mul_ps(_mm256_cvtepi32_ps(v), f);
    return _mm256_cvttps_epi32(_mm256_max_ps(_mm256_min_ps(p, top), _mm256_setzero_ps()));
  }
  static V Max16(V a, V b) { return _mm256_max_epi16(a, b); }
  static V Min16(V a, V b) { return _mm256_min_epi16(a, b); }
  static V CmpEq16(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
  static V CmpGt16(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
  template <int N>
  static V ShiftLeft16(V a) {
    return _mm256_slli_epi16(a, N);
  }
  template <int N>
  static V ShiftRight32(V a) {
    return _mm256_srli_epi32(a, N);
  }
  static V Select(V mask, V a, V b) {
    return _mm256_or_si256(_mm256_and_si256(mask, a), _mm256_andnot_si256(mask, b));
  }
  // Byte lookups (within each 128-bit half) and sign transfer.
  static constexpr bool kByteShuffle = true;
  static V Table16(const int8_t* t) { return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t))); }
  static V Shuffle8(V table, V control) { return _mm256_shuffle_epi8(table, control); }
  static V Sign16(V a, V s) { return _mm256_sign_epi16(a, s); }
  // Select for masks whose bytes are all ones or all zeros: one blend.
  static V SelectLanes(V mask, V a, V b) { return _mm256_blendv_epi8(b, a, mask); }
  // (d * u + 128) >> 8 for 0 <= d <= 255 and 1 <= u <= 511: the rounding high product of 2d
  // and 64u is 128 (d * u + 128) >> 15.
  static V MulRound8(V d, V u) { return _mm256_mulhrs_epi16(_mm256_add_epi16(d, d), _mm256_slli_epi16(u, 6)); }
  static F FloorF(F a) { return _mm256_floor_ps(a); }
  static F AddF(F a, F b) { return _mm256_add_ps(a, b); }
  static F MulF(F a, F b) { return _mm256_mul_ps(a, b); }
  static F DivF(F a, F b) { return _mm256_div_ps(a, b); }
  static F ToFloat(V v32) { return _mm256_cvtepi32_ps(v32); }
  static V Truncate(F f) { return _mm256_cvttps_epi32(f); }
  static F Gather(const float* table, V index32) { return _mm256_i32gather_ps(table, index32, 4); }
  static F SetF(float v) { return _mm256_set1_ps(v); }

  using H = __m128i;
  static H LoadHalf(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
  static void StoreHalf(void* p, H v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
  static V Widen(H h) { return _mm256_cvtepu8_epi16(h); }
  static H Narrow(V words) {
    return _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
  }
  static H SelectHalf(H mask, H a, H b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
  }
};

}  // namespace imaging
