#include "device/qelvan_device.h"

namespace {

constexpr DWORD kSensorSettleMs = 100;
constexpr DWORD kTriggerResetMs = 16;

const RegisterWrite kChip1300[] = {{5, 100},  {32, 17},     {44, 6},   {169, 2}, {71, 0x8081},
                                   {72, 20},  {16, 31},     {112, 4},  {10, 375}, {28, 3},
                                   {49, 16},  {50, 13},     {51, 4},   {52, 4},  {54, 63},
                                   {7, 836}};
const RegisterWrite kChip1310[] = {{5, 85},  {32, 17}, {44, 6},   {169, 2}, {71, 0x8081},
                                   {72, 20}, {16, 31}, {112, 4},  {10, 375}, {28, 3},
                                   {49, 16}, {50, 13}, {51, 4},   {52, 4},  {54, 63}};
const RegisterWrite kChip1311[] = {{7, 904},  {21, 32562}, {15, 17}, {32, 465}, {112, 4},
                                   {115, 759}, {194, 64},  {28, 2},  {49, 31},  {50, 26},
                                   {51, 18},  {175, 0},    {43, 3},  {16, 42}};
// Registers 16, 43 and 32 appear twice on purpose.
const RegisterWrite kChip1313[] = {{7, 904},   {15, 17},   {19, 11570}, {49, 31},   {50, 26},
                                   {51, 18},   {175, 0},   {43, 3},     {16, 64},   {16, 64},
                                   {32, 469},  {43, 0},    {72, 0},     {112, 4},   {115, 759},
                                   {171, 0},   {191, 20},  {21, 32562}, {32, 465},  {28, 2},
                                   {194, 2112}, {116, 16}};
const RegisterWrite kChip1324[] = {{7, 904},  {27, 2},  {28, 2},  {49, 31}, {50, 26},
                                   {51, 18},  {175, 0}, {114, 16}, {15, 0}};

template <size_t N>
const RegisterWrite* Sequence(const RegisterWrite (&seq)[N], size_t* count) {
  *count = N;
  return seq;
}

bool ValidSubsample(int mode) {
  return mode == 0 || mode == 1 || mode == 2 || mode == 3 || mode == 17 || mode == 18;
}

}  // namespace

const RegisterWrite* SensorSequence(uint16_t chipVersion, size_t* count) {
  switch (chipVersion) {
    case 0x1300: return Sequence(kChip1300, count);
    case 0x1310: return Sequence(kChip1310, count);
    case 0x1311: return Sequence(kChip1311, count);
    case 0x1313: return Sequence(kChip1313, count);
    case 0x1324: return Sequence(kChip1324, count);
    default: *count = 0; return nullptr;
  }
}

SensorWindow ComputeSensorWindow(int cm, int rm, int width, int height, int f) {
  const qlv_window_regs r = qlv_window_registers(cm, rm, width, height, f);
  return SensorWindow{r.row_start, r.column_start, r.height, r.width};
}

uint16_t HorizontalBlanking(int bw) {
  return static_cast<uint16_t>(bw >= 570 ? 64 : (663 - bw) & 0xFFFC);
}

CQelvanZ51QKRVNSdk::CQelvanZ51QKRVNSdk() {
  EnumerateDevices();
  InitDevice(0);
}

CQelvanZ51QKRVNSdk::CQelvanZ51QKRVNSdk(DeferInit) {
  EnumerateDevices();
  ResetGeometry();
  SelectDevice(0);
}

int CQelvanZ51QKRVNSdk::InitDevice(uint32_t number) {
  // The transfer thread and the consumer use the buffers about to be replaced.
  if (IsStreaming()) return DEV_BUSY;
  ResetGeometry();
  if (SelectDevice(number) != DEV_OK) return DEV_BAD_NUMBER;
  SetWideTransfer(0);
  const uint8_t init[] = {CMD_DEVICE_INIT};
  SendPacket(init, sizeof(init));
  RunSensorInit();
  SetCaptureWindow(0, 0, SENSOR_WIDTH, SENSOR_HEIGHT, 0);
  SetMirrorV(0);
  SetMirrorH(0);
  SetTriggerMode(0);
  return DEV_OK;
}

int CQelvanZ51QKRVNSdk::RunSensorInit() {
  // The pause lets a reset sensor settle; when the reset never reached a camera there is
  // nothing to wait for (an instance made without a camera would otherwise spend it for nothing).
  if (WriteSensorRegister(12, 1)) Sleep(kSensorSettleMs);
  uint16_t chip = 0;
  ReadSensorRegister(0, &chip);
  size_t count = 0;
  const RegisterWrite* seq = SensorSequence(chip, &count);
  // A failed write does not stop the sequence.
  for (size_t i = 0; i < count; ++i) WriteSensorRegister(seq[i].reg, seq[i].value);
  return 1;
}

