// What a setting dialog may do with the camera it edits. The dialogs work on their own copy of
// the settings: they show each change live through this interface, and the camera instance keeps
// or restores the values when the dialog ends (OK or Cancel). They never hold the instance's
// fields, its device or its locks.
#pragma once

#include <windows.h>

#include "settings/camera_settings.h"

namespace dialogs {

// Messages the camera posts to an open dialog while frames are converted.
// The image filter dialog takes the measured words again (CameraAccess::Settings().filters).
constexpr UINT kRefreshImageDialogMessage = WM_APP + 0x310;
// The analog dialog shows a new value: wParam the control (kAnalogGainControl or
// kAnalogExposureControl), lParam the value, which the camera already has.
constexpr UINT kSetAnalogControlMessage = WM_APP + 0x311;
constexpr int kAnalogGainControl = 1015;
constexpr int kAnalogExposureControl = 1027;

class CameraAccess {
 public:
  virtual ~CameraAccess() = default;

  // A copy of the live settings.
  virtual settings::CameraSettings Settings() const = 0;
  // The registry number of the camera the dialog edits (fixed while it is open).
  virtual int CameraNumber() const = 0;

  // Live editing, one changed value at a time (so a value the frame conversion measured
  // meanwhile is not overwritten): filters reach the next frame's conversion, analog values the
  // sensor, at once.
  virtual void ShowFilter(int slot, int32_t value) = 0;
  virtual void ShowAnalog(settings::AnalogField field, int32_t value) = 0;

  // The lowest and the default colour gain the sensor reports for a colour gain register
  // (43..46).
  virtual int ColorGainMinimum(int reg) const = 0;
  virtual int ColorGainDefault(int reg) const = 0;
  // The exposure time of a number of lines at the current clock and width, in milliseconds;
  // 0 when unknown.
  virtual double ExposureMilliseconds(int lines) const = 0;

  // The open dialog's window, so the camera can post the messages above (null when it closes).
  virtual void PublishImageDialog(HWND window) = 0;
  virtual void PublishAnalogDialog(HWND window) = 0;
};

}  // namespace dialogs
