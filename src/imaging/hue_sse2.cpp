#include "imaging/hue_sse2.h"

#include <cstring>

#include "imaging/sse2_target.h"

QELVAN_SSE2_BEGIN

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

inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// floor(0xFF0000 / d) for d = 0..255 (0 for d = 0), as exact single-precision values.
struct RecipTable {
  alignas(16) float value[256];
  RecipTable() {
    value[0] = 0.0f;
    for (int d = 1; d < 256; ++d) value[d] = static_cast<float>(0xFF0000 / d);
  }
};

const RecipTable& Recips() {
  static const RecipTable table;
  return table;
}

// floor((n * floor(0xFF0000 / d) + 0x8000) / 65536) for four lanes with 0 <= n <= d <= 255.
// Every intermediate is an integer below 2^24, so single precision is exact.
QELVAN_ALWAYS_INLINE __m128i Position4(__m128i n32, __m128 recip) {
  __m128 prod = _mm_mul_ps(_mm_cvtepi32_ps(n32), recip);
  __m128 scaled = _mm_mul_ps(_mm_add_ps(prod, _mm_set1_ps(32768.0f)), _mm_set1_ps(1.0f / 65536.0f));
  return _mm_cvttps_epi32(scaled);
}

struct Params {
  __m128i u;           // saturation + 256
  __m128i shift_mod;   // shift % 255
  __m128i shift_div;   // shift / 255
  const float* recip;  // floor(0xFF0000 / d)
};

// Eight pixels as 16-bit lanes of B, G and R; returns them shifted in place.
QELVAN_ALWAYS_INLINE void Shift8(const Params& k, __m128i& b, __m128i& g, __m128i& r) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i mx = _mm_max_epi16(_mm_max_epi16(r, g), b);
  const __m128i mn = _mm_min_epi16(_mm_min_epi16(r, g), b);
  const __m128i j = _mm_add_epi16(mx, mn);
  const __m128i d = _mm_sub_epi16(mx, mn);
  const __m128i lim = _mm_min_epi16(j, _mm_sub_epi16(_mm_set1_epi16(511), j));
  // Sat(d) = (d * u + 128) >> 8, from a 17-bit product.
  const __m128i lo = _mm_mullo_epi16(d, k.u);
  const __m128i hi = _mm_mulhi_epu16(d, k.u);
  const __m128i sat =
      _mm_add_epi16(_mm_slli_epi16(hi, 8),
                    _mm_srli_epi16(_mm_add_epi16(_mm_srli_epi16(lo, 1), _mm_set1_epi16(64)), 7));
  const __m128i c = _mm_min_epi16(lim, sat);
  const __m128i base = _mm_srai_epi16(_mm_sub_epi16(j, c), 1);
  __m128i level = _mm_sub_epi16(_mm_srai_epi16(_mm_add_epi16(j, c), 1), base);

  // Sextant of the hue and the offset n inside it.
  const __m128i red_max = _mm_cmpeq_epi16(r, mx);
  const __m128i green_max = _mm_andnot_si128(red_max, _mm_cmpeq_epi16(g, mx));
  __m128i n = Select(red_max, _mm_sub_epi16(g, b),
                     Select(green_max, _mm_sub_epi16(b, r), _mm_sub_epi16(r, g)));
  __m128i s0 =
      _mm_add_epi16(_mm_set1_epi16(5), _mm_add_epi16(_mm_and_si128(green_max, _mm_set1_epi16(-2)),
                                                     _mm_and_si128(red_max, _mm_set1_epi16(-4))));
  const __m128i negative = _mm_cmplt_epi16(n, zero);
  s0 = _mm_add_epi16(s0, negative);
  n = _mm_add_epi16(n, _mm_and_si128(negative, d));

  // The reciprocals by lookup: SSE2 has no gather, but eight loads from a 1 KB table are
  // cheaper than a division.
  alignas(16) int16_t dl[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(dl), d);
  const float* rt = k.recip;
  const __m128 r_lo = _mm_setr_ps(rt[dl[0]], rt[dl[1]], rt[dl[2]], rt[dl[3]]);
  const __m128 r_hi = _mm_setr_ps(rt[dl[4]], rt[dl[5]], rt[dl[6]], rt[dl[7]]);
  __m128i p = _mm_packs_epi32(Position4(_mm_unpacklo_epi16(n, zero), r_lo),
                              Position4(_mm_unpackhi_epi16(n, zero), r_hi));
  p = _mm_add_epi16(p, k.shift_mod);
  const __m128i wrap = _mm_cmpgt_epi16(p, _mm_set1_epi16(254));
  __m128i index = _mm_sub_epi16(_mm_add_epi16(s0, k.shift_div), wrap);
  p = _mm_sub_epi16(p, _mm_and_si128(wrap, _mm_set1_epi16(255)));
  index = _mm_sub_epi16(
      index, _mm_and_si128(_mm_cmpgt_epi16(index, _mm_set1_epi16(5)), _mm_set1_epi16(6)));
  // (p * level + 128) >> 8; the product stays below 65536.
  __m128i q = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(p, level), _mm_set1_epi16(128)), 8);
  // Gray pixels keep their level only.
  const __m128i gray = _mm_cmpeq_epi16(d, zero);
  level = _mm_andnot_si128(gray, level);
  q = _mm_andnot_si128(gray, q);

  // Each sextant has a top channel (base + level), a bottom one (base) and a middle one that
  // rises (base + q) in odd sextants and falls (base + level - q) in even ones:
  //   sextant 0 1 2 3 4 5;  top R R G G B B;  middle B G R B G R.
  const __m128i half = _mm_srli_epi16(index, 1);
  const __m128i third = _mm_sub_epi16(
      index, _mm_and_si128(_mm_cmpgt_epi16(index, _mm_set1_epi16(2)), _mm_set1_epi16(3)));
  const __m128i odd = _mm_cmpeq_epi16(_mm_and_si128(index, _mm_set1_epi16(1)), _mm_set1_epi16(1));
  const __m128i middle = Select(odd, q, _mm_sub_epi16(level, q));
  auto channel = [&](int top, int mid) {
    __m128i v = _mm_add_epi16(
        base,
        _mm_and_si128(_mm_cmpeq_epi16(half, _mm_set1_epi16(static_cast<int16_t>(top))), level));
    return _mm_add_epi16(
        v,
        _mm_and_si128(_mm_cmpeq_epi16(third, _mm_set1_epi16(static_cast<int16_t>(mid))), middle));
  };
  r = channel(0, 2);
  g = channel(1, 1);
  b = channel(2, 0);
}

