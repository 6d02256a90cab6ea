// The 8-bit demosaicing kernel for AVX2, 32 pixels per block into 24 bpp.
#include <immintrin.h>

#include <cstddef>

#include "imaging/demosaic_simd.h"
#include "imaging/sse2_target.h"

#if defined(__GNUC__) && !defined(__AVX2__)
#pragma GCC push_options
#pragma GCC target("avx2")
#define QELVAN_AVX2_PUSHED
#endif

#include "imaging/demosaic_kernels.h"
#include "imaging/vector_avx2.h"

namespace imaging {
namespace {

using V = __m256i;

// Byte shuffles that interleave sixteen B, G and R bytes of each 128-bit half into 48 bytes;
// B and R come in pair-split order, G in pixel order.
struct Interleave24 {
  alignas(32) int8_t mask[3][3][32];  // [output register][channel][byte], same in both halves
  constexpr Interleave24() : mask() {
    for (int i = 0; i < 3; ++i)
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 32; ++k) {
          const int pos = 16 * i + (k & 15), pixel = pos / 3;
          const int from = c == 1 ? pixel : (pixel & 1) * 8 + pixel / 2;
          mask[i][c][k] = static_cast<int8_t>(pos % 3 == c ? from : -128);
        }
  }
};
constexpr Interleave24 kInterleave;

inline V Shuffle3(int i, V b, V g, V r) {
  auto m = [&](int c) {
    return _mm256_load_si256(reinterpret_cast<const V*>(kInterleave.mask[i][c]));
  };
  return _mm256_or_si256(
      _mm256_or_si256(_mm256_shuffle_epi8(b, m(0)), _mm256_shuffle_epi8(g, m(1))),
      _mm256_shuffle_epi8(r, m(2)));
}

// 32 pixels, 96 bytes.
inline void Store24(uint8_t* d, V b, V g, V r) {
  V s0 = Shuffle3(0, b, g, r), s1 = Shuffle3(1, b, g, r), s2 = Shuffle3(2, b, g, r);
  V* out = reinterpret_cast<V*>(d);
  _mm256_storeu_si256(out + 0, _mm256_permute2x128_si256(s0, s1, 0x20));
  _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(s2, s0, 0x30));
  _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(s1, s2, 0x31));
}

struct StoreAvx2 {
  static bool Accepts(int dst_bpp) { return dst_bpp == 3; }
  void operator()(uint8_t* d, int, V b, V g, V r) const { Store24(d, b, g, r); }
};

}  // namespace

int DemosaicRows8Avx2(const BayerRows& job) { return DemosaicRows8<Avx2Vector, StoreAvx2>(job); }

}  // namespace imaging

#ifdef QELVAN_AVX2_PUSHED
#pragma GCC pop_options
#endif
