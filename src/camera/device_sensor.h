// The sensor's gain and exposure through the device object, as automatic exposure and gain
// reach them.
#pragma once

#include "device/qelvan_device.h"
#include "output/frame_converter.h"

class DeviceSensor : public frameconv::SensorAccess {
 public:
  // lastExposure: what a failed exposure read answers (the value last written).
  DeviceSensor(CQelvanZ51QKRVNSdk& device, int lastExposure) : device_(device), lastExposure_(lastExposure) {}
  int32_t GlobalGain() override { return device_.GetGlobalGain(); }
  int32_t MinimumGlobalGain() override { return GLOBAL_GAIN_MIN; }
  void SetGlobalGain(int32_t gain) override { device_.SetGlobalGain(gain); }
  int32_t ExposureLines() override {
    uint16_t lines = static_cast<uint16_t>(lastExposure_);
    device_.GetExposureLines(&lines);
    return lines;
  }
  int32_t MaximumExposureLines() override { return EXPOSURE_LINES_MAX; }
  void SetExposureLines(int32_t lines) override { device_.SetExposureLines(lines); }

 private:
  CQelvanZ51QKRVNSdk& device_;
  int lastExposure_;
};
