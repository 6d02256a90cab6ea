#include "imaging/format.h"

#include <cstring>

#include "imaging/pixel_walk.h"

namespace imaging {
namespace {

struct Walk {
  uint8_t* dst;
  const uint8_t* src;
  const Rect* r;
  int32_t dst_x, dst_y;
  int dst_bpp, src_bpp;
  int32_t dst_stride, src_stride;
};

// Calls f(destination pixel, source pixel) for every pixel; rows bottom-up when reversed.
template <typename F>
void EachPixel(const Walk& w, bool reversed, F f) {
  if (!w.dst || !w.src || !w.r) return;
  const int32_t width = WidthOf(*w.r);
  const int32_t height = HeightOf(*w.r);
  for (int32_t i = 0; i < height; ++i) {
    const int32_t row = reversed ? w.r->bottom - 1 - i : w.r->top + i;
    uint8_t* d = DstRow(w.dst, w.dst_stride, w.dst_y, w.dst_x, w.dst_bpp, i);
    const uint8_t* s = SrcRow(w.src, w.src_stride, *w.r, w.src_bpp, row);
    for (int32_t x = 0; x < width; ++x, d += w.dst_bpp, s += w.src_bpp) f(d, s);
  }
}

inline uint8_t Reduce10(int32_t v) { return static_cast<uint8_t>((v >> 2) & 0xFF); }
inline uint8_t Reduce12(int32_t v) { return static_cast<uint8_t>((v >> 4) & 0xFF); }

template <int Shift, bool Swapped, bool Fourth>
void Widen3(const Walk& w) {
  EachPixel(w, false, [](uint8_t* d, const uint8_t* s) {
    const int32_t b = Load16(s), g = Load16(s + 2), r = Load16(s + 4);
    Store16(d, (Swapped ? r : b) << Shift);
    Store16(d + 2, g << Shift);
    Store16(d + 4, (Swapped ? b : r) << Shift);
    if (Fourth) Store16(d + 6, 0xFFFF);
  });
}

template <typename Sample>
int Mean(const Walk& w, Sample sample) {
  if (!w.src || !w.r) return 0;
  const int32_t width = WidthOf(*w.r);
  const int32_t height = HeightOf(*w.r);
  if (width <= 0 || height <= 0) return 0;
  uint32_t sum = 0;
  uint32_t count = 0;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = w.src + static_cast<ptrdiff_t>(w.r->top + y) * w.src_stride;
    for (int32_t x = w.r->left; x < w.r->right; ++x) {
      sum += sample(s, x);
      ++count;
    }
  }
  return static_cast<int>(sum / count);
}

void Spread(const Walk& w, int bpp) {
  if (!w.dst || !w.r) return;
  const int32_t width = WidthOf(*w.r);
  const int32_t height = HeightOf(*w.r);
  if (width <= 0 || height <= 0) return;
  const ptrdiff_t packed = static_cast<ptrdiff_t>(width) * bpp;
  if (packed == w.dst_stride) return;
  // Last row first, so that no row is overwritten before it has moved.
  for (int32_t r = height - 1; r >= 0; --r)
    std::memmove(w.dst + static_cast<ptrdiff_t>(r) * w.dst_stride, w.dst + r * packed,
                 static_cast<size_t>(packed));
}

template <int Bpp>
int Scale(uint8_t* dst, const uint8_t* src, const Rect* dst_rect, const Rect* src_rect,
          int32_t src_width, int32_t src_height, int32_t dst_stride, int32_t src_stride) {
  if (!dst || !src || !dst_rect || !src_rect) return 1;
  const int32_t dh = HeightOf(*dst_rect);
  const int32_t dw = WidthOf(*dst_rect);
  if (dh <= 0 || dw <= 0 || src_width <= 0 || src_height <= 0) return 1;
  const float ry = static_cast<float>(HeightOf(*src_rect)) / static_cast<float>(dh);
  const float rx = static_cast<float>(WidthOf(*src_rect)) / static_cast<float>(dw);
  for (int32_t i = 0; i < dh; ++i) {
    float fu = ry * static_cast<float>(i);
    const int32_t u = Clamp(static_cast<int32_t>(fu), 0, src_height - 1);
    // Rows outside the source are never read.
    const int32_t row = Clamp(src_rect->bottom - 1 - u, 0, src_height - 1);
    const uint8_t* s = src + static_cast<ptrdiff_t>(row) * src_stride;
    uint8_t* d = dst + static_cast<ptrdiff_t>(dst_rect->top + i) * dst_stride +
                 static_cast<ptrdiff_t>(dst_rect->left) * Bpp;
    for (int32_t j = 0; j < dw; ++j) {
      float fv = rx * static_cast<float>(j);
      const int32_t v = Clamp(static_cast<int32_t>(fv), 0, src_width - 1);
      std::memcpy(d + static_cast<ptrdiff_t>(j) * Bpp, s + static_cast<ptrdiff_t>(v) * Bpp, Bpp);
    }
  }
  return 1;
}

}  // namespace

#define QELVAN_WALK \
  Walk { dst, src, region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride, src_stride }
#define QELVAN_UNUSED_EXTRAS (void)param, (void)extra2

QELVAN_ROW_ROUTINE(Mean8) {
  QELVAN_UNUSED_EXTRAS;
  return Mean(QELVAN_WALK, [](const uint8_t* s, int32_t x) { return static_cast<uint32_t>(s[x]); });
}

QELVAN_ROW_ROUTINE(Mean16) {
  QELVAN_UNUSED_EXTRAS;
  return Mean(QELVAN_WALK, [](const uint8_t* s, int32_t x) {
    return static_cast<uint32_t>(Reduce10(Load16(s + 2 * x)));
  });
}

