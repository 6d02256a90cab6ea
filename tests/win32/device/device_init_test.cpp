// Sensor initialisation, capture window and register-level operations against the virtual camera.
#include <algorithm>
#include <climits>

#include "device/qelvan_device.h"
#include "vcam_fixture.h"

namespace {

RegWrites Expected(std::initializer_list<std::pair<int, int>> writes) { return RegWrites(writes); }

// The soft reset, then each chip version's writes, written out here on their own so that a
// wrong table in the library cannot agree with itself.
RegWrites SequenceOf(uint16_t chip) {
  RegWrites out{{12, 1}};
  RegWrites seq;
  switch (chip) {
    case 0x1300:
      seq = {{5, 100}, {32, 17}, {44, 6},   {169, 2}, {71, 0x8081}, {72, 20}, {16, 31}, {112, 4},
             {10, 375}, {28, 3}, {49, 16},  {50, 13}, {51, 4},      {52, 4},  {54, 63}, {7, 836}};
      break;
    case 0x1310:
      seq = {{5, 85},  {32, 17}, {44, 6},  {169, 2}, {71, 0x8081}, {72, 20}, {16, 31}, {112, 4},
             {10, 375}, {28, 3}, {49, 16}, {50, 13}, {51, 4},      {52, 4},  {54, 63}};
      break;
    case 0x1311:
      seq = {{7, 904},   {21, 32562}, {15, 17}, {32, 465}, {112, 4}, {115, 759}, {194, 64},
             {28, 2},    {49, 31},    {50, 26}, {51, 18},  {175, 0}, {43, 3},    {16, 42}};
      break;
    case 0x1313:
      seq = {{7, 904},   {15, 17},   {19, 11570}, {49, 31},    {50, 26},  {51, 18},
             {175, 0},   {43, 3},    {16, 64},    {16, 64},    {32, 469}, {43, 0},
             {72, 0},    {112, 4},   {115, 759},  {171, 0},    {191, 20}, {21, 32562},
             {32, 465},  {28, 2},    {194, 2112}, {116, 16}};
      break;
    case 0x1324:
      seq = {{7, 904}, {27, 2}, {28, 2}, {49, 31}, {50, 26}, {51, 18}, {175, 0}, {114, 16}, {15, 0}};
      break;
    default:
      break;
  }
  out.insert(out.end(), seq.begin(), seq.end());
  return out;
}

using SensorInit = VirtualCamera;

TEST_F(SensorInit, EachChipGetsItsExactSequence) {
  CQelvanZ51QKRVNSdk dev;
  const uint16_t chips[] = {0x1300, 0x1310, 0x1311, 0x1313, 0x1324, 0x1234};
  int cam = 1;
  for (uint16_t chip : chips) {
    ASSERT_EQ(vcamctl_attach(cam, 0, chip), 0u);
    ASSERT_EQ(dev.SelectDevice(cam), 0);
    const uint32_t before = LogCount(cam);
    EXPECT_EQ(dev.RunSensorInit(), 1);
    const RegWrites writes = WritesSince(cam, before);
    EXPECT_EQ(writes, SequenceOf(chip)) << std::hex << chip;
    EXPECT_TRUE(HandlesSettleAt(cam, 0));
    ++cam;
  }
  // The unknown version got the reset alone.
  EXPECT_EQ(SequenceOf(0x1234), Expected({{12, 1}}));
}

TEST_F(SensorInit, ConstructionInitialisesDeviceZero) {
  CQelvanZ51QKRVNSdk dev;
  EXPECT_EQ(dev.GetSelectedDevice(), 0);
  EXPECT_EQ(dev.IsDevicePresent(0), 1);
  EXPECT_EQ(dev.IsDevicePresent(1), 0);
  const vcam_regs regs = Regs(0);
  RegWrites writes = WritesSince(0, 0);
  RegWrites expected = SequenceOf(0x1313);
  // The full window, then both mirrors off, then trigger mode off.
  const RegWrites window = {{13, regs.regs[13] & 0xFFCF}, {114, 16}, {5, 64}, {6, 45},
                            {1, 1},  {2, 4},    {3, 480}, {4, 752}};
  expected.insert(expected.end(), window.begin(), window.end());
  ASSERT_GE(writes.size(), expected.size() + 6);
  // Register 13 in the window step keeps what the sensor held; compare it without the mirror bits.
  writes[expected.size() - 8].second &= 0xFFCF;
  EXPECT_EQ(RegWrites(writes.begin(), writes.begin() + expected.size()), expected);
  const RegWrites rest(writes.begin() + expected.size(), writes.end());
  ASSERT_EQ(rest.size(), 6u);
  EXPECT_EQ(rest[0].first, 13);
  EXPECT_EQ(rest[1].first, 13);
  EXPECT_EQ(rest[1].second & 0x30, 0x30);  // both mirrors off
  EXPECT_EQ(rest[2], std::make_pair(7, 904));
  EXPECT_EQ(rest[3].first, 32);
  EXPECT_EQ(rest[4].first, 175);
  EXPECT_EQ(rest[5].first, 71);
  EXPECT_EQ(regs.ports[11], 0);
  EXPECT_EQ(regs.ports[14], 0);
  EXPECT_EQ(regs.wide_enable, 1u);  // this model always enables the controller's wide path
  EXPECT_TRUE(HandlesSettleAt(0, 0));
  // Another device number out of range is refused before anything is sent.
  const uint32_t commands = Info(0).commands;
  EXPECT_EQ(dev.InitDevice(32), 22);
  EXPECT_EQ(Info(0).commands, commands);
}

using CaptureWindow = VirtualCamera;

TEST_F(CaptureWindow, FullWindowAndBinning) {
  CQelvanZ51QKRVNSdk dev;
  uint32_t before = LogCount(0);
  uint32_t commands = Info(0).commands;
  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 0), 0);
  RegWrites w = WritesSince(0, before);
  ASSERT_EQ(w.size(), 8u);
  EXPECT_EQ(w[0].first, 13);
  EXPECT_EQ(w[0].second & 0xF, 0);
  EXPECT_EQ(RegWrites(w.begin() + 1, w.end()),
            Expected({{114, 16}, {5, 64}, {6, 45}, {1, 1}, {2, 4}, {3, 480}, {4, 752}}));
  // One read, eight register writes, the transfer size command and four port writes.
  EXPECT_EQ(Info(0).commands - commands, 14u);
  vcam_regs regs = Regs(0);
  EXPECT_EQ(Transfer(regs), 361472u);
  EXPECT_EQ(regs.transfer_pixels, 361472u);
  EXPECT_EQ(dev.OutputWidth(), 752);
  EXPECT_EQ(dev.OutputLines(), 480);
  EXPECT_EQ(dev.WrittenTransferSize(), 361472);
  EXPECT_EQ(Info(0).width, 752u);
  EXPECT_EQ(Info(0).height, 480u);
  EXPECT_EQ(dev.LargeShot(), 0);

  before = LogCount(0);
  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 1), 0);
  w = WritesSince(0, before);
  ASSERT_EQ(w.size(), 8u);
  EXPECT_EQ(w[0].second & 0xF, 5);
  EXPECT_EQ(RegWrites(w.begin() + 1, w.end()),
            Expected({{114, 0}, {5, 284}, {6, 45}, {1, 1}, {2, 4}, {3, 480}, {4, 752}}));
  EXPECT_EQ(dev.OutputWidth(), 376);
  EXPECT_EQ(dev.OutputLines(), 240);
  EXPECT_EQ(Transfer(Regs(0)), 91136u);  // 90240 rounded up to 89 x 1024
  EXPECT_EQ(Info(0).width, 376u);
  EXPECT_EQ(Info(0).height, 240u);

  before = LogCount(0);
  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 2), 0);
  w = WritesSince(0, before);
  ASSERT_EQ(w.size(), 8u);
  EXPECT_EQ(w[0].second & 0xF, 10);
  EXPECT_EQ(w[2], std::make_pair(5, 472));  // (663 - 188) & ~3
  EXPECT_EQ(Info(0).width, 188u);
  // The other register bits of 13 survive the binning change.
  EXPECT_EQ(w[0].second & 0xFFF0, Regs(0).regs[13] & 0xFFF0);
  EXPECT_TRUE(HandlesSettleAt(0, 0));
}

