#include "camera/camera.h"

#include "device/qelvan_device.h"

#include <mmsystem.h>

#include <climits>
#include <cstring>

namespace {

constexpr char kSharedRegionName[] = "DOVIRA_USBCAMERA";
constexpr DWORD kSharedRegionSize = 0x460000;
constexpr DWORD kSharedRegionZeroed = 32768;

// Converts a wide file name as the narrow operations expect it; false when the name does
// not fit or cannot be converted.
bool NarrowFileName(const wchar_t* name, char (&buffer)[1024]) {
  std::memset(buffer, 0, sizeof buffer);
  const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, name, -1, buffer, sizeof buffer, nullptr, nullptr);
  if (n <= 0 || n >= static_cast<int>(sizeof buffer)) return false;
  buffer[n] = '\0';
  return true;
}

}  // namespace

double MillisecondsPerClock(int clock) {
  switch (clock) {
    case 1: return static_cast<double>(1.0f / 12000.0f);
    case 2: return static_cast<double>(1.0f / 48000.0f);
    case 3: return static_cast<double>(1.0f / 40000.0f);
    case 4: return static_cast<double>(1.0f / 20000.0f);
    case 5: return static_cast<double>(1.0f / 10000.0f);
    default: return static_cast<double>(1.0f / 24000.0f);
  }
}

