// Setting pass-through: filter values, colour mode, mirrors, clock, exposure, registers, ROM, port.
#include "camera/camera.h"

#include "device/qelvan_device.h"

int CQelvan::SetFilterValue(int, int) { return DeviceLayerPending(); }

int CQelvan::GetFilterValue(int, int* ok) {
  if (ok) *ok = 0;
  return DeviceLayerPending();
}

int CQelvan::SetColorMode(int bits) {
  switch (bits) {
    case 8: colorType = 0; return 1;
    case 16: colorType = 1; return 1;
    case 24: colorType = 2; return 1;
    case 32: colorType = 3; return 1;
    case 48: colorType = 4; return 1;
    case 64: colorType = 5; return 1;
    default: PushError(ERR_ARGUMENT); return 0;
  }
}

int CQelvan::GetColorMode() const {
  static const int kReported[] = {8, 10, 24, 32, 42, 58};
  return colorType >= 0 && colorType <= 5 ? kReported[colorType] : -1;
}

int CQelvan::SetSubSample(int value) {
  if (value < 0 || value > 2) return 0;
  subSample = value;
  return 1;
}

int CQelvan::SetMirrorH(int) { return DeviceLayerPending(); }
int CQelvan::GetMirrorH() { return RequireDevice() ? mirrorH : 0; }
int CQelvan::SetMirrorV(int) { return RequireDevicePostOnly(), 0; }
int CQelvan::GetMirrorV() { return RequireDevicePostOnly() ? mirrorV : 0; }

int CQelvan::SetHalfClock(int value) {
  clock = value;
  return 1;
}

int CQelvan::GetHalfClock(int* ok) {
  if (ok) *ok = 0;
  return RequireDevicePostOnly(), 0;
}

int CQelvan::SetWaitTime(int ms) {
  if (ms < 0) return 0;
  waitTime = ms;
  return 1;
}

int CQelvan::SetAutoIris(int value) {
  if (value < 0 || value > 2) {
    PostError(ERR_ARGUMENT);
    return 0;
  }
  autoIris = value;
  return 1;
}

int CQelvan::GetAutoIris(int* ok) {
  if (ok) *ok = 1;
  return autoIris;
}

int CQelvan::GetRealExposureTime(int* ok) {
  if (!RequireDevice()) {
    if (ok) *ok = 0;
    return 0;
  }
  msPerClock = MillisecondsPerClock(clock);
  lineClocks = LineClocks(width);
  exposureLinesComputed = exposureLines;
  if (ok) *ok = 1;
  realExposure = ExposureMicroseconds(exposureLines, width, clock);
  return realExposure;
}

int CQelvan::SetRealExposureTime(int microseconds) {
  if (!RequireDevice()) return 0;
  msPerClock = MillisecondsPerClock(clock);
  lineClocks = LineClocks(width);
  const int lines = ExposureLinesFor(microseconds, width, clock);
  exposureLinesComputed = lines;
  if (lines < 1 || lines > kMaxExposureLines) {
    PushError(ERR_ARGUMENT);
    return 0;
  }
  exposureLines = lines;
  return 0;
}

int CQelvan::ReadRegister(int reg, int* ok) { return ReadRegisterEx(reg & 0xFF, ok); }

int CQelvan::ReadRegisterEx(int, int* ok) {
  if (ok) *ok = 0;
  return DeviceLayerPending();
}

int CQelvan::WriteRegister(int, int) { return DeviceLayerPending(); }

int CQelvan::ReadSromID(int, int* ok) {
  if (ok) *ok = 0;
  return RequireDevicePostOnly(), 0;
}

int CQelvan::WriteSromID(int, int) { return RequireDevicePostOnly(), 0; }

int CQelvan::GetIOPort(unsigned char* value) {
  if (!RequireDevicePostOnly()) return 0;
  if (!value) {
    PostError(ERR_ARGUMENT);
    return 0;
  }
  return 0;
}

int CQelvan::SetIOPort(int) { return RequireDevicePostOnly(), 0; }
