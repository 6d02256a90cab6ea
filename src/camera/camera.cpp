// The camera instance: lifetime, errors, and the acquisition and geometry exports.
#include "camera/camera.h"

#include <cstring>

#include "camera/acquisition.h"
#include "camera/sensor_timing.h"
#include "device/qelvan_device.h"
#include "settings/registry_store.h"

bool NarrowFileName(const wchar_t* name, char (&buffer)[1024]) {
  std::memset(buffer, 0, sizeof buffer);
  const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, name, -1, buffer, sizeof buffer, nullptr, nullptr);
  if (n <= 0 || n >= static_cast<int>(sizeof buffer)) return false;
  buffer[n] = '\0';
  return true;
}

CQelvan::CQelvan() = default;

CQelvan::~CQelvan() {
  if (device_) SaveAll(cameraNumber_);
  acquisition_.reset();
  device_.reset();
}

int CQelvan::PushError(int code) {
  errors_.Push(code);
  return 1;
}

int CQelvan::PopError() { return errors_.Pop(); }

void CQelvan::PostError(int code) { errors_.Post(code); }

bool CQelvan::RequireDevice() {
  if (device_) return true;
  PushError(ERR_NOT_READY);
  return false;
}

bool CQelvan::RequireDevicePostOnly() {
  if (device_) return true;
  PostError(ERR_NOT_READY);
  return false;
}

int CQelvan::NotAvailable() {
  PostError(ERR_NOT_SUPPORTED);
  return 0;
}

int CQelvan::GetConfigFilter() {
  PushError(ERR_NOT_SUPPORTED);
  return -1;
}

void CQelvan::Retire() {
  if (acquisition_) acquisition_->Retire();
  // Open dialogs end as if cancelled, so their calls leave and Release need not wait for the
  // user; acquisition does not come back after them.
  for (HWND dialog : {settings_.imageDialog.load(), settings_.analogDialog.load(), cameraDialogWindow_.load()})
    if (dialog) PostMessageA(GetAncestor(dialog, GA_ROOT), WM_COMMAND, IDCANCEL, 0);
}

int CQelvan::Close() {
  if (acquisition_) acquisition_->Close();
  return 1;
}

// ---- Acquisition ---------------------------------------------------------------------------

int CQelvan::StartPreview() { return RequireDevice() ? acquisition_->StartPreview() : 0; }

int CQelvan::StopPreview() { return RequireDevice() ? acquisition_->Stop() : 0; }

int CQelvan::Preview() { return CallBackPreview(nullptr, nullptr, 0, 0); }

int CQelvan::CallBackPreview(HWND window, void* buffer, int size, int topDown) {
  if (!device_) {
    PushError(ERR_NOT_READY);
    PushError(ERR_TRANSFER);
    return 0;
  }
  return acquisition_->Preview(window, buffer, size, topDown);
}

int CQelvan::Capture() { return RequireDevice() ? acquisition_->Capture() : 0; }

int CQelvan::SnapShot(void* buffer, int size, int topDown) {
  return RequireDevice() ? acquisition_->SnapShot(buffer, size, topDown) : 0;
}

int CQelvan::Trigger(HWND window, void* buffer, int size, int topDown) {
  return RequireDevice() ? acquisition_->Trigger(window, buffer, size, topDown) : 0;
}

int CQelvan::GetImage(void* buffer, int size, int topDown) {
  return RequireDevice() ? acquisition_->GetImage(buffer, size, topDown) : 0;
}

// ---- Window and geometry -------------------------------------------------------------------

int CQelvan::SetPreviewWindow(HWND parent, int x, int y, int w, int h) {
  if (!RequireDevice()) return 0;
  acquisition_->SetPlacement(parent, x, y, w, h);
  return 1;
}

void CQelvan::ApplyWindowWhenIdle() {
  // A running mode keeps the window it was prepared with: its images are sized for it. The
  // stored window reaches the device at the next start.
  acquisition_->Locked([this](bool idle) {
    if (!idle || acquisition_->InitPending()) return;
    const settings::CameraSettings s = settings_.Get();
    device_->SetCaptureWindow(s.geometry.startX, s.geometry.startY, s.geometry.width, s.geometry.height,
                              s.stream.subSample);
  });
}

int CQelvan::SetCaptureWindow(int w, int h) {
  if (!RequireDevice()) return 0;
  return ApplyPreset(w, h);
}

int CQelvan::ApplyPreset(int w, int h) {
  settings::SizePreset p;
  if (settings::FindPreset(cameraNumber_, w, h, &p) != settings::PresetLookup::kFound) {
    PushError(ERR_WINDOW);
    return 0;
  }
  const bool valid = settings_.Update([&](settings::CameraSettings& s) {
    s.geometry = p;
    if (CaptureWindowValid(s.geometry, s.stream.subSample)) return true;
    s.geometry.totalWidth = s.geometry.width = QLV_SENSOR_WIDTH;
    s.geometry.totalHeight = s.geometry.height = QLV_SENSOR_HEIGHT;
    s.geometry.startX = s.geometry.startY = 0;
    return false;
  });
  if (!valid) PushError(ERR_GEOMETRY);
  ApplyWindowWhenIdle();
  return 1;
}

int CQelvan::SetCaptureWindowEx(int th, int ehs, int eh, int tv, int evs, int ev) {
  if (!RequireDevice()) return 0;
  // The rejected values stay stored, so that the next start fails too.
  const bool valid = settings_.Update([&](settings::CameraSettings& s) {
    s.geometry.totalWidth = th;
    s.geometry.startX = ehs;
    s.geometry.width = eh;
    s.geometry.totalHeight = tv;
    s.geometry.startY = evs;
    s.geometry.height = ev;
    return CaptureWindowValid(s.geometry, s.stream.subSample);
  });
  if (!valid) {
    PushError(ERR_GEOMETRY);
    return 0;
  }
  ApplyWindowWhenIdle();
  return 1;
}

int CQelvan::GetCaptureWindowEx(int* th, int* ehs, int* eh, int* tv, int* evs, int* ev) {
  const settings::SizePreset g = settings_.Get().geometry;
  if (th) *th = g.totalWidth;
  if (ehs) *ehs = g.startX;
  if (eh) *eh = g.width;
  if (tv) *tv = g.totalHeight;
  if (evs) *evs = g.startY;
  if (ev) *ev = g.height;
  return 1;
}

int CQelvan::Width() const { return settings_.Get().geometry.width; }
int CQelvan::Height() const { return settings_.Get().geometry.height; }

int CQelvan::GetCameraInfo(QelvanCameraInfo* info) {
  if (!RequireDevice()) return 0;
  if (!info) return PushError(ERR_ARGUMENT), 0;
  if (info->size <= 35) return PushError(ERR_MEMORY), 0;
  info->width = QLV_SENSOR_WIDTH;
  info->height = QLV_SENSOR_HEIGHT;
  info->globalGainMin = GLOBAL_GAIN_MIN;
  info->globalGainMax = settings::kGlobalGainMax;
  int colorGain = 0;
  device_->QueryColorGain(QLV_REG_GAIN_RED, &colorGain);
  info->colorGainMin = colorGain;
  info->colorGainMax = settings::kColorGainMax;
  info->exposureMin = settings::kExposureLinesMin;
  info->exposureMax = EXPOSURE_LINES_MAX;
  return 1;
}
