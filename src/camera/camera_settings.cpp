// Setting pass-through: filter values, colour mode, mirrors, clock, exposure, registers, ROM, port.
#include "camera/camera.h"

#include "camera/acquisition.h"
#include "camera/sensor_timing.h"
#include "device/qelvan_device.h"

namespace {

// The analog field of filter numbers 14 to 17.
settings::AnalogField ColorGainField(int number) {
  static const settings::AnalogField kFields[4] = {settings::kAnalogRed, settings::kAnalogGreen1,
                                                   settings::kAnalogGreen2, settings::kAnalogBlue};
  return kFields[number - 14];
}

}  // namespace

int CQelvan::SetFilterValue(int number, int value) {
  if (!RequireDevice()) return 0;
  settings::FilterRange range;
  if (settings::PlainFilterRange(number, &range)) {
    if (value < range.min || value > range.max) return PushError(ERR_ARGUMENT), 0;
    settings_.Update([&](settings::CameraSettings& s) { s.filters[range.slot] = value; });
    return 1;
  }
  switch (number) {
    case 6:
      settings_.Update([&](settings::CameraSettings& s) {
        s.filters[settings::kFilterGainRed] = value & 0xFF;
        s.filters[settings::kFilterGainGreen] = (value >> 8) & 0xFF;
        s.filters[settings::kFilterGainBlue] = (value >> 16) & 0xFF;
      });
      return 1;
    case 10:
      settings_.Update([&](settings::CameraSettings& s) { s.filters[settings::kFilterWhiteBalance] = value != 0; });
      return 1;
    case 13: case 14: case 15: case 16: case 17: {
      const int code = number == 13 ? QLV_REG_GLOBAL_GAIN : settings::ColorGainRegister(ColorGainField(number));
      int lowest = 0;
      device_->QueryColorGainParam(code, &lowest);
      if (value < lowest || value > settings::kColorGainMax) return PushError(ERR_ARGUMENT), 0;
      if (number == 13) {
        if (!device_->SetGlobalGain(value)) return PushError(ERR_DEVICE_IO), 0;
        settings_.Update([&](settings::CameraSettings& s) {
          settings::AnalogValues& a = s.analog;
          a.globalGain = a.colorGainGreen1 = a.colorGainRed = a.colorGainBlue = a.colorGainGreen2 = value;
        });
        return 1;
      }
      // This sensor has no colour gain registers: the device accepts and ignores them.
      device_->SetColorGain(code, value);
      settings_.Update([&](settings::CameraSettings& s) { s.analog[ColorGainField(number)] = value; });
      return 1;
    }
    case 18:
      if (value < 1 || value > EXPOSURE_LINES_MAX) return PushError(ERR_ARGUMENT), 0;
      if (!device_->SetExposureLines(value)) return PushError(ERR_DEVICE_IO), 0;
      settings_.Update([&](settings::CameraSettings& s) { s.analog.exposureLines = value; });
      return 1;
    default:
      return PushError(ERR_ARGUMENT), 0;
  }
}

