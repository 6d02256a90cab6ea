// Every export with handle 0, and the DLL's export and import tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "dll.h"

namespace {

struct ExportRow {
  const char* name;
  int noInstanceValue;  // what the export answers for handle 0 (the version for GetDllVersion)
};

// The complete export list of the library.
const ExportRow kExports[] = {
    {"Qelvan_Initialize", 0},
    {"Qelvan_Release", 0},
    {"Qelvan_GetDllVersion", 26215711},
    {"Qelvan_GetLastError", 0},
    {"Qelvan_EnumDevice", 0},
    {"Qelvan_EnumDeviceW", 0},
    {"Qelvan_GetDeviceName", 0},
    {"Qelvan_GetDeviceNameW", 0},
    {"Qelvan_SetDeviceNumber", 0},
    {"Qelvan_Close", 0},
    {"Qelvan_Preview", 0},
    {"Qelvan_CallBackPreview", 0},
    {"Qelvan_StartPreview", 0},
    {"Qelvan_StopPreview", 0},
    {"Qelvan_Capture", 0},
    {"Qelvan_SnapShot", 0},
    {"Qelvan_Trigger", 0},
    {"Qelvan_GetImage", 0},
    {"Qelvan_GetStatus", 0},
    {"Qelvan_SetPreviewWindow", 0},
    {"Qelvan_SetCaptureWindow", 0},
    {"Qelvan_SetCaptureWindowEx", 0},
    {"Qelvan_GetCaptureWindowEx", 0},
    {"Qelvan_Width", 0},
    {"Qelvan_Height", 0},
    {"Qelvan_GetCameraInfo", 0},
    {"Qelvan_SetFilterValue", 0},
    {"Qelvan_GetFilterValue", 0},
    {"Qelvan_SetBrightness", 0},
    {"Qelvan_GetBrightness", 0},
    {"Qelvan_SetContrast", 0},
    {"Qelvan_GetContrast", 0},
    {"Qelvan_SetHue", 0},
    {"Qelvan_GetHue", 0},
    {"Qelvan_SetSaturation", 0},
    {"Qelvan_GetSaturation", 0},
    {"Qelvan_SetSharpness", 0},
    {"Qelvan_GetSharpness", 0},
    {"Qelvan_SetBayerGainRGB", 0},
    {"Qelvan_GetBayerGainRGB", 0},
    {"Qelvan_SetBayerGainRed", 0},
    {"Qelvan_GetBayerGainRed", 0},
    {"Qelvan_SetBayerGainGreen", 0},
    {"Qelvan_GetBayerGainGreen", 0},
    {"Qelvan_SetBayerGainBlue", 0},
    {"Qelvan_GetBayerGainBlue", 0},
    {"Qelvan_SetBayerGainAuto", 0},
    {"Qelvan_GetBayerGainAuto", 0},
    {"Qelvan_SetGamma", 0},
    {"Qelvan_GetGamma", 0},
    {"Qelvan_SetBayerMode", 0},
    {"Qelvan_GetBayerMode", 0},
    {"Qelvan_SetGlobalGain", 0},
    {"Qelvan_GetGlobalGain", 0},
    {"Qelvan_SetColorGainRed", 0},
    {"Qelvan_GetColorGainRed", 0},
    {"Qelvan_SetColorGainGreen1", 0},
    {"Qelvan_GetColorGainGreen1", 0},
    {"Qelvan_SetColorGainGreen2", 0},
    {"Qelvan_GetColorGainGreen2", 0},
    {"Qelvan_SetColorGainBlue", 0},
    {"Qelvan_GetColorGainBlue", 0},
    {"Qelvan_SetExposureTime", 0},
    {"Qelvan_GetExposureTime", 0},
    {"Qelvan_SetGrayMode", 0},
    {"Qelvan_GetGrayMode", 0},
    {"Qelvan_SetGrayGainR", 0},
    {"Qelvan_GetGrayGainR", 0},
    {"Qelvan_SetGrayGainG1", 0},
    {"Qelvan_GetGrayGainG1", 0},
    {"Qelvan_SetGrayGainG2", 0},
    {"Qelvan_GetGrayGainG2", 0},
    {"Qelvan_SetGrayGainB", 0},
    {"Qelvan_GetGrayGainB", 0},
    {"Qelvan_SetGrayOffsetR", 0},
    {"Qelvan_GetGrayOffsetR", 0},
    {"Qelvan_SetGrayOffsetG1", 0},
    {"Qelvan_GetGrayOffsetG1", 0},
    {"Qelvan_SetGrayOffsetG2", 0},
    {"Qelvan_GetGrayOffsetG2", 0},
    {"Qelvan_SetGrayOffsetB", 0},
    {"Qelvan_GetGrayOffsetB", 0},
    {"Qelvan_SetColorMode", 0},
    {"Qelvan_GetColorMode", -1},
    {"Qelvan_SetSubSample", 0},
    {"Qelvan_GetSubSample", -1},
    {"Qelvan_SetMirrorH", 0},
    {"Qelvan_GetMirrorH", 0},
    {"Qelvan_SetMirrorV", 0},
    {"Qelvan_GetMirrorV", 0},
    {"Qelvan_SetHalfClock", 0},
    {"Qelvan_GetHalfClock", 0},
    {"Qelvan_SetWaitTime", 0},
    {"Qelvan_GetWaitTime", -1},
    {"Qelvan_SetAutoIris", 0},
    {"Qelvan_GetAutoIris", 0},
    {"Qelvan_SetRealExposureTime", 0},
    {"Qelvan_GetRealExposureTime", 0},
    {"Qelvan_ReadRegister", 0},
    {"Qelvan_ReadRegisterEx", 0},
    {"Qelvan_WriteRegister", 0},
    {"Qelvan_WriteRegisterEx", 0},
    {"Qelvan_ReadSromID", 0},
    {"Qelvan_WriteSromID", 0},
    {"Qelvan_GetIOPort", 0},
    {"Qelvan_SetIOPort", 0},
    {"Qelvan_SaveImage", 0},
    {"Qelvan_SaveImageW", 0},
    {"Qelvan_Record", 0},
    {"Qelvan_RecordW", 0},
    {"Qelvan_LoadConfigFileA", 0},
    {"Qelvan_LoadConfigFileW", 0},
    {"Qelvan_SetCameraDlg", 0},
    {"Qelvan_SetAnalogDlg", 0},
    {"Qelvan_SetImageDlg", 0},
    {"Qelvan_Fpga_ReadRegister", 0},
    {"Qelvan_Fpga_WriteRegister", 0},
    {"Qelvan_Fps", 0},
    {"Qelvan_SetCrossbar", 0},
    {"Qelvan_SetSamplingRate", 0},
    {"Qelvan_GetSamplingRate", 0},
    {"Qelvan_GetVideoFormat", 0},
    {"Qelvan_SetConfigFilter", 0},
    {"Qelvan_GetConfigFilter", 0},
};

using AnyExport = int(__cdecl*)(int, int, int, int, int, int, int);

TEST(Exports, TableHasAllNames) { EXPECT_EQ(124u, sizeof kExports / sizeof kExports[0]); }

TEST(Exports, EveryExportAnswersHandleZeroWithItsNoInstanceValue) {
  ASSERT_NE(nullptr, QelvanDll());
  for (const ExportRow& row : kExports) {
    auto fn = QelvanProc<AnyExport>(row.name);
    ASSERT_NE(nullptr, fn) << row.name;
    if (std::string(row.name) == "Qelvan_Initialize") continue;  // takes no handle
    // cdecl: surplus zero arguments are ignored and removed by the caller.
    EXPECT_EQ(row.noInstanceValue, fn(0, 0, 0, 0, 0, 0, 0)) << row.name;
  }
}

TEST(Exports, UnknownAndReleasedHandlesAnswerLikeHandleZero) {
  auto release = QelvanProc<int(__cdecl*)(QelvanHandle)>("Qelvan_Release");
  const QelvanHandle h = InitializeWithoutDevice(nullptr);
  ASSERT_NE(0, h);
  ASSERT_EQ(1, release(h));
  for (const ExportRow& row : kExports) {
    const std::string name = row.name;
    if (name == "Qelvan_Initialize" || name == "Qelvan_GetDllVersion") continue;
    EXPECT_EQ(row.noInstanceValue, QelvanProc<AnyExport>(row.name)(h, 0, 0, 0, 0, 0, 0)) << row.name;
  }
}

// Reads the names of a loaded module's export directory.
std::set<std::string> ExportedNames(HMODULE module) {
  auto* base = reinterpret_cast<const uint8_t*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  std::set<std::string> names;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
  return names;
}

TEST(Exports, ExportTableHoldsExactlyTheListedNames) {
  std::set<std::string> expected;
  for (const ExportRow& row : kExports) expected.insert(row.name);
  const std::set<std::string> actual = ExportedNames(QelvanDll());
  for (const std::string& name : actual) EXPECT_TRUE(expected.count(name)) << "extra export " << name;
  for (const std::string& name : expected) EXPECT_TRUE(actual.count(name)) << "missing export " << name;
}

TEST(Exports, AliasesShareOneBody) {
  EXPECT_EQ(GetProcAddress(QelvanDll(), "Qelvan_WriteRegister"), GetProcAddress(QelvanDll(), "Qelvan_WriteRegisterEx"));
  for (const char* alias : {"Qelvan_Fpga_WriteRegister", "Qelvan_Fps", "Qelvan_SetCrossbar", "Qelvan_SetSamplingRate"})
    EXPECT_EQ(GetProcAddress(QelvanDll(), "Qelvan_Fpga_ReadRegister"), GetProcAddress(QelvanDll(), alias)) << alias;
  EXPECT_EQ(GetProcAddress(QelvanDll(), "Qelvan_GetSamplingRate"), GetProcAddress(QelvanDll(), "Qelvan_GetVideoFormat"));
}

TEST(Exports, VersionResourceMatchesTheVersionNumber) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA("QelvanSdk_Z51QK2_RVN.dll", &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA("QelvanSdk_Z51QK2_RVN.dll", 0, size, &block[0]));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length));
  // 26215711 is 0x0190051F: the four bytes are the four parts of the file version.
  EXPECT_EQ(0x00010090u, info->dwFileVersionMS);
  EXPECT_EQ(0x0005001Fu, info->dwFileVersionLS);
}

// Not comctl32: the host registers the common controls the dialogs use.
TEST(Exports, ImportsOnlySystemDlls) {
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll",  "advapi32.dll",
                                         "winmm.dll",    "msvcrt.dll"};
  auto* base = reinterpret_cast<const uint8_t*>(QelvanDll());
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  int count = 0;
  for (auto* imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp, ++count) {
    std::string name = reinterpret_cast<const char*>(base + imp->Name);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_TRUE(allowed.count(name)) << "imports " << name;
  }
  EXPECT_GT(count, 0);
}

}  // namespace
