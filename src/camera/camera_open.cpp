// Opening, device selection and closing.
#include "camera/camera.h"

#include "device/qelvan_device.h"

#include <cstring>

namespace {

constexpr char kSharedRegionName[] = "DOVIRA_USBCAMERA";
constexpr DWORD kSharedRegionSize = 0x460000;
constexpr DWORD kSharedRegionZeroed = 32768;

}  // namespace

int CQelvan::Open(HWND notifyWindow) {
  sharedMapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSharedRegionName);
  if (sharedMapping) sharedView = static_cast<uint8_t*>(MapViewOfFile(sharedMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!sharedView) {
    if (sharedMapping) CloseHandle(sharedMapping);
    sharedMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSharedRegionSize,
                                       kSharedRegionName);
    const bool created = sharedMapping && GetLastError() != ERROR_ALREADY_EXISTS;
    if (sharedMapping) sharedView = static_cast<uint8_t*>(MapViewOfFile(sharedMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (sharedView && created) std::memset(sharedView, 0, kSharedRegionZeroed);
  }
  if (!sharedView) {
    PushError(ERR_MEMORY);
    return 0;
  }
  notificationWindow = notifyWindow;
  // The device object and images join here once the device layer provides them.
  return 1;
}

void CQelvan::CloseInstance() {
  if (previewDC) ReleaseDC(previewWindow, previewDC);
  previewDC = nullptr;
  if (previewWindow) DestroyWindow(previewWindow);
  previewWindow = nullptr;
  if (windowClassName[0]) UnregisterClassA(windowClassName, GetModuleHandleA(nullptr));
  windowClassName[0] = '\0';
  frameAvailable = 0;
}

int CQelvan::Close() {
  CloseInstance();
  return 1;
}

// Device selection, acquisition, geometry, registers and files all need the device object;
// without one they report ERR_NOT_READY the way each operation does.
int CQelvan::EnumDevice(char[10][256]) { return DeviceLayerPending(); }
int CQelvan::EnumDeviceW(wchar_t[10][256]) { return DeviceLayerPending(); }
int CQelvan::GetDeviceName(int, char*, int) { return DeviceLayerPending(); }
int CQelvan::GetDeviceNameW(int, wchar_t*, int) { return DeviceLayerPending(); }
int CQelvan::SetDeviceNumber(int) { return DeviceLayerPending(); }
