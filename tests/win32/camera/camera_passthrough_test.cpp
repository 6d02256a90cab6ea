// Settings that go straight to the camera or into the instance: registers, ROM, port, mirrors,
// clock, exposure, the filter numbers with their named forms, geometry and camera limits.
#include "camera/camera_fixture.h"

namespace {

class PassThroughTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    if (HasFatalFailure()) return;
    h = Open();
    Errors(h);
    Posted();
  }
  void TearDown() override {
    vcamctl_fault(0, VCAM_FAULT_CLEAR, 0);
    CameraTest::TearDown();
  }
  // Codes posted to the notification window since the last call.
  std::vector<int> Posted() {
    LPARAM codes[32];
    const int n = DrainCameraErrors(window.hwnd(), codes, 32);
    return std::vector<int>(codes, codes + (n < 32 ? n : 32));
  }
  void FailCommands() { ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_FAIL_COMMAND, 0)); }
  void Heal() { ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_CLEAR, 0)); }
  QelvanHandle h = 0;
};

TEST_F(PassThroughTest, RegistersReadTheLowByteOfTheNumberAndReportFailures) {
  ASSERT_EQ(1, Qelvan<int>("Qelvan_WriteRegister", h, 0x35, 0x1234));
  EXPECT_EQ(0x1234, Regs(0).regs[0x35]);
  int ok = 0;
  EXPECT_EQ(0x1234, Qelvan<int>("Qelvan_ReadRegister", h, 0x135, &ok));
  EXPECT_EQ(1, ok);
  EXPECT_EQ(0x1234, Qelvan<int>("Qelvan_ReadRegisterEx", h, 0x35, &ok));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_WriteRegisterEx", h, 0x35, 0x0042));
  EXPECT_EQ(0x42, Regs(0).regs[0x35]);
  EXPECT_EQ(0x1313, Qelvan<int>("Qelvan_ReadRegister", h, 0, static_cast<int*>(nullptr)));
  EXPECT_TRUE(Errors(h).empty());

  FailCommands();
  for (const char* name : {"Qelvan_ReadRegister", "Qelvan_ReadRegisterEx"}) {
    ok = 1;
    EXPECT_EQ(0, Qelvan<int>(name, h, 0x35, &ok)) << name;
    EXPECT_EQ(0, ok);
    EXPECT_EQ(ERR_DEVICE_IO, LastError(h)) << name;
  }
  EXPECT_EQ(0, Qelvan<int>("Qelvan_WriteRegister", h, 0x35, 7));
  EXPECT_EQ(ERR_DEVICE_IO, LastError(h));
  EXPECT_EQ(0x42, Regs(0).regs[0x35]);
}

TEST_F(PassThroughTest, RomPortAndClockReachTheCameraAndFailuresAreOnlyPosted) {
  ASSERT_EQ(1, Qelvan<int>("Qelvan_WriteSromID", h, 0x10, 0xA5));
  uint8_t rom[2048];
  ASSERT_EQ(0u, vcamctl_rom_read(0, rom));
  EXPECT_EQ(0xA5, rom[0x10]);
  int ok = 0;
  EXPECT_EQ(0xA5, Qelvan<int>("Qelvan_ReadSromID", h, 0x10, &ok));
  EXPECT_EQ(1, ok);
  // Out of byte range: refused instead of wrapping onto address 0x1800 or onto another value.
  EXPECT_EQ(0, Qelvan<int>("Qelvan_WriteSromID", h, 0x110, 1));
  EXPECT_EQ(0, Qelvan<int>("Qelvan_ReadSromID", h, -1, &ok));
  EXPECT_EQ(0, Qelvan<int>("Qelvan_WriteSromID", h, 0x10, 256));
  EXPECT_EQ(0, Qelvan<int>("Qelvan_WriteSromID", h, 0x10, -1));
  EXPECT_EQ((std::vector<int>{ERR_ARGUMENT, ERR_ARGUMENT, ERR_ARGUMENT, ERR_ARGUMENT}), Posted());
  uint8_t after[2048];
  ASSERT_EQ(0u, vcamctl_rom_read(0, after));
  EXPECT_EQ(0, std::memcmp(rom, after, sizeof rom)) << "a refused write reached the ROM";

  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetIOPort", h, 0x5A));
  EXPECT_EQ(0x5A, Regs(0).ports[7]);
  unsigned char port = 0;
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetIOPort", h, &port, 0, 0));
  EXPECT_EQ(0x5A, port);
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetIOPort", h, static_cast<unsigned char*>(nullptr), 0, 0));
  EXPECT_EQ(std::vector<int>{ERR_ARGUMENT}, Posted());

  HANDLE raw = vcamraw_open(0);
  ASSERT_NE(INVALID_HANDLE_VALUE, raw);
  ASSERT_EQ(0u, vcamraw_write_port(raw, 15, 3));
  CloseHandle(raw);
  EXPECT_EQ(3, Qelvan<int>("Qelvan_GetHalfClock", h, &ok));
  EXPECT_EQ(1, ok);
  EXPECT_TRUE(Errors(h).empty());

  FailCommands();
  port = 0xAB;
  // A failed read is reported, and the byte holds 0, not whatever the caller left there.
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetIOPort", h, &port, 0, 0));
  EXPECT_EQ(0, port);
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetHalfClock", h, &ok));
  EXPECT_EQ(0, ok);
  EXPECT_EQ(0, Qelvan<int>("Qelvan_ReadSromID", h, 0x10, &ok));
  EXPECT_EQ(0, ok);
  EXPECT_EQ(0, Qelvan<int>("Qelvan_WriteSromID", h, 0x10, 1));
  EXPECT_EQ((std::vector<int>{ERR_NOT_READY, ERR_NOT_READY, ERR_NOT_READY, ERR_NOT_READY}), Posted());
  EXPECT_EQ(0, Qelvan<int>("Qelvan_SetIOPort", h, 1));
  EXPECT_TRUE(Posted().empty());
  EXPECT_TRUE(Errors(h).empty());
}