TEST_F(CaptureWindow, MarginsModesAndRejections) {
  CQelvanZ51QKRVNSdk dev;
  uint32_t before = LogCount(0);
  ASSERT_EQ(dev.SetCaptureWindow(1, 1, 751, 479, 0), 0);
  EXPECT_EQ(dev.ColumnMargin(), 0);
  EXPECT_EQ(dev.RowMargin(), 0);
  RegWrites w = WritesSince(0, before);
  ASSERT_EQ(w.size(), 8u);
  EXPECT_EQ(RegWrites(w.begin() + 4, w.end()), Expected({{1, 1}, {2, 4}, {3, 480}, {4, 752}}));

  before = LogCount(0);
  ASSERT_EQ(dev.SetCaptureWindow(100, 40, 201, 99, 0), 0);
  w = WritesSince(0, before);
  ASSERT_EQ(w.size(), 8u);
  // Margins 451 and 341; sizes rounded up to even.
  EXPECT_EQ(RegWrites(w.begin() + 4, w.end()), Expected({{1, 452}, {2, 345}, {3, 100}, {4, 202}}));
  EXPECT_EQ(w[2], std::make_pair(5, (663 - 201) & 0xFFFC));
  EXPECT_EQ(Transfer(Regs(0)), 20480u);  // 201 x 99 = 19899 rounded up

  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 17), 0);
  EXPECT_EQ(dev.SubSample(), 17);
  EXPECT_EQ(Regs(0).regs[114], 16);
  EXPECT_EQ(Regs(0).regs[13] & 0xF, 0);
  EXPECT_EQ(dev.OutputWidth(), 752);

  // Refusals send nothing and keep the geometry.
  const uint32_t commands = Info(0).commands;
  before = LogCount(0);
  EXPECT_EQ(dev.SetCaptureWindow(100, 0, 3, 10, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 16), 1);
  EXPECT_EQ(dev.SetCaptureWindow(-1, 0, 100, 100, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 100, 2, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(653, 0, 100, 100, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(0, 381, 100, 100, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(INT_MAX, 0, 100, 100, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(10, 10, INT_MAX, 100, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 752, 3, 2), 1);  // binned to no line at all
  EXPECT_EQ(Info(0).commands, commands);
  EXPECT_EQ(LogCount(0), before);
  EXPECT_EQ(dev.SubSample(), 17);
  EXPECT_EQ(dev.OutputWidth(), 752);
  EXPECT_EQ(dev.OutputLines(), 480);
}

TEST_F(CaptureWindow, FailedReadOfRegister13DoesNotStopTheSetUp) {
  CQelvanZ51QKRVNSdk dev;
  const uint32_t before = LogCount(0);
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_FAIL_COMMAND, 1), 0u);  // the read of register 13
  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 1), 0);
  // The mirror bits (5 and 4 set: both off) come from the cached flags, not the failed read.
  EXPECT_EQ(WritesSince(0, before),
            Expected({{13, 0x35}, {114, 0}, {5, 284}, {6, 45}, {1, 1}, {2, 4}, {3, 480}, {4, 752}}));
  EXPECT_EQ(Transfer(Regs(0)), 91136u);
  // With mirror H on, only bit 4 is set.
  ASSERT_EQ(dev.SetMirrorH(1), 1);
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_FAIL_COMMAND, 1), 0u);
  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 2), 0);
  EXPECT_EQ(Regs(0).regs[13], 0x1A);
}

