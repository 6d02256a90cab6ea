#include "imaging/demosaic_sse2.h"

#include <cstddef>

#include "imaging/sse2_target.h"

QELVAN_SSE2_BEGIN

namespace imaging {
namespace {

// Output columns per strip; the four filtered rows of a strip live on the stack.
constexpr int kStrip = 512;

// Red and blue are separable: S = 3 * H(near row) + H(far row), where H is the horizontal
// interpolation of one raw row at its own colour sites. Each raw row is filtered once per strip
// and serves four output rows.
//
// With z the row's samples, zero outside its colour sites, exactly one of x - 1 and x is a site,
// so H(x) = 3 * (z(x) + z(x - 1)) + z(x - 2) + z(x + 1) whatever the phase.
inline void FilterRow(const uint8_t* row, int x_first, int count, __m128i site_even,
                      int16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i site_odd = _mm_xor_si128(site_even, _mm_set1_epi8(-1));
  for (int i = 0; i < count; i += 16) {
    const uint8_t* p = row + x_first + i;  // x_first + i is even
    __m128i z0 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), site_even);
    __m128i zm2 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 2)), site_even);
    __m128i zm1 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1)), site_odd);
    __m128i zp1 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)), site_odd);
    // z(x) + z(x - 1) never exceeds 255: one of the two is zero.
    __m128i near = _mm_or_si128(z0, zm1);
    __m128i far_lo = _mm_add_epi16(_mm_unpacklo_epi8(zm2, zero), _mm_unpacklo_epi8(zp1, zero));
    __m128i far_hi = _mm_add_epi16(_mm_unpackhi_epi8(zm2, zero), _mm_unpackhi_epi8(zp1, zero));
    __m128i n_lo = _mm_unpacklo_epi8(near, zero);
    __m128i n_hi = _mm_unpackhi_epi8(near, zero);
    n_lo = _mm_add_epi16(_mm_add_epi16(n_lo, _mm_slli_epi16(n_lo, 1)), far_lo);
    n_hi = _mm_add_epi16(_mm_add_epi16(n_hi, _mm_slli_epi16(n_hi, 1)), far_hi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), n_lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), n_hi);
  }
}

// (3 * near + far) * k >> 11 for 8 lanes; k32 = 32 * k, so mulhi gives the shift. Values above
// 255 (a product of 0x80000 or more) saturate in the pack that follows.
inline __m128i Weigh8(const int16_t* near, const int16_t* far, __m128i k32) {
  __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(near));
  __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(far));
  __m128i s = _mm_add_epi16(_mm_add_epi16(n, _mm_slli_epi16(n, 1)), f);
  return _mm_mulhi_epu16(s, k32);
}

inline __m128i FloorAverage(__m128i a, __m128i b) {
  const __m128i one = _mm_set1_epi8(1);
  return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
}

// Packs four BGR0 pixels into 12 bytes at the bottom of the register.
inline __m128i Pack3(__m128i p) {
  const __m128i low24 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i high24 = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000), 0x0000FFFF,
                                       static_cast<int>(0xFF000000));
  __m128i lanes = _mm_or_si128(_mm_and_si128(p, low24), _mm_and_si128(_mm_srli_epi64(p, 8), high24));
  const __m128i low_lane = _mm_set_epi32(0, 0, -1, -1);
  return _mm_or_si128(_mm_and_si128(lanes, low_lane),
                      _mm_srli_si128(_mm_andnot_si128(low_lane, lanes), 2));
}

inline void StoreBlock(uint8_t* d, int dst_bpp, __m128i b, __m128i g, __m128i r) {
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

struct Rows {
  const uint8_t* red_near;
  const uint8_t* red_far;
  const uint8_t* blue_near;
  const uint8_t* blue_far;
  const uint8_t* cur;   // row y
  const uint8_t* prev;  // row y - 1
};

// One pixel the plain way, for the columns after the last full block.
inline void TailPixel(const Rows& rows, int x, bool red_site, bool green, int32_t kr, int32_t kb,
                      uint8_t* d) {
  auto h = [&](const uint8_t* row, bool site) {
    return site ? 3 * row[x] + row[x - 2] : 3 * row[x - 1] + row[x + 1];
  };
  int32_t sr = 3 * h(rows.red_near, red_site) + h(rows.red_far, red_site);
  int32_t sb = 3 * h(rows.blue_near, !red_site) + h(rows.blue_far, !red_site);
  int32_t g = green ? (rows.cur[x] + rows.prev[x - 1]) >> 1 : (rows.cur[x - 1] + rows.prev[x]) >> 1;
  d[0] = static_cast<uint8_t>(Weigh(sb, kb));
  d[1] = static_cast<uint8_t>(g);
  d[2] = static_cast<uint8_t>(Weigh(sr, kr));
}

}  // namespace

