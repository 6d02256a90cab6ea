// Hue and saturation on a 1530-step colour circle, with process-wide tables shared by every
// camera instance.
#include <cstdint>
#include <mutex>

#include "imaging/filters.h"
#include "imaging/hue_simd.h"
#include "imaging/hue_tables.h"
#include "imaging/pixel_walk.h"
#include "imaging/simd.h"

namespace imaging {
namespace {

struct FixedTables {
  uint32_t gray[256];  // level replicated into 0xRRGGBB
  int32_t recip[256];  // 0xFF0000 / i
  int32_t lim[511];    // j below 256, else 511 - j
  FixedTables() {
    for (int i = 0; i < 256; ++i) gray[i] = static_cast<uint32_t>(i) * 0x010101u;
    recip[0] = 0;
    for (int i = 1; i < 256; ++i) recip[i] = 0xFF0000 / i;
    for (int j = 0; j < 511; ++j) lim[j] = j < 256 ? j : 511 - j;
  }
};

const FixedTables& Fixed() {
  static const FixedTables tables;  // built once, thread-safe
  return tables;
}

// The saturation table is rebuilt only when the saturation changes. Conversions of several
// camera instances may run at once, so the rebuild and the copy out are done under a lock.
struct SatCache {
  std::mutex lock;
  bool valid = false;
  int32_t saturation = 0;
  int32_t table[256];
};

SatCache& Shared() {
  static SatCache cache;
  return cache;
}

constexpr uint32_t kMask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
constexpr int32_t kUnit[6] = {-1, 0x100, -0x10000, 1, -0x100, 0x10000};

struct HueContext {
  const FixedTables* fixed;
  const int32_t* sat;
  int32_t shift;  // A
};

inline void ShiftPixel(const HueContext& h, int32_t b, int32_t g, int32_t r, int32_t* ob,
                       int32_t* og, int32_t* orr) {
  const FixedTables& t = *h.fixed;
  int32_t mx = r > g ? r : g;
  mx = mx > b ? mx : b;
  int32_t mn = r < g ? r : g;
  mn = mn < b ? mn : b;
  const int32_t j = mx + mn;
  const int32_t d = mx - mn;
  const int32_t lim = t.lim[j];
  const int32_t sat = h.sat[d];
  const int32_t c = lim < sat ? lim : sat;
  uint32_t p = t.gray[(j - c) >> 1];
  if (d != 0) {
    int32_t s0, n;
    if (r >= g && r >= b) {
      s0 = 1, n = g - b;
    } else if (g >= b) {
      s0 = 3, n = b - r;
    } else {
      s0 = 5, n = r - g;
    }
    if (n < 0) s0 -= 1, n += d;
    int32_t pos = ((n * t.recip[d] + 0x8000) >> 16) + h.shift % 255;
    int32_t index = s0 + h.shift / 255 + (pos > 254 ? 1 : 0);
    if (pos >= 255) pos -= 255;
    const int32_t level = ((j + c) >> 1) - ((j - c) >> 1);
    index %= 6;
    p += (t.gray[level] & kMask[index]) +
         static_cast<uint32_t>(((pos * level + 128) >> 8) * kUnit[index]);
  }
  *orr = static_cast<int32_t>((p >> 16) & 0xFF);
  *og = static_cast<int32_t>((p >> 8) & 0xFF);
  *ob = static_cast<int32_t>(p & 0xFF);
}

// One row of 8-bit pixels: the SIMD paths for as much as they take, then pixel by pixel.
void ShiftRow8(const HueContext& h, int32_t saturation, bool simd, uint8_t* d, const uint8_t* s,
               int32_t w, int dst_bpp, int src_bpp) {
  int32_t x = 0;
  if (simd && dst_bpp == src_bpp) {
    if (UseAvx2()) {
      x = HueSaturationRowAvx2(d, s, w, dst_bpp, h.shift, saturation);
      d += static_cast<ptrdiff_t>(x) * dst_bpp;
      s += static_cast<ptrdiff_t>(x) * src_bpp;
    }
    const int32_t more = HueSaturationRowSse2(d, s, w - x, dst_bpp, h.shift, saturation);
    x += more;
    d += static_cast<ptrdiff_t>(more) * dst_bpp;
    s += static_cast<ptrdiff_t>(more) * src_bpp;
  }
  for (; x < w; ++x, d += dst_bpp, s += src_bpp) {
    int32_t b, g, r;
    ShiftPixel(h, s[0], s[1], s[2], &b, &g, &r);
    d[0] = static_cast<uint8_t>(b);
    d[1] = static_cast<uint8_t>(g);
    d[2] = static_cast<uint8_t>(r);
  }
}

template <bool Wide>
int HueSaturation(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                  int32_t dst_y, int dst_bpp, int src_bpp, int32_t dst_stride, int32_t src_stride,
                  void** param) {
  const HueRecord* rec = RecordOf<HueRecord>(param);
  if (!rec || !dst || !src || !region) return 1;
  int32_t sat[256];
  CopySaturationTable(rec->saturation, sat);
  const HueContext h{&Fixed(), sat, HueShift(rec->hue)};
  const bool simd = UseSse2();
  if (!Wide) {
    ForEachRow(dst, src, *region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride, src_stride,
               [&](uint8_t* d, const uint8_t* s, int32_t w) {
                 ShiftRow8(h, rec->saturation, simd, d, s, w, dst_bpp, src_bpp);
               });
    return 1;
  }
  // Wide samples go through the 8-bit algorithm: shifted down to 8 bits (samples above the bit
  // depth count as full scale), shifted, and shifted back up, the low bits lost. The 8-bit
  // values are staged in a small buffer so that the same paths serve both depths.
  const int down = ClampBits(rec->bits) - 8;
  constexpr int32_t kChunk = 256;
  uint8_t staged[kChunk * 4];
  // Packed 48 or 64 bpp pixels on both sides: whole runs of words move at once, staged as 3- or
  // 4-byte pixels (the fourth word is never written back).
  const bool runs = simd && dst_bpp == src_bpp && (dst_bpp == 6 || dst_bpp == 8);
  if (runs) {
    const int words = dst_bpp / 2;
    ForEachRow(dst, src, *region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride, src_stride,
               [&](uint8_t* d, const uint8_t* s, int32_t w) {
                 for (int32_t x0 = 0; x0 < w; x0 += kChunk) {
                   const int32_t n = w - x0 < kChunk ? w - x0 : kChunk;
                   const int32_t count = n * words;
                   const uint8_t* from = s + static_cast<ptrdiff_t>(x0) * src_bpp;
                   uint8_t* to = d + static_cast<ptrdiff_t>(x0) * dst_bpp;
                   for (int32_t i = NarrowWordsSse2(staged, from, count, down); i < count; ++i) {
                     const int32_t v = Load16(from + 2 * i) >> down;
                     staged[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
                   }
                   ShiftRow8(h, rec->saturation, simd, staged, staged, n, words, words);
                   for (int32_t i = WidenBytesSse2(to, staged, count, down, words == 4); i < count;
                        ++i)
                     if (words == 3 || (i & 3) != 3) Store16(to + 2 * i, staged[i] << down);
                 }
               });
    return 1;
  }
  ForEachRow(dst, src, *region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride, src_stride,
             [&](uint8_t* d, const uint8_t* s, int32_t w) {
               for (int32_t x0 = 0; x0 < w; x0 += kChunk) {
                 const int32_t n = w - x0 < kChunk ? w - x0 : kChunk;
                 for (int32_t i = 0; i < n; ++i)
                   for (int c = 0; c < 3; ++c) {
                     const int32_t v =
                         Load16(s + static_cast<ptrdiff_t>(x0 + i) * src_bpp + 2 * c) >> down;
                     staged[3 * i + c] = static_cast<uint8_t>(v > 255 ? 255 : v);
                   }
                 ShiftRow8(h, rec->saturation, simd, staged, staged, n, 3, 3);
                 for (int32_t i = 0; i < n; ++i)
                   for (int c = 0; c < 3; ++c)
                     Store16(d + static_cast<ptrdiff_t>(x0 + i) * dst_bpp + 2 * c,
                             staged[3 * i + c] << down);
               }
             });
  return 1;
}

}  // namespace

void BuildSaturationTable(int32_t saturation, int32_t* table) {
  const int64_t s = (static_cast<int64_t>(saturation) + 256) * 256;
  for (int i = 0; i < 256; ++i) {
    int64_t v = (i * s + 0x8000) >> 16;
    // Keeps the new chroma inside 0..510 for saturations outside the accepted range.
    table[i] = static_cast<int32_t>(v < 0 ? 0 : (v > 510 ? 510 : v));
  }
}

void CopySaturationTable(int32_t saturation, int32_t* out) {
  SatCache& cache = Shared();
  std::lock_guard<std::mutex> guard(cache.lock);
  if (!cache.valid || cache.saturation != saturation) {
    BuildSaturationTable(saturation, cache.table);
    cache.saturation = saturation;
    cache.valid = true;
  }
  for (int i = 0; i < 256; ++i) out[i] = cache.table[i];
}

int32_t HueShift(int32_t hue) {
  const int64_t h16 = (static_cast<int64_t>(hue) * 65536 / 360) & 0xFFFF;
  const int32_t l = static_cast<int32_t>((h16 * 6) >> 8);
  int32_t r = l % 512;
  if (r >= 256) r -= 512;
  const int32_t k = ((l + 256) >> 9) % 3;
  int32_t a = r + 510 * k;
  if (a < 0) a += 1530;
  if (a > 1529) a -= 1530;
  return a;
}

QELVAN_ROW_ROUTINE(HueSaturation8) {
  (void)extra2;
  return HueSaturation<false>(dst, src, region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride,
                              src_stride, param);
}

QELVAN_ROW_ROUTINE(HueSaturation16) {
  (void)extra2;
  return HueSaturation<true>(dst, src, region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride,
                             src_stride, param);
}

}  // namespace imaging
