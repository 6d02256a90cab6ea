// Another program holding camera 0: previews until the quit event, then stops and releases.
//   reliability_holder.exe READY_EVENT QUIT_EVENT
// Exit code 0 after a clean stop; 2 and up for set-up failures.
#include <windows.h>

#include "QelvanSdk.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
  HANDLE quit = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
  if (!ready || !quit) return 3;
  HWND window = CreateWindowExA(0, "STATIC", "holder", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  const QelvanHandle h = Qelvan_Initialize(window);
  if (!h) return 4;
  Qelvan_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);
  Qelvan_SetColorMode(h, 8);
  if (Qelvan_StartPreview(h) != 1) return 5;
  SetEvent(ready);
  WaitForSingleObject(quit, 120000);
  const int stopped = Qelvan_StopPreview(h);
  Qelvan_Release(h);
  DestroyWindow(window);
  return stopped == 1 ? 0 : 6;
}
