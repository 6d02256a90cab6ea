// qelvan_demo: loads the camera library the way an application does, shows its version,
// lists the cameras and creates and releases a camera instance.
#include <cstdio>

#include "QelvanSdk.h"

int main(int argc, char** argv) {
  const char* outDir = argc > 1 ? argv[1] : ".";
  const int version = Qelvan_GetDllVersion();
  std::printf("QelvanSdk_Z51QK2_RVN.dll version %d (0x%08X)\n", version, static_cast<unsigned>(version));

  const QelvanHandle camera = Qelvan_Initialize(nullptr);
  if (!camera) {
    std::fprintf(stderr, "Qelvan_Initialize failed\n");
    return 1;
  }
  std::printf("camera instance %d created; capture window %d x %d\n", camera, Qelvan_Width(camera),
              Qelvan_Height(camera));
  char names[10][256] = {};
  const int found = Qelvan_EnumDevice(camera, names);
  std::printf("cameras found: %d\n", found);
  for (int i = 0; i < found && i < 10; ++i) std::printf("  %s\n", names[i]);
  int error;
  while ((error = Qelvan_GetLastError(camera)) != 0) std::printf("  reported error %d\n", error);

  std::printf("released: %d\n", Qelvan_Release(camera));
  std::printf("Frame capture into %s (preview, snapshots, every file format and AVI) runs here once "
              "acquisition is available.\n",
              outDir);
  return 0;
}