TEST_F(CaptureWindow, WideTransferSizesAndLargeFrames) {
  CQelvanZ51QKRVNSdk dev;
  dev.SetWideTransfer(1);
  EXPECT_EQ(Regs(0).ports[14], 1);
  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 0), 0);
  EXPECT_EQ(dev.TransferBytes(), 722944);
  EXPECT_EQ(dev.LargeShot(), 0);
  EXPECT_EQ(Info(0).transfer_bytes, 722944u);

  // A frame of 3000 x 1024 bytes goes through the large codes.
  dev.SetWideTransfer(0);
  ASSERT_EQ(dev.AllocateFrameBuffers(3000, 0, 3000, 1024, 0, 1024, 4), 0);
  EXPECT_EQ(Regs(0).transfer_pixels, 3072000u);
  dev.UpdateLargeFlag();
  ASSERT_EQ(dev.LargeShot(), 1);
  const vcam_camera_info before = Info(0);
  EXPECT_EQ(dev.SingleShot(), 0);
  vcam_camera_info after = Info(0);
  EXPECT_EQ(after.requests[VCAM_CODE_PIPE_IN_LARGE] - before.requests[VCAM_CODE_PIPE_IN_LARGE], 1u);
  ASSERT_EQ(dev.StartStreaming(), 0);
  ASSERT_TRUE(WaitUntil([&] { return Info(0).frames_delivered >= after.frames_delivered + 2; }));
  EXPECT_EQ(dev.StopStreaming(), 0);
  EXPECT_GE(Info(0).requests[VCAM_CODE_PIPE_IN_LARGE] - after.requests[VCAM_CODE_PIPE_IN_LARGE], 2u);
  dev.CloseSingleShot();
  EXPECT_TRUE(HandlesSettleAt(0, 0));
}

