#include "camera/sensor_timing.h"

#include <climits>

#include "common/qlv_camera_model.h"

int SubSampleDivisor(int subSampleMode) {
  switch (subSampleMode) {
    case 1: case 17: return 2;
    case 2: case 18: return 4;
    case 3: case 19: return 8;
    default: return 1;
  }
}

bool CaptureWindowValid(const settings::SizePreset& g, int subSample) {
  if (g.width < 0 || g.height < 0 || g.startX < 0 || g.startY < 0) return false;
  if (g.width > QLV_SENSOR_WIDTH || g.startX > QLV_SENSOR_WIDTH || g.height > QLV_SENSOR_HEIGHT ||
      g.startY > QLV_SENSOR_HEIGHT)
    return false;
  if (g.startX + g.width > QLV_SENSOR_WIDTH || g.startY + g.height > QLV_SENSOR_HEIGHT) return false;
  return subSample != 3 && subSample != 17 && subSample != 18 && subSample != 19;
}

double MillisecondsPerClock(int clock) {
  switch (clock) {
    case 1: return static_cast<double>(1.0f / 12000.0f);
    case 2: return static_cast<double>(1.0f / 48000.0f);
    case 3: return static_cast<double>(1.0f / 40000.0f);
    case 4: return static_cast<double>(1.0f / 20000.0f);
    case 5: return static_cast<double>(1.0f / 10000.0f);
    default: return static_cast<double>(1.0f / 24000.0f);
  }
}

namespace {

// Clocks per line in double precision: a refused capture width stays stored and may be huge.
double LineClocksExact(int captureWidth) { return captureWidth >= 570 ? captureWidth + 64.0 : 660.0; }

// Truncates toward zero, saturating where the value does not fit an int.
int TruncateToInt(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return INT_MAX;
  if (value <= -2147483648.0) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

int LineClocks(int captureWidth) { return TruncateToInt(LineClocksExact(captureWidth)); }

int ExposureMicroseconds(int lines, int captureWidth, int clock) {
  const double ms = static_cast<double>(lines) * LineClocksExact(captureWidth) * MillisecondsPerClock(clock);
  return TruncateToInt(ms * 1000.0);
}

int ExposureLinesFor(int microseconds, int captureWidth, int clock) {
  return TruncateToInt((microseconds / 1000.0) / (LineClocksExact(captureWidth) * MillisecondsPerClock(clock)));
}
