#include "imaging/demosaic_sse2.h"

#include <cstddef>

#include "imaging/sse2_target.h"

QELVAN_SSE2_BEGIN

namespace imaging {
namespace {

constexpr int kChunk = 512;  // output columns per pass over the row buffers

struct Rows {
  const uint8_t* red_near;
  const uint8_t* red_far;
  const uint8_t* blue_near;
  const uint8_t* blue_far;
  const uint8_t* cur;   // row y
  const uint8_t* prev;  // row y - 1
};

QELVAN_SSE2 inline void VerticalStep(const uint8_t* near, const uint8_t* far, int c,
                                     int16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  __m128i n = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(near + c)), zero);
  __m128i f = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(far + c)), zero);
  __m128i v = _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(n, 1), n), f);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}

// Vertical sums 3 * near + far for columns [first, first + count), count >= 8.
QELVAN_SSE2 void Vertical(const uint8_t* near, const uint8_t* far, int first, int count,
                          int16_t* out) {
  int i = 0;
  for (; i + 8 <= count; i += 8) VerticalStep(near, far, first + i, out + i);
  if (i < count) VerticalStep(near, far, first + count - 8, out + count - 8);
}

// Weighted horizontal sum times the gain factor, shifted and clamped to 0..255 in 16-bit lanes.
QELVAN_SSE2 inline __m128i Channel(const int16_t* v, __m128i valid, __m128i k) {
  __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
  __m128i vm2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v - 2));
  __m128i vm1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v - 1));
  __m128i vp1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 1));
  __m128i a = _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(v0, 1), v0), vm2);
  __m128i b = _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(vm1, 1), vm1), vp1);
  __m128i s = _mm_or_si128(_mm_and_si128(valid, a), _mm_andnot_si128(valid, b));
  __m128i lo = _mm_mullo_epi16(s, k);
  __m128i hi = _mm_mulhi_epu16(s, k);
  // A product of 0x80000 or more gives hi >= 8, a value above 255 that the pack saturates.
  return _mm_or_si128(_mm_slli_epi16(hi, 5), _mm_srli_epi16(lo, 11));
}

QELVAN_SSE2 inline __m128i FloorAverage(__m128i a, __m128i b) {
  const __m128i one = _mm_set1_epi8(1);
  return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
}

// Packs four BGR0 pixels into 12 bytes at the bottom of the register.
QELVAN_SSE2 inline __m128i Pack3(__m128i p) {
  const __m128i low24 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i high24 = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000), 0x0000FFFF,
                                       static_cast<int>(0xFF000000));
  __m128i lanes = _mm_or_si128(_mm_and_si128(p, low24), _mm_and_si128(_mm_srli_epi64(p, 8), high24));
  const __m128i low_lane = _mm_set_epi32(0, 0, -1, -1);
  return _mm_or_si128(_mm_and_si128(lanes, low_lane),
                      _mm_srli_si128(_mm_andnot_si128(low_lane, lanes), 2));
}

QELVAN_SSE2 inline void StoreBlock(uint8_t* d, int dst_bpp, __m128i b, __m128i g, __m128i r) {
  const __m128i zero = _mm_setzero_si128();
  __m128i bg_lo = _mm_unpacklo_epi8(b, g);
  __m128i bg_hi = _mm_unpackhi_epi8(b, g);
  __m128i r0_lo = _mm_unpacklo_epi8(r, zero);
  __m128i r0_hi = _mm_unpackhi_epi8(r, zero);
  __m128i p0 = _mm_unpacklo_epi16(bg_lo, r0_lo);
  __m128i p1 = _mm_unpackhi_epi16(bg_lo, r0_lo);
  __m128i p2 = _mm_unpacklo_epi16(bg_hi, r0_hi);
  __m128i p3 = _mm_unpackhi_epi16(bg_hi, r0_hi);
  __m128i* out = reinterpret_cast<__m128i*>(d);
  if (dst_bpp == 4) {
    // The fourth byte of each pixel is left as it was.
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF000000));
    __m128i ps[4] = {p0, p1, p2, p3};
    for (int i = 0; i < 4; ++i) {
      __m128i old = _mm_loadu_si128(out + i);
      _mm_storeu_si128(out + i, _mm_or_si128(ps[i], _mm_and_si128(old, keep)));
    }
    return;
  }
  __m128i c0 = Pack3(p0), c1 = Pack3(p1), c2 = Pack3(p2), c3 = Pack3(p3);
  _mm_storeu_si128(out + 0, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
  _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
  _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
}

inline int32_t Weigh(int32_t sum, int32_t k) {
  int32_t product = sum * k;
  return product >= 0x80000 ? 255 : product >> 11;
}

