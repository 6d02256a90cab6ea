// SSE2, SSSE3 and AVX2 paths of the 8-bit interior demosaicing; identical results to the scalar
// path.
#pragma once

#include "imaging/row_routine.h"

namespace imaging {

// Interior rows 2..H-3 of the region; kr and kb are the red and blue gain factors. Returns
// false, having done nothing, for factors it does not handle.
bool DemosaicInterior8Sse2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                           int32_t dst_y, int dst_bpp, int32_t dst_stride, int32_t src_stride,
                           int row_phase, int column_phase, int32_t kr, int32_t kb);

// The same with the 24 bpp store done by byte shuffles; needs SSSE3.
bool DemosaicInterior8Ssse3(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                            int32_t dst_y, int dst_bpp, int32_t dst_stride, int32_t src_stride,
                            int row_phase, int column_phase, int32_t kr, int32_t kb);

// 32 pixels per step into 24 bpp; needs AVX2. Falls back to the narrower paths for the last
// columns, and returns false for 32 bpp or frames narrower than one block.
bool DemosaicInterior8Avx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                           int32_t dst_y, int dst_bpp, int32_t dst_stride, int32_t src_stride,
                           int row_phase, int column_phase, int32_t kr, int32_t kb);

// 16-bit samples into 48 bpp, 16 pixels per step; needs AVX2. Does the interior columns from 2
// up to the returned column (exclusive) and leaves the rest to the caller; returns 0, having done
// nothing, for other depths, narrow frames or samples above 1023.
int DemosaicInterior16Avx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                           int32_t dst_y, int dst_bpp, int32_t dst_stride, int32_t src_stride,
                           int row_phase, int column_phase, int32_t kr, int32_t kb);

}  // namespace imaging
