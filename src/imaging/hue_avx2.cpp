// The hue/saturation kernel for AVX2, sixteen pixels per step.
#include <immintrin.h>

#include "imaging/hue_simd.h"

#if defined(__GNUC__) && !defined(__AVX2__)
#pragma GCC push_options
#pragma GCC target("avx2")
#define QELVAN_AVX2_PUSHED
#endif

#include "imaging/hue_kernels.h"
#include "imaging/vector_avx2.h"

namespace imaging {
namespace {

using V = __m256i;

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

// Sixteen 3-byte pixels by byte shuffles; nothing beyond the 48 bytes is read or written.
struct Bytes3Avx2 {
  static constexpr int kReach = 16;
  const Shuffles& t = ShuffleTables();
  void Load(const uint8_t* s, V& b, V& g, V& r) const { Channels3(t, s, b, g, r); }
  void Store(uint8_t* d, V b, V g, V r) const { Store3(t, d, b, g, r); }
};

}  // namespace

int HueSaturationRowAvx2(uint8_t* dst, const uint8_t* src, int width, int bpp, int32_t shift,
                         int32_t saturation) {
  return HueSaturationRow<Avx2Vector, Bytes3Avx2>(dst, src, width, bpp, shift, saturation);
}

}  // namespace imaging

#ifdef QELVAN_AVX2_PUSHED
#pragma GCC pop_options
#endif
