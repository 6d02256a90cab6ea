#include "imaging/demosaic.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "imaging/demosaic_simd.h"
#include "imaging/pixel_walk.h"
#include "imaging/simd.h"

namespace imaging {
namespace {

struct Offset {
  int dx;
  int dy;
};

// Neighbours of an output pixel by its own (row phase, column phase): the two green samples of
// its quad, then P, X, Y, D for red and for blue.
struct PhaseTaps {
  Offset green[2];
  Offset red[4];
  Offset blue[4];
};

constexpr PhaseTaps kTaps[4] = {
    // (0, 0)
    {{{-1, -1}, {0, 0}},
     {{0, -1}, {-2, -1}, {0, 1}, {-2, 1}},
     {{-1, 0}, {1, 0}, {-1, -2}, {1, -2}}},
    // (0, 1)
    {{{-1, 0}, {0, -1}},
     {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}},
     {{0, 0}, {-2, 0}, {0, -2}, {-2, -2}}},
    // (1, 0)
    {{{-1, 0}, {0, -1}},
     {{0, 0}, {-2, 0}, {0, -2}, {-2, -2}},
     {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}}},
    // (1, 1)
    {{{-1, -1}, {0, 0}},
     {{-1, 0}, {1, 0}, {-1, -2}, {1, -2}},
     {{0, -1}, {-2, -1}, {0, 1}, {-2, 1}}},
};

template <typename T>
struct Depth;
template <>
struct Depth<uint8_t> {
  static constexpr int32_t kMax = 255;
  static constexpr int32_t kLimit = 0x80000;
};
template <>
struct Depth<uint16_t> {
  static constexpr int32_t kMax = 1023;
  static constexpr int32_t kLimit = 0x200000;
};

template <typename T>
inline int32_t Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

template <typename T>
inline void Store(uint8_t* p, int32_t v) {
  T t = static_cast<T>(v);
  std::memcpy(p, &t, sizeof(T));
}

template <typename T>
inline int32_t Weigh(int32_t sum, int32_t k) {
  int32_t product = sum * k;
  return product >= Depth<T>::kLimit ? Depth<T>::kMax : product >> 11;
}

template <typename T>
inline int32_t Green(int32_t a, int32_t b) {
  int32_t g = (a + b) >> 1;
  return g > Depth<T>::kMax ? Depth<T>::kMax : g;
}

template <typename T>
inline void StorePixel(uint8_t* d, int32_t b, int32_t g, int32_t r) {
  Store<T>(d, b);
  Store<T>(d + sizeof(T), g);
  Store<T>(d + 2 * sizeof(T), r);
}

// Byte offsets of the ten taps for one phase, precomputed from the stride.
struct ByteTaps {
  ptrdiff_t g0, g1, rp, rx, ry, rd, bp, bx, by, bd;
};

template <typename T>
ByteTaps ToBytes(const PhaseTaps& t, int32_t stride) {
  auto o = [&](Offset f) {
    return static_cast<ptrdiff_t>(f.dy) * stride +
           static_cast<ptrdiff_t>(f.dx) * static_cast<ptrdiff_t>(sizeof(T));
  };
  return {o(t.green[0]), o(t.green[1]), o(t.red[0]),  o(t.red[1]),  o(t.red[2]),
          o(t.red[3]),   o(t.blue[0]),  o(t.blue[1]), o(t.blue[2]), o(t.blue[3])};
}

template <typename T>
inline void ComputePixel(const uint8_t* s, const ByteTaps& t, int32_t kr, int32_t kb, uint8_t* d) {
  int32_t g = Green<T>(Load<T>(s + t.g0), Load<T>(s + t.g1));
  int32_t sr =
      9 * Load<T>(s + t.rp) + 3 * Load<T>(s + t.rx) + 3 * Load<T>(s + t.ry) + Load<T>(s + t.rd);
  int32_t sb =
      9 * Load<T>(s + t.bp) + 3 * Load<T>(s + t.bx) + 3 * Load<T>(s + t.by) + Load<T>(s + t.bd);
  StorePixel<T>(d, Weigh<T>(sb, kb), g, Weigh<T>(sr, kr));
}

struct Geometry {
  int32_t width;
  int32_t height;
  int row_phase;
  int column_phase;
};

Geometry GeometryOf(const Rect* region, int32_t mode) {
  return {region->right - region->left, region->bottom - region->top, RowPhaseOf(mode),
          ColumnPhaseOf(mode)};
}

