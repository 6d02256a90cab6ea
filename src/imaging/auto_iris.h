// The five measuring windows of the automatic exposure/gain step and the correction factor
// their mean levels give.
#pragma once

#include "imaging/row_routine.h"

namespace imaging {

constexpr int kAutoIrisWindows = 5;

// Windows in picture coordinates (right and bottom exclusive) for a width x height frame.
void AutoIrisWindows(int32_t width, int32_t height, Rect windows[kAutoIrisWindows]);

// Factor from the five window means (0..255): starts at 1.0, -0.15 above 200, -0.1 above 160,
// +0.05 below 100.
double AutoIrisFactor(const int32_t means[kAutoIrisWindows]);

}  // namespace imaging