namespace {

// Clocks per line in double precision: a refused capture width stays stored and may be huge.
double LineClocksExact(int captureWidth) { return captureWidth >= 570 ? captureWidth + 64.0 : 660.0; }

// Truncates toward zero, saturating where the value does not fit an int.
int TruncateToInt(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return INT_MAX;
  if (value <= -2147483648.0) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

int LineClocks(int captureWidth) { return TruncateToInt(LineClocksExact(captureWidth)); }

int ExposureMicroseconds(int lines, int captureWidth, int clock) {
  const double ms = static_cast<double>(lines) * LineClocksExact(captureWidth) * MillisecondsPerClock(clock);
  return TruncateToInt(ms * 1000.0);
}

int ExposureLinesFor(int microseconds, int captureWidth, int clock) {
  return TruncateToInt((microseconds / 1000.0) / (LineClocksExact(captureWidth) * MillisecondsPerClock(clock)));
}

CQelvan::CQelvan() {
  InitializeCriticalSection(&frameLock);
  InitializeCriticalSection(&configLock);
  InitializeCriticalSection(&errorLock_);
  rateTime = timeGetTime();
}

CQelvan::~CQelvan() {
  // Settings are saved and the device-use claim released once the device layer exists.
  CloseInstance();
  delete device;
  device = nullptr;
  CDibImage** images[] = {&image8, &image16, &image24, &image32, &image48, &image64, &scratchImage, &displayImage};
  for (CDibImage** image : images) *image = nullptr;
  DeleteCriticalSection(&frameLock);
  DeleteCriticalSection(&configLock);
  DeleteCriticalSection(&errorLock_);
  if (sharedView) UnmapViewOfFile(sharedView);
  if (sharedMapping) CloseHandle(sharedMapping);
}

int CQelvan::PushError(int code) {
  EnterCriticalSection(&errorLock_);
  std::memmove(errorHistory + 1, errorHistory, (kErrorHistorySize - 1) * sizeof errorHistory[0]);
  errorHistory[0] = code;
  LeaveCriticalSection(&errorLock_);
  if (notificationWindow) PostMessageA(notificationWindow, WM_CAMERA_ERROR, 0, code);
  return 1;
}

int CQelvan::PopError() {
  EnterCriticalSection(&errorLock_);
  const int code = errorHistory[0];
  std::memmove(errorHistory, errorHistory + 1, (kErrorHistorySize - 1) * sizeof errorHistory[0]);
  errorHistory[kErrorHistorySize - 1] = 0;
  LeaveCriticalSection(&errorLock_);
  return code;
}

void CQelvan::PostError(int code) { PostMessageA(notificationWindow, WM_CAMERA_ERROR, 0, code); }

bool CQelvan::RequireDevice() {
  if (device) return true;
  PushError(ERR_NOT_READY);
  return false;
}

int CQelvan::DeviceLayerPending() {
  RequireDevice();
  return 0;
}

bool CQelvan::RequireDevicePostOnly() {
  if (device) return true;
  PostError(ERR_NOT_READY);
  return false;
}

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

int CQelvan::SetFilterValue(int, int) { return DeviceLayerPending(); }

int CQelvan::GetFilterValue(int, int* ok) {
  if (ok) *ok = 0;
  return DeviceLayerPending();
}

int CQelvan::SetColorMode(int bits) {
  switch (bits) {
    case 8: colorType = 0; return 1;
    case 16: colorType = 1; return 1;
    case 24: colorType = 2; return 1;
    case 32: colorType = 3; return 1;
    case 48: colorType = 4; return 1;
    case 64: colorType = 5; return 1;
    default: PushError(ERR_ARGUMENT); return 0;
  }
}

int CQelvan::GetColorMode() const {
  static const int kReported[] = {8, 10, 24, 32, 42, 58};
  return colorType >= 0 && colorType <= 5 ? kReported[colorType] : -1;
}

int CQelvan::SetSubSample(int value) {
  if (value < 0 || value > 2) return 0;
  subSample = value;
  return 1;
}

int CQelvan::SetMirrorH(int) { return DeviceLayerPending(); }
int CQelvan::GetMirrorH() { return RequireDevice() ? mirrorH : 0; }
int CQelvan::SetMirrorV(int) { return RequireDevicePostOnly(), 0; }
int CQelvan::GetMirrorV() { return RequireDevicePostOnly() ? mirrorV : 0; }

int CQelvan::SetHalfClock(int value) {
  clock = value;
  return 1;
}

int CQelvan::GetHalfClock(int* ok) {
  if (ok) *ok = 0;
  return RequireDevicePostOnly(), 0;
}

int CQelvan::SetWaitTime(int ms) {
  if (ms < 0) return 0;
  waitTime = ms;
  return 1;
}

int CQelvan::SetAutoIris(int value) {
  if (value < 0 || value > 2) {
    PostError(ERR_ARGUMENT);
    return 0;
  }
  autoIris = value;
  return 1;
}

int CQelvan::GetAutoIris(int* ok) {
  if (ok) *ok = 1;
  return autoIris;
}

int CQelvan::GetRealExposureTime(int* ok) {
  if (!RequireDevice()) {
    if (ok) *ok = 0;
    return 0;
  }
  msPerClock = MillisecondsPerClock(clock);
  lineClocks = LineClocks(width);
  exposureLinesComputed = exposureLines;
  if (ok) *ok = 1;
  realExposure = ExposureMicroseconds(exposureLines, width, clock);
  return realExposure;
}

int CQelvan::SetRealExposureTime(int microseconds) {
  if (!RequireDevice()) return 0;
  msPerClock = MillisecondsPerClock(clock);
  lineClocks = LineClocks(width);
  const int lines = ExposureLinesFor(microseconds, width, clock);
  exposureLinesComputed = lines;
  if (lines < 1 || lines > kMaxExposureLines) {
    PushError(ERR_ARGUMENT);
    return 0;
  }
  exposureLines = lines;
  return 0;
}

int CQelvan::ReadRegister(int reg, int* ok) { return ReadRegisterEx(reg & 0xFF, ok); }

int CQelvan::ReadRegisterEx(int, int* ok) {
  if (ok) *ok = 0;
  return DeviceLayerPending();
}

int CQelvan::WriteRegister(int, int) { return DeviceLayerPending(); }

int CQelvan::ReadSromID(int, int* ok) {
  if (ok) *ok = 0;
  return RequireDevicePostOnly(), 0;
}

int CQelvan::WriteSromID(int, int) { return RequireDevicePostOnly(), 0; }

int CQelvan::GetIOPort(unsigned char* value) {
  if (!RequireDevicePostOnly()) return 0;
  if (!value) {
    PostError(ERR_ARGUMENT);
    return 0;
  }
  return 0;
}

int CQelvan::SetIOPort(int) { return RequireDevicePostOnly(), 0; }

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

int CQelvan::SetCameraDlg(HWND) { return DeviceLayerPending(); }
int CQelvan::SetAnalogDlg(HWND) { return DeviceLayerPending(); }
int CQelvan::SetImageDlg(HWND) { return DeviceLayerPending(); }

int CQelvan::NotAvailable() {
  PostError(ERR_NOT_SUPPORTED);
  return 0;
}

int CQelvan::GetConfigFilter() {
  PushError(ERR_NOT_SUPPORTED);
  return -1;
}