// Rows y_begin..y_end-1, columns x_begin..W-3, with unfolded taps (interior rows).
template <typename T>
void InteriorScalar(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                    int32_t dst_y, int dst_bpp, int32_t dst_stride, int32_t src_stride,
                    const Geometry& g, int32_t kr, int32_t kb, int32_t y_begin, int32_t y_end,
                    int32_t x_begin) {
  if (x_begin > g.width - 3) return;
  for (int32_t y = y_begin; y < y_end; ++y) {
    int rp = g.row_phase ^ (y & 1);
    const ByteTaps taps[2] = {ToBytes<T>(kTaps[rp * 2 + 0], src_stride),
                              ToBytes<T>(kTaps[rp * 2 + 1], src_stride)};
    const uint8_t* s = src + static_cast<ptrdiff_t>(region.top + y) * src_stride +
                       static_cast<ptrdiff_t>(region.left) * sizeof(T);
    uint8_t* d = dst + static_cast<ptrdiff_t>(dst_y + y) * dst_stride +
                 static_cast<ptrdiff_t>(dst_x) * dst_bpp;
    for (int32_t x = x_begin; x <= g.width - 3; ++x)
      ComputePixel<T>(s + x * sizeof(T), taps[g.column_phase ^ (x & 1)], kr, kb, d + x * dst_bpp);
  }
}

// Runs the widest SIMD kernel the processor has over rows y_begin..y_end-1 and returns the
// first interior column it left for the scalar code (2 when none ran). The columns short of a
// whole block are done by one more block that ends at the last interior column and overlaps
// the ones before it: it writes the same bytes there, and no column is left to the scalar code.
template <typename T>
int32_t SimdRows(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                 int32_t dst_y, int dst_bpp, int32_t dst_stride, int32_t src_stride,
                 const Geometry& g, int32_t kr, int32_t kb, int32_t y_begin, int32_t y_end) {
  struct Level {
    BayerKernel kernel;
    int32_t block;  // pixels per block
  };
  Level levels[2] = {{nullptr, 0}, {nullptr, 0}};
  if (sizeof(T) == 1) {
    if (UseAvx2()) levels[0] = {DemosaicRows8Avx2, 32};
    if (UseSsse3())
      levels[1] = {DemosaicRows8Ssse3, 16};
    else if (UseSse2())
      levels[1] = {DemosaicRows8Sse2, 16};
  } else {
    if (UseAvx2()) levels[0] = {DemosaicRows16Avx2, 16};
    if (UseSse2()) levels[1] = {DemosaicRows16Sse2, 8};
  }
  const int32_t last = g.width - 3;
  // The columns from skip + 2 on, as a region that starts two columns before them; an odd
  // skip swaps the column phase.
  auto run = [&](BayerKernel kernel, int32_t skip) {
    BayerRows job{dst,        src,        region, dst_x + skip, dst_y, dst_bpp, dst_stride,
                  src_stride, g.row_phase, g.column_phase ^ (skip & 1), kr, kb, y_begin, y_end};
    job.region.left += skip;
    const int32_t reached = kernel(job);
    return reached > 0 ? reached + skip : 0;
  };
  for (const Level& level : levels) {
    if (!level.kernel || last - 1 < level.block) continue;
    const int32_t done = run(level.kernel, 0);
    if (done == 0) continue;  // this kernel cannot take the call; a narrower one may
    if (done > last) return done;
    const int32_t tail = last + 1 - level.block;
    // A kernel that gives up part way may have left anything in the overlapped columns.
    return run(level.kernel, tail - 2) > 0 ? last + 1 : tail;
  }
  return 2;
}

// Moves a neighbour offset that would leave the frame back by four rows or columns.
inline int FoldOffset(int delta, int pos, int size) {
  if (pos == 0) {
    if (delta == -2) return 2;
    if (delta == -1) return 3;
  } else if (pos == 1) {
    if (delta == -2) return 2;
  }
  if (pos == size - 1 && delta == 1) return -3;
  return delta;
}

template <typename T>
void BorderPixel(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x, int32_t dst_y,
                 int dst_bpp, int32_t dst_stride, int32_t src_stride, const Geometry& g, int32_t kr,
                 int32_t kb, int32_t x, int32_t y) {
  int rp = g.row_phase ^ (y & 1);
  int cp = g.column_phase ^ (x & 1);
  PhaseTaps t = kTaps[rp * 2 + cp];
  auto fold = [&](Offset& o) {
    o.dx = FoldOffset(o.dx, x, g.width);
    o.dy = FoldOffset(o.dy, y, g.height);
  };
  for (Offset& o : t.green) fold(o);
  for (Offset& o : t.red) fold(o);
  for (Offset& o : t.blue) fold(o);
  const uint8_t* s = src + static_cast<ptrdiff_t>(region.top + y) * src_stride +
                     static_cast<ptrdiff_t>(region.left + x) * sizeof(T);
  uint8_t* d = dst + static_cast<ptrdiff_t>(dst_y + y) * dst_stride +
               static_cast<ptrdiff_t>(dst_x + x) * dst_bpp;
  ComputePixel<T>(s, ToBytes<T>(t, src_stride), kr, kb, d);
}

