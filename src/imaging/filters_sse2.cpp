// The 8-bit brightness and sharpening kernels for SSE2.
#include "imaging/filters_simd.h"
#include "imaging/sse2_target.h"

QELVAN_SSE2_BEGIN

#include "imaging/filters_kernels.h"
#include "imaging/vector_sse2.h"

namespace imaging {

bool BrightnessBytesSse2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                         int32_t dst_y, int dst_step, int src_step, int channels,
                         int32_t dst_stride, int32_t src_stride, float factor) {
  return BrightnessBytes<Sse2Vector>(dst, src, region, dst_x, dst_y, dst_step, src_step, channels,
                                     dst_stride, src_stride, factor);
}

bool SharpenTenBitSse2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                       int32_t dst_y, int dst_step, int src_step, int channels,
                       int32_t dst_stride, int32_t src_stride, int32_t k, int32_t top) {
  return SharpenTenBit<Sse2Vector>(dst, src, region, dst_x, dst_y, dst_step, src_step, channels,
                               dst_stride, src_stride, k, top);
}

bool SharpenBytesSse2(uint8_t* dst, const uint8_t* src, const Rect& region, int32_t dst_x,
                      int32_t dst_y, int dst_step, int src_step, int channels, int32_t dst_stride,
                      int32_t src_stride, int32_t k) {
  return SharpenBytes<Sse2Vector>(dst, src, region, dst_x, dst_y, dst_step, src_step, channels,
                                  dst_stride, src_stride, k);
}

}  // namespace imaging

QELVAN_SSE2_END
