// Device paths and numbering, and configuration files, without a camera.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "camera/camera.h"
#include "device/qlv_sdk_lib.h"
#include "output/data_file.h"

namespace {

std::string PathFor(uint32_t n) {
  char path[DEVICE_PATH_CHARS];
  EXPECT_TRUE(FormatDevicePath(path, sizeof(path), DRIVER_BASE_NAME, n));
  return path;
}

TEST(DevicePath, SuffixTable) {
  EXPECT_EQ(PathFor(0), "\\\\.\\QlvnQKZ51RVN-0");
  EXPECT_EQ(PathFor(9), "\\\\.\\QlvnQKZ51RVN-9");
  EXPECT_EQ(PathFor(10), "\\\\.\\QlvnQKZ51RVN-A");
  EXPECT_EQ(PathFor(21), "\\\\.\\QlvnQKZ51RVN-L");
  EXPECT_EQ(PathFor(22), "\\\\.\\QlvnQKZ51RVN-N");
  EXPECT_EQ(PathFor(23), "\\\\.\\QlvnQKZ51RVN-M");
  EXPECT_EQ(PathFor(24), "\\\\.\\QlvnQKZ51RVN-O");
  EXPECT_EQ(PathFor(31), "\\\\.\\QlvnQKZ51RVN-V");
  EXPECT_EQ(PathFor(35), "\\\\.\\QlvnQKZ51RVN-Z");
  char path[8];
  EXPECT_FALSE(FormatDevicePath(path, sizeof(path), DRIVER_BASE_NAME, 36));
  // Bounded and terminated.
  EXPECT_TRUE(FormatDevicePath(path, sizeof(path), DRIVER_BASE_NAME, 1));
  EXPECT_EQ(std::string(path), "\\\\.\\Qlv");
}

TEST(DevicePath, SelectDevice) {
  CQLVSdkLib dev;
  EXPECT_EQ(dev.SelectDevice(5), 0);
  EXPECT_EQ(dev.GetSelectedDevice(), 5);
  EXPECT_EQ(std::string(dev.DevicePath()), "\\\\.\\QlvnQKZ51RVN-5");
  EXPECT_EQ(dev.SelectDevice(32), 22);
  EXPECT_EQ(dev.GetSelectedDevice(), 5);
  EXPECT_EQ(std::string(dev.DevicePath()), "\\\\.\\QlvnQKZ51RVN-5");
  EXPECT_EQ(dev.SelectDevice(31), 0);
  EXPECT_EQ(std::string(dev.DevicePath()), "\\\\.\\QlvnQKZ51RVN-V");
  EXPECT_EQ(dev.IsDevicePresent(40), 0);
  EXPECT_EQ(CQLVSdkLib::DeviceSlots(), 32);
  // A listing keeps the selection: number and path still name the same device.
  dev.EnumerateDevices();
  EXPECT_EQ(dev.GetSelectedDevice(), 31);
  EXPECT_EQ(dev.SetSamplingMode(2), 1);
  EXPECT_EQ(dev.SamplingMode(), 2);
  dev.SetSamplingMode(7);
  EXPECT_EQ(dev.SamplingMode(), 1);
}

TEST(DriverChannel, ArgumentChecks) {
  uint8_t packet[64] = {};
  uint32_t moved = 77;
  EXPECT_EQ(PipeTransfer(nullptr, 0, 64, packet, &moved, 1), -3);
  EXPECT_EQ(PipeTransfer(INVALID_HANDLE_VALUE, 0, 64, nullptr, &moved, 1), -2);
  EXPECT_EQ(SendCommand(nullptr, 0, 64, packet), 10);
  EXPECT_EQ(ReadResponse(nullptr, 1, 64, packet), 10);
  // A request on an invalid handle fails, and the count reads 0 rather than stale data.
  EXPECT_EQ(PipeTransfer(INVALID_HANDLE_VALUE, 0, 64, packet, &moved, 1), -1);
  EXPECT_EQ(moved, 0u);
  EXPECT_EQ(SendCommand(INVALID_HANDLE_VALUE, 0, 64, packet), 12);
  HANDLE h = nullptr;
  EXPECT_EQ(OpenDriver(&h, nullptr), 0);
  EXPECT_EQ(CloseDriver(&h), 0);
}

class ConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    base_ = std::string(dir) + "qelvan_cfg_" + std::to_string(GetCurrentProcessId());
  }
  void TearDown() override {
    for (const std::string& f : files_) DeleteFileA(f.c_str());
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = base_ + name;
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      fwrite(bytes.data(), 1, bytes.size(), f);
      fclose(f);
    }
    files_.push_back(path);
    return path;
  }
  static std::vector<std::pair<int32_t, int32_t>> List(CQelvan& cam) { return cam.ConfigRecords(); }
  std::string base_;
  std::vector<std::string> files_;
};

