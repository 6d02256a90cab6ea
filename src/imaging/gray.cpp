#include "imaging/gray.h"

#include "imaging/pixel_walk.h"

namespace imaging {
namespace {

enum Cell { kG1, kR, kB, kG2 };

inline Cell CellOf(int row_phase, int column_phase) {
  static constexpr Cell cells[2][2] = {{kG1, kR}, {kB, kG2}};
  return cells[row_phase][column_phase];
}

template <bool Wide>
int CellGain(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x, int32_t dst_y,
             int32_t dst_stride, int32_t src_stride, void** param) {
  const GrayRecord* rec = RecordOf<GrayRecord>(param);
  if (!rec || !dst || !src || !region) return 1;
  const int32_t top = Wide ? MaxSampleOf(rec->bits) : 255;
  int32_t gain[4], offset[4];
  gain[kG1] = rec->gain_g1, gain[kR] = rec->gain_r, gain[kB] = rec->gain_b,
  gain[kG2] = rec->gain_g2;
  offset[kG1] = rec->offset_g1, offset[kR] = rec->offset_r, offset[kB] = rec->offset_b,
  offset[kG2] = rec->offset_g2;
  const int rp0 = RowPhaseOf(rec->bayer_mode);
  const int cp0 = ColumnPhaseOf(rec->bayer_mode);
  const int size = Wide ? 2 : 1;
  int32_t y = 0;
  ForEachRow(dst, src, *region, dst_x, dst_y, size, size, dst_stride, src_stride,
             [&](uint8_t* d, const uint8_t* s, int32_t w) {
               const int rp = rp0 ^ (y++ & 1);
               for (int32_t x = 0; x < w; ++x) {
                 const Cell c = CellOf(rp, cp0 ^ (x & 1));
                 const int32_t v = Wide ? Load16(s + 2 * x) : s[x];
                 int64_t out = offset[c] + static_cast<int64_t>(gain[c]) * v / 128;
                 out = out < 0 ? 0 : (out > top ? top : out);
                 if (Wide)
                   Store16(d + 2 * x, static_cast<int32_t>(out));
                 else
                   d[x] = static_cast<uint8_t>(out);
               }
             });
  return 1;
}

}  // namespace

int32_t MaxSampleOf(int32_t bits) {
  switch (bits) {
    case 8:
      return 255;
    case 10:
      return 1023;
    case 12:
      return 4095;
    case 14:
      return 16383;
    default:
      return 65535;
  }
}

QELVAN_ROW_ROUTINE(CellGain8) {
  (void)dst_bpp, (void)src_bpp, (void)extra2;
  return CellGain<false>(dst, src, region, dst_x, dst_y, dst_stride, src_stride, param);
}

QELVAN_ROW_ROUTINE(CellGain16) {
  (void)dst_bpp, (void)src_bpp, (void)extra2;
  return CellGain<true>(dst, src, region, dst_x, dst_y, dst_stride, src_stride, param);
}

QELVAN_ROW_ROUTINE(MeasureGrayBalance) {
  (void)dst, (void)dst_x, (void)dst_y, (void)dst_bpp, (void)dst_stride, (void)extra2;
  GrayRecord* rec = RecordOf<GrayRecord>(param);
  if (!rec || !src || !region) return 1;
  // The bitmap decides how wide a sample is; a record that disagrees would read the wrong
  // samples, or past the end of the buffer, so it is refused and the gains stay.
  const bool wide = rec->bits != 8;
  if (src_bpp != (wide ? 2 : 1)) return 0;
  const int32_t top = wide ? MaxSampleOf(rec->bits) : 255;
  const int size = src_bpp;
  uint64_t sum[4] = {0, 0, 0, 0};
  uint64_t count[4] = {0, 0, 0, 0};
  const int rp0 = RowPhaseOf(rec->bayer_mode);
  const int cp0 = ColumnPhaseOf(rec->bayer_mode);
  for (int32_t y = 0; y < HeightOf(*region); ++y) {
    const uint8_t* s = SrcRow(src, src_stride, *region, size, region->top + y);
    const int rp = rp0 ^ (y & 1);
    for (int32_t x = 0; x < WidthOf(*region); ++x) {
      const int32_t v = wide ? Load16(s + 2 * x) : s[x];
      if (v == 0 || v == top) continue;
      const Cell c = CellOf(rp, cp0 ^ (x & 1));
      sum[c] += static_cast<uint64_t>(v);
      ++count[c];
    }
  }
  for (uint64_t n : count)
    if (n == 0) return 1;
  double mean[4];
  double brightest = 0.0;
  for (int c = 0; c < 4; ++c) {
    double m = static_cast<double>(sum[c]) / static_cast<double>(count[c]);
    mean[c] = m;
    if (m > brightest) brightest = m;
  }
  auto gain = [&](Cell c) {
    double g = brightest / mean[c];
    g = g * 128;
    return static_cast<int32_t>(g);
  };
  rec->gain_g1 = gain(kG1);
  rec->gain_r = gain(kR);
  rec->gain_b = gain(kB);
  rec->gain_g2 = gain(kG2);
  return 1;
}

QELVAN_ROW_ROUTINE(ColorToGray) {
  (void)dst_bpp, (void)param, (void)extra2;
  if (!dst || !src || !region) return 1;
  ForEachRow(dst, src, *region, dst_x, dst_y, 1, src_bpp, dst_stride, src_stride,
             [&](uint8_t* d, const uint8_t* s, int32_t w) {
               for (int32_t x = 0; x < w; ++x, s += src_bpp)
                 d[x] = static_cast<uint8_t>((59 * s[1] + 30 * s[2] + 11 * s[0]) / 100);
             });
  return 1;
}

}  // namespace imaging