TEST_F(PassThroughTest, MirrorsAndExposureTime) {
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetMirrorH", h, 1));
  EXPECT_EQ(0x10, Regs(0).regs[13] & 0x30);
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetMirrorV", h, 5));
  EXPECT_EQ(0x00, Regs(0).regs[13] & 0x30);
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetMirrorH", h));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetMirrorV", h));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetMirrorH", h, 0));
  EXPECT_EQ(0x20, Regs(0).regs[13] & 0x30);

  // Full width, clock 0: 3400 us is 100 lines, which read back as 3399 us.
  ASSERT_EQ(1, Qelvan<int>("Qelvan_SetHalfClock", h, 0));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetRealExposureTime", h, 3400));
  EXPECT_EQ(100, Regs(0).regs[11]);
  int ok = 0;
  EXPECT_EQ(3399, Qelvan<int>("Qelvan_GetRealExposureTime", h, &ok));
  EXPECT_EQ(1, ok);
  EXPECT_EQ(0, Qelvan<int>("Qelvan_SetRealExposureTime", h, 33));
  EXPECT_EQ(ERR_ARGUMENT, LastError(h));
  EXPECT_EQ(100, Regs(0).regs[11]);
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetRealExposureTime", h, 34));
  EXPECT_EQ(1, Regs(0).regs[11]);
  EXPECT_TRUE(Errors(h).empty());
}

// One row per filter number: its named forms, range, and where a set value shows.
struct FilterRow {
  int number;
  const char* name;  // null: no named form
  int min, max;
  int sensorRegister;  // the value (plus offset) is found in this register; 0: none
  int registerOffset;
  bool readsBack;  // the getter returns what was set (the colour gains read the sensor's 0)
};

const FilterRow kRows[] = {
    {1, "Brightness", -255, 255, 0, 0, true},      {2, "Contrast", -127, 127, 0, 0, true},
    {3, "Hue", -360, 360, 0, 0, true},             {4, "Saturation", -255, 255, 0, 0, true},
    {5, "Sharpness", 0, 30, 0, 0, true},           {7, "BayerGainRed", 0, 400, 0, 0, true},
    {8, "BayerGainGreen", 0, 400, 0, 0, true},     {9, "BayerGainBlue", 0, 400, 0, 0, true},
    {11, "Gamma", 0, 200, 0, 0, true},             {12, "BayerMode", 0, 3, 0, 0, true},
    {13, "GlobalGain", 0, 63, 53, 16, true},       {14, "ColorGainRed", 0, 63, 0, 0, false},
    {15, "ColorGainGreen1", 0, 63, 0, 0, false},   {16, "ColorGainGreen2", 0, 63, 0, 0, false},
    {17, "ColorGainBlue", 0, 63, 0, 0, false},     {18, "ExposureTime", 1, 32767, 11, 0, true},
    {19, "GrayMode", 0, 2, 0, 0, true},            {20, "GrayGainR", 0, 255, 0, 0, true},
    {21, "GrayGainG1", 0, 255, 0, 0, true},        {22, "GrayGainG2", 0, 255, 0, 0, true},
    {23, "GrayGainB", 0, 255, 0, 0, true},         {24, "GrayOffsetR", -255, 255, 0, 0, true},
    {25, "GrayOffsetG1", -255, 255, 0, 0, true},   {26, "GrayOffsetG2", -255, 255, 0, 0, true},
    {27, "GrayOffsetB", -255, 255, 0, 0, true},    {28, nullptr, 0, 1, 0, 0, true},
};

