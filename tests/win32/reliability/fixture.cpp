#include "reliability/reliability.h"


#include <cstdio>
#include <cstdlib>

int StressSeconds() {
  const char* value = std::getenv("QLV_STRESS_SECONDS");
  return value ? std::atoi(value) : 0;
}

int Scaled(int shortCount, int longCount) { return StressSeconds() > 0 ? longCount : shortCount; }

void Figure(const std::string& text) {
  std::printf("SOAK %s\n", text.c_str());
  std::fflush(stdout);
}

uintptr_t FreshHandleValue() {
  HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const uintptr_t value = reinterpret_cast<uintptr_t>(probe);
  CloseHandle(probe);
  return value;
}

size_t PrivateBytes() {
  // GetProcessMemoryInfo's private usage reads 0 under Wine: sum the committed private pages.
  size_t total = 0;
  MEMORY_BASIC_INFORMATION info;
  for (const char* at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return total;
}

bool ClassRegistered(const char* name) {
  WNDCLASSA wc;
  return GetClassInfoA(GetModuleHandleA(nullptr), name, &wc) || GetClassInfoA(nullptr, name, &wc);
}

std::string BesideThisProgram(const char* name) {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string out(path);
  return out.substr(0, out.find_last_of("\\/") + 1) + name;
}

bool WaitCameraFrames(unsigned count, DWORD timeoutMs) {
  vcam_camera_info info = {};
  vcamctl_camera_info(0, &info);
  const uint32_t start = info.frames_delivered;
  const DWORD began = GetTickCount();
  for (;;) {
    vcamctl_camera_info(0, &info);
    if (info.frames_delivered - start >= count) return true;
    if (GetTickCount() - began > timeoutMs) return false;
    Sleep(10);
  }
}
