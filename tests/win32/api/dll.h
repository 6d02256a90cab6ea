// Loads the built DLL once per test program and resolves its exports by name.
#pragma once

#include <windows.h>

#include <cstdint>

#include "QelvanSdk.h"

inline HMODULE QelvanDll() {
  static HMODULE module = LoadLibraryA("QelvanSdk_Z51QK2_RVN.dll");
  return module;
}

// Resolves an export as the given function type (null when it is missing).
template <class F>
F QelvanProc(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(QelvanDll(), name)));
}

// Qelvan_Initialize for an instance without a camera: an event that takes the shared region's
// name makes the open step fail with ERR_MEMORY, as a machine without memory for the region
// would. The event lives only for the call.
inline QelvanHandle InitializeWithoutDevice(HWND notifyWindow) {
  HANDLE clash = CreateEventA(nullptr, TRUE, FALSE, "DOVIRA_USBCAMERA");
  if (!clash) return 0;  // a live region holds the name: no clash possible now
  const QelvanHandle handle = QelvanProc<QelvanHandle(__cdecl*)(HWND)>("Qelvan_Initialize")(notifyWindow);
  CloseHandle(clash);
  return handle;
}

// A hidden top-level window owned by the test thread, for receiving posted messages.
class TestWindow {
 public:
  TestWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QelvanTestWindow";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowExA(0, wc.lpszClassName, "test", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                            wc.hInstance, nullptr);
  }
  ~TestWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
  }
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

// Removes every WM_CAMERA_ERROR waiting for hwnd (or the thread, when hwnd is
// INVALID_HANDLE_VALUE cast: thread messages only) and returns their lParams in order.
inline int DrainCameraErrors(HWND hwnd, LPARAM* codes, int capacity) {
  int n = 0;
  MSG msg;
  while (PeekMessageA(&msg, hwnd, WM_CAMERA_ERROR, WM_CAMERA_ERROR, PM_REMOVE)) {
    if (n < capacity) codes[n] = msg.lParam;
    ++n;
  }
  return n;
}
