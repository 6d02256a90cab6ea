// Setting pass-through: filter values, colour mode, mirrors, clock, exposure, registers, ROM, port.
#include "camera/camera.h"

#include "device/qelvan_device.h"

namespace {

constexpr uint8_t kGlobalGainRegister = 53;
constexpr int kAnalogGainMax = 63;

// Where a filter number keeps its value, and what it accepts. Numbers 6, 10 and 13 to 18 are
// handled apart.
struct FilterRange {
  int slot, min, max;
};

bool PlainFilter(int number, FilterRange* range) {
  static const FilterRange kTable[29] = {
      {-1, 0, 0},
      {kFilterBrightness, -255, 255},   // 1
      {kFilterContrast, -127, 127},     // 2
      {kFilterHue, -360, 360},          // 3
      {kFilterSaturation, -255, 255},   // 4
      {kFilterSharpness, 0, 30},        // 5
      {-1, 0, 0},                       // 6 packed Bayer gains
      {kFilterGainRed, 0, 400},         // 7
      {kFilterGainGreen, 0, 400},       // 8
      {kFilterGainBlue, 0, 400},        // 9
      {-1, 0, 0},                       // 10 automatic white balance
      {kFilterGamma, 0, 200},           // 11
      {kFilterBayerMode, 0, 3},         // 12
      {-1, 0, 0},         {-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0},  // 13..18 sensor
      {kFilterGrayMode, 0, 2},          // 19
      {kFilterGrayGain + 0, 0, 255},    // 20
      {kFilterGrayGain + 1, 0, 255},    // 21
      {kFilterGrayGain + 2, 0, 255},    // 22
      {kFilterGrayGain + 3, 0, 255},    // 23
      {kFilterGrayOffset + 0, -255, 255},  // 24
      {kFilterGrayOffset + 1, -255, 255},  // 25
      {kFilterGrayOffset + 2, -255, 255},  // 26
      {kFilterGrayOffset + 3, -255, 255},  // 27
      {kFilterGrayBalance, 0, 1},       // 28
  };
  if (number < 1 || number > 28 || kTable[number].slot < 0) return false;
  *range = kTable[number];
  return true;
}

// Colour gain register code of numbers 14 to 17.
int ColorGainCode(int number) {
  switch (number) {
    case 14: return 45;
    case 15: return 43;
    case 16: return 46;
    default: return 44;
  }
}

}  // namespace

int CQelvan::SetFilterValue(int number, int value) {
  if (!RequireDevice()) return 0;
  FilterRange range;
  if (PlainFilter(number, &range)) {
    if (value < range.min || value > range.max) return PushError(ERR_ARGUMENT), 0;
    filterValues[range.slot] = value;
    return 1;
  }
  switch (number) {
    case 6:
      filterValues[kFilterGainRed] = value & 0xFF;
      filterValues[kFilterGainGreen] = (value >> 8) & 0xFF;
      filterValues[kFilterGainBlue] = (value >> 16) & 0xFF;
      return 1;
    case 10:
      filterValues[kFilterWhiteBalance] = value != 0;
      return 1;
    case 13: case 14: case 15: case 16: case 17: {
      const int code = number == 13 ? 53 : ColorGainCode(number);
      int lowest = 0;
      device->QueryColorGainParam(code, &lowest);
      if (value < lowest || value > kAnalogGainMax) return PushError(ERR_ARGUMENT), 0;
      if (number == 13) {
        if (!device->SetGlobalGain(value)) return PushError(ERR_DEVICE_IO), 0;
        globalGain = value;
        colorGainGreen1 = colorGainRed = colorGainBlue = colorGainGreen2 = value;
        return 1;
      }
      // This sensor has no colour gain registers: the device accepts and ignores them.
      device->SetColorGain(code, value);
      int* fields[4] = {&colorGainRed, &colorGainGreen1, &colorGainGreen2, &colorGainBlue};
      *fields[number - 14] = value;
      return 1;
    }
    case 18:
      if (value < 1 || value > EXPOSURE_LINES_MAX) return PushError(ERR_ARGUMENT), 0;
      if (!device->SetExposureLines(value)) return PushError(ERR_DEVICE_IO), 0;
      exposureLines = value;
      return 1;
    default:
      return PushError(ERR_ARGUMENT), 0;
  }
}

