// Still images and recording.
#include "camera/camera.h"

#include "device/qelvan_device.h"

int CQelvan::SaveImage(const char*, int) { return DeviceLayerPending(); }
int CQelvan::SaveImageW(const wchar_t*, int) { return DeviceLayerPending(); }

int CQelvan::Record(const char* name, int, int) {
  if (!name || !name[0]) return PushError(ERR_ARGUMENT), 0;
  SetFrameDelivery(nullptr, nullptr, 0, 0);
  if (!StartPreview()) return PushError(ERR_FILE), 0;
  return 0;
}

int CQelvan::RecordW(const wchar_t* name, int durationMs, int showWindow) {
  char narrow[1024];
  if (!name || !NarrowFileName(name, narrow)) return PushError(ERR_FILE), 0;
  return Record(narrow, durationMs, showWindow);
}
