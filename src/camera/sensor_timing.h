// Capture-window and exposure arithmetic of this sensor.
#pragma once

#include "settings/camera_settings.h"

// 1, 2, 4 or 8 by sub-sample mode (modes 17 to 19 are the binned forms of 1 to 3).
int SubSampleDivisor(int subSampleMode);
// Whether a capture window lies inside the sensor and its sub-sampling is one this camera has.
bool CaptureWindowValid(const settings::SizePreset& geometry, int subSample);

// Milliseconds per pixel clock for a clock setting (single-precision values widened).
double MillisecondsPerClock(int clock);
// Clocks per sensor line for a capture width.
int LineClocks(int captureWidth);
// Exposure of a number of lines in microseconds, truncated.
int ExposureMicroseconds(int lines, int captureWidth, int clock);
// Whole lines that fit in an exposure of microseconds, truncated.
int ExposureLinesFor(int microseconds, int captureWidth, int clock);
