// Preview window and capture geometry.
#include "camera/camera.h"

#include "device/qelvan_device.h"
#include "settings/registry_store.h"

int CQelvan::SetPreviewWindow(HWND parent, int x, int y, int w, int h) {
  if (!RequireDevice()) return 0;
  previewParent = parent;
  previewX = x;
  previewY = y;
  previewW = w;
  previewH = h;
  return 1;
}

void CQelvan::ApplyWindowWhenIdle() {
  // A running mode keeps the window it was prepared with: its images are sized for it. The
  // stored window reaches the device at the next start.
  ModeGuard guard(modeLock_);
  if (mode.load() == MODE_IDLE && !initPending) device->SetCaptureWindow(startX, startY, width, height, subSample);
}

int CQelvan::SetCaptureWindow(int w, int h) {
  if (!RequireDevice()) return 0;
  return ApplyPreset(w, h);
}

int CQelvan::ApplyPreset(int w, int h) {
  // A start or snapshot on another thread reads the whole window at once, never half a change.
  ModeGuard guard(modeLock_);
  settings::SizePreset p;
  if (settings::FindPreset(cameraNumber, w, h, &p) != settings::PresetLookup::kFound) {
    PushError(ERR_WINDOW);
    return 0;
  }
  SetGeometry(p);
  if (!WindowIsValid()) {
    PushError(ERR_GEOMETRY);
    totalWidth = width = kSensorWidth;
    totalHeight = height = kSensorHeight;
    startX = startY = 0;
  }
  ApplyWindowWhenIdle();
  return 1;
}

int CQelvan::SetCaptureWindowEx(int th, int ehs, int eh, int tv, int evs, int ev) {
  if (!RequireDevice()) return 0;
  ModeGuard guard(modeLock_);
  totalWidth = th;
  startX = ehs;
  width = eh;
  totalHeight = tv;
  startY = evs;
  height = ev;
  if (!WindowIsValid()) {
    PushError(ERR_GEOMETRY);
    return 0;
  }
  ApplyWindowWhenIdle();
  return 1;
}

int CQelvan::GetCaptureWindowEx(int* th, int* ehs, int* eh, int* tv, int* evs, int* ev) {
  if (th) *th = totalWidth;
  if (ehs) *ehs = startX;
  if (eh) *eh = width;
  if (tv) *tv = totalHeight;
  if (evs) *evs = startY;
  if (ev) *ev = height;
  return 1;
}

bool CQelvan::WindowIsValid() const {
  if (width < 0 || height < 0 || startX < 0 || startY < 0) return false;
  if (width > kSensorWidth || startX > kSensorWidth || height > kSensorHeight || startY > kSensorHeight) return false;
  if (startX + width > kSensorWidth || startY + height > kSensorHeight) return false;
  return subSample != 3 && subSample != 17 && subSample != 18 && subSample != 19;
}

int CQelvan::GetCameraInfo(QelvanCameraInfo* info) {
  if (!RequireDevice()) return 0;
  if (!info) return PushError(ERR_ARGUMENT), 0;
  if (info->size <= 35) return PushError(ERR_MEMORY), 0;
  info->width = kSensorWidth;
  info->height = kSensorHeight;
  info->globalGainMin = GLOBAL_GAIN_MIN;
  info->globalGainMax = 63;
  int colorGain = 0;
  device->QueryColorGain(45, &colorGain);
  info->colorGainMin = colorGain;
  info->colorGainMax = 63;
  info->exposureMin = 1;
  info->exposureMax = EXPOSURE_LINES_MAX;
  return 1;
}
