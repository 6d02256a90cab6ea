// SSE2 and AVX2 paths of the 8-bit brightness and sharpening; identical results to the scalar
// paths.
// Each returns false when it does not handle the layout, and the caller runs the scalar path.
#pragma once

#include "imaging/row_routine.h"

namespace imaging {

// step: bytes per pixel (1, 3 or 4); channels: 1 or 3 (a fourth byte is kept).
bool BrightnessBytesSse2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                         int32_t dst_y, int dst_step, int src_step, int channels,
                         int32_t dst_stride, int32_t src_stride, float factor);

bool SharpenBytesSse2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                      int32_t dst_y, int dst_step, int src_step, int channels, int32_t dst_stride,
                      int32_t src_stride, int32_t k);

// The same with AVX2.
bool BrightnessBytesAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                         int32_t dst_y, int dst_step, int src_step, int channels,
                         int32_t dst_stride, int32_t src_stride, float factor);

bool SharpenBytesAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                      int32_t dst_y, int dst_step, int src_step, int channels, int32_t dst_stride,
                      int32_t src_stride, int32_t k);

// Brightness of 16-bit samples (1 channel, or 3 of 6- or 8-byte pixels) limited to 0..top.
bool BrightnessWordsAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                         int32_t dst_y, int dst_step, int src_step, int channels,
                         int32_t dst_stride, int32_t src_stride, float factor, int32_t top);

// Sharpening of 16-bit samples, values limited to 0..top.
bool SharpenWordsAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                      int32_t dst_y, int dst_step, int src_step, int channels,
                      int32_t dst_stride, int32_t src_stride, int32_t k, int32_t top);

// Sharpening of 16-bit samples of at most 1023 (top at most 1023), 16-bit lanes throughout;
// false when a larger sample is met, and the caller runs a wider path over the whole region.
bool SharpenTenBitSse2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                       int32_t dst_y, int dst_step, int src_step, int channels,
                       int32_t dst_stride, int32_t src_stride, int32_t k, int32_t top);
bool SharpenTenBitAvx2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                       int32_t dst_y, int dst_step, int src_step, int channels,
                       int32_t dst_stride, int32_t src_stride, int32_t k, int32_t top);

// Replaces count bytes through a 256-entry table, in 32-byte steps; returns how many it did.
// With keep_fourth (4-byte pixels from a multiple of 4) the fourth byte of each pixel stays.
int MapTableBytesAvx2(uint8_t* dst, const uint8_t* src, int count, const uint8_t* table,
                      bool keep_fourth);

}  // namespace imaging
