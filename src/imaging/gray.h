// Monochrome cell gains, the gray balance measurement and colour-to-gray conversion.
#pragma once

#include "imaging/filters.h"

namespace imaging {

// Gain and offset per cell of the 2 x 2 pattern, in place. Parameter: GrayRecord.
QELVAN_ROW_ROUTINE(CellGain8);
QELVAN_ROW_ROUTINE(CellGain16);

// Computes the four cell gains that even out a flat scene and writes them into the GrayRecord;
// leaves them when a cell has no usable sample. 8-bit samples when the record's bits are 8,
// 16-bit otherwise; a bitmap of another sample size is refused (0, gains unchanged).
QELVAN_ROW_ROUTINE(MeasureGrayBalance);

// 24 bpp B, G, R into one 8-bit luminance byte per pixel.
QELVAN_ROW_ROUTINE(ColorToGray);

// Largest sample value for a bits-per-sample setting (8, 10, 12, 14; anything else 16 bits).
int32_t MaxSampleOf(int32_t bits);

}  // namespace imaging
