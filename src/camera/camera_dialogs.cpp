// The three setting dialogs, as the camera instance runs them: acquisition paused or stopped
// around the camera settings, live values put back when a dialog is cancelled.
#include "camera/camera.h"

#include <cstring>

#include "device/qelvan_device.h"
#include "dialogs/analog_dialog.h"
#include "dialogs/camera_dialog.h"
#include "dialogs/image_dialog.h"

namespace {

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
  CCameraDialog dialog(cameraNumber);
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

  CAnalogDialog dialog(this);
  if (!Publish(&dialogLock_, &openAnalogDialog, &dialog)) {
    PushError(ERR_NOT_READY);
    return 0;
  }
  bool ok = false;
  const bool shown = dialog.Run(parent, &ok);
  analogDialogWindow = nullptr;
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
  CImageDialog dialog(filterValues, colorType, &imageDialogWindow);
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
  imageDialogWindow = nullptr;
  Withdraw(&dialogLock_, &openImageDialog);
  if (!shown) {
    PushError(ERR_WINDOW);
    return 0;
  }
  return 1;
}
