// The 8-bit demosaicing kernel with the 24 bpp store done by byte shuffles (SSSE3).
#include <tmmintrin.h>

#include <cstddef>

#include "imaging/demosaic_simd.h"
#include "imaging/sse2_target.h"
#include "imaging/vector_sse2.h"  // baseline code: included before the SSSE3 target below

#if defined(__GNUC__) && !defined(__SSSE3__)
#pragma GCC push_options
#pragma GCC target("ssse3")
#define QELVAN_SSSE3_PUSHED
#endif

#include "imaging/demosaic_kernels.h"

namespace imaging {
namespace {

// Byte shuffles that interleave sixteen B, G and R bytes into three registers of BGRBGR...;
// B and R come in pair-split order, G in pixel order.
struct Interleave24 {
  alignas(16) int8_t mask[3][3][16];  // [output register][channel][byte]
  constexpr Interleave24() : mask() {
    for (int i = 0; i < 3; ++i)
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 16; ++k) {
          const int pos = 16 * i + k, pixel = pos / 3;
          const int from = c == 1 ? pixel : (pixel & 1) * 8 + pixel / 2;
          mask[i][c][k] = static_cast<int8_t>(pos % 3 == c ? from : -128);
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

struct StoreSsse3 {
  static bool Accepts(int dst_bpp) { return dst_bpp == 3 || dst_bpp == 4; }
  void operator()(uint8_t* d, int dst_bpp, __m128i b, __m128i g, __m128i r) const {
    if (dst_bpp == 4) {
      __m128i p[4];
      Bgr0Pixels<Sse2Vector>(PixelOrder<Sse2Vector>(b), g, PixelOrder<Sse2Vector>(r), p);
      StoreBgr0Keeping<Sse2Vector>(d, p);
      return;
    }
    __m128i* out = reinterpret_cast<__m128i*>(d);
    _mm_storeu_si128(out + 0, Shuffle3(0, b, g, r));
    _mm_storeu_si128(out + 1, Shuffle3(1, b, g, r));
    _mm_storeu_si128(out + 2, Shuffle3(2, b, g, r));
  }
};

}  // namespace

int DemosaicRows8Ssse3(const BayerRows& job) {
  return DemosaicRows8<Sse2Vector, StoreSsse3>(job);
}

}  // namespace imaging

#ifdef QELVAN_SSSE3_PUSHED
#pragma GCC pop_options
#endif