int CQelvan::GetFilterValue(int number, int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return 0;
  int value = 0;
  const settings::FilterBlock f = settings_.Get().filters;
  settings::FilterRange range;
  if (settings::PlainFilterRange(number, &range)) {
    value = f[range.slot];
  } else {
    switch (number) {
      case 6:
        value = (f[settings::kFilterGainRed] & 0xFF) | (f[settings::kFilterGainGreen] & 0xFF) << 8 |
                (f[settings::kFilterGainBlue] & 0xFF) << 16;
        break;
      case 10:
        value = f[settings::kFilterWhiteBalance];
        break;
      case 13: {
        // Read back from the sensor; an unanswered read is an error, not a gain of 0.
        uint16_t raw = 0;
        if (!device_->ReadSensorRegister(QLV_REG_GLOBAL_GAIN, &raw)) return PushError(ERR_DEVICE_IO), 0;
        value = raw >= 16 ? raw - 16 : raw;
        break;
      }
      case 14: case 15: case 16: case 17:
        device_->QueryColorGain(settings::ColorGainRegister(ColorGainField(number)), &value);
        break;
      case 18: {
        uint16_t lines = 0;
        if (!device_->GetExposureLines(&lines)) return PushError(ERR_DEVICE_IO), 0;
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
  int type;
  switch (bits) {
    case 8: type = 0; break;
    case 16: type = 1; break;
    case 24: type = 2; break;
    case 32: type = 3; break;
    case 48: type = 4; break;
    case 64: type = 5; break;
    default: PushError(ERR_ARGUMENT); return 0;
  }
  settings_.Update([&](settings::CameraSettings& s) { s.stream.colorType = type; });
  return 1;
}

int CQelvan::GetColorMode() const {
  static const int kReported[] = {8, 10, 24, 32, 42, 58};
  const int type = settings_.Get().stream.colorType;
  return type >= 0 && type <= 5 ? kReported[type] : -1;
}

int CQelvan::SetSubSample(int value) {
  if (value < 0 || value > 2) return 0;
  settings_.Update([&](settings::CameraSettings& s) { s.stream.subSample = value; });
  return 1;
}

int CQelvan::GetSubSample() const { return settings_.Get().stream.subSample; }

int CQelvan::SetMirrorH(int on) {
  if (!RequireDevice()) return 0;
  device_->SetMirrorH(on != 0);
  settings_.Update([&](settings::CameraSettings& s) { s.analog.mirrorH = on != 0; });
  return 1;
}

int CQelvan::GetMirrorH() { return RequireDevice() ? settings_.Get().analog.mirrorH : 0; }

int CQelvan::SetMirrorV(int on) {
  if (!RequireDevicePostOnly()) return 0;
  device_->SetMirrorV(on != 0);
  settings_.Update([&](settings::CameraSettings& s) { s.analog.mirrorV = on != 0; });
  return 1;
}

int CQelvan::GetMirrorV() { return RequireDevicePostOnly() ? settings_.Get().analog.mirrorV : 0; }

int CQelvan::SetHalfClock(int value) {
  settings_.Update([&](settings::CameraSettings& s) { s.stream.clock = value; });
  return 1;
}

int CQelvan::GetHalfClock(int* ok) {
  if (ok) *ok = 0;
  uint8_t value = 0;
  if (!device_ || !device_->ReadClockSetting(&value)) {
    PostError(ERR_NOT_READY);
    return 0;
  }
  if (ok) *ok = 1;
  return value;
}

int CQelvan::SetWaitTime(int ms) {
  if (ms < 0) return 0;
  settings_.Update([&](settings::CameraSettings& s) { s.stream.waitTime = ms; });
  return 1;
}

int CQelvan::GetWaitTime() const { return settings_.Get().stream.waitTime; }

int CQelvan::SetAutoIris(int value) {
  if (value < 0 || value > 2) {
    PostError(ERR_ARGUMENT);
    return 0;
  }
  settings_.Update([&](settings::CameraSettings& s) { s.analog.autoIris = value; });
  return 1;
}

int CQelvan::GetAutoIris(int* ok) {
  if (ok) *ok = 1;
  return settings_.Get().analog.autoIris;
}

int CQelvan::GetRealExposureTime(int* ok) {
  if (!RequireDevice()) {
    if (ok) *ok = 0;
    return 0;
  }
  const settings::CameraSettings s = settings_.Get();
  settings_.SetExposureTiming(LineClocks(s.geometry.width), MillisecondsPerClock(s.stream.clock));
  if (ok) *ok = 1;
  return ExposureMicroseconds(s.analog.exposureLines, s.geometry.width, s.stream.clock);
}

int CQelvan::SetRealExposureTime(int microseconds) {
  if (!RequireDevice()) return 0;
  const settings::CameraSettings s = settings_.Get();
  settings_.SetExposureTiming(LineClocks(s.geometry.width), MillisecondsPerClock(s.stream.clock));
  const int lines = ExposureLinesFor(microseconds, s.geometry.width, s.stream.clock);
  if (lines < 1 || lines > EXPOSURE_LINES_MAX) {
    PushError(ERR_ARGUMENT);
    return 0;
  }
  settings_.Update([&](settings::CameraSettings& v) { v.analog.exposureLines = lines; });
  device_->SetExposureLines(lines);
  return 1;
}

int CQelvan::ReadRegister(int reg, int* ok) { return ReadRegisterEx(reg & 0xFF, ok); }

int CQelvan::ReadRegisterEx(int reg, int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return 0;
  uint16_t value = 0;
  if (!device_->ReadSensorRegister(static_cast<uint8_t>(reg), &value)) return PushError(ERR_DEVICE_IO), 0;
  if (ok) *ok = 1;
  return value;
}

int CQelvan::WriteRegister(int reg, int value) {
  if (!RequireDevice()) return 0;
  if (!device_->WriteSensorRegister(static_cast<uint8_t>(reg), static_cast<uint16_t>(value)))
    return PushError(ERR_DEVICE_IO), 0;
  return 1;
}

// ROM indices and bytes outside 0..255 would wrap onto another address or value: refused.
int CQelvan::ReadSromID(int index, int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevicePostOnly()) return 0;
  if (index < 0 || index > 0xFF) return PostError(ERR_ARGUMENT), 0;
  uint8_t value = 0;
  if (!device_->ReadSromID(static_cast<uint8_t>(index), &value)) return PostError(ERR_NOT_READY), 0;
  if (ok) *ok = 1;
  return value;
}

int CQelvan::WriteSromID(int index, int value) {
  if (!RequireDevicePostOnly()) return 0;
  if (index < 0 || index > 0xFF || value < 0 || value > 0xFF) return PostError(ERR_ARGUMENT), 0;
  if (!device_->WriteSromID(static_cast<uint8_t>(index), static_cast<uint8_t>(value)))
    return PostError(ERR_NOT_READY), 0;
  return 1;
}

int CQelvan::GetIOPort(unsigned char* value) {
  if (!RequireDevicePostOnly()) return 0;
  if (!value) return PostError(ERR_ARGUMENT), 0;
  uint8_t port = 0;
  // The byte is written either way: a failed read leaves 0 there, and is reported.
  const bool read = device_->ReadPort(PORT_GPIO, &port) != 0;
  *value = read ? port : 0;
  if (!read) return PostError(ERR_NOT_READY), 0;
  return 1;
}

int CQelvan::SetIOPort(int value) {
  if (!RequireDevicePostOnly()) return 0;
  return device_->WritePort(PORT_GPIO, static_cast<uint8_t>(value));
}
