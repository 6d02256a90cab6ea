// The three setting dialogs as the camera instance runs them. The dialogs edit a copy of the
// settings and show each change through the CameraAccess calls below; OK keeps the live values,
// Cancel puts back what was there when the dialog opened.
#include "camera/camera.h"

#include "camera/acquisition.h"
#include "device/qelvan_device.h"
#include "dialogs/analog_dialog.h"
#include "dialogs/camera_dialog.h"
#include "dialogs/image_dialog.h"


// ---- What the dialogs reach -----------------------------------------------------------------

settings::CameraSettings CQelvan::Settings() const { return settings_.Get(); }

int CQelvan::CameraNumber() const { return cameraNumber_; }

void CQelvan::ShowFilter(int slot, int32_t value) {
  if (slot < 0 || slot >= settings::kFilterCount) return;
  settings_.Update([&](settings::CameraSettings& s) { s.filters[slot] = value; });
}

void CQelvan::ShowAnalog(settings::AnalogField field, int32_t value) {
  if (field < 0 || field >= settings::kAnalogFieldCount) return;
  settings_.Update([&](settings::CameraSettings& s) { s.analog[field] = value; });
  switch (field) {
    case settings::kAnalogGlobalGain: device_->SetGlobalGain(value); break;
    case settings::kAnalogExposure: device_->SetExposureLines(value); break;
    case settings::kAnalogMirrorV: device_->SetMirrorV(value); break;
    case settings::kAnalogMirrorH: device_->SetMirrorH(value); break;
    case settings::kAnalogAutoIris: break;
    default: device_->SetColorGain(settings::ColorGainRegister(field), value); break;
  }
}

int CQelvan::ColorGainMinimum(int reg) const {
  int value = 0;
  device_->QueryColorGain(reg, &value);
  return value;
}

int CQelvan::ColorGainDefault(int reg) const {
  int value = 0;
  device_->QueryColorGainParam(reg, &value);
  return value;
}

double CQelvan::ExposureMilliseconds(int lines) const { return settings_.ExposureMilliseconds(lines); }

void CQelvan::PublishImageDialog(HWND window) { settings_.imageDialog = window; }

void CQelvan::PublishAnalogDialog(HWND window) { settings_.analogDialog = window; }

void CQelvan::PublishCameraDialog(HWND window) { cameraDialogWindow_ = window; }

bool CQelvan::OpenDialog(std::atomic<int32_t>* kind) {
  // Under the transition lock, so that a selection never runs beside a dialog that opens.
  bool opened = false;
  acquisition_->Locked([&](bool) { opened = kind->exchange(1) == 0; });
  return opened;
}

void CQelvan::CloseDialog(std::atomic<int32_t>* kind) { *kind = 0; }

// ---- The exports ------------------------------------------------------------------------------

int CQelvan::SetCameraDlg(HWND parent) {
  if (!RequireDevice()) return 0;
  if (!OpenDialog(&cameraDialogOpen_)) return PushError(ERR_NOT_READY), 0;
  const camera::Acquisition::Pause pause = acquisition_->PauseForSettings();
  bool ok = false;
  CCameraDialog dialog(*this);
  const bool shown = dialog.Run(parent, &ok);
  if (ok) {
    // The stream settings and capture size the dialog saved.
    LoadSizePreset();
    LoadCameraValues();
  }
  acquisition_->Resume(pause, ok);
  CloseDialog(&cameraDialogOpen_);
  if (!shown) return PushError(ERR_WINDOW), 0;
  return 1;
}

int CQelvan::SetAnalogDlg(HWND parent) {
  if (!RequireDevice()) return 0;
  // The slot first: a refused second call must not touch the values the open one edits.
  if (!OpenDialog(&analogDialogOpen_)) return PushError(ERR_NOT_READY), 0;
  // The camera as it is now, into the live values.
  uint16_t lines = static_cast<uint16_t>(settings_.Get().analog.exposureLines);
  device_->GetExposureLines(&lines);
  settings::AnalogValues now = settings_.Get().analog;
  now.globalGain = device_->GetGlobalGain();
  for (settings::AnalogField field : settings::kColorGainFields)
    device_->QueryColorGain(settings::ColorGainRegister(field), &now[field]);
  now.exposureLines = lines;
  now.mirrorV = device_->ReadMirrorV();
  now.mirrorH = device_->ReadMirrorH();
  int savedBayerMode = 0;
  settings_.Update([&](settings::CameraSettings& s) {
    s.analog = now;
    savedBayerMode = s.filters[settings::kFilterBayerMode];
  });

  bool ok = false;
  CAnalogDialog dialog(*this);
  const bool shown = dialog.Run(parent, &ok);
  settings_.analogDialog = nullptr;
  if (!ok) {
    PushAnalogSettings(now);
    settings_.Update([&](settings::CameraSettings& s) {
      s.analog = now;
      s.filters[settings::kFilterBayerMode] = savedBayerMode;
    });
  }
  CloseDialog(&analogDialogOpen_);
  if (!shown) return PushError(ERR_WINDOW), 0;
  return 1;
}

int CQelvan::SetImageDlg(HWND parent) {
  if (!RequireDevice()) return 0;
  if (!OpenDialog(&imageDialogOpen_)) return PushError(ERR_NOT_READY), 0;
  const settings::FilterBlock saved = settings_.Get().filters;
  bool ok = false;
  CImageDialog dialog(*this);
  const bool shown = dialog.Run(parent, &ok);
  settings_.imageDialog = nullptr;
  if (!ok) settings_.Update([&](settings::CameraSettings& s) { s.filters = saved; });
  CloseDialog(&imageDialogOpen_);
  if (!shown) return PushError(ERR_WINDOW), 0;
  return 1;
}
