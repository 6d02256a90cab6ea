// The three setting dialogs, as the camera instance runs them: acquisition paused or stopped
// around the camera settings, live values put back when a dialog is cancelled.
#include "camera/camera.h"

#include <cstring>

#include "device/qelvan_device.h"
#include "dialogs/analog_dialog.h"
#include "dialogs/camera_access.h"
#include "dialogs/camera_dialog.h"
#include "dialogs/image_dialog.h"

namespace {

class FrameLockHold {
 public:
  explicit FrameLockHold(CRITICAL_SECTION* lock) : lock_(lock) { EnterCriticalSection(lock_); }
  ~FrameLockHold() { LeaveCriticalSection(lock_); }
  FrameLockHold(const FrameLockHold&) = delete;
  FrameLockHold& operator=(const FrameLockHold&) = delete;

 private:
  CRITICAL_SECTION* lock_;
};

// The dialogs' view of this instance, over its fields and its device. Values the conversion
// also writes are read and written under the frame lock.
class InstanceAccess final : public dialogs::CameraAccess {
 public:
  explicit InstanceAccess(CQelvan& camera) : cam_(camera) {}

  settings::CameraSettings Settings() const override {
    settings::CameraSettings s;
    {
      FrameLockHold hold(&cam_.frameLock);
      for (int i = 0; i < settings::kFilterCount; ++i) s.filters[i] = cam_.filterValues[i];
      for (int f = 0; f < settings::kAnalogFieldCount; ++f)
        s.analog[static_cast<settings::AnalogField>(f)] = *Field(f);
    }
    s.geometry = cam_.GeometryPreset();
    s.stream = {cam_.colorType, cam_.subSample, cam_.waitTime, cam_.clock};
    return s;
  }

  int CameraNumber() const override { return cam_.cameraNumber; }

  void ShowFilter(int slot, int32_t value) override {
    FrameLockHold hold(&cam_.frameLock);
    cam_.filterValues[slot] = value;
  }

  void ShowAnalog(settings::AnalogField field, int32_t value) override {
    CQelvanZ51QKRVNSdk* device = cam_.device;
    switch (field) {
      case settings::kAnalogGlobalGain: device->SetGlobalGain(value); break;
      case settings::kAnalogGreen1: device->SetColorGain(43, value); break;
      case settings::kAnalogRed: device->SetColorGain(45, value); break;
      case settings::kAnalogBlue: device->SetColorGain(44, value); break;
      case settings::kAnalogGreen2: device->SetColorGain(46, value); break;
      case settings::kAnalogExposure: device->SetExposureLines(value); break;
      case settings::kAnalogMirrorV: device->SetMirrorV(value); break;
      case settings::kAnalogMirrorH: device->SetMirrorH(value); break;
      default: break;  // the automatic-iris mode is only the conversion's
    }
    FrameLockHold hold(&cam_.frameLock);
    *Field(field) = value;
  }

  int ColorGainMinimum(int reg) const override {
    int lowest = 0;
    cam_.device->QueryColorGain(reg, &lowest);
    return lowest;
  }
  int ColorGainDefault(int reg) const override {
    int value = 0;
    cam_.device->QueryColorGainParam(reg, &value);
    return value;
  }

  // From the line length and clock period of the last exposure conversion.
  double ExposureMilliseconds(int lines) const override {
    if (cam_.lineClocks <= 0 || cam_.msPerClock <= 0.0) return 0.0;
    return static_cast<double>(lines) * cam_.lineClocks * cam_.msPerClock;
  }

  void PublishImageDialog(HWND window) override {
    FrameLockHold hold(&cam_.frameLock);
    cam_.imageDialogWindow = window;
  }
  void PublishAnalogDialog(HWND window) override {
    FrameLockHold hold(&cam_.frameLock);
    cam_.analogDialogWindow = window;
  }

 private:
  int* Field(int field) const {
    int* const fields[settings::kAnalogFieldCount] = {
        &cam_.globalGain,      &cam_.colorGainGreen1, &cam_.colorGainRed,
        &cam_.colorGainBlue,   &cam_.colorGainGreen2, &cam_.exposureLines,
        &cam_.mirrorV,         &cam_.mirrorH,         &cam_.autoIris};
    return fields[field];
  }

  CQelvan& cam_;
};

// Holds the dialog lock for a scope.
class DialogLock {
 public:
  explicit DialogLock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
  ~DialogLock() { ReleaseSRWLockExclusive(lock_); }
  DialogLock(const DialogLock&) = delete;
  DialogLock& operator=(const DialogLock&) = delete;

 private:
  SRWLOCK* lock_;
};

// Claims a published dialog slot; false when a dialog of that kind is already open.
bool Publish(SRWLOCK* lock, void** slot, void* dialog) {
  DialogLock hold(lock);
  if (*slot) return false;
  *slot = dialog;
  return true;
}

void Withdraw(SRWLOCK* lock, void** slot) {
  DialogLock hold(lock);
  *slot = nullptr;
}

}  // namespace