int CQelvan::GetFilterValue(int number, int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return 0;
  int value = 0;
  FilterRange range;
  if (PlainFilter(number, &range)) {
    value = filterValues[range.slot];
  } else {
    switch (number) {
      case 6:
        value = (filterValues[kFilterGainRed] & 0xFF) | (filterValues[kFilterGainGreen] & 0xFF) << 8 |
                (filterValues[kFilterGainBlue] & 0xFF) << 16;
        break;
      case 10:
        value = filterValues[kFilterWhiteBalance];
        break;
      case 13: {
        // Read back from the sensor; an unanswered read is an error, not a gain of 0.
        uint16_t raw = 0;
        if (!device->ReadSensorRegister(kGlobalGainRegister, &raw)) return PushError(ERR_DEVICE_IO), 0;
        value = raw >= 16 ? raw - 16 : raw;
        break;
      }
      case 14: case 15: case 16: case 17:
        device->QueryColorGain(ColorGainCode(number), &value);
        break;
      case 18: {
        uint16_t lines = 0;
        if (!device->GetExposureLines(&lines)) return PushError(ERR_DEVICE_IO), 0;
        value = lines;
        break;
      }
      default:
        return PushError(ERR_ARGUMENT), 0;
    }
  }
  if (ok) *ok = 1;
  return value;
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

int CQelvan::SetMirrorH(int on) {
  if (!RequireDevice()) return 0;
  device->SetMirrorH(on != 0);
  mirrorH = on != 0;
  return 1;
}

int CQelvan::GetMirrorH() { return RequireDevice() ? mirrorH : 0; }

int CQelvan::SetMirrorV(int on) {
  if (!RequireDevicePostOnly()) return 0;
  device->SetMirrorV(on != 0);
  mirrorV = on != 0;
  return 1;
}

int CQelvan::GetMirrorV() { return RequireDevicePostOnly() ? mirrorV : 0; }

int CQelvan::SetHalfClock(int value) {
  clock = value;
  return 1;
}

int CQelvan::GetHalfClock(int* ok) {
  if (ok) *ok = 0;
  uint8_t value = 0;
  if (!device || !device->ReadClockSetting(&value)) {
    PostError(ERR_NOT_READY);
    return 0;
  }
  if (ok) *ok = 1;
  return value;
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

void CQelvan::RecomputeRealExposure() {
  msPerClock = MillisecondsPerClock(clock);
  lineClocks = LineClocks(width);
  exposureLinesComputed = exposureLines;
  realExposure = ExposureMicroseconds(exposureLines, width, clock);
}

int CQelvan::GetRealExposureTime(int* ok) {
  if (!RequireDevice()) {
    if (ok) *ok = 0;
    return 0;
  }
  RecomputeRealExposure();
  if (ok) *ok = 1;
  return realExposure;
}

int CQelvan::SetRealExposureTime(int microseconds) {
  if (!RequireDevice()) return 0;
  msPerClock = MillisecondsPerClock(clock);
  lineClocks = LineClocks(width);
  const int lines = ExposureLinesFor(microseconds, width, clock);
  exposureLinesComputed = lines;
  if (lines < 1 || lines > EXPOSURE_LINES_MAX) {
    PushError(ERR_ARGUMENT);
    return 0;
  }
  exposureLines = lines;
  device->SetExposureLines(lines);
  return 1;
}

int CQelvan::ReadRegister(int reg, int* ok) { return ReadRegisterEx(reg & 0xFF, ok); }

int CQelvan::ReadRegisterEx(int reg, int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return 0;
  uint16_t value = 0;
  if (!device->ReadSensorRegister(static_cast<uint8_t>(reg), &value)) return PushError(ERR_DEVICE_IO), 0;
  if (ok) *ok = 1;
  return value;
}

int CQelvan::WriteRegister(int reg, int value) {
  if (!RequireDevice()) return 0;
  if (!device->WriteSensorRegister(static_cast<uint8_t>(reg), static_cast<uint16_t>(value)))
    return PushError(ERR_DEVICE_IO), 0;
  return 1;
}

// ROM indices and bytes outside 0..255 would wrap onto another address or value: refused.
int CQelvan::ReadSromID(int index, int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevicePostOnly()) return 0;
  if (index < 0 || index > 0xFF) return PostError(ERR_ARGUMENT), 0;
  uint8_t value = 0;
  if (!device->ReadSromID(static_cast<uint8_t>(index), &value)) return PostError(ERR_NOT_READY), 0;
  if (ok) *ok = 1;
  return value;
}

int CQelvan::WriteSromID(int index, int value) {
  if (!RequireDevicePostOnly()) return 0;
  if (index < 0 || index > 0xFF || value < 0 || value > 0xFF) return PostError(ERR_ARGUMENT), 0;
  if (!device->WriteSromID(static_cast<uint8_t>(index), static_cast<uint8_t>(value)))
    return PostError(ERR_NOT_READY), 0;
  return 1;
}

int CQelvan::GetIOPort(unsigned char* value) {
  if (!RequireDevicePostOnly()) return 0;
  if (!value) return PostError(ERR_ARGUMENT), 0;
  uint8_t port = 0;
  // A failed read is reported, not passed off as a port reading 0.
  if (!device->ReadPort(PORT_GPIO, &port)) return PostError(ERR_NOT_READY), 0;
  *value = port;
  return 1;
}

int CQelvan::SetIOPort(int value) {
  if (!RequireDevicePostOnly()) return 0;
  return device->WritePort(PORT_GPIO, static_cast<uint8_t>(value));
}