using Registers = VirtualCamera;

TEST_F(Registers, ExposureGainAndClock) {
  CQelvanZ51QKRVNSdk dev;
  uint32_t before = LogCount(0);
  EXPECT_EQ(dev.SetExposureLines(0), 1);
  EXPECT_EQ(dev.SetExposureLines(0x8000), 1);
  EXPECT_EQ(dev.SetExposureLines(0x12345), 1);
  EXPECT_EQ(dev.SetExposureLines(480), 1);
  EXPECT_EQ(dev.SetGlobalGain(300), 1);
  EXPECT_EQ(WritesSince(0, before),
            Expected({{11, 1}, {11, 0x7FFF}, {11, 0x2345}, {11, 480}, {53, 60}}));
  uint16_t lines = 0;
  EXPECT_EQ(dev.GetExposureLines(&lines), 1);
  EXPECT_EQ(lines, 480);
  ASSERT_EQ(dev.WriteSensorRegister(11, 0x8123), 1);
  EXPECT_EQ(dev.GetExposureLines(&lines), 1);
  EXPECT_EQ(lines, 0x0123);
  EXPECT_EQ(dev.GetGlobalGain(), 44);  // 60 - 16
  ASSERT_EQ(dev.WriteSensorRegister(53, 10), 1);
  EXPECT_EQ(dev.GetGlobalGain(), 10);
  ASSERT_EQ(dev.WriteSensorRegister(53, 40), 1);
  EXPECT_EQ(dev.GetGlobalGain(), 24);
  uint16_t chip = 0;
  EXPECT_EQ(dev.ReadSensorRegister(0, &chip), 1);
  EXPECT_EQ(chip, 0x1313);

  EXPECT_EQ(dev.SetClockSetting(2), 1);
  EXPECT_EQ(Regs(0).ports[15], 3);
  uint8_t clock = 0;
  EXPECT_EQ(dev.ReadClockSetting(&clock), 1);
  EXPECT_EQ(clock, 3);
  EXPECT_EQ(dev.SetClockSetting(0x105), 1);
  EXPECT_EQ(Regs(0).ports[15], 5);
  EXPECT_EQ(dev.WritePort(7, 0xA5), 1);
  uint8_t io = 0;
  EXPECT_EQ(dev.ReadPort(7, &io), 1);
  EXPECT_EQ(io, 0xA5);

  // This sensor has no colour gains: nothing is sent.
  const uint32_t commands = Info(0).commands;
  int value = 5;
  EXPECT_EQ(dev.QueryColorGain(43, &value), 1);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(dev.QueryColorGain(46, &value), 1);
  EXPECT_EQ(dev.QueryColorGain(47, &value), 0);
  value = 5;
  EXPECT_EQ(dev.QueryColorGainParam(43, &value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(dev.SetColorGain(43, 100), 0);
  EXPECT_EQ(Info(0).commands, commands);
  EXPECT_TRUE(HandlesSettleAt(0, 0));
  EXPECT_TRUE(WaitUntil([] { return Info(0).opens == Info(0).closes; }, 5000));
}

TEST_F(Registers, MirrorsKeepTheOtherBits) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 1), 0);  // binning code 5 in register 13
  uint32_t before = LogCount(0);
  EXPECT_EQ(dev.SetMirrorH(1), 1);
  uint16_t r13 = Regs(0).regs[13];
  EXPECT_EQ(r13 & 0x30, 0x10);  // H on (bit 5 clear), V still off
  EXPECT_EQ(r13 & 0xF, 5);
  EXPECT_EQ(dev.SetMirrorV(1), 1);
  r13 = Regs(0).regs[13];
  EXPECT_EQ(r13 & 0x30, 0x00);
  EXPECT_EQ(r13 & 0xF, 5);
  EXPECT_EQ(dev.SetMirrorH(0), 1);
  EXPECT_EQ(Regs(0).regs[13] & 0x30, 0x20);
  const RegWrites w = WritesSince(0, before);
  ASSERT_EQ(w.size(), 3u);
  for (const auto& e : w) EXPECT_EQ(e.first, 13);
  EXPECT_EQ(dev.ReadMirrorH(), 0);
  EXPECT_EQ(dev.ReadMirrorV(), 1);
  EXPECT_EQ(dev.MirrorV(), 1);
  // Changed behind the device's back: the read-back refreshes the cache.
  ASSERT_EQ(dev.WriteSensorRegister(13, static_cast<uint16_t>(Regs(0).regs[13] | 0x30)), 1);
  EXPECT_EQ(dev.ReadMirrorV(), 0);
  EXPECT_EQ(dev.SetMirrorH(1), 1);
  EXPECT_EQ(Regs(0).regs[13] & 0x30, 0x10);
}

