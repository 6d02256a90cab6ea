// What a setting dialog may do with the camera it edits. The dialogs work on their own copy of
// the settings: they show each change live through this interface, and the camera instance keeps
// or restores the values when the dialog ends (OK or Cancel). They never hold the instance's
// fields, its device or its locks.
//
// Every method is called on the dialog's thread (the thread of the export that runs it), from
// the dialog's constructor or window procedure; the camera's acquisition worker may run
// meanwhile. A method may take the camera's locks briefly, but must not wait for anything that
// waits for the dialog's thread (no sent messages to the dialog, no wait for the dialog to end). Nothing reaches the registry through it: the camera settings dialog reads
// and writes the registry store itself.
//
// Ending: the dialog only reports whether OK ended it. After OK the camera keeps the values it
// was shown; otherwise (Cancel, the close box, a WM_QUIT that ended the modal loop) it restores
// what it had when the dialog opened, in the instance and on the sensor.
#pragma once

#include <windows.h>

#include "settings/camera_settings.h"

namespace dialogs {

// Messages the camera posts (never sends: its worker holds locks that the dialog's thread may
// wait for) to the window given to PublishImageDialog / PublishAnalogDialog.
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

  // A copy of the live settings, consistent with itself: the filter block and the analog values
  // are read under the lock the frame conversion writes them under. The dialogs read it when
  // they open, on a refresh message and for the automatic gray gain toggle.
  virtual settings::CameraSettings Settings() const = 0;
  // The registry number of the camera the dialog edits (fixed while it is open).
  virtual int CameraNumber() const = 0;

  // Live editing, one changed value at a time (so a value the frame conversion measured
  // meanwhile is not overwritten): filters reach the next frame's conversion, analog values the
  // sensor, at once.
  // ShowFilter: writes one word of the live filter block, under the frame conversion's lock, so
  // a conversion reads it whole and its measured results never overwrite it half-way. The value
  // is already held to its row's range; slot is a FilterSlot.
  virtual void ShowFilter(int slot, int32_t value) = 0;
  // ShowAnalog: stores the value in the instance and writes it to the sensor before returning
  // (gains, exposure in lines, mirrors); the automatic-iris mode is only stored. A failed device
  // write is not reported. The value is already held to the row's range.
  virtual void ShowAnalog(settings::AnalogField field, int32_t value) = 0;

  // The lowest and the default colour gain the sensor reports for a colour gain register
  // (43..46).
  virtual int ColorGainMinimum(int reg) const = 0;
  virtual int ColorGainDefault(int reg) const = 0;
  // The exposure time of a number of lines at the current clock and width, in milliseconds;
  // 0 when unknown.
  virtual double ExposureMilliseconds(int lines) const = 0;

  // The open dialog's top-level window, so the camera can post the messages above; null when
  // it is being destroyed. Called on the dialog's thread; the camera must make the change
  // visible to its worker (it posts only to a window published and not yet withdrawn).
  virtual void PublishImageDialog(HWND window) = 0;
  virtual void PublishAnalogDialog(HWND window) = 0;
  // The camera settings dialog's window, so that releasing the camera can end it as Cancel
  // would; null when it is being destroyed.
  virtual void PublishCameraDialog(HWND window) = 0;
};

}  // namespace dialogs
