// Preview window and capture geometry.
#include "camera/camera.h"

#include "device/qelvan_device.h"

int CQelvan::SetPreviewWindow(HWND parent, int x, int y, int w, int h) {
  if (!RequireDevice()) return 0;
  previewParent = parent;
  previewX = x;
  previewY = y;
  previewW = w;
  previewH = h;
  return 1;
}

int CQelvan::SetCaptureWindow(int, int) { return DeviceLayerPending(); }

int CQelvan::SetCaptureWindowEx(int th, int ehs, int eh, int tv, int evs, int ev) {
  if (!RequireDevice()) return 0;
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
  return 0;
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
  return 0;
}