// One pixel the plain way, for the columns after the last full block.
inline void TailPixel(const Rows& rows, int x, int red_valid, int green, int32_t kr, int32_t kb,
                      uint8_t* d) {
  auto v = [](const uint8_t* n, const uint8_t* f, int c) { return 3 * n[c] + f[c]; };
  auto sum = [&](const uint8_t* n, const uint8_t* f, bool valid) {
    return valid ? 3 * v(n, f, x) + v(n, f, x - 2) : 3 * v(n, f, x - 1) + v(n, f, x + 1);
  };
  int32_t sr = sum(rows.red_near, rows.red_far, red_valid);
  int32_t sb = sum(rows.blue_near, rows.blue_far, !red_valid);
  int32_t g = green ? (rows.cur[x] + rows.prev[x - 1]) >> 1 : (rows.cur[x - 1] + rows.prev[x]) >> 1;
  d[0] = static_cast<uint8_t>(Weigh(sb, kb));
  d[1] = static_cast<uint8_t>(g);
  d[2] = static_cast<uint8_t>(Weigh(sr, kr));
}

}  // namespace

QELVAN_SSE2 void DemosaicInterior8Sse2(uint8_t* dst, const uint8_t* src, const Rect& region,
                                       int32_t dst_x, int32_t dst_y, int dst_bpp,
                                       int32_t dst_stride, int32_t src_stride, int row_phase,
                                       int column_phase, int32_t kr, int32_t kb) {
  const int width = region.right - region.left;
  const int height = region.bottom - region.top;
  const int last = width - 3;  // last interior column
  alignas(16) int16_t vred[kChunk + 16];
  alignas(16) int16_t vblue[kChunk + 16];
  const __m128i even16 = _mm_set_epi16(0, -1, 0, -1, 0, -1, 0, -1);
  const __m128i even8 = _mm_set1_epi16(0x00FF);
  // Blocks start at even columns, so a lane's column phase is column_phase ^ (lane & 1).
  const __m128i red_valid = column_phase == 0 ? even16 : _mm_xor_si128(even16, _mm_set1_epi16(-1));
  const __m128i vkr = _mm_set1_epi16(static_cast<int16_t>(kr));
  const __m128i vkb = _mm_set1_epi16(static_cast<int16_t>(kb));
  for (int y = 2; y < height - 2; ++y) {
    const int rp = row_phase ^ (y & 1);
    auto row = [&](int dy) {
      return src + static_cast<ptrdiff_t>(region.top + y + dy) * src_stride + region.left;
    };
    Rows rows;
    rows.cur = row(0);
    rows.prev = row(-1);
    if (rp == 0) {
      rows.red_near = row(-1), rows.red_far = row(1), rows.blue_near = row(0), rows.blue_far = row(-2);
    } else {
      rows.red_near = row(0), rows.red_far = row(-2), rows.blue_near = row(-1), rows.blue_far = row(1);
    }
    // Green where the lane's column phase equals the row phase.
    const __m128i green_mask = (rp ^ column_phase) == 0 ? even8 : _mm_xor_si128(even8, _mm_set1_epi8(-1));
    uint8_t* drow = dst + static_cast<ptrdiff_t>(dst_y + y) * dst_stride +
                    static_cast<ptrdiff_t>(dst_x) * dst_bpp;
    int x = 2;
    while (x + 15 <= last) {
      int blocks = (last - x + 1) / 16;
      if (blocks > kChunk / 16) blocks = kChunk / 16;
      const int first = x - 2;
      const int columns = blocks * 16 + 3;
      Vertical(rows.red_near, rows.red_far, first, columns, vred);
      Vertical(rows.blue_near, rows.blue_far, first, columns, vblue);
      for (int bi = 0; bi < blocks; ++bi, x += 16) {
        const int i = x - first;
        __m128i r = _mm_packus_epi16(Channel(vred + i, red_valid, vkr),
                                     Channel(vred + i + 8, red_valid, vkr));
        __m128i b = _mm_packus_epi16(Channel(vblue + i, _mm_xor_si128(red_valid, _mm_set1_epi16(-1)), vkb),
                                     Channel(vblue + i + 8, _mm_xor_si128(red_valid, _mm_set1_epi16(-1)), vkb));
        __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.cur + x));
        __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.cur + x - 1));
        __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.prev + x));
        __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.prev + x - 1));
        __m128i diag = FloorAverage(c0, p1);
        __m128i anti = FloorAverage(c1, p0);
        __m128i g = _mm_or_si128(_mm_and_si128(green_mask, diag), _mm_andnot_si128(green_mask, anti));
        StoreBlock(drow + static_cast<ptrdiff_t>(x) * dst_bpp, dst_bpp, b, g, r);
      }
    }
    for (; x <= last; ++x) {
      int cp = column_phase ^ (x & 1);
      TailPixel(rows, x, cp == 0, cp == rp, kr, kb, drow + static_cast<ptrdiff_t>(x) * dst_bpp);
    }
  }
}

}  // namespace imaging

QELVAN_SSE2_END
