// The settings a camera instance works with, under one lock: setters, dialogs and the frame
// conversion each read a consistent copy and change only what they own.
#pragma once

#include <windows.h>

#include <atomic>

#include "common/critical_section.h"

#include "output/frame_converter.h"
#include "settings/camera_settings.h"

class LiveSettings {
 public:
  LiveSettings() = default;
  LiveSettings(const LiveSettings&) = delete;
  LiveSettings& operator=(const LiveSettings&) = delete;

  settings::CameraSettings Get() const;
  // Runs f(settings&) under the lock and returns its result.
  template <class F>
  auto Update(F f) {
    common::ScopedLock hold(lock_);
    return f(value_);
  }

  // The image settings of one frame, read in one step.
  frameconv::ConvertSettings ForConversion() const;
  // Writes back only what a conversion measured, so that a value an application or a dialog
  // changed during the frame is not overwritten, and tells the open dialogs.
  void StoreConversion(const frameconv::ConvertSettings& used, const frameconv::ConvertChanges& changes);

  // The line length and clock period of the last exposure conversion (0 before the first).
  void SetExposureTiming(int lineClocks, double msPerClock);
  double ExposureMilliseconds(int lines) const;

  // Windows of the open image-filter and analog dialogs, for the conversion's messages.
  std::atomic<HWND> imageDialog{nullptr};
  std::atomic<HWND> analogDialog{nullptr};

 private:
  mutable common::CriticalSection lock_;
  settings::CameraSettings value_;
  int lineClocks_ = 0;
  double msPerClock_ = 0.0;
};
