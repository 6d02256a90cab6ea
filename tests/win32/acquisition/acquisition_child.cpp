// Another program using camera 0: previews until the test tells it to stop.
#include <windows.h>

#include "QelvanSdk.h"

int main() {
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, "QelvanAcquisitionChildReady");
  HANDLE quit = OpenEventA(SYNCHRONIZE, FALSE, "QelvanAcquisitionChildQuit");
  if (!ready || !quit) return 2;
  // The device-use table names the owner by its notification window.
  HWND window = CreateWindowExA(0, "STATIC", "child", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  const QelvanHandle h = Qelvan_Initialize(window);
  if (!h) return 3;
  Qelvan_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);
  Qelvan_SetColorMode(h, 8);
  if (Qelvan_StartPreview(h) != 1) return 4;
  SetEvent(ready);
  WaitForSingleObject(quit, 120000);
  const int stopped = Qelvan_StopPreview(h);
  Qelvan_Release(h);
  DestroyWindow(window);
  return stopped == 1 ? 0 : 5;
}
