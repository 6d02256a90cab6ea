// Plays another program on the machine: claims a camera in the shared device-use table as that
// program's library would, programs a 320 x 240 window by the raw protocol and reads frames
// until told to stop.
//   camera_claim_child.exe CAMERA READY_EVENT STOP_EVENT
// Exit code: the number of frames that failed or came in the wrong size, 100 when no frame
// came at all, 200 and up for set-up failures.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vcamctl.h"

namespace {

constexpr DWORD kRegionSize = 0x460000;
constexpr size_t kTableOffset = 1792000;
constexpr DWORD kFrameBytes = 77824;  // 320 x 240 rounded up to whole kilobytes

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 200;
  const int camera = std::atoi(argv[1]);
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
  if (!ready || !stop) return 201;

  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "DOVIRA_USBCAMERA");
  if (!mapping)
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kRegionSize, "DOVIRA_USBCAMERA");
  uint8_t* view = mapping ? static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
  if (!view) return 202;
  HWND owner = CreateWindowExA(0, "STATIC", "claim", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  if (!owner) return 203;
  uint8_t* record = view + kTableOffset + 140 * camera;
  const uint32_t words[3] = {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(owner)),
                             static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr))), 0};
  std::memcpy(record, words, sizeof words);
  std::memset(record + 12, 0, 128);
  std::strcpy(reinterpret_cast<char*>(record + 12), "QelvanSdk_Z51QK2_RVN.dll");

  HANDLE cam = vcamraw_open(camera);
  if (cam == INVALID_HANDLE_VALUE) return 204;
  // The window (0, 0, 320, 240) without binning, written literally.
  uint16_t r13 = 0;
  vcamraw_read_reg(cam, 13, &r13);
  vcamraw_write_reg(cam, 13, static_cast<uint16_t>(r13 & 0xFFF0));
  vcamraw_write_reg(cam, 114, 16);
  vcamraw_write_reg(cam, 5, 340);
  vcamraw_write_reg(cam, 6, 45);
  vcamraw_set_transfer(cam, kFrameBytes);
  vcamraw_write_reg(cam, 1, 433);
  vcamraw_write_reg(cam, 2, 244);
  vcamraw_write_reg(cam, 3, 240);
  vcamraw_write_reg(cam, 4, 320);
  for (int i = 0; i < 4; ++i) vcamraw_write_port(cam, static_cast<uint8_t>(i), static_cast<uint8_t>(kFrameBytes >> (8 * i)));
  vcamraw_set_timeout(cam, 5000);

  std::vector<uint8_t> frame(kFrameBytes);
  int good = 0, bad = 0;
  bool signalled = false;
  while (WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) {
    DWORD moved = 0;
    vcam_camera_info info = {};
    const DWORD err = vcamraw_read_frame(cam, frame.data(), kFrameBytes, &moved);
    vcamctl_camera_info(camera, &info);
    if (err == 0 && moved == kFrameBytes && info.width == 320 && info.height == 240)
      ++good;
    else
      ++bad;
    if (!signalled && good > 0) {
      SetEvent(ready);
      signalled = true;
    }
  }
  CloseHandle(cam);
  std::printf("frames %d good, %d bad\n", good, bad);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  DestroyWindow(owner);
  return good == 0 ? 100 : (bad > 99 ? 99 : bad);
}
