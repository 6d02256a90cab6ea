// Acquisition modes: preview, capture, trigger, snapshots and frame delivery.
#include "camera/camera.h"

#include "device/qelvan_device.h"

int CQelvan::Preview() {
  SetFrameDelivery(nullptr, nullptr, 0, 0);
  return StartPreview();
}

int CQelvan::CallBackPreview(HWND window, void* buffer, int size, int topDown) {
  SetFrameDelivery(window, buffer, size, topDown);
  return StartPreview();
}

void CQelvan::SetFrameDelivery(HWND window, void* buffer, int size, int topDown) {
  frameWindow = window;
  frameBuffer = buffer;
  frameBufferSize = size;
  frameTopDown = topDown;
}

int CQelvan::StartPreview() { return DeviceLayerPending(); }
int CQelvan::StopPreview() { return DeviceLayerPending(); }
int CQelvan::Capture() { return DeviceLayerPending(); }
int CQelvan::SnapShot(void*, int, int) { return DeviceLayerPending(); }
int CQelvan::Trigger(HWND, void*, int, int) { return DeviceLayerPending(); }
int CQelvan::GetImage(void*, int, int) { return DeviceLayerPending(); }

// Interim until the acquisition workers exist: nothing runs, so there is nothing to stop.
int CQelvan::StopAcquisition() {
  if (!RequireDevice()) return 0;
  return 1;
}