using Records = std::vector<std::pair<int32_t, int32_t>>;

TEST_F(ConfigFile, RecordsReplaceAndSurviveFailures) {
  CQelvan cam;
  const std::string empty = Write("empty.cfg", "");
  EXPECT_EQ(cam.LoadConfigFileA(empty.c_str()), 1);
  EXPECT_TRUE(List(cam).empty());

  // 20 bytes: two little-endian records and 4 trailing bytes that are ignored.
  const std::string twenty = Write("twenty.cfg", std::string("\x01\x00\x00\x00\xFF\xFF\xFF\xFF"
                                                             "\x78\x56\x34\x12\x00\x00\x00\x80"
                                                             "\x09\x09\x09\x09",
                                                             20));
  EXPECT_EQ(cam.LoadConfigFileA(twenty.c_str()), 1);
  EXPECT_EQ(List(cam), (Records{{1, -1}, {0x12345678, INT32_MIN}}));

  const std::string other = Write("other.cfg", std::string("\x05\x00\x00\x00\x06\x00\x00\x00", 8));
  EXPECT_EQ(cam.LoadConfigFileA(other.c_str()), 1);
  EXPECT_EQ(List(cam), (Records{{5, 6}}));  // replaced, not appended

  EXPECT_EQ(cam.LoadConfigFileA((base_ + "missing.cfg").c_str()), 0);
  EXPECT_EQ(cam.LoadConfigFileA(nullptr), 0);
  EXPECT_EQ(List(cam), (Records{{5, 6}}));
  EXPECT_EQ(cam.PopError(), 0);  // a file that is not there posts nothing

  // Seven bytes: shorter than one record.
  const std::string seven = Write("seven.cfg", std::string("\x01\x02\x03\x04\x05\x06\x07", 7));
  EXPECT_EQ(cam.LoadConfigFileA(seven.c_str()), 1);
  EXPECT_TRUE(List(cam).empty());
}

TEST_F(ConfigFile, WideNameIsConverted) {
  CQelvan cam;
  const std::string narrow = Write("\xE9t\xE9.cfg", std::string("\x02\x00\x00\x00\x03\x00\x00\x00", 8));
  // The same name in UTF-16, through the thread's code page that the narrow name is in.
  wchar_t wide[MAX_PATH];
  ASSERT_GT(MultiByteToWideChar(CP_THREAD_ACP, 0, narrow.c_str(), -1, wide, MAX_PATH), 0);
  ASSERT_NE(std::wstring(wide).find(L'.'), std::wstring::npos);
  EXPECT_EQ(cam.LoadConfigFileW(wide), 1);
  EXPECT_EQ(List(cam), (Records{{2, 3}}));

  EXPECT_EQ(cam.LoadConfigFileW(nullptr), 0);
  EXPECT_EQ(cam.PopError(), ERR_FILE);
  EXPECT_EQ(List(cam), (Records{{2, 3}}));
  // A name that does not fit the 1024-byte conversion buffer fails the same way.
  std::wstring longName(2000, L'a');
  EXPECT_EQ(cam.LoadConfigFileW(longName.c_str()), 0);
  EXPECT_EQ(cam.PopError(), ERR_FILE);
}

TEST(DataFile, CursorAndRelease) {
  CDataFile file;
  EXPECT_EQ(file.Load(nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(file.LoadFromModule("Z:\\no\\such\\file.bin", nullptr), nullptr);
  EXPECT_EQ(file.Data(), nullptr);
  // A resource type that the module does not have.
  EXPECT_EQ(file.LoadFromModule("NOSUCH", "NOTYPE"), nullptr);
  // The library's version resource, used in place without a copy.
  HMODULE dll = LoadLibraryA("QelvanSdk_Z51QK2_RVN.dll");
  ASSERT_NE(dll, nullptr);
  const uint8_t* data = file.Load(MAKEINTRESOURCEA(1), dll, MAKEINTRESOURCEA(16));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(file.Size(), static_cast<size_t>(data[0] | data[1] << 8));  // the block's own length
  EXPECT_EQ(file.End(), data + file.Size());
  int32_t first = 0;
  EXPECT_TRUE(file.ReadInt32(&first));
  EXPECT_EQ(file.Cursor(), data + 4);
  file.Release();
  EXPECT_EQ(file.Data(), nullptr);
  FreeLibrary(dll);
}

}  // namespace