// Columns 0 and 1 (side 0) or W-2 and W-1 (side 1) of rows 2..H-3 through the SIMD kernels,
// in chunks of rows; returns the first row left for the scalar code (H-2 when none).
//
// The filter is the same with rows and columns swapped, and its edges fold by four columns as
// by four rows, so a side's four outermost columns, copied as four rows, demosaic into the
// transposed pixels. Transposing swaps the red and blue sites, so the gains swap on the way in
// and the channels on the way out.
template <typename T>
int32_t EdgeColumnsSimd(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                        int32_t dst_y, int dst_bpp, int32_t dst_stride, int32_t src_stride,
                        const Geometry& g, int32_t kr, int32_t kb, int side) {
  constexpr int32_t kChunk = 256;  // rows per chunk
  constexpr int32_t kMinChunk = 32;  // the widest kernel's block
  constexpr int32_t kSpan = kChunk + 4;
  const int32_t first = 2, end = g.height - 2;
  if (end - first < kMinChunk || !UseSse2()) return first;
  const int32_t c0 = side == 0 ? 0 : g.width - 4;  // first of the four columns copied
  alignas(32) T copy[4][kSpan];
  alignas(32) uint8_t out[4][kSpan * 4 * sizeof(T)];
  const int32_t copy_stride = kSpan * sizeof(T), out_stride = kSpan * 4 * sizeof(T);
  const int32_t out_first = side == 0 ? 0 : 2, out_end = out_first + 2;
  for (int32_t y0 = first; y0 < end;) {
    int32_t n = std::min(kChunk, end - y0);
    if (end - y0 - n > 0 && end - y0 - n < kMinChunk) n = end - y0 - kMinChunk;
    // copy[c][j] is the sample at column c0 + c of row y0 - 2 + j.
    for (int32_t j = 0; j < n + 4; ++j) {
      const uint8_t* s = src + static_cast<ptrdiff_t>(region.top + y0 - 2 + j) * src_stride +
                         static_cast<ptrdiff_t>(region.left + c0) * sizeof(T);
      for (int c = 0; c < 4; ++c) std::memcpy(&copy[c][j], s + c * sizeof(T), sizeof(T));
    }
    const Rect copy_region{0, 0, n + 4, 4};
    const Geometry tg{n + 4, 4, g.column_phase ^ (c0 & 1), g.row_phase ^ (y0 & 1)};
    const int32_t done =
        SimdRows<T>(&out[0][0], reinterpret_cast<const uint8_t*>(&copy[0][0]), copy_region, 0, 0,
                    dst_bpp, out_stride, copy_stride, tg, kb, kr, out_first, out_end);
    if (done < n + 2) return y0;  // the kernels could not take it; the scalar code does the rest
    for (int32_t c = out_first; c < out_end; ++c)
      for (int32_t j = 2; j < n + 2; ++j) {
        const uint8_t* p = &out[c][j * dst_bpp];
        uint8_t* d = dst + static_cast<ptrdiff_t>(dst_y + y0 + j - 2) * dst_stride +
                     static_cast<ptrdiff_t>(dst_x + c0 + c) * dst_bpp;
        std::memcpy(d, p + 2 * sizeof(T), sizeof(T));
        std::memcpy(d + sizeof(T), p + sizeof(T), sizeof(T));
        std::memcpy(d + 2 * sizeof(T), p, sizeof(T));
      }
    y0 += n;
  }
  return end;
}

template <typename T>
int Interior(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x, int32_t dst_y,
             uint16_t dst_bpp, int32_t dst_stride, int32_t src_stride, void** param) {
  const BayerRecord* rec = RecordOf<BayerRecord>(param);
  if (!rec || !region || !dst || !src) return 1;
  Geometry g = GeometryOf(region, rec->bayer_mode);
  if (g.width < 5 || g.height < 5) return 1;
  int32_t kr = BayerGainFactor(rec->red_gain);
  int32_t kb = BayerGainFactor(rec->blue_gain);
  const int32_t done = SimdRows<T>(dst, src, *region, dst_x, dst_y, dst_bpp, dst_stride, src_stride,
                                   g, kr, kb, 2, g.height - 2);
  InteriorScalar<T>(dst, src, *region, dst_x, dst_y, dst_bpp, dst_stride, src_stride, g, kr, kb, 2,
                    g.height - 2, done);
  return 1;
}

