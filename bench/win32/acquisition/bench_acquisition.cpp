// Preview throughput: frames CallBackPreview delivers in a fixed time against the frames the
// camera's sensor produced meanwhile, and the process's CPU share, by colour type, wait time,
// preview window and clock. Usage: bench_acquisition [seconds per run, default 10].
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "QelvanSdk.h"
#include "vcamctl.h"

namespace {

struct Result {
  int delivered = 0;
  int sensor = 0;
  double cpuPercent = 0;
};

uint64_t ProcessCpu100ns() {
  FILETIME create, exit, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &create, &exit, &kernel, &user);
  auto v = [](FILETIME f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  return v(kernel) + v(user);
}

Result Run(QelvanHandle h, HWND sink, int bits, int wait, bool window, DWORD ms) {
  Result r;
  Qelvan_SetColorMode(h, bits);
  Qelvan_SetWaitTime(h, wait);
  Qelvan_SetPreviewWindow(h, nullptr, 0, 0, window ? 752 : 0, window ? 480 : 0);
  std::vector<uint8_t> buffer(static_cast<size_t>(752) * 480 * (bits / 8));
  if (Qelvan_CallBackPreview(h, sink, buffer.data(), static_cast<int>(buffer.size()), 0) != 1) {
    std::printf("  start failed, error %d\n", Qelvan_GetLastError(h));
    return r;
  }
  // Let the first frames pass before measuring.
  Sleep(500);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  vcam_camera_info info = {};
  vcamctl_camera_info(0, &info);
  const uint32_t sensor0 = info.sensor_frames;
  const uint64_t cpu0 = ProcessCpu100ns();
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_CAMERA_FRAME && msg.wParam) ++r.delivered;
      DispatchMessageA(&msg);
    }
  }
  const DWORD elapsed = GetTickCount() - start;
  const uint64_t cpu = ProcessCpu100ns() - cpu0;
  vcamctl_camera_info(0, &info);
  r.sensor = static_cast<int>(info.sensor_frames - sensor0);
  r.cpuPercent = elapsed ? cpu / 100.0 / elapsed : 0;  // 100 ns units against milliseconds
  Qelvan_Close(h);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const DWORD ms = static_cast<DWORD>((argc > 1 ? std::atof(argv[1]) : 10.0) * 1000);
  if (vcamctl_reset() != 0) {
    std::printf("the virtual camera driver does not answer\n");
    return 1;
  }
  vcamctl_pacing(1);
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dovira\\QelvanZ51QK2RVNSdk");
  HWND sink = CreateWindowExA(0, "STATIC", "sink", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  const QelvanHandle h = Qelvan_Initialize(sink);
  if (!h) return 1;
  Qelvan_SetAutoIris(h, 0);
  Qelvan_SetGamma(h, 100);

  std::printf("%-6s %-5s %-5s %-7s %10s %8s %8s\n", "clock", "bits", "wait", "window", "delivered", "sensor", "cpu%");
  struct Case {
    int clock, bits, wait;
    bool window;
  };
  std::vector<Case> cases;
  for (int bits : {8, 24, 32, 48})
    for (int wait : {0, 1, 10})
      for (bool window : {false, true}) cases.push_back({0, bits, wait, window});
  for (int wait : {0, 1}) cases.push_back({2, 24, wait, false});

  Result headline;
  for (const Case& c : cases) {
    Qelvan_SetHalfClock(h, c.clock);
    const Result r = Run(h, sink, c.bits, c.wait, c.window, ms);
    std::printf("%-6d %-5d %-5d %-7s %10d %8d %8.1f\n", c.clock, c.bits, c.wait, c.window ? "on" : "off", r.delivered,
                r.sensor, r.cpuPercent);
    std::fflush(stdout);
    if (c.clock == 0 && c.bits == 24 && c.wait == 1 && !c.window) headline = r;
  }
  std::printf("SUMMARY acquisition 752x480 24-bit: %d/%d frames, %.1f%% of one core\n", headline.delivered,
              headline.sensor, headline.cpuPercent);
  Qelvan_Release(h);
  DestroyWindow(sink);
  return 0;
}