int CQelvan::SetCameraDlg(HWND parent) {
  if (!RequireDevice()) return 0;
  if (cameraDialogOpen_.exchange(1)) {
    PushError(ERR_NOT_READY);
    return 0;
  }
  const int previous = mode;
  if (previous == MODE_PREVIEW || previous == MODE_CAPTURE)
    StopAcquisition();
  else if (previous == MODE_TRIGGER)
    runFlag = 2;  // the trigger loop waits while the settings change

  bool ok = false;
  InstanceAccess access(*this);
  CCameraDialog dialog(access);
  const bool shown = dialog.Run(parent, &ok);
  if (ok) {
    // A paused trigger loop would keep the old format: stop it so the new settings reach the
    // device when it starts again.
    if (previous == MODE_TRIGGER) StopAcquisition();
    ReloadStreamSettings();
  }
  if (previous == MODE_PREVIEW)
    StartPreview();
  else if (previous == MODE_CAPTURE)
    Capture();
  else if (previous == MODE_TRIGGER) {
    if (ok)
      Trigger(frameWindow, frameBuffer, frameBufferSize, frameTopDown);
    else
      runFlag = 1;
  }
  cameraDialogOpen_ = 0;
  if (!shown) {
    PushError(ERR_WINDOW);
    return 0;
  }
  return 1;
}

void CQelvan::ReloadStreamSettings() {
  LoadSizePreset();
  LoadCameraValues();
}

int CQelvan::SetAnalogDlg(HWND parent) {
  if (!RequireDevice()) return 0;
  globalGain = device->GetGlobalGain();
  device->QueryColorGain(43, &colorGainGreen1);
  device->QueryColorGain(45, &colorGainRed);
  device->QueryColorGain(44, &colorGainBlue);
  device->QueryColorGain(46, &colorGainGreen2);
  uint16_t lines = static_cast<uint16_t>(exposureLines);
  device->GetExposureLines(&lines);
  exposureLines = lines;
  mirrorV = device->ReadMirrorV();
  mirrorH = device->ReadMirrorH();
  const int saved[] = {globalGain, colorGainGreen1, colorGainRed, colorGainBlue, colorGainGreen2,
                       exposureLines, mirrorV, mirrorH, autoIris};
  const int savedBayerMode = filterValues[kFilterBayerMode];

  InstanceAccess access(*this);
  CAnalogDialog dialog(access);
  if (!Publish(&dialogLock_, &openAnalogDialog, &dialog)) {
    PushError(ERR_NOT_READY);
    return 0;
  }
  bool ok = false;
  const bool shown = dialog.Run(parent, &ok);
  Withdraw(&dialogLock_, &openAnalogDialog);
  if (!ok) {
    device->SetGlobalGain(saved[0]);
    device->SetColorGain(43, saved[1]);
    device->SetColorGain(45, saved[2]);
    device->SetColorGain(44, saved[3]);
    device->SetColorGain(46, saved[4]);
    device->SetExposureLines(saved[5]);
    device->SetMirrorV(saved[6]);
    device->SetMirrorH(saved[7]);
    // Under the frame lock, so that automatic exposure does not overwrite the restore.
    EnterCriticalSection(&frameLock);
    int* const fields[] = {&globalGain,      &colorGainGreen1, &colorGainRed,
                           &colorGainBlue,   &colorGainGreen2, &exposureLines,
                           &mirrorV,         &mirrorH,         &autoIris};
    for (size_t i = 0; i < sizeof saved / sizeof saved[0]; ++i) *fields[i] = saved[i];
    filterValues[kFilterBayerMode] = savedBayerMode;
    LeaveCriticalSection(&frameLock);
  }
  if (!shown) {
    PushError(ERR_WINDOW);
    return 0;
  }
  return 1;
}

int CQelvan::SetImageDlg(HWND parent) {
  if (!RequireDevice()) return 0;
  int saved[kFilterCount];
  std::memcpy(saved, filterValues, sizeof saved);
  InstanceAccess access(*this);
  CImageDialog dialog(access);
  if (!Publish(&dialogLock_, &openImageDialog, &dialog)) {
    PushError(ERR_NOT_READY);
    return 0;
  }
  bool ok = false;
  const bool shown = dialog.Run(parent, &ok);
  if (!ok) {
    // Under the frame lock, so that no conversion in progress writes balance results over it.
    EnterCriticalSection(&frameLock);
    std::memcpy(filterValues, saved, sizeof saved);
    LeaveCriticalSection(&frameLock);
  }
  Withdraw(&dialogLock_, &openImageDialog);
  if (!shown) {
    PushError(ERR_WINDOW);
    return 0;
  }
  return 1;
}