TEST_F(PassThroughTest, EveryFilterNumberAcceptsItsEdgesAndRefusesOneStepBeyond) {
  for (const FilterRow& row : kRows) {
    SCOPED_TRACE(testing::Message() << row.number << " " << (row.name ? row.name : ""));
    const std::string set = row.name ? std::string("Qelvan_Set") + row.name : "";
    const std::string get = row.name ? std::string("Qelvan_Get") + row.name : "";
    // Named setter with the generic getter for the edges, then the other way round.
    for (int pass = 0; pass < 2; ++pass) {
      const bool named = pass == 0 && row.name;
      for (int value : {row.min, row.max}) {
        const int set1 = named ? Qelvan<int>(set.c_str(), h, value)
                               : Qelvan<int>("Qelvan_SetFilterValue", h, row.number, value);
        EXPECT_EQ(1, set1) << value;
        int ok = 0;
        const int got = named || !row.name ? Qelvan<int>("Qelvan_GetFilterValue", h, row.number, &ok)
                                           : Qelvan<int>(get.c_str(), h, &ok);
        EXPECT_EQ(1, ok);
        EXPECT_EQ(row.readsBack ? value : 0, got) << value;
        if (row.sensorRegister) {
          EXPECT_EQ(value + row.registerOffset, Regs(0).regs[row.sensorRegister]);
        }
      }
      for (int value : {row.min - 1, row.max + 1}) {
        const int set1 = named ? Qelvan<int>(set.c_str(), h, value)
                               : Qelvan<int>("Qelvan_SetFilterValue", h, row.number, value);
        EXPECT_EQ(0, set1) << value;
        EXPECT_EQ(ERR_ARGUMENT, LastError(h)) << value;
        int ok = 0;
        EXPECT_EQ(row.readsBack ? row.max : 0, Qelvan<int>("Qelvan_GetFilterValue", h, row.number, &ok)) << value;
        if (row.sensorRegister) {
          EXPECT_EQ(row.max + row.registerOffset, Regs(0).regs[row.sensorRegister]);
        }
      }
    }
    if (row.name) {
      EXPECT_EQ(row.readsBack ? row.max : 0, Qelvan<int>(get.c_str(), h, static_cast<int*>(nullptr)));
    }
  }
  EXPECT_TRUE(Errors(h).empty());
}

TEST_F(PassThroughTest, PackedBayerGainsWhiteBalanceAndUnknownNumbers) {
  const int packed = 50 | 100 << 8 | 200 << 16;
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetBayerGainRGB", h, packed | 0x7F000000));
  int ok = 0;
  EXPECT_EQ(50, Qelvan<int>("Qelvan_GetBayerGainRed", h, &ok));
  EXPECT_EQ(100, Qelvan<int>("Qelvan_GetBayerGainGreen", h, &ok));
  EXPECT_EQ(200, Qelvan<int>("Qelvan_GetBayerGainBlue", h, &ok));
  EXPECT_EQ(packed, Qelvan<int>("Qelvan_GetBayerGainRGB", h, &ok));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetBayerGainBlue", h, 400));  // beyond a byte: the packed form cuts it
  EXPECT_EQ(packed & 0xFFFF, Qelvan<int>("Qelvan_GetFilterValue", h, 6, &ok) & 0xFFFF);
  EXPECT_EQ(400 & 0xFF, (Qelvan<int>("Qelvan_GetFilterValue", h, 6, &ok) >> 16) & 0xFF);

  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetBayerGainAuto", h, 7));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetBayerGainAuto", h, &ok));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetFilterValue", h, 10, 0));
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetFilterValue", h, 10, &ok));
  EXPECT_TRUE(Errors(h).empty());

  for (int number : {0, 29, -1, 1000}) {
    ok = 1;
    EXPECT_EQ(0, Qelvan<int>("Qelvan_SetFilterValue", h, number, 0)) << number;
    EXPECT_EQ(ERR_ARGUMENT, LastError(h));
    EXPECT_EQ(0, Qelvan<int>("Qelvan_GetFilterValue", h, number, &ok)) << number;
    EXPECT_EQ(0, ok);
    EXPECT_EQ(ERR_ARGUMENT, LastError(h));
  }
}