QELVAN_ROW_ROUTINE(SpreadRows8) {
  QELVAN_UNUSED_EXTRAS;
  Spread(QELVAN_WALK, 1);
  return 1;
}

QELVAN_ROW_ROUTINE(SpreadRows16) {
  QELVAN_UNUSED_EXTRAS;
  Spread(QELVAN_WALK, 2);
  return 1;
}

QELVAN_ROW_ROUTINE(Reduce16To8) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, false, [](uint8_t* d, const uint8_t* s) { *d = Reduce10(Load16(s)); });
  return 1;
}

QELVAN_ROW_ROUTINE(Reduce16To8Reversed) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, true, [](uint8_t* d, const uint8_t* s) { *d = Reduce10(Load16(s)); });
  return 1;
}

QELVAN_ROW_ROUTINE(Reduce16To8Bits12Reversed) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, true, [](uint8_t* d, const uint8_t* s) { *d = Reduce12(Load16(s)); });
  return 1;
}

QELVAN_ROW_ROUTINE(Widen16Bits12) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, false, [](uint8_t* d, const uint8_t* s) { Store16(d, Load16(s) << 4); });
  return 1;
}

QELVAN_ROW_ROUTINE(Widen16Bits10) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, false, [](uint8_t* d, const uint8_t* s) { Store16(d, Load16(s) << 6); });
  return 1;
}

static void Reduce3(uint8_t* d, const uint8_t* s) {
  d[0] = Reduce10(Load16(s));
  d[1] = Reduce10(Load16(s + 2));
  d[2] = Reduce10(Load16(s + 4));
}

QELVAN_ROW_ROUTINE(Reduce48To24) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, false, Reduce3);
  return 1;
}

QELVAN_ROW_ROUTINE(Reduce48To24Reversed) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, true, Reduce3);
  return 1;
}

static void Copy3(uint8_t* d, const uint8_t* s) { std::memcpy(d, s, 3); }

QELVAN_ROW_ROUTINE(Copy32To24) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, false, Copy3);
  return 1;
}

QELVAN_ROW_ROUTINE(Copy3ChannelsReversed) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, true, Copy3);
  return 1;
}

QELVAN_ROW_ROUTINE(Widen48Bits12) {
  QELVAN_UNUSED_EXTRAS;
  Widen3<4, false, false>(QELVAN_WALK);
  return 1;
}
QELVAN_ROW_ROUTINE(Widen48Bits12Swapped) {
  QELVAN_UNUSED_EXTRAS;
  Widen3<4, true, false>(QELVAN_WALK);
  return 1;
}
QELVAN_ROW_ROUTINE(Widen48Bits10) {
  QELVAN_UNUSED_EXTRAS;
  Widen3<6, false, false>(QELVAN_WALK);
  return 1;
}
QELVAN_ROW_ROUTINE(Widen48Bits10Swapped) {
  QELVAN_UNUSED_EXTRAS;
  Widen3<6, true, false>(QELVAN_WALK);
  return 1;
}
QELVAN_ROW_ROUTINE(Widen64Bits12) {
  QELVAN_UNUSED_EXTRAS;
  Widen3<4, false, true>(QELVAN_WALK);
  return 1;
}
QELVAN_ROW_ROUTINE(Widen64Bits12Swapped) {
  QELVAN_UNUSED_EXTRAS;
  Widen3<4, true, true>(QELVAN_WALK);
  return 1;
}
QELVAN_ROW_ROUTINE(Widen64Bits10) {
  QELVAN_UNUSED_EXTRAS;
  Widen3<6, false, true>(QELVAN_WALK);
  return 1;
}
QELVAN_ROW_ROUTINE(Widen64Bits10Swapped) {
  QELVAN_UNUSED_EXTRAS;
  Widen3<6, true, true>(QELVAN_WALK);
  return 1;
}

QELVAN_ROW_ROUTINE(Swap24) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, false, [](uint8_t* d, const uint8_t* s) {
    const uint8_t b = s[0], g = s[1], r = s[2];
    d[0] = r, d[1] = g, d[2] = b;
  });
  return 1;
}

QELVAN_ROW_ROUTINE(Alpha32) {
  QELVAN_UNUSED_EXTRAS;
  EachPixel(QELVAN_WALK, false, [](uint8_t* d, const uint8_t* s) {
    const uint8_t b = s[0], g = s[1], r = s[2], a = s[3];
    d[0] = b, d[1] = g, d[2] = r, d[3] = static_cast<uint8_t>(255 - a);
  });
  return 1;
}

QELVAN_ROW_ROUTINE(CopyRowsReversed) {
  QELVAN_UNUSED_EXTRAS, (void)dst_x, (void)dst_bpp, (void)src_bpp;
  if (!dst || !src || !region) return 1;
  const size_t bytes = static_cast<size_t>(dst_stride < src_stride ? dst_stride : src_stride);
  for (int32_t i = 0; i < HeightOf(*region); ++i)
    std::memcpy(dst + static_cast<ptrdiff_t>(dst_y + i) * dst_stride,
                src + static_cast<ptrdiff_t>(region->bottom - 1 - i) * src_stride, bytes);
  return 1;
}

QELVAN_STRETCH_ROUTINE(Scale8) {
  (void)dst_width, (void)dst_height, (void)dst_bpp, (void)src_bpp, (void)param, (void)extra2;
  return Scale<1>(dst, src, dst_rect, src_rect, src_width, src_height, dst_stride, src_stride);
}

QELVAN_STRETCH_ROUTINE(Scale24) {
  (void)dst_width, (void)dst_height, (void)dst_bpp, (void)src_bpp, (void)param, (void)extra2;
  return Scale<3>(dst, src, dst_rect, src_rect, src_width, src_height, dst_stride, src_stride);
}

}  // namespace imaging
