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