TEST_F(Registers, TriggerModeOnAndOff) {
  CQelvanZ51QKRVNSdk dev;
  const vcam_regs start = Regs(0);
  uint32_t before = LogCount(0);
  EXPECT_EQ(dev.SetTriggerMode(1), 1);
  EXPECT_EQ(WritesSince(0, before),
            Expected({{7, 920},
                      {32, start.regs[32] | 0x204},
                      {175, start.regs[175]},
                      {71, start.regs[71] | 1},
                      {12, 1}}));
  EXPECT_EQ(Regs(0).ports[11], 1);
  EXPECT_EQ(dev.TriggerMode(), 1);
  EXPECT_EQ(Info(0).trigger_mode, 1u);

  const vcam_regs on = Regs(0);
  // The soft reset that applies trigger mode keeps the window, binning, exposure and gain.
  for (int reg : {1, 2, 3, 4, 11, 13, 53}) EXPECT_EQ(on.regs[reg], start.regs[reg]) << "register " << reg;
  before = LogCount(0);
  EXPECT_EQ(dev.SetTriggerMode(0), 1);
  EXPECT_EQ(WritesSince(0, before), Expected({{7, 904},
                                              {32, on.regs[32] & 0xFDFB},
                                              {175, on.regs[175]},
                                              {71, on.regs[71] & ~1}}));
  EXPECT_EQ(Regs(0).ports[11], 0);
  EXPECT_EQ(dev.TriggerMode(), 0);
  EXPECT_TRUE(HandlesSettleAt(0, 0));
}

TEST_F(Registers, SerialRom) {
  CQelvanZ51QKRVNSdk dev;
  uint8_t rom[2048];
  ASSERT_EQ(vcamctl_rom_read(0, rom), 0u);
  uint8_t v = 0x5A;
  const uint32_t commands = Info(0).commands;
  EXPECT_EQ(dev.ReadSrom(0x17FF, &v), 0);
  EXPECT_EQ(v, 0x5A);
  EXPECT_EQ(Info(0).commands, commands);
  EXPECT_EQ(dev.ReadSrom(SROM_SAMPLING_ADDRESS, &v), 1);
  EXPECT_EQ(v, rom[SROM_SAMPLING_ADDRESS - 0x1800]);
  EXPECT_EQ(dev.ReadSromID(0, &v), 1);
  EXPECT_EQ(v, rom[0]);
  EXPECT_EQ(dev.WriteSromID(0x21, 0x77), 1);
  ASSERT_EQ(vcamctl_rom_read(0, rom), 0u);
  EXPECT_EQ(rom[0x21], 0x77);
  EXPECT_EQ(dev.ReadSromID(0x21, &v), 1);
  EXPECT_EQ(v, 0x77);
  ASSERT_EQ(vcamctl_rom_write(0, 0x1FFF, 0x3C), 0u);
  EXPECT_EQ(dev.ReadSrom(0x1FFF, &v), 1);
  EXPECT_EQ(v, 0x3C);
  EXPECT_TRUE(HandlesSettleAt(0, 0));
}

