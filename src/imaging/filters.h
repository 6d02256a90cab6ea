// Image filters applied after demosaicing: brightness, contrast, gamma, sharpening and
// hue/saturation. Every member is a row routine; all but sharpening work in place.
//   Mono8: 8 bpp, one channel.   Mono16: 16 bpp, one channel of b-bit samples.
//   Color8: 24/32 bpp, B, G, R.  Color16: 48/64 bpp, B, G, R words of b-bit samples.
// Parameter: FilterRecord (value, bits per sample), or HueRecord for hue/saturation.
#pragma once

#include "imaging/row_routine.h"

namespace imaging {

QELVAN_ROW_ROUTINE(BrightnessMono8);
QELVAN_ROW_ROUTINE(BrightnessMono16);
QELVAN_ROW_ROUTINE(BrightnessColor8);
QELVAN_ROW_ROUTINE(BrightnessColor16);

QELVAN_ROW_ROUTINE(ContrastMono8);
QELVAN_ROW_ROUTINE(ContrastMono16);
QELVAN_ROW_ROUTINE(ContrastColor8);
QELVAN_ROW_ROUTINE(ContrastColor16);

QELVAN_ROW_ROUTINE(GammaMono8);
QELVAN_ROW_ROUTINE(GammaMono16);
QELVAN_ROW_ROUTINE(GammaColor8);
QELVAN_ROW_ROUTINE(GammaColor16);

// Destination: the picture; source: an untouched copy of it. The two outermost rows and
// columns are not written.
QELVAN_ROW_ROUTINE(SharpenMono8);
QELVAN_ROW_ROUTINE(SharpenMono16);
QELVAN_ROW_ROUTINE(SharpenColor8);
QELVAN_ROW_ROUTINE(SharpenColor16);

QELVAN_ROW_ROUTINE(HueSaturation8);
QELVAN_ROW_ROUTINE(HueSaturation16);

// Position on the 1530-step colour circle for a hue in degrees.
int32_t HueShift(int32_t hue);

// Brightness factor for a value, rounded to single precision.
float BrightnessFactor(int32_t value);

}  // namespace imaging
