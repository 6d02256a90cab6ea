// The 8-bit demosaicing kernel for SSE2, sixteen pixels per block into 24 or 32 bpp.
#include "imaging/demosaic_simd.h"
#include "imaging/sse2_target.h"

QELVAN_SSE2_BEGIN

#include "imaging/demosaic_kernels.h"
#include "imaging/vector_sse2.h"

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

struct StoreSse2 {
  static bool Accepts(int dst_bpp) { return dst_bpp == 3 || dst_bpp == 4; }
  void operator()(uint8_t* d, int dst_bpp, __m128i b, __m128i g, __m128i r) const {
    __m128i p[4];
    Bgr0Pixels<Sse2Vector>(PixelOrder<Sse2Vector>(b), g, PixelOrder<Sse2Vector>(r), p);
    if (dst_bpp == 4) {
      StoreBgr0Keeping<Sse2Vector>(d, p);
      return;
    }
    const __m128i c0 = Pack3(p[0]), c1 = Pack3(p[1]), c2 = Pack3(p[2]), c3 = Pack3(p[3]);
    __m128i* out = reinterpret_cast<__m128i*>(d);
    _mm_storeu_si128(out + 0, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
    _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
    _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
  }
};

}  // namespace

int DemosaicRows8Sse2(const BayerRows& job) { return DemosaicRows8<Sse2Vector, StoreSse2>(job); }

}  // namespace imaging

QELVAN_SSE2_END
