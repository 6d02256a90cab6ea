#include "camera/camera.h"

#include "device/qelvan_device.h"

#include <mmsystem.h>

#include <climits>
#include <cstring>

bool NarrowFileName(const wchar_t* name, char (&buffer)[1024]) {
  std::memset(buffer, 0, sizeof buffer);
  const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, name, -1, buffer, sizeof buffer, nullptr, nullptr);
  if (n <= 0 || n >= static_cast<int>(sizeof buffer)) return false;
  buffer[n] = '\0';
  return true;
}

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
  // The owner word of the device-use table: the top bit keeps it apart from window handles
  // that other programs store there, the process id and a sequence make it unique.
  static std::atomic<uint32_t> sequence{0};
  ownerWord = 0x80000000u | ((GetCurrentProcessId() >> 2) & 0x7FFFFu) << 12 | (sequence.fetch_add(1) & 0xFFFu);
}

CQelvan::~CQelvan() {
  if (device) {
    SaveGain(cameraNumber);
    SaveFilter(cameraNumber);
    SaveGray(cameraNumber);
  }
  CloseInstance();
  // Every claim this instance may still hold, so that none outlives it.
  if (device)
    for (int n = 0; n < DEVICE_SLOTS; ++n) ReleaseDevice(n);
  FreeDeviceObjects();
  DeleteCriticalSection(&frameLock);
  DeleteCriticalSection(&configLock);
  DeleteCriticalSection(&errorLock_);
  configList.clear();
  if (sharedView) UnmapViewOfFile(sharedView);
  sharedView = nullptr;
  if (sharedMapping) CloseHandle(sharedMapping);
  sharedMapping = nullptr;
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


int CQelvan::NotAvailable() {
  PostError(ERR_NOT_SUPPORTED);
  return 0;
}

int CQelvan::GetConfigFilter() {
  PushError(ERR_NOT_SUPPORTED);
  return -1;
}
