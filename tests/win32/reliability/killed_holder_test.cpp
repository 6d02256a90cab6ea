// A program killed while it held camera 0, at a moment when no other program had the library
// loaded: whatever the library keeps about claims beside the shared device-use table ends with
// that program, while the table lives on in another program that maps it. The dead claim must
// not keep the camera busy. This program uses the library only after the kill.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "QelvanSdk.h"
#include "api/dll.h"
#include "vcamctl.h"

namespace {

constexpr size_t kUseTableOffset = 1792000;

std::string BesideThisProgram(const char* name) {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string out(path);
  return out.substr(0, out.find_last_of("\\/") + 1) + name;
}

bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!cond()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(10);
  }
  return true;
}

uint32_t FramesDelivered() {
  vcam_camera_info info = {};
  vcamctl_camera_info(0, &info);
  return info.frames_delivered;
}

TEST(KilledHolder, ClaimIsFreeWhenOnlyTheSharedTableOutlivedIt) {
  ASSERT_EQ(vcamctl_reset(), 0u) << "the virtual camera driver does not answer";
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dovira\\QelvanZ51QK2RVNSdk");
  ASSERT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "DOVIRA_USBCAMERA"), nullptr)
      << "something still holds the shared region";
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "QelvanKilledHolderReady");
  HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, "QelvanKilledHolderQuit");
  ASSERT_TRUE(ready && quit);
  std::string command =
      "\"" + BesideThisProgram("reliability_holder.exe") + "\" QelvanKilledHolderReady QelvanKilledHolderQuit";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION holder = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &holder));
  HANDLE waits[2] = {ready, holder.hProcess};
  ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 60000), WAIT_OBJECT_0) << "the holder did not start previewing";

  // This program keeps the shared region alive by itself, not through the library.
  HANDLE region = OpenFileMappingA(FILE_MAP_READ, FALSE, "DOVIRA_USBCAMERA");
  ASSERT_NE(region, nullptr);
  const uint8_t* view = static_cast<const uint8_t*>(MapViewOfFile(region, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  uint32_t owner = 0;
  std::memcpy(&owner, view + kUseTableOffset, 4);
  EXPECT_NE(owner, 0u) << "the holder's claim is not in the table";

  ASSERT_TRUE(TerminateProcess(holder.hProcess, 77));
  ASSERT_EQ(WaitForSingleObject(holder.hProcess, 60000), WAIT_OBJECT_0);
  std::memcpy(&owner, view + kUseTableOffset, 4);
  EXPECT_NE(owner, 0u) << "the killed holder's record stays in the table";

  TestWindow window;
  const QelvanHandle h = Qelvan_Initialize(window.hwnd());
  ASSERT_NE(h, 0);
  Qelvan_SetColorMode(h, 8);
  const uint32_t frames = FramesDelivered();
  const int started = Qelvan_StartPreview(h);
  std::string errors;
  for (int e; (e = Qelvan_GetLastError(h)) != 0;) errors += " " + std::to_string(e);
  EXPECT_EQ(started, 1) << "the dead program's claim keeps camera 0 busy; errors:" << errors;
  if (started == 1) {
    EXPECT_TRUE(WaitUntil([&] { return FramesDelivered() >= frames + 3; }, 20000)) << "no frames";
  }
  EXPECT_EQ(Qelvan_StopPreview(h), 1);
  EXPECT_EQ(Qelvan_Release(h), 1);

  UnmapViewOfFile(view);
  CloseHandle(region);
  CloseHandle(holder.hProcess);
  CloseHandle(holder.hThread);
  CloseHandle(ready);
  CloseHandle(quit);
}

}  // namespace
