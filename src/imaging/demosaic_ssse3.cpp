#include <tmmintrin.h>

#include <cstddef>

#include "imaging/demosaic_simd.h"
#include "imaging/sse2_target.h"

#if defined(__GNUC__) && !defined(__SSSE3__)
#pragma GCC push_options
#pragma GCC target("ssse3")
#define QELVAN_SSSE3_PUSHED
#endif

namespace imaging {
namespace {

// Byte shuffles that interleave sixteen B, G and R bytes into three registers of BGRBGR...
struct Interleave24 {
  alignas(16) int8_t mask[3][3][16];  // [output register][channel][byte]
  constexpr Interleave24() : mask() {
    for (int i = 0; i < 3; ++i)
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 16; ++k) {
          const int pos = 16 * i + k;
          mask[i][c][k] = static_cast<int8_t>(pos % 3 == c ? pos / 3 : -128);
        }
  }
};
constexpr Interleave24 kInterleave;

inline __m128i Mask(int i, int c) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.mask[i][c]));
}

inline __m128i Shuffle3(int i, __m128i b, __m128i g, __m128i r) {
  return _mm_or_si128(
      _mm_or_si128(_mm_shuffle_epi8(b, Mask(i, 0)), _mm_shuffle_epi8(g, Mask(i, 1))),
      _mm_shuffle_epi8(r, Mask(i, 2)));
}

}  // namespace
}  // namespace imaging

#define QELVAN_KERNEL_NAME DemosaicRows8Ssse3
#define QELVAN_KERNEL_SPACE ssse3_kernel
#define QELVAN_STORE_24(out, b, g, r, p0, p1, p2, p3) \
  do {                                                \
    (void)p0, (void)p1, (void)p2, (void)p3;           \
    _mm_storeu_si128(out + 0, Shuffle3(0, b, g, r));  \
    _mm_storeu_si128(out + 1, Shuffle3(1, b, g, r));  \
    _mm_storeu_si128(out + 2, Shuffle3(2, b, g, r));  \
  } while (0)
#include "imaging/demosaic_kernel.inc"

#ifdef QELVAN_SSSE3_PUSHED
#pragma GCC pop_options
#endif