TEST_F(Registers, FailuresReportZeroAndWriteNothingMadeUp) {
  CQelvanZ51QKRVNSdk dev;
  uint16_t value = 0x1234;
  uint8_t byte = 0x12;
  // Command packets fail: every operation reports 0.
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_FAIL_COMMAND, 0), 0u);
  EXPECT_EQ(dev.WriteSensorRegister(11, 100), 0);
  EXPECT_EQ(dev.ReadSensorRegister(11, &value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(dev.ReadPort(7, &byte), 0);
  EXPECT_EQ(byte, 0);
  byte = 0x12;
  EXPECT_EQ(dev.ReadSrom(0x1800, &byte), 0);  // the request never reached the camera
  EXPECT_EQ(byte, 0x12);
  EXPECT_EQ(dev.WriteSromID(0, 1), 0);
  EXPECT_EQ(dev.SetMirrorH(1), 0);
  EXPECT_EQ(dev.MirrorH(), 0);
  EXPECT_EQ(dev.SetTriggerMode(1), 0);
  EXPECT_EQ(dev.TriggerMode(), 0);
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_CLEAR, 0), 0u);
  EXPECT_EQ(Regs(0).ports[11], 0);

  // A read of register 13 that fails does not lead to a write of it.
  const uint32_t before = LogCount(0);
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_FAIL_COMMAND, 1), 0u);
  EXPECT_EQ(dev.SetMirrorV(1), 0);
  EXPECT_EQ(LogCount(0), before);
  // Likewise the three read-modify-writes of trigger mode.
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_FAIL_COMMAND, 1), 0u);
  EXPECT_EQ(dev.SetTriggerMode(1), 0);
  EXPECT_EQ(LogCount(0), before);

  // A camera that is not there: the request fails on the invalid handle.
  ASSERT_EQ(dev.SelectDevice(5), 0);
  value = 7;
  EXPECT_EQ(dev.ReadSensorRegister(0, &value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(dev.WritePort(7, 1), 0);
  EXPECT_TRUE(HandlesSettleAt(0, 0));
}

TEST_F(Registers, QueryRegisterCopiesAtMostOnePacket) {
  HANDLE h = nullptr;
  char path[DEVICE_PATH_CHARS];
  FormatDevicePath(path, sizeof(path), DRIVER_BASE_NAME, 0);
  ASSERT_EQ(OpenDriver(&h, path), 1);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint8_t out[100];
  std::fill(out, out + 100, 0xEE);
  EXPECT_EQ(QueryRegister(h, 0, out, 2), 0);
  EXPECT_EQ(out[0] << 8 | out[1], 0x1313);
  EXPECT_EQ(out[2], 0xEE);
  std::fill(out, out + 100, 0xEE);
  EXPECT_EQ(QueryRegister(h, 0, out, 100), 0);
  EXPECT_EQ(out[0] << 8 | out[1], 0x1313);
  EXPECT_EQ(out[63], 0);     // the rest of the reply packet
  EXPECT_EQ(out[64], 0xEE);  // nothing past it
  EXPECT_TRUE(HandlesSettleAt(0, 1));
  EXPECT_EQ(CloseDriver(&h), 1);
  EXPECT_EQ(h, nullptr);
  EXPECT_TRUE(HandlesSettleAt(0, 0));
  // Enumeration sees attached cameras only and closes what it opened.
  ASSERT_EQ(vcamctl_attach(23, 0, 0), 0u);
  CQLVSdkLib probe;
  probe.EnumerateDevices();
  for (int n = 0; n < 32; ++n) EXPECT_EQ(probe.IsDevicePresent(n), n == 0 || n == 23 ? 1 : 0) << n;
  EXPECT_TRUE(HandlesSettleAt(23, 0));
  EXPECT_TRUE(WaitUntil([] { return Info(23).opens == 1u && Info(23).closes == 1u; }, 5000));
}

}  // namespace
