#include "camera/live_settings.h"

#include "dialogs/camera_access.h"

using settings::FilterSlot;

settings::CameraSettings LiveSettings::Get() const {
  common::ScopedLock hold(lock_);
  return value_;
}

frameconv::ConvertSettings LiveSettings::ForConversion() const {
  common::ScopedLock hold(lock_);
  const settings::FilterBlock& f = value_.filters;
  frameconv::ConvertSettings s;
  s.colorType = value_.stream.colorType;
  s.bayerMode = f[settings::kFilterBayerMode];
  s.grayMode = f[settings::kFilterGrayMode];
  for (int i = 0; i < 4; ++i) {
    s.grayGain[i] = f[settings::kFilterGrayGain + i];
    s.grayOffset[i] = f[settings::kFilterGrayOffset + i];
  }
  s.bayerGain[0] = f[settings::kFilterGainRed];
  s.bayerGain[1] = f[settings::kFilterGainGreen];
  s.bayerGain[2] = f[settings::kFilterGainBlue];
  for (int i = 0; i < 3; ++i) s.whiteBalance[i] = f[settings::kFilterWhiteBalance + i];
  s.grayBalance = f[settings::kFilterGrayBalance];
  s.hue = f[settings::kFilterHue];
  s.saturation = f[settings::kFilterSaturation];
  s.gamma = f[settings::kFilterGamma];
  s.contrast = f[settings::kFilterContrast];
  s.sharpness = f[settings::kFilterSharpness];
  s.brightness = f[settings::kFilterBrightness];
  s.autoIris = value_.analog.autoIris;
  return s;
}

void LiveSettings::StoreConversion(const frameconv::ConvertSettings& s, const frameconv::ConvertChanges& changes) {
  {
    common::ScopedLock hold(lock_);
    settings::FilterBlock& f = value_.filters;
    if (changes.grayGains)
      for (int i = 0; i < 4; ++i) f[settings::kFilterGrayGain + i] = s.grayGain[i];
    if (changes.grayBalanceCounter) f[settings::kFilterGrayBalance] = s.grayBalance;
    if (changes.bayerGains) {
      f[settings::kFilterGainRed] = s.bayerGain[0];
      f[settings::kFilterGainGreen] = s.bayerGain[1];
      f[settings::kFilterGainBlue] = s.bayerGain[2];
    }
    if (changes.whiteBalanceWords)
      for (int i = 0; i < 3; ++i) f[settings::kFilterWhiteBalance + i] = s.whiteBalance[i];
    settings::AnalogValues& a = value_.analog;
    if (changes.autoIris == frameconv::kAutoIrisGain)
      a.globalGain = a.colorGainRed = a.colorGainGreen1 = a.colorGainGreen2 = a.colorGainBlue = changes.autoIrisValue;
    else if (changes.autoIris == frameconv::kAutoIrisExposure)
      a.exposureLines = changes.autoIrisValue;
  }
  // Posted, never sent: the worker holds the frame lock that a dialog's thread may wait for.
  if ((changes.grayGains || changes.bayerGains) && imageDialog.load())
    PostMessageA(imageDialog.load(), dialogs::kRefreshImageDialogMessage, 0, 0);
  if (HWND analog = analogDialog.load()) {
    if (changes.autoIris == frameconv::kAutoIrisGain)
      PostMessageA(analog, dialogs::kSetAnalogControlMessage, dialogs::kAnalogGainControl, changes.autoIrisValue);
    else if (changes.autoIris == frameconv::kAutoIrisExposure)
      PostMessageA(analog, dialogs::kSetAnalogControlMessage, dialogs::kAnalogExposureControl, changes.autoIrisValue);
  }
}

void LiveSettings::SetExposureTiming(int lineClocks, double msPerClock) {
  common::ScopedLock hold(lock_);
  lineClocks_ = lineClocks;
  msPerClock_ = msPerClock;
}

double LiveSettings::ExposureMilliseconds(int lines) const {
  common::ScopedLock hold(lock_);
  if (lineClocks_ <= 0 || msPerClock_ <= 0.0) return 0.0;
  return static_cast<double>(lines) * lineClocks_ * msPerClock_;
}
