// Frame conversion of the camera instance: reads the image settings once per frame, runs the
// pixel conversion on the instance's images and stores what it measured.
#include "camera/camera.h"

#include "device/qelvan_device.h"
#include "output/frame_converter.h"

namespace {

// The sensor's gain and exposure through the device object.
class DeviceSensor : public frameconv::SensorAccess {
 public:
  DeviceSensor(CQelvanZ51QKRVNSdk* device, int exposureMirror)
      : device_(device), exposureMirror_(exposureMirror) {}

  int32_t GlobalGain() override { return device_->GetGlobalGain(); }
  int32_t MinimumGlobalGain() override { return kMinimumGlobalGain; }
  void SetGlobalGain(int32_t gain) override { device_->SetGlobalGain(gain); }
  int32_t ExposureLines() override {
    // A failed read leaves the value we last wrote.
    uint16_t lines = static_cast<uint16_t>(exposureMirror_);
    device_->GetExposureLines(&lines);
    return lines;
  }
  int32_t MaximumExposureLines() override { return kMaxExposureLines; }
  void SetExposureLines(int32_t lines) override { device_->SetExposureLines(lines); }

 private:
  static constexpr int32_t kMinimumGlobalGain = 0;
  CQelvanZ51QKRVNSdk* device_;
  int exposureMirror_;
};

}  // namespace

int CQelvan::ConvertFrame() { return ConvertFrame(colorType); }

int CQelvan::ConvertFrame(int type) {
  // One consistent set of settings for the whole frame; setters may change them meanwhile.
  frameconv::ConvertSettings s;
  s.colorType = type;
  s.bayerMode = filterValues[kFilterBayerMode];
  s.grayMode = filterValues[kFilterGrayMode];
  for (int i = 0; i < 4; ++i) {
    s.grayGain[i] = filterValues[kFilterGrayGain + i];
    s.grayOffset[i] = filterValues[kFilterGrayOffset + i];
  }
  s.bayerGain[0] = filterValues[kFilterGainRed];
  s.bayerGain[1] = filterValues[kFilterGainGreen];
  s.bayerGain[2] = filterValues[kFilterGainBlue];
  for (int i = 0; i < 3; ++i) s.whiteBalance[i] = filterValues[kFilterWhiteBalance + i];
  s.grayBalance = filterValues[kFilterGrayBalance];
  s.hue = filterValues[kFilterHue];
  s.saturation = filterValues[kFilterSaturation];
  s.gamma = filterValues[kFilterGamma];
  s.contrast = filterValues[kFilterContrast];
  s.sharpness = filterValues[kFilterSharpness];
  s.brightness = filterValues[kFilterBrightness];
  s.autoIris = autoIris;

  frameconv::FrameImages images;
  images.mono8 = image8;
  images.mono16 = image16;
  images.rgb24 = image24;
  images.rgb32 = image32;
  images.rgb48 = image48;
  images.rgb64 = image64;
  images.scratch = scratchImage;

  DeviceSensor deviceSensor(device, exposureLines);
  frameconv::SensorAccess* sensor = sensorOverride;
  if (!sensor && device) sensor = &deviceSensor;

  frameconv::ConvertChanges changes;
  frameconv::ConvertFrameImages(images, &s, sensor, &changes);
  StoreConversionResults(s, changes);
  return 1;
}

void CQelvan::StoreConversionResults(const frameconv::ConvertSettings& s,
                                     const frameconv::ConvertChanges& changes) {
  // Only what the conversion changed is written back, so that a setting an application changed
  // during the frame is not overwritten with the value read at its start.
  if (changes.grayGains)
    for (int i = 0; i < 4; ++i) filterValues[kFilterGrayGain + i] = s.grayGain[i];
  if (changes.grayBalanceCounter) filterValues[kFilterGrayBalance] = s.grayBalance;
  if (changes.bayerGains) {
    filterValues[kFilterGainRed] = s.bayerGain[0];
    filterValues[kFilterGainGreen] = s.bayerGain[1];
    filterValues[kFilterGainBlue] = s.bayerGain[2];
  }
  if (changes.whiteBalanceWords)
    for (int i = 0; i < 3; ++i) filterValues[kFilterWhiteBalance + i] = s.whiteBalance[i];
  if ((changes.grayGains || changes.bayerGains) && imageDialogWindow)
    PostMessageA(imageDialogWindow, kRefreshImageDialogMessage, 0, 0);

  if (changes.autoIris == frameconv::kAutoIrisGain) {
    const int n = changes.autoIrisValue;
    globalGain = colorGainRed = colorGainGreen1 = colorGainGreen2 = colorGainBlue = n;
    if (analogDialogWindow)
      PostMessageA(analogDialogWindow, kSetAnalogControlMessage, kAnalogGainControl, n);
  } else if (changes.autoIris == frameconv::kAutoIrisExposure) {
    exposureLines = changes.autoIrisValue;
    if (analogDialogWindow)
      PostMessageA(analogDialogWindow, kSetAnalogControlMessage, kAnalogExposureControl,
                   changes.autoIrisValue);
  }
}
