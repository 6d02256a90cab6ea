// Bad input: every export with unknown and released handles, and the exports that take
// pointers, sizes, numbers and names with null pointers, sizes of 0, 1, negative and huge,
// numbers out of range, over-long and Japanese file names. Nothing may crash; refused calls
// return the failure value.
#include <climits>
#include <string>
#include <vector>

#include "reliability/reliability.h"

namespace {

// The names in the DLL's export directory.
std::vector<std::string> ExportNames() {
  std::vector<std::string> names;
  const uint8_t* base = reinterpret_cast<const uint8_t*>(QelvanDll());
  if (!base) return names;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
  return names;
}

// Any export, called with up to seven further arguments (the caller cleans the stack).
using AnyExport = int(__cdecl*)(int, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);

class BadInput : public Acquisition {};

TEST_F(BadInput, EveryExportRefusesUnknownAndReleasedHandles) {
  const std::vector<std::string> names = ExportNames();
  ASSERT_EQ(names.size(), 124u);
  const QelvanHandle released = Qelvan_Initialize(window_.hwnd());
  ASSERT_EQ(Qelvan_Release(released), 1);
  std::vector<uint8_t> scratch(kFrameBytes);
  const intptr_t pointer = reinterpret_cast<intptr_t>(scratch.data());
  const intptr_t argumentSets[][7] = {
      {0, 0, 0, 0, 0, 0, 0},
      {-1, -1, -1, -1, -1, -1, -1},
      {INT_MAX, INT_MIN, INT_MAX, INT_MIN, INT_MAX, INT_MIN, INT_MAX},
      {pointer, pointer, pointer, pointer, pointer, pointer, pointer},
  };
  int calls = 0;
  for (const std::string& name : names) {
    if (name == "Qelvan_Initialize" || name == "Qelvan_GetDllVersion") continue;
    const AnyExport call = QelvanProc<AnyExport>(name.c_str());
    ASSERT_NE(call, nullptr) << name;
    for (const QelvanHandle h : {0, released, released ^ 0x5A5A5A5A, -1}) {
      for (const auto& a : argumentSets) {
        const int result = call(h, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
        EXPECT_TRUE(result == 0 || result == -1) << name << " with handle " << h << " returned " << result;
        ++calls;
      }
    }
  }
  Figure("bad input: " + std::to_string(calls) + " calls with unknown or released handles over " +
         std::to_string(names.size()) + " exports, 0 crashes");
}

struct BadCall {
  const char* what;
  std::function<int(QelvanHandle, uint8_t*)> call;
  int failure;  // the value a refusal returns
};

TEST_F(BadInput, PointersSizesNumbersAndNames) {
  std::vector<uint8_t> buffer(kFrameBytes);
  const std::string longName = std::string(MAX_PATH + 40, 'n') + ".bmp";
  const std::wstring longWide = std::wstring(MAX_PATH + 40, L'\x30ab') + L".bmp";
  const std::string missingDir = "Z:\\no such folder\\at all\\x.bmp";
  const std::wstring japanese = L"\x65e5\x672c\x8a9e\x306e\x540d\x524d.bmp";
  const BadCall calls[] = {
      {"SnapShot size 1", [](QelvanHandle h, uint8_t* b) { return Qelvan_SnapShot(h, b, 1, 1); }, 0},
      {"SnapShot size -1", [](QelvanHandle h, uint8_t* b) { return Qelvan_SnapShot(h, b, -1, 0); }, 0},
      {"GetImage null", [](QelvanHandle h, uint8_t*) { return Qelvan_GetImage(h, nullptr, kFrameBytes, 1); }, 0},
      {"GetImage size 0", [](QelvanHandle h, uint8_t* b) { return Qelvan_GetImage(h, b, 0, 1); }, 0},
      {"GetImage size INT_MIN", [](QelvanHandle h, uint8_t* b) { return Qelvan_GetImage(h, b, INT_MIN, 1); }, 0},
      {"EnumDevice null", [](QelvanHandle h, uint8_t*) { return Qelvan_EnumDevice(h, nullptr); }, 0},
      {"EnumDeviceW null", [](QelvanHandle h, uint8_t*) { return Qelvan_EnumDeviceW(h, nullptr); }, 0},
      {"GetDeviceName null", [](QelvanHandle h, uint8_t*) { return Qelvan_GetDeviceName(h, 0, nullptr, 256); }, 0},
      {"GetDeviceName length 1",
       [](QelvanHandle h, uint8_t* b) { return Qelvan_GetDeviceName(h, 0, reinterpret_cast<char*>(b), 1); }, 0},
      {"GetDeviceName length -5",
       [](QelvanHandle h, uint8_t* b) { return Qelvan_GetDeviceName(h, 0, reinterpret_cast<char*>(b), -5); }, 0},
      {"GetDeviceName number 32",
       [](QelvanHandle h, uint8_t* b) { return Qelvan_GetDeviceName(h, 32, reinterpret_cast<char*>(b), 256); }, 0},
      {"GetDeviceNameW number -1",
       [](QelvanHandle h, uint8_t* b) { return Qelvan_GetDeviceNameW(h, -1, reinterpret_cast<wchar_t*>(b), 256); }, 0},
      {"GetDeviceNameW length 0",
       [](QelvanHandle h, uint8_t* b) { return Qelvan_GetDeviceNameW(h, 0, reinterpret_cast<wchar_t*>(b), 0); }, 0},
      {"SetDeviceNumber -1", [](QelvanHandle h, uint8_t*) { return Qelvan_SetDeviceNumber(h, -1); }, 0},
      {"SetDeviceNumber INT_MAX", [](QelvanHandle h, uint8_t*) { return Qelvan_SetDeviceNumber(h, INT_MAX); }, 0},
      {"SetDeviceNumber absent 5", [](QelvanHandle h, uint8_t*) { return Qelvan_SetDeviceNumber(h, 5); }, 0},
      {"GetCameraInfo null", [](QelvanHandle h, uint8_t*) { return Qelvan_GetCameraInfo(h, nullptr); }, 0},
      {"GetIOPort null", [](QelvanHandle h, uint8_t*) { return Qelvan_GetIOPort(h, nullptr, 0, 0); }, 0},
      {"SetCaptureWindow 0 x 0", [](QelvanHandle h, uint8_t*) { return Qelvan_SetCaptureWindow(h, 0, 0); }, 0},
      {"SetCaptureWindow huge", [](QelvanHandle h, uint8_t*) { return Qelvan_SetCaptureWindow(h, INT_MAX, INT_MAX); }, 0},
      {"SetCaptureWindowEx negative",
       [](QelvanHandle h, uint8_t*) { return Qelvan_SetCaptureWindowEx(h, 752, -8, 100, 480, -8, 100); }, 0},
      {"SetCaptureWindowEx overflow",
       [](QelvanHandle h, uint8_t*) { return Qelvan_SetCaptureWindowEx(h, 752, INT_MAX, 8, 480, INT_MAX, 8); }, 0},
      {"SetFilterValue number -1", [](QelvanHandle h, uint8_t*) { return Qelvan_SetFilterValue(h, -1, 0); }, 0},
      {"SetFilterValue number 1000", [](QelvanHandle h, uint8_t*) { return Qelvan_SetFilterValue(h, 1000, 0); }, 0},
      {"GetFilterValue number INT_MIN", [](QelvanHandle h, uint8_t*) { return Qelvan_GetFilterValue(h, INT_MIN, nullptr); }, 0},
      {"SetColorMode 7", [](QelvanHandle h, uint8_t*) { return Qelvan_SetColorMode(h, 7); }, 0},
      {"SetColorMode -24", [](QelvanHandle h, uint8_t*) { return Qelvan_SetColorMode(h, -24); }, 0},
      {"SetSubSample 99", [](QelvanHandle h, uint8_t*) { return Qelvan_SetSubSample(h, 99); }, 0},
      {"ReadSromID INT_MAX", [](QelvanHandle h, uint8_t*) { return Qelvan_ReadSromID(h, INT_MAX, nullptr); }, 0},
      {"WriteSromID -1", [](QelvanHandle h, uint8_t*) { return Qelvan_WriteSromID(h, -1, 1); }, 0},
      {"WriteSromID value 256", [](QelvanHandle h, uint8_t*) { return Qelvan_WriteSromID(h, 0, 256); }, 0},
      {"WriteSromID value -1", [](QelvanHandle h, uint8_t*) { return Qelvan_WriteSromID(h, 0, -1); }, 0},
      {"SaveImage null", [](QelvanHandle h, uint8_t*) { return Qelvan_SaveImage(h, nullptr, 0); }, 0},
      {"SaveImage past MAX_PATH", [&](QelvanHandle h, uint8_t*) { return Qelvan_SaveImage(h, longName.c_str(), 0); }, 0},
      {"SaveImage missing folder", [&](QelvanHandle h, uint8_t*) { return Qelvan_SaveImage(h, missingDir.c_str(), 0); }, 0},
      {"SaveImage type 99", [&](QelvanHandle h, uint8_t*) { return Qelvan_SaveImage(h, "x.bin", 99); }, 0},
      {"SaveImageW null", [](QelvanHandle h, uint8_t*) { return Qelvan_SaveImageW(h, nullptr, 0); }, 0},
      {"SaveImageW Japanese past MAX_PATH",
       [&](QelvanHandle h, uint8_t*) { return Qelvan_SaveImageW(h, longWide.c_str(), 0); }, 0},
      {"Record null", [](QelvanHandle h, uint8_t*) { return Qelvan_Record(h, nullptr, 1000, 0); }, 0},
      {"Record past MAX_PATH", [&](QelvanHandle h, uint8_t*) { return Qelvan_Record(h, longName.c_str(), 1000, 0); }, 0},
      {"RecordW null", [](QelvanHandle h, uint8_t*) { return Qelvan_RecordW(h, nullptr, -1, 0); }, 0},
      {"LoadConfigFileA null", [](QelvanHandle h, uint8_t*) { return Qelvan_LoadConfigFileA(h, nullptr); }, 0},
      {"LoadConfigFileA past MAX_PATH",
       [&](QelvanHandle h, uint8_t*) { return Qelvan_LoadConfigFileA(h, longName.c_str()); }, 0},
      {"LoadConfigFileA missing", [&](QelvanHandle h, uint8_t*) { return Qelvan_LoadConfigFileA(h, missingDir.c_str()); }, 0},
      {"LoadConfigFileW Japanese missing",
       [&](QelvanHandle h, uint8_t*) { return Qelvan_LoadConfigFileW(h, japanese.c_str()); }, 0},
      {"LoadConfigFileW past MAX_PATH",
       [&](QelvanHandle h, uint8_t*) { return Qelvan_LoadConfigFileW(h, longWide.c_str()); }, 0},
  };
  int refusedWithoutError = 0;
  for (const BadCall& c : calls) {
    Errors();
    const int result = c.call(h_, buffer.data());
    EXPECT_EQ(result, c.failure) << c.what;
    if (Errors().empty()) ++refusedWithoutError;
  }
  // Getters with a null success flag must not write through it; the values stay sane.
  EXPECT_EQ(Qelvan_GetWaitTime(h_), 0);
  Figure("bad input: " + std::to_string(std::size(calls)) + " bad-argument calls on a live handle, 0 crashes, " +
         std::to_string(refusedWithoutError) + " refused without a recorded error");
}

}  // namespace