template <typename T>
int Border(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x, int32_t dst_y,
           uint16_t dst_bpp, int32_t dst_stride, int32_t src_stride, void** param) {
  const BayerRecord* rec = RecordOf<BayerRecord>(param);
  if (!rec || !region || !dst || !src) return 1;
  Geometry g = GeometryOf(region, rec->bayer_mode);
  // The folded offsets need at least four rows and columns.
  if (g.width < 4 || g.height < 4) return 1;
  int32_t kr = BayerGainFactor(rec->red_gain);
  int32_t kb = BayerGainFactor(rec->blue_gain);
  auto pixel = [&](int32_t x, int32_t y) {
    BorderPixel<T>(dst, src, *region, dst_x, dst_y, dst_bpp, dst_stride, src_stride, g, kr, kb, x,
                   y);
  };
  // Taps of one phase with the row offsets and/or the column offsets folded for (x, y).
  auto folded = [&](int rp, int cp, int32_t x, int32_t y, bool fold_rows, bool fold_cols) {
    PhaseTaps t = kTaps[rp * 2 + cp];
    auto fold = [&](Offset& o) {
      if (fold_cols) o.dx = FoldOffset(o.dx, x, g.width);
      if (fold_rows) o.dy = FoldOffset(o.dy, y, g.height);
    };
    for (Offset& o : t.green) fold(o);
    for (Offset& o : t.red) fold(o);
    for (Offset& o : t.blue) fold(o);
    return ToBytes<T>(t, src_stride);
  };
  auto src_at = [&](int32_t x, int32_t y) {
    return src + static_cast<ptrdiff_t>(region->top + y) * src_stride +
           static_cast<ptrdiff_t>(region->left + x) * sizeof(T);
  };
  auto dst_at = [&](int32_t x, int32_t y) {
    return dst + static_cast<ptrdiff_t>(dst_y + y) * dst_stride +
           static_cast<ptrdiff_t>(dst_x + x) * dst_bpp;
  };
  // Rows 0, 1, H-2, H-1: their middle columns through the SIMD kernels with folded rows, as far
  // as those go; only the four edge columns fold their column offsets.
  const int32_t top_done = SimdRows<T>(dst, src, *region, dst_x, dst_y, dst_bpp, dst_stride,
                                       src_stride, g, kr, kb, 0, 2);
  const int32_t bottom_done = SimdRows<T>(dst, src, *region, dst_x, dst_y, dst_bpp, dst_stride,
                                          src_stride, g, kr, kb, g.height - 2, g.height);
  const int32_t rows[4] = {0, 1, g.height - 2, g.height - 1};
  for (int32_t y : rows) {
    const int rp = g.row_phase ^ (y & 1);
    const ByteTaps taps[2] = {folded(rp, 0, 2, y, true, false), folded(rp, 1, 2, y, true, false)};
    const int32_t scalar_from = y < 2 ? top_done : bottom_done;
    for (int32_t x : {0, 1, g.width - 2, g.width - 1}) pixel(x, y);
    for (int32_t x = scalar_from; x < g.width - 2; ++x)
      ComputePixel<T>(src_at(x, y), taps[g.column_phase ^ (x & 1)], kr, kb, dst_at(x, y));
  }
  // Columns 0, 1, W-2, W-1 between rows 2 and H-3 (the corners were done above): through the
  // SIMD kernels on a transposed copy of the four outermost columns of each side, then the
  // scalar code for the rows those leave.
  const int32_t cols[4] = {0, 1, g.width - 2, g.width - 1};
  ByteTaps taps[4][2];
  for (int i = 0; i < 4; ++i) {
    const int cp = g.column_phase ^ (cols[i] & 1);
    for (int rp = 0; rp < 2; ++rp) taps[i][rp] = folded(rp, cp, cols[i], 2, false, true);
  }
  for (int side = 0; side < 2; ++side) {
    const int32_t scalar_from = EdgeColumnsSimd<T>(dst, src, *region, dst_x, dst_y, dst_bpp,
                                                   dst_stride, src_stride, g, kr, kb, side);
    for (int32_t y = scalar_from; y < g.height - 2; ++y) {
      const int rp = g.row_phase ^ (y & 1);
      for (int i = 2 * side; i < 2 * side + 2; ++i)
        ComputePixel<T>(src_at(cols[i], y), taps[i][rp], kr, kb, dst_at(cols[i], y));
    }
  }
  return 1;
}