inline void Channels(__m128i p0, __m128i p1, __m128i& b, __m128i& g, __m128i& r) {
  const __m128i byte = _mm_set1_epi32(0xFF);
  b = _mm_packs_epi32(_mm_and_si128(p0, byte), _mm_and_si128(p1, byte));
  g = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p0, 8), byte),
                      _mm_and_si128(_mm_srli_epi32(p1, 8), byte));
  r = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p0, 16), byte),
                      _mm_and_si128(_mm_srli_epi32(p1, 16), byte));
}

inline void Pixels(__m128i b, __m128i g, __m128i r, __m128i& p0, __m128i& p1) {
  const __m128i zero = _mm_setzero_si128();
  __m128i bg = _mm_or_si128(b, _mm_slli_epi16(g, 8));  // B | G << 8 per 16-bit lane
  p0 = _mm_unpacklo_epi16(bg, r);
  p1 = _mm_unpackhi_epi16(bg, r);
  (void)zero;
}

}  // namespace

int HueSaturationRowSse2(uint8_t* dst, const uint8_t* src, int width, int bpp, int32_t shift,
                         int32_t saturation) {
  if ((bpp != 3 && bpp != 4) || saturation < -255 || saturation > 255) return 0;
  Params k;
  k.u = _mm_set1_epi16(static_cast<int16_t>(saturation + 256));
  k.shift_mod = _mm_set1_epi16(static_cast<int16_t>(shift % 255));
  k.shift_div = _mm_set1_epi16(static_cast<int16_t>(shift / 255));
  k.recip = Recips().value;
  int x = 0;
  if (bpp == 4) {
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF000000));
    for (; x + 8 <= width; x += 8) {
      const uint8_t* s = src + 4 * x;
      __m128i in0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
      __m128i in1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
      __m128i b, g, r;
      Channels(in0, in1, b, g, r);
      Shift8(k, b, g, r);
      __m128i p0, p1;
      Pixels(b, g, r, p0, p1);
      // The destination's fourth bytes stay as they are.
      __m128i* d = reinterpret_cast<__m128i*>(dst + 4 * x);
      _mm_storeu_si128(d, _mm_or_si128(p0, _mm_and_si128(_mm_loadu_si128(d), keep)));
      _mm_storeu_si128(d + 1, _mm_or_si128(p1, _mm_and_si128(_mm_loadu_si128(d + 1), keep)));
    }
    return x;
  }
  // Three bytes per pixel: each load of four pixels reads 16 bytes, so stop two pixels early.
  for (; x + 10 <= width; x += 8) {
    const uint8_t* s = src + 3 * x;
    __m128i b, g, r;
    Channels(Spread3(s), Spread3(s + 12), b, g, r);
    Shift8(k, b, g, r);
    __m128i p0, p1;
    Pixels(b, g, r, p0, p1);
    Store12(dst + 3 * x, Pack3(p0));
    Store12(dst + 3 * x + 12, Pack3(p1));
  }
  return x;
}

}  // namespace imaging

QELVAN_SSE2_END