TEST_F(PassThroughTest, SensorSettingsReportAFailedReadOrWrite) {
  FailCommands();
  for (int number : {13, 18}) {
    int ok = 1;
    EXPECT_EQ(0, Qelvan<int>("Qelvan_GetFilterValue", h, number, &ok)) << number;
    EXPECT_EQ(0, ok);
    EXPECT_EQ(ERR_DEVICE_IO, LastError(h));
    EXPECT_EQ(0, Qelvan<int>("Qelvan_SetFilterValue", h, number, 20)) << number;
    EXPECT_EQ(ERR_DEVICE_IO, LastError(h));
  }
  Heal();
  int ok = 0;
  EXPECT_EQ(16, Qelvan<int>("Qelvan_GetGlobalGain", h, &ok));  // the failed set changed nothing
  EXPECT_EQ(480, Qelvan<int>("Qelvan_GetExposureTime", h, &ok));
}

TEST_F(PassThroughTest, SettingsComeBackAfterANewInitializeAndReachTheSensorInPushOrder) {
  ASSERT_EQ(1, Qelvan<int>("Qelvan_SetGlobalGain", h, 25));  // also the four colour gains
  ASSERT_EQ(1, Qelvan<int>("Qelvan_SetColorGainBlue", h, 5));
  ASSERT_EQ(1, Qelvan<int>("Qelvan_SetExposureTime", h, 250));
  ASSERT_EQ(1, Qelvan<int>("Qelvan_SetMirrorV", h, 1));
  ASSERT_EQ(1, Qelvan<int>("Qelvan_SetMirrorH", h, 1));
  ASSERT_EQ(1, Qelvan<int>("Qelvan_SetAutoIris", h, 2));
  ASSERT_EQ(1, Qelvan<int>("Qelvan_SetBrightness", h, -50));
  ASSERT_EQ(1, Qelvan<int>("Qelvan_SetGrayGainB", h, 77));
  ASSERT_EQ(1, Release(h));
  const std::string gain = CameraPath(0, "Gain");
  EXPECT_EQ(25, Dword(gain, "ColorG1"));
  EXPECT_EQ(25, Dword(gain, "ColorR"));
  EXPECT_EQ(5, Dword(gain, "ColorB"));
  EXPECT_EQ(25, Dword(gain, "ColorG2"));

  ASSERT_EQ(0u, vcamctl_reset());
  const uint32_t before = LogCount(0);
  h = Open();
  const RegWrites writes = WritesSince(0, before);
  ASSERT_GE(writes.size(), 4u);
  EXPECT_EQ((std::pair<int, int>(53, 41)), writes[writes.size() - 4]);
  EXPECT_EQ((std::pair<int, int>(11, 250)), writes[writes.size() - 3]);
  EXPECT_EQ(0, Regs(0).regs[13] & 0x30);  // both mirrors on
  int ok = 0;
  EXPECT_EQ(25, Qelvan<int>("Qelvan_GetGlobalGain", h, &ok));
  EXPECT_EQ(250, Qelvan<int>("Qelvan_GetExposureTime", h, &ok));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetMirrorV", h));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetMirrorH", h));
  EXPECT_EQ(2, Qelvan<int>("Qelvan_GetAutoIris", h, &ok));
  EXPECT_EQ(-50, Qelvan<int>("Qelvan_GetBrightness", h, &ok));
  EXPECT_EQ(77, Qelvan<int>("Qelvan_GetGrayGainB", h, &ok));
  EXPECT_TRUE(Errors(h).empty());
}

TEST_F(PassThroughTest, CaptureWindowAndCameraInfo) {
  EXPECT_EQ(0, Qelvan<int>("Qelvan_SetCaptureWindowEx", h, 752, 100, 700, 480, 0, 480));
  EXPECT_EQ(ERR_GEOMETRY, LastError(h));
  EXPECT_EQ(700, Qelvan<int>("Qelvan_Width", h));  // kept, so the next start fails too
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetCaptureWindowEx", h, 752, 100, 652, 480, 20, 400));
  EXPECT_EQ(652, Regs(0).regs[4]);
  EXPECT_EQ(400, Regs(0).regs[3]);
  EXPECT_EQ(400, Qelvan<int>("Qelvan_Height", h));

  QelvanCameraInfo info = {};
  info.size = 36;
  ASSERT_EQ(1, Qelvan<int>("Qelvan_GetCameraInfo", h, &info));
  EXPECT_EQ((std::vector<int>{752, 480, 0, 63, 0, 63, 1, 32767}),
            (std::vector<int>{info.width, info.height, info.globalGainMin, info.globalGainMax, info.colorGainMin,
                              info.colorGainMax, info.exposureMin, info.exposureMax}));
  info = {};
  info.size = 35;
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetCameraInfo", h, &info));
  EXPECT_EQ(ERR_MEMORY, LastError(h));
  EXPECT_EQ(0, info.width);
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetCameraInfo", h, static_cast<QelvanCameraInfo*>(nullptr)));
  EXPECT_EQ(ERR_ARGUMENT, LastError(h));
}

}  // namespace
