// Fixture for the acquisition tests: a fresh virtual camera and registry, one camera instance
// with known settings, a window for the library's messages, and counters for threads, driver
// handles and the shared device-use table.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "QelvanSdk.h"
#include "api/dll.h"
#include "vcamctl.h"

struct CameraMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

class Acquisition : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vcamctl_reset(), 0u) << "the virtual camera driver does not answer";
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dovira\\QelvanZ51QK2RVNSdk");
    threadsBefore_ = ThreadCount();
    h_ = Open(window_.hwnd());
    ASSERT_NE(h_, 0);
  }
  void TearDown() override {
    for (QelvanHandle h : opened_) Qelvan_Release(h);
  }

  // A camera instance with the settings every test assumes: 8-bit, clock 0 (56 fps), no wait,
  // neutral filters, no preview window.
  QelvanHandle Open(HWND notify) {
    const QelvanHandle h = Qelvan_Initialize(notify);
    if (!h) return 0;
    opened_.push_back(h);
    Qelvan_SetColorMode(h, 8);
    Qelvan_SetHalfClock(h, 0);
    Qelvan_SetWaitTime(h, 0);
    Qelvan_SetSubSample(h, 0);
    Qelvan_SetAutoIris(h, 0);
    Qelvan_SetGlobalGain(h, 16);
    Qelvan_SetExposureTime(h, 480);
    Qelvan_SetBrightness(h, 0);
    Qelvan_SetContrast(h, 0);
    Qelvan_SetHue(h, 0);
    Qelvan_SetSaturation(h, 0);
    Qelvan_SetSharpness(h, 0);
    Qelvan_SetGamma(h, 100);
    Qelvan_SetGrayMode(h, 0);
    Qelvan_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);
    while (Qelvan_GetLastError(h) != 0) {
    }
    return h;
  }

  // Every recorded error, newest first, emptying the history.
  std::vector<int> Errors(QelvanHandle h = 0) {
    std::vector<int> out;
    for (int e; (e = Qelvan_GetLastError(h ? h : h_)) != 0;) out.push_back(e);
    return out;
  }

  // Pumps the thread's queue until pred accepts a camera message (frame or error) for the test
  // window, or timeoutMs passes. Every camera message seen is appended to seen_.
  bool WaitMessage(const std::function<bool(const CameraMessage&)>& pred, DWORD timeoutMs = 20000) {
    const DWORD start = GetTickCount();
    for (;;) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_CAMERA_FRAME || msg.message == WM_CAMERA_ERROR) {
          seen_.push_back({msg.message, msg.wParam, msg.lParam});
          if (pred(seen_.back())) return true;
        } else {
          DispatchMessageA(&msg);
        }
      }
      if (GetTickCount() - start > timeoutMs) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
  }
  bool WaitFrames(int count, DWORD timeoutMs = 20000) {
    int n = 0;
    return WaitMessage([&](const CameraMessage& m) { return m.message == WM_CAMERA_FRAME && m.wParam && ++n >= count; },
                       timeoutMs);
  }
  bool WaitFrameError(LPARAM code, DWORD timeoutMs = 20000) {
    return WaitMessage([&](const CameraMessage& m) { return m.message == WM_CAMERA_FRAME && m.lParam == code; },
                       timeoutMs);
  }
  // Lets posted messages arrive for a moment and keeps them in seen_.
  void Pump(DWORD ms) {
    WaitMessage([](const CameraMessage&) { return false; }, ms);
  }
  int Count(UINT message, LPARAM lParam) const {
    int n = 0;
    for (const CameraMessage& m : seen_) n += m.message == message && m.lParam == lParam;
    return n;
  }

  static int ThreadCount() {
    const DWORD pid = GetCurrentProcessId();
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te = {};
    te.dwSize = sizeof te;
    int n = 0;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) n += te.th32OwnerProcessID == pid;
    CloseHandle(snap);
    return n;
  }
  static bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs = 20000) {
    const DWORD start = GetTickCount();
    while (!cond()) {
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(5);
    }
    return true;
  }
  bool ThreadsBackToStart() {
    return WaitUntil([&] { return ThreadCount() <= threadsBefore_; });
  }
  static uint32_t CameraHandles() {
    vcam_driver_info info = {};
    vcamctl_driver_info(&info);
    return info.camera_handles;
  }
  static bool HandlesSettleAt(uint32_t n) {
    return WaitUntil([&] { return CameraHandles() == n; }, 5000);
  }
  static vcam_camera_info Camera(int cam = 0) {
    vcam_camera_info info = {};
    vcamctl_camera_info(cam, &info);
    return info;
  }
  // Owner of a camera's record in the machine-wide device-use table (0: free).
  static uint32_t SharedOwner(int number) {
    HANDLE map = OpenFileMappingA(FILE_MAP_READ, FALSE, "DOVIRA_USBCAMERA");
    if (!map) return 0;
    const uint8_t* view = static_cast<const uint8_t*>(MapViewOfFile(map, FILE_MAP_READ, 0, 0, 0));
    uint32_t owner = 0;
    if (view) {
      std::memcpy(&owner, view + 1792000 + 140 * number, 4);
      UnmapViewOfFile(view);
    }
    CloseHandle(map);
    return owner;
  }

  // One whole frame straight from the driver, for comparison with the library's output.
  static std::vector<uint8_t> RawFrame(int x, int y, int w, int h) {
    std::vector<uint8_t> frame;
    HANDLE dev = vcamraw_open(0);
    if (dev == INVALID_HANDLE_VALUE) return frame;
    int ow = 0, oh = 0;
    if (vcamraw_set_window(dev, x, y, w, h, 0, &ow, &oh) == 0) {
      const DWORD bytes = static_cast<DWORD>((ow * oh + 1023) / 1024 * 1024);
      std::vector<uint8_t> all(bytes);
      DWORD moved = 0;
      if (vcamraw_read_frame(dev, all.data(), bytes, &moved) == 0 && moved == bytes)
        frame.assign(all.begin(), all.begin() + ow * oh);
    }
    CloseHandle(dev);
    return frame;
  }

  TestWindow window_;
  QelvanHandle h_ = 0;
  std::vector<QelvanHandle> opened_;
  std::vector<CameraMessage> seen_;
  int threadsBefore_ = 0;
};
