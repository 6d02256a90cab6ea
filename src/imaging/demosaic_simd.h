// SIMD kernels of the demosaicing (SSE2, SSSE3, AVX2); identical results to the scalar path.
#pragma once

#include <cstddef>

#include "imaging/row_routine.h"

namespace imaging {

// Rows y_begin..y_end-1 of a region, interior columns only (2 .. W-3). Row indices outside the
// region fold back by four rows, which keeps their colour: the border rows 0, 1, H-2 and H-1 run
// through the same kernels as the interior ones.
struct BayerRows {
  uint8_t* dst;
  const uint8_t* src;
  Rect region;
  int32_t dst_x, dst_y;
  int dst_bpp;
  int32_t dst_stride, src_stride;
  int row_phase, column_phase;  // of the region's first pixel
  int32_t kr, kb;               // red and blue gain factors
  int32_t y_begin, y_end;
};

// Every kernel works in whole blocks from column 2 and returns the first column it did not do
// (2 + a multiple of its block width), or 0, having written nothing useful, when it cannot
// handle the call (depth, gain factors, samples out of range, fewer columns than one block).
// The caller finishes the columns from there with a narrower kernel or the scalar code.
using BayerKernel = int (*)(const BayerRows& job);

// 8-bit samples into 24 or 32 bpp, 16 pixels per block.
int DemosaicRows8Sse2(const BayerRows& job);
// The same with the 24 bpp store done by byte shuffles; needs SSSE3.
int DemosaicRows8Ssse3(const BayerRows& job);
// 8-bit samples into 24 bpp, 32 pixels per block; needs AVX2.
int DemosaicRows8Avx2(const BayerRows& job);
// 16-bit samples of at most 1023 into 48 or 64 bpp, 16 pixels per block; needs AVX2.
int DemosaicRows16Avx2(const BayerRows& job);
// The same eight pixels per block with SSE2.
int DemosaicRows16Sse2(const BayerRows& job);

// The row of the region at index y (memory order), folded back by four rows outside it.
inline const uint8_t* FoldedRow(const BayerRows& job, int32_t y, int sample_size) {
  const int32_t h = job.region.bottom - job.region.top;
  if (y < 0) y += 4;
  if (y >= h) y -= 4;
  return job.src + static_cast<ptrdiff_t>(job.region.top + y) * job.src_stride +
         static_cast<ptrdiff_t>(job.region.left) * sample_size;
}

inline uint8_t* DestinationRow(const BayerRows& job, int32_t y) {
  return job.dst + static_cast<ptrdiff_t>(job.dst_y + y) * job.dst_stride +
         static_cast<ptrdiff_t>(job.dst_x) * job.dst_bpp;
}

}  // namespace imaging
