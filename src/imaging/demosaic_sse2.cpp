#include "imaging/demosaic_simd.h"

#include <cstddef>

#include "imaging/sse2_target.h"

QELVAN_SSE2_BEGIN

namespace imaging {
namespace {

// Packs four BGR0 pixels into 12 bytes at the bottom of the register.
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

}  // namespace
}  // namespace imaging

#define QELVAN_KERNEL_NAME DemosaicRows8Sse2
#define QELVAN_KERNEL_SPACE sse2_kernel
#define QELVAN_STORE_24(out, b, g, r, p0, p1, p2, p3)                                      \
  do {                                                                                     \
    __m128i c0 = Pack3(p0), c1 = Pack3(p1), c2 = Pack3(p2), c3 = Pack3(p3);                \
    _mm_storeu_si128(out + 0, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));                   \
    _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8))); \
    _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4))); \
  } while (0)
#include "imaging/demosaic_kernel.inc"

QELVAN_SSE2_END
