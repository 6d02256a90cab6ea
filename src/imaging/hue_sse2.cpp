// The hue/saturation kernel for SSE2, eight pixels per step.
#include "imaging/hue_simd.h"

#include <cstring>

#include "imaging/sse2_target.h"

QELVAN_SSE2_BEGIN

#include "imaging/hue_kernels.h"
#include "imaging/vector_sse2.h"

namespace imaging {
namespace {

// Four 3-byte pixels into the low three bytes of four 32-bit lanes.
inline __m128i Spread3(const uint8_t* p) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i a = _mm_unpacklo_epi32(v, _mm_srli_si128(v, 3));
  __m128i b = _mm_unpacklo_epi32(_mm_srli_si128(v, 6), _mm_srli_si128(v, 9));
  return _mm_unpacklo_epi64(a, b);
}

// Four BGR0 lanes into 12 bytes at the bottom of the register.
inline __m128i Pack3(__m128i p) {
  const __m128i low24 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i high24 = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000), 0x0000FFFF,
                                       static_cast<int>(0xFF000000));
  __m128i lanes =
      _mm_or_si128(_mm_and_si128(p, low24), _mm_and_si128(_mm_srli_epi64(p, 8), high24));
  const __m128i low_lane = _mm_set_epi32(0, 0, -1, -1);
  return _mm_or_si128(_mm_and_si128(lanes, low_lane),
                      _mm_srli_si128(_mm_andnot_si128(low_lane, lanes), 2));
}

inline void Store12(uint8_t* d, __m128i c) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), c);
  int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(c, 8));
  std::memcpy(d + 8, &tail, 4);
}

// Eight 3-byte pixels: each load of four pixels reads 16 bytes, so a step reaches ten pixels.
struct Bytes3Sse2 {
  static constexpr int kReach = 10;
  void Load(const uint8_t* s, __m128i& b, __m128i& g, __m128i& r) const {
    SplitPixels4<Sse2Vector>(Spread3(s), Spread3(s + 12), b, g, r);
  }
  void Store(uint8_t* d, __m128i b, __m128i g, __m128i r) const {
    __m128i p0, p1;
    JoinPixels4<Sse2Vector>(b, g, r, p0, p1);
    Store12(d, Pack3(p0));
    Store12(d + 12, Pack3(p1));
  }
};

}  // namespace

int HueSaturationRowSse2(uint8_t* dst, const uint8_t* src, int width, int bpp, int32_t shift,
                         int32_t saturation) {
  return HueSaturationRow<Sse2Vector, Bytes3Sse2>(dst, src, width, bpp, shift, saturation);
}

int NarrowWordsSse2(uint8_t* bytes, const uint8_t* words, int count, int down) {
  const __m128i shift = _mm_cvtsi32_si128(down);
  const __m128i top = _mm_set1_epi16(255);
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    __m128i v = _mm_srl_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 2 * i)),
                              shift);
    v = _mm_sub_epi16(v, _mm_subs_epu16(v, top));  // unsigned min with 255
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + i), _mm_packus_epi16(v, v));
  }
  return i;
}

int WidenBytesSse2(uint8_t* words, const uint8_t* bytes, int count, int up, bool keep_fourth) {
  const __m128i shift = _mm_cvtsi32_si128(up);
  const __m128i fourth = _mm_set_epi32(static_cast<int>(0xFFFF0000), 0,
                                       static_cast<int>(0xFFFF0000), 0);
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + i));
    __m128i v = _mm_sll_epi16(_mm_unpacklo_epi8(b, _mm_setzero_si128()), shift);
    __m128i* out = reinterpret_cast<__m128i*>(words + 2 * i);
    if (keep_fourth)  // i is a multiple of 4
      v = _mm_or_si128(_mm_and_si128(fourth, _mm_loadu_si128(out)), _mm_andnot_si128(fourth, v));
    _mm_storeu_si128(out, v);
  }
  return i;
}

}  // namespace imaging

QELVAN_SSE2_END