bool DemosaicInterior8Sse2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                           int32_t dst_y, int dst_bpp, int32_t dst_stride, int32_t src_stride,
                           int row_phase, int column_phase, int32_t kr, int32_t kb) {
  if (kr > 2047 || kb > 2047) return false;  // 32 * k must fit the 16-bit multiplier
  const int width = region.right - region.left;
  const int height = region.bottom - region.top;
  const int last = width - 3;  // last interior column
  const int blocks = (last - 1) / 16;  // full 16-pixel blocks from column 2
  auto src_row = [&](int y) {
    return src + static_cast<ptrdiff_t>(region.top + y) * src_stride + region.left;
  };
  auto dst_row = [&](int y) {
    return dst + static_cast<ptrdiff_t>(dst_y + y) * dst_stride + static_cast<ptrdiff_t>(dst_x) * dst_bpp;
  };
  auto rows_of = [&](int y) {
    const int rp = row_phase ^ (y & 1);
    Rows rows;
    rows.cur = src_row(y);
    rows.prev = src_row(y - 1);
    if (rp == 0) {
      rows.red_near = src_row(y - 1), rows.red_far = src_row(y + 1);
      rows.blue_near = src_row(y), rows.blue_far = src_row(y - 2);
    } else {
      rows.red_near = src_row(y), rows.red_far = src_row(y - 2);
      rows.blue_near = src_row(y - 1), rows.blue_far = src_row(y + 1);
    }
    return rows;
  };
  const __m128i even8 = _mm_set1_epi16(0x00FF);
  const __m128i odd8 = _mm_xor_si128(even8, _mm_set1_epi8(-1));
  const __m128i k32r = _mm_set1_epi16(static_cast<int16_t>(kr * 32));
  const __m128i k32b = _mm_set1_epi16(static_cast<int16_t>(kb * 32));
  alignas(16) int16_t filtered[4][kStrip];

  // Blocks start at even columns, so a lane's column phase is column_phase ^ (lane & 1).
  // A raw row of phase p has its colour sites where the column phase is 1 - p.
  auto site_mask = [&](int y) {
    const int rp = row_phase ^ (y & 1);
    return ((column_phase ^ 1 ^ rp) == 0) ? even8 : odd8;
  };
  for (int x0 = 2; x0 < 2 + blocks * 16; x0 += kStrip) {
    int count = 2 + blocks * 16 - x0;
    if (count > kStrip) count = kStrip;
    for (int r = 0; r < 3; ++r) FilterRow(src_row(r), x0, count, site_mask(r), filtered[r & 3]);
    for (int y = 2; y < height - 2; ++y) {
      FilterRow(src_row(y + 1), x0, count, site_mask(y + 1), filtered[(y + 1) & 3]);
      const int rp = row_phase ^ (y & 1);
      const int16_t* red_near = filtered[(rp == 0 ? y - 1 : y) & 3];
      const int16_t* red_far = filtered[(rp == 0 ? y + 1 : y - 2) & 3];
      const int16_t* blue_near = filtered[(rp == 0 ? y : y - 1) & 3];
      const int16_t* blue_far = filtered[(rp == 0 ? y - 2 : y + 1) & 3];
      // Green where the lane's column phase equals the row phase.
      const __m128i green_mask = (rp ^ column_phase) == 0 ? even8 : odd8;
      const uint8_t* cur = src_row(y);
      const uint8_t* prev = src_row(y - 1);
      uint8_t* d = dst_row(y);
      for (int i = 0; i < count; i += 16) {
        const int x = x0 + i;
        __m128i r = _mm_packus_epi16(Weigh8(red_near + i, red_far + i, k32r),
                                     Weigh8(red_near + i + 8, red_far + i + 8, k32r));
        __m128i b = _mm_packus_epi16(Weigh8(blue_near + i, blue_far + i, k32b),
                                     Weigh8(blue_near + i + 8, blue_far + i + 8, k32b));
        __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x));
        __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x - 1));
        __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + x));
        __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + x - 1));
        __m128i diag = FloorAverage(c0, p1);
        __m128i anti = FloorAverage(c1, p0);
        __m128i g = _mm_or_si128(_mm_and_si128(green_mask, diag), _mm_andnot_si128(green_mask, anti));
        StoreBlock(d + static_cast<ptrdiff_t>(x) * dst_bpp, dst_bpp, b, g, r);
      }
    }
  }
  for (int y = 2; y < height - 2; ++y) {
    const int rp = row_phase ^ (y & 1);
    const Rows rows = rows_of(y);
    uint8_t* d = dst_row(y);
    for (int x = 2 + blocks * 16; x <= last; ++x) {
      const int cp = column_phase ^ (x & 1);
      TailPixel(rows, x, cp == 0, cp == rp, kr, kb, d + static_cast<ptrdiff_t>(x) * dst_bpp);
    }
  }
  return true;
}

}  // namespace imaging

QELVAN_SSE2_END
