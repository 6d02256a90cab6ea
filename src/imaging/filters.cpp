#include "imaging/filters.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/filters_simd.h"
#include "imaging/pixel_walk.h"
#include "imaging/simd.h"

namespace imaging {
namespace {

struct Call {
  uint8_t* dst;
  const uint8_t* src;
  const Rect* region;
  int32_t dst_x, dst_y;
  int dst_bpp, src_bpp;
  int32_t dst_stride, src_stride;
};

// Bytes per pixel actually stepped: the natural size for monochrome members, the bitmap's for
// colour members.
int StepOf(bool wide, int channels, int given) {
  if (channels == 1) return wide ? 2 : 1;
  return given;
}

// Replaces every channel sample by f(sample); for in-place routines.
template <bool Wide, int Channels, typename F>
void MapSamples(const Call& c, F f) {
  const int dstep = StepOf(Wide, Channels, c.dst_bpp);
  const int sstep = StepOf(Wide, Channels, c.src_bpp);
  ForEachRow(c.dst, c.src, *c.region, c.dst_x, c.dst_y, dstep, sstep, c.dst_stride, c.src_stride,
             [&](uint8_t* d, const uint8_t* s, int32_t w) {
               for (int32_t x = 0; x < w; ++x, d += dstep, s += sstep) {
                 for (int ch = 0; ch < Channels; ++ch) {
                   if (Wide)
                     Store16(d + 2 * ch, f(Load16(s + 2 * ch)));
                   else
                     d[ch] = static_cast<uint8_t>(f(s[ch]));
                 }
               }
             });
}

// Applies a 256-entry table to every channel byte.
template <int Channels>
void MapTable8(const Call& c, const uint8_t* table) {
  const int dstep = StepOf(false, Channels, c.dst_bpp);
  const int sstep = StepOf(false, Channels, c.src_bpp);
  const bool packed = dstep == sstep && dstep == Channels;
  const bool keep_fourth = dstep == sstep && Channels == 3 && dstep == 4;
  const bool avx2 = (packed || keep_fourth) && UseAvx2();
  ForEachRow(c.dst, c.src, *c.region, c.dst_x, c.dst_y, dstep, sstep, c.dst_stride, c.src_stride,
             [&](uint8_t* d, const uint8_t* s, int32_t w) {
               const int32_t n = w * dstep;
               int32_t i = avx2 ? MapTableBytesAvx2(d, s, n, table, keep_fourth) : 0;
               if (packed) {
#if UINTPTR_MAX > 0xFFFFFFFFu
                 // Eight samples per step on 64-bit machines: one load, eight lookups, one store.
                 for (; i + 8 <= n; i += 8) {
                   uint64_t v;
                   std::memcpy(&v, s + i, 8);
                   const uint64_t o =
                       uint64_t{table[v & 0xFF]} | uint64_t{table[(v >> 8) & 0xFF]} << 8 |
                       uint64_t{table[(v >> 16) & 0xFF]} << 16 |
                       uint64_t{table[(v >> 24) & 0xFF]} << 24 |
                       uint64_t{table[(v >> 32) & 0xFF]} << 32 |
                       uint64_t{table[(v >> 40) & 0xFF]} << 40 |
                       uint64_t{table[(v >> 48) & 0xFF]} << 48 | uint64_t{table[v >> 56]} << 56;
                   std::memcpy(d + i, &o, 8);
                 }
#endif
                 for (; i < n; ++i) d[i] = table[s[i]];
                 return;
               }
               // Whole pixels from here; i is a multiple of the pixel size.
               for (int32_t x = i / dstep; x < w; ++x)
                 for (int ch = 0; ch < Channels; ++ch)
                   d[x * dstep + ch] = table[s[x * sstep + ch]];
             });
}

Call MakeCall(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x, int32_t dst_y,
              uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride, int32_t src_stride) {
  return {dst, src, region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride, src_stride};
}

bool Usable(uint8_t* dst, const uint8_t* src, const Rect* region) {
  return dst && src && region && WidthOf(*region) > 0 && HeightOf(*region) > 0;
}

// ---- brightness ----

template <bool Wide, int Channels>
int Brightness(const Call& c, void** param) {
  const FilterRecord* rec = RecordOf<FilterRecord>(param);
  if (!rec) return 1;
  const float f = BrightnessFactor(rec->value);
  const int32_t top = Wide ? (1 << ClampBits(rec->bits)) - 1 : 255;
  if (!Wide && UseSse2()) {
    auto path = UseAvx2() ? BrightnessBytesAvx2 : BrightnessBytesSse2;
    if (path(c.dst, c.src, *c.region, c.dst_x, c.dst_y, StepOf(false, Channels, c.dst_bpp),
             StepOf(false, Channels, c.src_bpp), Channels, c.dst_stride, c.src_stride, f))
      return 1;
  }
  if (Wide && UseAvx2() &&
      BrightnessWordsAvx2(c.dst, c.src, *c.region, c.dst_x, c.dst_y,
                          StepOf(true, Channels, c.dst_bpp), StepOf(true, Channels, c.src_bpp),
                          Channels, c.dst_stride, c.src_stride, f, top))
    return 1;
  const float ftop = static_cast<float>(top);
  MapSamples<Wide, Channels>(c, [&](int32_t s) {
    const float v = static_cast<float>(s) * f;
    if (v >= ftop) return top;
    if (!(v > 0.0f)) return 0;
    return static_cast<int32_t>(v);
  });
  return 1;
}

// ---- contrast ----

// Fills entries 0..m-1 for a contrast of q on an m-entry range. q is 64-bit so that any 32-bit
// setting, scaled to 16 bits, gives the table its formula says, without overflow.
template <typename T>
void ContrastTable(int64_t q, int32_t m, T* table) {
  if (q > m / 2 - 1) {
    for (int32_t i = 0; i < m; ++i) table[i] = 0;
    return;
  }
  const double slope = static_cast<double>(m) / static_cast<double>(m - 2 * q);
  for (int32_t i = 0; i < m; ++i) {
    if (i < q) {
      table[i] = 0;
    } else if (i > m - 1 - q) {
      table[i] = static_cast<T>(m - 1);
    } else {
      const double v = slope * static_cast<double>(i - q);
      table[i] = static_cast<T>(static_cast<int32_t>(v));
    }
  }
}

// Samples below n through the table, samples of n or more to over.
template <int Channels>
void MapTable16(const Call& c, const uint16_t* table, int32_t n, uint16_t over) {
  const int dstep = StepOf(true, Channels, c.dst_bpp);
  const int sstep = StepOf(true, Channels, c.src_bpp);
  if (dstep == sstep && dstep == 2 * Channels) {
    // Packed samples: one run of words per row.
    ForEachRow(c.dst, c.src, *c.region, c.dst_x, c.dst_y, dstep, sstep, c.dst_stride,
               c.src_stride, [&](uint8_t* d, const uint8_t* s, int32_t w) {
                 const int32_t words = w * Channels;
                 for (int32_t i = 0; i < words; ++i) {
                   const int32_t v = Load16(s + 2 * i);
                   Store16(d + 2 * i, v < n ? table[v] : over);
                 }
               });
    return;
  }
  MapSamples<true, Channels>(c, [&](int32_t s) { return s < n ? table[s] : over; });
}

template <int Channels>
int Contrast8(const Call& c, void** param) {
  const FilterRecord* rec = RecordOf<FilterRecord>(param);
  if (!rec) return 1;
  uint8_t table[256];
  ContrastTable<uint8_t>(rec->value, 256, table);
  MapTable8<Channels>(c, table);
  return 1;
}

// Table storage for 2^b entries: on the stack for up to 12 bits.
struct Table16 {
  uint16_t small[4096];
  std::vector<uint16_t> big;
  uint16_t* get(int32_t n) {
    if (n <= 4096) return small;
    big.resize(static_cast<size_t>(n));
    return big.data();
  }
};

template <int Channels>
int Contrast16(const Call& c, void** param) {
  const FilterRecord* rec = RecordOf<FilterRecord>(param);
  if (!rec) return 1;
  const int b = ClampBits(rec->bits);
  const int32_t n = 1 << b;
  const int64_t q = static_cast<int64_t>(rec->value) * (int64_t{1} << (b - 8));
  Table16 storage;
  uint16_t* table = storage.get(n);
  ContrastTable<uint16_t>(q, n, table);
  MapTable16<Channels>(c, table, n, static_cast<uint16_t>(n - 1));
  return 1;
}

// ---- gamma ----

double GammaExponent(int32_t g) {
  double e = g > 100 ? (g - 100) / 10.0 + 1.0 : g / 100.0;
  return e;
}

// trunc(pow(base, e) * scale), kept inside 0..limit should the exponent be out of range.
int32_t GammaEntry(double base, double e, double scale, int32_t limit) {
  double v = std::pow(base, e);
  v = v * scale;
  double r = v;
  if (!(r >= 0.0)) return 0;
  if (r >= limit) return limit;
  return static_cast<int32_t>(r);
}

template <int Channels>
int Gamma8(const Call& c, void** param, bool clamp_exponent) {
  const FilterRecord* rec = RecordOf<FilterRecord>(param);
  if (!rec) return 1;
  double e = GammaExponent(rec->value);
  if (clamp_exponent) e = e < 0.001 ? 0.001 : (e > 99.999 ? 99.999 : e);
  uint8_t table[256];
  for (int i = 0; i < 256; ++i)
    table[i] = static_cast<uint8_t>(GammaEntry(i / 255.0, e, 255.0, 255));
  MapTable8<Channels>(c, table);
  return 1;
}

template <int Channels>
int Gamma16(const Call& c, void** param) {
  const FilterRecord* rec = RecordOf<FilterRecord>(param);
  if (!rec) return 1;
  const double e = GammaExponent(rec->value);
  const int32_t n = 1 << ClampBits(rec->bits);
  Table16 storage;
  uint16_t* table = storage.get(n);
  for (int32_t i = 0; i < n; ++i)
    table[i] = static_cast<uint16_t>(GammaEntry(static_cast<double>(i) / n, e, n - 1.0, n - 1));
  // Samples outside the table read its top entry.
  MapTable16<Channels>(c, table, n, table[n - 1]);
  return 1;
}

// ---- sharpening ----

// Whether the destination rows share memory with the source rows of the region.
bool Overlaps(const Call& c, int dstep, int sstep) {
  const Rect& r = *c.region;
  const int32_t w = WidthOf(r), h = HeightOf(r);
  const uint8_t* d0 = DstRow(c.dst, c.dst_stride, c.dst_y, c.dst_x, dstep, 0);
  const uint8_t* d1 = DstRow(c.dst, c.dst_stride, c.dst_y, c.dst_x, dstep, h - 1);
  const uint8_t* s0 = SrcRow(c.src, c.src_stride, r, sstep, r.top);
  const uint8_t* s1 = SrcRow(c.src, c.src_stride, r, sstep, r.bottom - 1);
  const uintptr_t dlo = reinterpret_cast<uintptr_t>(d0 < d1 ? d0 : d1);
  const uintptr_t dhi = reinterpret_cast<uintptr_t>(d0 < d1 ? d1 : d0) +
                        static_cast<uintptr_t>(w) * static_cast<uintptr_t>(dstep);
  const uintptr_t slo = reinterpret_cast<uintptr_t>(s0 < s1 ? s0 : s1);
  const uintptr_t shi = reinterpret_cast<uintptr_t>(s0 < s1 ? s1 : s0) +
                        static_cast<uintptr_t>(w) * static_cast<uintptr_t>(sstep);
  return dlo < shi && slo < dhi;
}

template <bool Wide, int Channels>
int Sharpen(const Call& c, void** param) {
  const FilterRecord* rec = RecordOf<FilterRecord>(param);
  if (!rec) return 1;
  const Rect& r = *c.region;
  const int32_t w = WidthOf(r);
  const int32_t h = HeightOf(r);
  if (w < 5 || h < 5) return 1;
  const int32_t k = rec->value;
  const int32_t top = Wide ? (1 << ClampBits(rec->bits)) - 1 : 255;
  const int dstep = StepOf(Wide, Channels, c.dst_bpp);
  const int sstep = StepOf(Wide, Channels, c.src_bpp);
  if (Overlaps(c, dstep, sstep)) {
    // Written rows would be read again as neighbours: sharpen from a copy of the source rows.
    const int32_t pitch = w * sstep;
    std::vector<uint8_t> copy(static_cast<size_t>(pitch) * static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y)
      std::memcpy(copy.data() + static_cast<size_t>(y) * pitch,
                  SrcRow(c.src, c.src_stride, r, sstep, r.top + y), static_cast<size_t>(pitch));
    const Rect whole{0, 0, w, h};
    Call from_copy = c;
    from_copy.src = copy.data();
    from_copy.region = &whole;
    from_copy.src_stride = pitch;
    return Sharpen<Wide, Channels>(from_copy, param);
  }
  if (Wide && UseSse2()) {
    auto ten_bit = UseAvx2() ? SharpenTenBitAvx2 : SharpenTenBitSse2;
    if (ten_bit(c.dst, c.src, r, c.dst_x, c.dst_y, dstep, sstep, Channels, c.dst_stride,
                c.src_stride, k, top))
      return 1;
  }
  if (Wide && UseAvx2() &&
      SharpenWordsAvx2(c.dst, c.src, r, c.dst_x, c.dst_y, dstep, sstep, Channels, c.dst_stride,
                       c.src_stride, k, top))
    return 1;
  if (!Wide && UseSse2()) {
    if (UseAvx2() && SharpenBytesAvx2(c.dst, c.src, r, c.dst_x, c.dst_y, dstep, sstep, Channels,
                                      c.dst_stride, c.src_stride, k))
      return 1;
    if (SharpenBytesSse2(c.dst, c.src, r, c.dst_x, c.dst_y, dstep, sstep, Channels, c.dst_stride,
                         c.src_stride, k))
      return 1;
  }
  const ptrdiff_t ss = c.src_stride;
  for (int32_t y = 2; y < h - 2; ++y) {
    uint8_t* d = DstRow(c.dst, c.dst_stride, c.dst_y, c.dst_x, dstep, y);
    const uint8_t* s = SrcRow(c.src, c.src_stride, r, sstep, r.top + y);
    for (int ch = 0; ch < Channels; ++ch) {
      const int off = Wide ? 2 * ch : ch;
      auto sample = [&](const uint8_t* p) -> int32_t { return Wide ? Load16(p + off) : p[off]; };
      // Sum of the four rows y-2..y+1 in one column.
      auto column = [&](int32_t x) {
        const uint8_t* p = s + static_cast<ptrdiff_t>(x) * sstep;
        return sample(p - 2 * ss) + sample(p - ss) + sample(p) + sample(p + ss);
      };
      // The 4 x 4 window slides one column at a time: columns x-2..x+1.
      int32_t cols[4] = {column(0), column(1), column(2), column(3)};
      int32_t sum = cols[0] + cols[1] + cols[2] + cols[3];
      for (int32_t x = 2; x < w - 2; ++x) {
        const int32_t blur = sum >> 4;
        const int32_t v = sample(s + static_cast<ptrdiff_t>(x) * sstep);
        const int32_t out = Clamp(v + (k * (v - blur)) / 10, 0, top);
        uint8_t* q = d + static_cast<ptrdiff_t>(x) * dstep + off;
        if (Wide)
          Store16(q, out);
        else
          *q = static_cast<uint8_t>(out);
        if (x + 2 < w) {
          const int32_t next = column(x + 2);
          sum += next - cols[(x - 2) & 3];
          cols[(x - 2) & 3] = next;
        }
      }
    }
  }
  return 1;
}

}  // namespace

float BrightnessFactor(int32_t value) {
  double f;
  if (value < 0)
    f = 1.0 - std::llabs(static_cast<long long>(value)) * (1.0 / 255);
  else if (value > 0)
    f = 1.0 + value * (10.0 / 255);
  else
    f = 1.0;
  return static_cast<float>(f);
}

#define QELVAN_CALL \
  MakeCall(dst, src, region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride, src_stride)
#define QELVAN_GUARD \
  (void)extra2;      \
  if (!Usable(dst, src, region)) return 1

QELVAN_ROW_ROUTINE(BrightnessMono8) {
  QELVAN_GUARD;
  return Brightness<false, 1>(QELVAN_CALL, param);
}
QELVAN_ROW_ROUTINE(BrightnessMono16) {
  QELVAN_GUARD;
  return Brightness<true, 1>(QELVAN_CALL, param);
}
QELVAN_ROW_ROUTINE(BrightnessColor8) {
  QELVAN_GUARD;
  return Brightness<false, 3>(QELVAN_CALL, param);
}
QELVAN_ROW_ROUTINE(BrightnessColor16) {
  QELVAN_GUARD;
  return Brightness<true, 3>(QELVAN_CALL, param);
}

QELVAN_ROW_ROUTINE(ContrastMono8) {
  QELVAN_GUARD;
  return Contrast8<1>(QELVAN_CALL, param);
}
QELVAN_ROW_ROUTINE(ContrastMono16) {
  QELVAN_GUARD;
  return Contrast16<1>(QELVAN_CALL, param);
}
QELVAN_ROW_ROUTINE(ContrastColor8) {
  QELVAN_GUARD;
  return Contrast8<3>(QELVAN_CALL, param);
}
QELVAN_ROW_ROUTINE(ContrastColor16) {
  QELVAN_GUARD;
  return Contrast16<3>(QELVAN_CALL, param);
}

QELVAN_ROW_ROUTINE(GammaMono8) {
  QELVAN_GUARD;
  return Gamma8<1>(QELVAN_CALL, param, false);
}
QELVAN_ROW_ROUTINE(GammaMono16) {
  QELVAN_GUARD;
  return Gamma16<1>(QELVAN_CALL, param);
}
QELVAN_ROW_ROUTINE(GammaColor8) {
  QELVAN_GUARD;
  return Gamma8<3>(QELVAN_CALL, param, true);
}
QELVAN_ROW_ROUTINE(GammaColor16) {
  QELVAN_GUARD;
  return Gamma16<3>(QELVAN_CALL, param);
}

QELVAN_ROW_ROUTINE(SharpenMono8) {
  QELVAN_GUARD;
  return Sharpen<false, 1>(QELVAN_CALL, param);
}
QELVAN_ROW_ROUTINE(SharpenMono16) {
  QELVAN_GUARD;
  return Sharpen<true, 1>(QELVAN_CALL, param);
}
QELVAN_ROW_ROUTINE(SharpenColor8) {
  QELVAN_GUARD;
  return Sharpen<false, 3>(QELVAN_CALL, param);
}
QELVAN_ROW_ROUTINE(SharpenColor16) {
  QELVAN_GUARD;
  return Sharpen<true, 3>(QELVAN_CALL, param);
}

}  // namespace imaging