template <typename T, typename Sum>
int Measure(const uint8_t* src, const Rect* region, int32_t src_stride, void** param) {
  BayerMeasureRecord* rec = RecordOf<BayerMeasureRecord>(param);
  if (!rec || !region || !src) return 0;
  Geometry g = GeometryOf(region, rec->bayer_mode);
  Sum sum[3] = {0, 0, 0};  // green, red, blue
  uint32_t count[3] = {0, 0, 0};
  for (int32_t y = 0; y < g.height; ++y) {
    int rp = g.row_phase ^ (y & 1);
    const uint8_t* s = src + static_cast<ptrdiff_t>(region->top + y) * src_stride +
                       static_cast<ptrdiff_t>(region->left) * sizeof(T);
    for (int32_t x = 0; x < g.width; ++x) {
      int cp = g.column_phase ^ (x & 1);
      int cls = rp == cp ? 0 : (rp == 1 ? 1 : 2);
      sum[cls] += static_cast<Sum>(Load<T>(s + x * sizeof(T)));
      ++count[cls];
    }
  }
  if (count[0] == 0 || count[1] == 0 || count[2] == 0) return 0;
  double gm = static_cast<double>(sum[0]) / count[0];
  double rm = static_cast<double>(sum[1]) / count[1];
  double bm = static_cast<double>(sum[2]) / count[2];
  // A zero mean would divide by zero below; keep the previous gains then.
  if (gm == 0.0 || rm == 0.0 || bm == 0.0) return 0;
  double t = gm + bm;
  t = t + rm;
  double green_term = t / gm;
  green_term = green_term / 3;
  double blue = t / bm;
  blue = blue / 3;
  blue = blue * 100;
  blue = blue / green_term;
  double red = t / rm;
  red = red / 3;
  red = red * 100;
  red = red / green_term;
  auto to_int = [](double v) { return v >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(v); };
  rec->blue_result = to_int(blue);
  rec->green_result = 100;
  rec->red_result = to_int(red);
  return 1;
}

}  // namespace

int32_t BayerGainFactor(int32_t gain) {
  double scaled = gain * 1.28;
  if (scaled <= 0.0) return 0;
  if (scaled >= 2048.0) return 2048;
  return static_cast<int32_t>(scaled);
}

int DemosaicInterior8(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                      int32_t dst_y, uint16_t dst_bpp, uint16_t, int32_t dst_stride,
                      int32_t src_stride, void** param, int32_t) {
  return Interior<uint8_t>(dst, src, region, dst_x, dst_y, dst_bpp, dst_stride, src_stride, param);
}

int DemosaicInterior16(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                       int32_t dst_y, uint16_t dst_bpp, uint16_t, int32_t dst_stride,
                       int32_t src_stride, void** param, int32_t) {
  return Interior<uint16_t>(dst, src, region, dst_x, dst_y, dst_bpp, dst_stride, src_stride, param);
}

int DemosaicBorder8(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                    int32_t dst_y, uint16_t dst_bpp, uint16_t, int32_t dst_stride,
                    int32_t src_stride, void** param, int32_t) {
  return Border<uint8_t>(dst, src, region, dst_x, dst_y, dst_bpp, dst_stride, src_stride, param);
}

int DemosaicBorder16(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                     int32_t dst_y, uint16_t dst_bpp, uint16_t, int32_t dst_stride,
                     int32_t src_stride, void** param, int32_t) {
  return Border<uint16_t>(dst, src, region, dst_x, dst_y, dst_bpp, dst_stride, src_stride, param);
}

int MeasureBayerGains8(uint8_t*, const uint8_t* src, const Rect* region, int32_t, int32_t, uint16_t,
                       uint16_t, int32_t, int32_t src_stride, void** param, int32_t) {
  return Measure<uint8_t, uint32_t>(src, region, src_stride, param);
}

int MeasureBayerGains16(uint8_t*, const uint8_t* src, const Rect* region, int32_t, int32_t,
                        uint16_t, uint16_t, int32_t, int32_t src_stride, void** param, int32_t) {
  return Measure<uint16_t, uint64_t>(src, region, src_stride, param);
}

bool StoreMeasuredGains(int measure_result, const BayerMeasureRecord& measured, int32_t* red_gain,
                        int32_t* green_gain, int32_t* blue_gain) {
  if (measure_result != 1) return false;
  *red_gain = std::min(measured.red_result, 400);
  *green_gain = std::min(measured.green_result, 400);
  *blue_gain = std::min(measured.blue_result, 400);
  return true;
}

}  // namespace imaging