int CQelvanZ51QKRVNSdk::SetCaptureWindow(int x, int y, int width, int height, int subsample) {
  // Written so that no sum can overflow.
  if (x < 0 || y < 0 || width < 4 || height < 3 || x > SENSOR_WIDTH || y > SENSOR_HEIGHT ||
      width > SENSOR_WIDTH - x || height > SENSOR_HEIGHT - y || !ValidSubsample(subsample))
    return DEV_REJECTED;
  const int f = qlv_binning_factor(subsample);
  const int bw = width / f;
  const int bh = height / f;
  // A window binned down to no line has no frame to transfer.
  if (bh < 1) return DEV_REJECTED;
  if (IsStreaming()) return DEV_BUSY;

  subSample_ = subsample;
  uint16_t mode = 0;
  ReadSensorRegister(REG_READ_MODE, &mode);
  // The mirror bits come from the cached flags: a failed read must not turn both mirrors on.
  const uint16_t code = f == 2 ? 5 : (f == 4 ? 10 : 0);
  const uint16_t mirrors = static_cast<uint16_t>((mirrorH_ ? 0 : QLV_READ_MODE_UNMIRRORED_H) |
                                                 (mirrorV_ ? 0 : QLV_READ_MODE_UNMIRRORED_V));
  WriteSensorRegister(REG_READ_MODE, static_cast<uint16_t>((mode & 0xFFC0) | mirrors | code));
  WriteSensorRegister(114, f == 1 ? 16 : 0);

  columnMargin_ = SENSOR_WIDTH - x - width;
  rowMargin_ = SENSOR_HEIGHT - y - height;
  reqWidth_ = width;
  reqHeight_ = height;

  WriteSensorRegister(5, HorizontalBlanking(bw));
  WriteSensorRegister(6, 45);
  // The sensor sends its rounded window: lines of the rounded binned width. The capture window
  // is picked out of that picture; the transfer covers the whole picture so that the window
  // can be found in it with either mirror.
  const qlv_placement place = qlv_place_window(x, y, width, height, f);
  const int pitch = place.readout.out_width;
  const int lines = place.readout.out_height;
  if (AllocateFrameBuffers(pitch, place.column, bw, lines, lines - bh, bh, 4) == DEV_NO_MEMORY)
    return DEV_NO_MEMORY;
  xOffsetUnmirrored_ = place.column;
  firstLineUnmirrored_ = place.line;
  ApplyMirrorOffsets();

  const SensorWindow w = ComputeSensorWindow(columnMargin_, rowMargin_, width, height, f);
  WriteSensorRegister(1, w.columnStart);
  WriteSensorRegister(2, w.rowStart);
  WriteSensorRegister(3, w.height);
  WriteSensorRegister(4, w.width);
  rowStart_ = w.rowStart;
  columnStart_ = w.columnStart;
  windowHeight_ = w.height;
  windowWidth_ = w.width;

  const uint32_t size = static_cast<uint32_t>(transferPixels_);
  bool reached = false;
  for (uint8_t i = 0; i < 4; ++i)
    reached |= WritePort(static_cast<uint8_t>(PORT_TRANSFER_SIZE0 + i), static_cast<uint8_t>(size >> (8 * i))) != 0;
  writtenTransferSize_ = transferPixels_;
  if (reached) Sleep(kSensorSettleMs);
  UpdateLargeFlag();
  return DEV_OK;
}

int CQelvanZ51QKRVNSdk::WriteMirrors(int h, int v) {
  uint16_t mode = 0;
  // Writing back a value that was never read would also clobber the binning bits.
  if (!ReadSensorRegister(REG_READ_MODE, &mode)) return 0;
  const uint16_t bits = QLV_READ_MODE_UNMIRRORED_H | QLV_READ_MODE_UNMIRRORED_V;
  const uint16_t unmirrored = static_cast<uint16_t>((h ? 0 : QLV_READ_MODE_UNMIRRORED_H) |
                                                    (v ? 0 : QLV_READ_MODE_UNMIRRORED_V));
  mode = static_cast<uint16_t>((mode & ~bits) | unmirrored);
  return WriteSensorRegister(REG_READ_MODE, mode);
}

int CQelvanZ51QKRVNSdk::SetMirrorH(int on) {
  if (!WriteMirrors(on, mirrorV_)) return 0;
  mirrorH_ = on != 0;
  ApplyMirrorOffsets();
  return 1;
}

int CQelvanZ51QKRVNSdk::SetMirrorV(int on) {
  if (!WriteMirrors(mirrorH_, on)) return 0;
  mirrorV_ = on != 0;
  ApplyMirrorOffsets();
  return 1;
}

int CQelvanZ51QKRVNSdk::SetTriggerMode(int on) {
  uint16_t r32 = 0, r175 = 0, r71 = 0;
  // These are read-modify-writes: a failed read would write made-up values back.
  if (!ReadSensorRegister(32, &r32) || !ReadSensorRegister(175, &r175) ||
      !ReadSensorRegister(71, &r71))
    return 0;
  if (!WriteSensorRegister(7, on ? 920 : 904)) return 0;
  WriteSensorRegister(32, static_cast<uint16_t>(on ? (r32 | 0x204) : (r32 & 0xFDFB)));
  WriteSensorRegister(175, r175);
  WriteSensorRegister(71, static_cast<uint16_t>(on ? (r71 | 1) : (r71 & ~1)));
  if (on) {
    WriteSensorRegister(12, 1);
    Sleep(kTriggerResetMs);
  }
  if (!WritePort(PORT_TRIGGER, on ? 1 : 0)) return 0;
  trigger_ = on != 0;
  return 1;
}

int CQelvanZ51QKRVNSdk::SetWideTransfer(int on) {
  if (IsStreaming()) return DEV_BUSY;
  wide_ = on != 0;
  // This model always switches the controller side on and selects the depth through port 14.
  const uint8_t args[] = {CMD_SET_WIDE, 1};
  SendPacket(args, sizeof(args));
  WritePort(PORT_WIDE, on ? 1 : 0);
  return 1;
}
