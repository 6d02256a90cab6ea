// Fixture for the camera instance tests: a reset virtual camera, no settings in the registry,
// nobody holding the shared region, and typed calls into the DLL.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "api/dll.h"
#include "device/vcam_fixture.h"

constexpr char kBasePath[] = "Software\\Dovira\\QelvanZ51QK2RVNSdk";

// Calls an export by name with the given signature.
template <class R, class... A>
R Qelvan(const char* name, A... args) {
  auto fn = QelvanProc<R(__cdecl*)(A...)>(name);
  EXPECT_NE(nullptr, fn) << name;
  return fn ? fn(args...) : R();
}

// Registry access written apart from the library's own store.
inline std::string CameraPath(int camera, const char* sub = nullptr) {
  char path[160];
  std::snprintf(path, sizeof path, "%s\\Camera_%02d%s%s", kBasePath, camera, sub ? "\\" : "", sub ? sub : "");
  return path;
}
inline bool KeyExists(const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}
// The DWORD, or `missing` when the value does not exist.
inline int64_t Dword(const std::string& path, const char* name, int64_t missing = -999999) {
  DWORD v = 0, size = sizeof v, type = 0;
  if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY, &type, &v, &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != 4)
    return missing;
  return static_cast<int32_t>(v);
}
inline void SetDword(const std::string& path, const char* name, int32_t value) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4));
  RegCloseKey(key);
}
inline void SetBinary(const std::string& path, const char* name, const void* data, DWORD size) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size));
  RegCloseKey(key);
}
inline void DeleteValue(const std::string& path, const char* name) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key));
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}
// Writes a capture-size preset under Camera_NN\Size_NN.
inline void SetPreset(int camera, int n, int th, int tv, int eh, int ev, int ehs, int evs, int buf) {
  char sub[16];
  std::snprintf(sub, sizeof sub, "Size_%02d", n);
  const std::string path = CameraPath(camera, sub);
  const char* names[] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};
  const int values[] = {th, tv, eh, ev, ehs, evs, buf};
  for (int i = 0; i < 7; ++i) SetDword(path, names[i], values[i]);
}

class CameraTest : public VirtualCamera {
 protected:
  void SetUp() override {
    VirtualCamera::SetUp();
    ASSERT_NE(nullptr, QelvanDll());
    const LSTATUS st = RegDeleteTreeA(HKEY_CURRENT_USER, kBasePath);
    ASSERT_TRUE(st == ERROR_SUCCESS || st == ERROR_FILE_NOT_FOUND) << st;
    HANDLE region = OpenFileMappingA(FILE_MAP_READ, FALSE, "DOVIRA_USBCAMERA");
    ASSERT_EQ(nullptr, region) << "something still holds the shared region";
    ASSERT_NE(nullptr, window.hwnd());
  }
  void TearDown() override {
    for (QelvanHandle h : handles)
      if (h) Qelvan<int>("Qelvan_Release", h);
  }

  // Initialize, remembered for release at the end of the test.
  QelvanHandle Open(HWND notify = nullptr) {
    const QelvanHandle h = Qelvan<QelvanHandle>("Qelvan_Initialize", notify ? notify : window.hwnd());
    EXPECT_NE(0, h);
    handles.push_back(h);
    return h;
  }
  int Release(QelvanHandle h) {
    for (QelvanHandle& k : handles)
      if (k == h) k = 0;
    return Qelvan<int>("Qelvan_Release", h);
  }
  static int LastError(QelvanHandle h) { return Qelvan<int>("Qelvan_GetLastError", h); }
  // Every code in the history, newest first; empties it.
  static std::vector<int> Errors(QelvanHandle h) {
    std::vector<int> codes;
    for (int c; (c = LastError(h)) != 0;) codes.push_back(c);
    return codes;
  }
  static void Window(QelvanHandle h, int* g) {
    Qelvan<int>("Qelvan_GetCaptureWindowEx", h, &g[0], &g[1], &g[2], &g[3], &g[4], &g[5]);
  }

  TestWindow window;
  std::vector<QelvanHandle> handles;
};
