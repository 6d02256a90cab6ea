// Format conversion and measurement routines: moving samples between bitmap formats, scaling
// for the preview and measuring the mean level of a window.
#pragma once

#include "imaging/filters.h"

namespace imaging {

// Mean level of the region (integer division), 0 for an empty region. The 16-bit member
// measures 10-bit samples reduced to 8 bits.
QELVAN_ROW_ROUTINE(Mean8);
QELVAN_ROW_ROUTINE(Mean16);

// Moves rows written back to back (width x bytes per pixel each) to their padded positions in
// the same buffer (the destination); the region gives the frame size.
QELVAN_ROW_ROUTINE(SpreadRows8);
QELVAN_ROW_ROUTINE(SpreadRows16);

// 10-bit (or 12-bit) 16 bpp samples to 8 bpp.
QELVAN_ROW_ROUTINE(Reduce16To8);
QELVAN_ROW_ROUTINE(Reduce16To8Reversed);
QELVAN_ROW_ROUTINE(Reduce16To8Bits12Reversed);

// 16 bpp samples to the full 16-bit range.
QELVAN_ROW_ROUTINE(Widen16Bits12);
QELVAN_ROW_ROUTINE(Widen16Bits10);

// 48 or 64 bpp (10-bit) to 24 bpp.
QELVAN_ROW_ROUTINE(Reduce48To24);
QELVAN_ROW_ROUTINE(Reduce48To24Reversed);

// Three channels of 32 bpp (or 24 bpp) into 24 bpp.
QELVAN_ROW_ROUTINE(Copy32To24);
QELVAN_ROW_ROUTINE(Copy3ChannelsReversed);

// 48/64 bpp to the full 16-bit range; "Swapped" members write R, G, B; 64 bpp members set the
// fourth word to 0xFFFF.
QELVAN_ROW_ROUTINE(Widen48Bits12);
QELVAN_ROW_ROUTINE(Widen48Bits12Swapped);
QELVAN_ROW_ROUTINE(Widen48Bits10);
QELVAN_ROW_ROUTINE(Widen48Bits10Swapped);
QELVAN_ROW_ROUTINE(Widen64Bits12);
QELVAN_ROW_ROUTINE(Widen64Bits12Swapped);
QELVAN_ROW_ROUTINE(Widen64Bits10);
QELVAN_ROW_ROUTINE(Widen64Bits10Swapped);

// 24 or 32 bpp with R and B exchanged.
QELVAN_ROW_ROUTINE(Swap24);
// 32 bpp: B, G, R copied, fourth byte inverted.
QELVAN_ROW_ROUTINE(Alpha32);
// Whole rows (the smaller of the two strides), bottom row first.
QELVAN_ROW_ROUTINE(CopyRowsReversed);

#define QELVAN_STRETCH_ROUTINE(name)                                                     \
  int name(uint8_t* dst, const uint8_t* src, const Rect* dst_rect, const Rect* src_rect, \
           int32_t dst_width, int32_t dst_height, int32_t src_width, int32_t src_height, \
           uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride, int32_t src_stride,   \
           void** param, int32_t extra2)

// Nearest-neighbour scaling for the preview; turns the rows over.
QELVAN_STRETCH_ROUTINE(Scale8);
QELVAN_STRETCH_ROUTINE(Scale24);

}  // namespace imaging
