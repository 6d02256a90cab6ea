// Costs of the camera instance's own operations under Wine against the virtual camera, as the
// median of several rounds: Initialize plus Release with and without a camera, EnumDevice with 1 and with 32 cameras,
// SetDeviceNumber, and one register read and write through the exports.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "QelvanSdk.h"
#include "../bench_clock.h"
#include "vcamctl.h"

namespace {

HMODULE g_dll;

template <class F>
F Proc(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(g_dll, name)));
}

// Median milliseconds of one call over the rounds.
double Median(int rounds, const std::function<void()>& call) {
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    const double start = NowMs();
    call();
    ms.push_back(NowMs() - start);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main() {
  if (vcamctl_reset() != 0) {
    std::printf("the virtual camera does not answer\n");
    return 1;
  }
  g_dll = LoadLibraryA("QelvanSdk_Z51QK2_RVN.dll");
  if (!g_dll) return 1;
  auto init = Proc<QelvanHandle(__cdecl*)(HWND)>("Qelvan_Initialize");
  auto release = Proc<int(__cdecl*)(QelvanHandle)>("Qelvan_Release");
  auto enumDevice = Proc<int(__cdecl*)(QelvanHandle, char (*)[256])>("Qelvan_EnumDevice");
  auto select = Proc<int(__cdecl*)(QelvanHandle, int)>("Qelvan_SetDeviceNumber");
  auto readRegister = Proc<int(__cdecl*)(QelvanHandle, int, int*)>("Qelvan_ReadRegister");
  auto writeRegister = Proc<int(__cdecl*)(QelvanHandle, int, int)>("Qelvan_WriteRegister");
  const char* base = "Software\\Dovira\\QelvanZ51QK2RVNSdk";
  RegDeleteTreeA(HKEY_CURRENT_USER, base);

  release(init(nullptr));  // first-run keys out of the way
  const double openRelease = Median(9, [&] { release(init(nullptr)); });
  vcamctl_detach(0);
  const double noCamera = Median(21, [&] { release(init(nullptr)); });
  vcamctl_attach(0, 0, 0);

  const QelvanHandle h = init(nullptr);
  static char names[10][256];
  const double enumOne = Median(21, [&] { enumDevice(h, names); });
  for (int n = 1; n < 32; ++n) vcamctl_attach(n, 0, 0);
  const double enumAll = Median(21, [&] { enumDevice(h, names); });
  int next = 0;
  const double selectMs = Median(11, [&] { select(h, next = (next + 1) % 2); });
  int ok = 0;
  const double readMs = Median(201, [&] { readRegister(h, 0x35, &ok); });
  const double writeMs = Median(201, [&] { writeRegister(h, 0x35, 0x10); });
  release(h);
  vcamctl_reset();
  RegDeleteTreeA(HKEY_CURRENT_USER, base);

  std::printf("Initialize + Release      %8.2f ms\n", openRelease);
  std::printf("  without a camera        %8.2f ms\n", noCamera);
  std::printf("EnumDevice, 1 camera      %8.2f ms\n", enumOne);
  std::printf("EnumDevice, 32 cameras    %8.2f ms\n", enumAll);
  std::printf("SetDeviceNumber           %8.2f ms\n", selectMs);
  std::printf("ReadRegister              %8.3f ms\n", readMs);
  std::printf("WriteRegister             %8.3f ms\n", writeMs);
  std::printf("SUMMARY camera open+release %.1f ms (no camera %.1f ms), select %.1f ms, enum 1/32 cameras %.2f/%.2f ms, "
              "register read/write %.3f/%.3f ms\n",
              openRelease, noCamera, selectMs, enumOne, enumAll, readMs, writeMs);
  return ok ? 0 : 1;
}
