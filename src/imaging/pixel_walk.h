// Small helpers shared by the row routines: sample access and the row walk over a region.
#pragma once

#include <cstddef>
#include <cstring>

#include "imaging/row_routine.h"

namespace imaging {

inline int32_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

inline void Store16(uint8_t* p, int32_t v) {
  uint16_t t = static_cast<uint16_t>(v);
  std::memcpy(p, &t, 2);
}

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Bits per sample of a record limited to 8..16.
inline int ClampBits(int32_t bits) { return bits < 8 ? 8 : (bits > 16 ? 16 : bits); }

inline uint8_t* DstRow(uint8_t* dst, int32_t dst_stride, int32_t dst_y, int32_t dst_x, int bpp,
                       int32_t i) {
  return dst + static_cast<ptrdiff_t>(dst_y + i) * dst_stride + static_cast<ptrdiff_t>(dst_x) * bpp;
}

inline const uint8_t* SrcRow(const uint8_t* src, int32_t src_stride, const Rect& r, int bpp,
                             int32_t row) {
  return src + static_cast<ptrdiff_t>(row) * src_stride + static_cast<ptrdiff_t>(r.left) * bpp;
}

inline int32_t WidthOf(const Rect& r) { return r.right - r.left; }
inline int32_t HeightOf(const Rect& r) { return r.bottom - r.top; }

// Calls f(destination row, source row, width) for each row of the region in memory order.
template <typename F>
void ForEachRow(uint8_t* dst, const uint8_t* src, const Rect& r, int32_t dst_x, int32_t dst_y,
                int dst_bpp, int src_bpp, int32_t dst_stride, int32_t src_stride, F f) {
  const int32_t w = WidthOf(r);
  const int32_t h = HeightOf(r);
  if (w <= 0 || h <= 0) return;
  for (int32_t i = 0; i < h; ++i)
    f(DstRow(dst, dst_stride, dst_y, dst_x, dst_bpp, i),
      SrcRow(src, src_stride, r, src_bpp, r.top + i), w);
}

}  // namespace imaging

// Single and double precision results must round as written; x87 arithmetic would keep extra
// precision in registers and pick different values (scaling, gamma and brightness tables).
#if defined(__i386__) && !defined(__SSE2_MATH__)
#error "build the pixel routines with -msse2 -mfpmath=sse"
#endif
