// Measures the mean levels of the automatic exposure windows of a raw bitmap through Transfer.
#pragma once

#include "imaging/auto_iris.h"
#include "output/dib_image.h"

// Fills means[i] (0..255) for each window of imaging::AutoIrisWindows; 8 bpp raw bitmaps are
// measured as they are, 16 bpp ones as 10-bit samples reduced to 8 bits. A window that clips to
// nothing measures 0. Returns false (all means 0) for a missing or empty bitmap or another depth.
bool MeasureAutoIrisWindows(CDibImage* raw, int32_t means[imaging::kAutoIrisWindows]);
