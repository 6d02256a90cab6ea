#include "device/qlv_sdk_lib.h"

#include <cstring>

namespace {

constexpr DWORD kSromPauseMs = 6;
constexpr DWORD kSromWritePauseMs = 10;
// The global gain register holds the gain plus this.
constexpr int kGainRegisterBias = 16;

}  // namespace

GlobalBuffer::GlobalBuffer(size_t bytes) {
  handle_ = GlobalAlloc(GMEM_ZEROINIT, bytes);
  if (handle_ == nullptr) return;
  data_ = static_cast<uint8_t*>(GlobalLock(handle_));
  if (data_ == nullptr) {
    GlobalFree(handle_);
    handle_ = nullptr;
    return;
  }
  memset(data_, 0, bytes);
}

GlobalBuffer::~GlobalBuffer() {
  if (handle_ == nullptr) return;
  GlobalUnlock(handle_);
  GlobalFree(handle_);
}

GlobalBuffer::GlobalBuffer(GlobalBuffer&& other) noexcept
    : handle_(other.handle_), data_(other.data_) {
  other.handle_ = nullptr;
  other.data_ = nullptr;
}

CQLVSdkLib::CQLVSdkLib() {
  memcpy(baseName_, DRIVER_BASE_NAME, sizeof(baseName_));
  block_.stopped.store(1);
  dataFormat_ = 1;
}

CQLVSdkLib::~CQLVSdkLib() {
  // A run still going would write into the ring freed below.
  StopStreaming();
  ReleaseBuffers();
  runScratch_.reset();
  CloseSingleShot();
  if (block_.frameEvent != nullptr) CloseHandle(block_.frameEvent);
}

// --- Device naming -------------------------------------------------------------------------

void CQLVSdkLib::EnumerateDevices() {
  for (uint32_t n = 0; n < DEVICE_SLOTS; ++n) {
    char path[256];
    FormatDevicePath(path, sizeof(path), baseName_, n);
    HANDLE h = nullptr;
    if (OpenDriver(&h, path) && h != INVALID_HANDLE_VALUE) {
      present_[n] = 1;
      CloseDriver(&h);
    } else {
      present_[n] = 0;
      h = nullptr;
    }
  }
  // The selected number keeps naming the device the path leads to: a listing must not make the
  // camera instance believe another device is in use.
}

int CQLVSdkLib::SelectDevice(uint32_t number) {
  if (number >= DEVICE_SLOTS) return DEV_BAD_NUMBER;
  if (IsStreaming()) return DEV_BUSY;
  // The shot handle leads to the camera selected so far.
  CloseSingleShot();
  selected_ = static_cast<int32_t>(number);
  FormatDevicePath(path_, sizeof(path_), baseName_, number);
  return DEV_OK;
}

int CQLVSdkLib::IsDevicePresent(uint32_t number) const {
  return number < DEVICE_SLOTS ? present_[number] : 0;
}

// --- Registers, ports, serial ROM ----------------------------------------------------------

int CQLVSdkLib::SendPacket(const uint8_t* args, size_t count) {
  DriverHandle h(path_);
  if (!h.opened()) return 0;
  uint8_t packet[PACKET_SIZE] = {};
  memcpy(packet, args, count < sizeof(packet) ? count : sizeof(packet));
  return SendCommand(h.get(), PIPE_COMMAND, PACKET_SIZE, packet) == CHANNEL_OK ? 1 : 0;
}

int CQLVSdkLib::ReadSensorRegister(uint8_t reg, uint16_t* value) {
  DriverHandle h(path_);
  if (!h.opened()) return 0;
  uint8_t reply[2] = {};
  int ok = QueryRegister(h.get(), reg, reply, 2) == CHANNEL_OK;
  if (value != nullptr) *value = ok ? static_cast<uint16_t>(reply[0] << 8 | reply[1]) : 0;
  return ok;
}

int CQLVSdkLib::WriteSensorRegister(uint8_t reg, uint16_t value) {
  const uint8_t args[] = {CMD_SENSOR_WRITE, reg, static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value & 0xFF)};
  return SendPacket(args, sizeof(args));
}

int CQLVSdkLib::ReadPort(uint8_t port, uint8_t* value) {
  DriverHandle h(path_);
  if (!h.opened()) return 0;
  uint8_t packet[PACKET_SIZE] = {CMD_PORT_READ, port};
  int ok = RequestReply(h.get(), packet) == CHANNEL_OK;
  if (value != nullptr) *value = ok ? packet[0] : 0;
  return ok;
}

int CQLVSdkLib::WritePort(uint8_t port, uint8_t value) {
  const uint8_t args[] = {CMD_PORT_WRITE, port, value};
  return SendPacket(args, sizeof(args));
}

int CQLVSdkLib::ReadSrom(uint16_t address, uint8_t* value) {
  if (address < SROM_FIRST_ADDRESS) return 0;
  DriverHandle h(path_);
  if (!h.opened()) return 0;
  uint8_t packet[PACKET_SIZE] = {CMD_SROM_READ, 0x51, 0x02, 0x01,
                                 static_cast<uint8_t>(address >> 8),
                                 static_cast<uint8_t>(address & 0xFF)};
  // Without the request the reads below would return an unrelated packet as the byte.
  if (SendCommand(h.get(), PIPE_COMMAND, PACKET_SIZE, packet) != CHANNEL_OK) return 0;
  Sleep(kSromPauseMs);
  ReadResponse(h.get(), PIPE_RESPONSE, PACKET_SIZE, packet);
  int ok = ReadResponse(h.get(), PIPE_RESPONSE, PACKET_SIZE, packet) == CHANNEL_OK;
  Sleep(kSromPauseMs);
  if (ok && value != nullptr) *value = packet[0];
  return ok;
}

int CQLVSdkLib::ReadSromID(uint8_t index, uint8_t* value) {
  return ReadSrom(static_cast<uint16_t>(SROM_FIRST_ADDRESS + index), value);
}

int CQLVSdkLib::WriteSromID(uint8_t index, uint8_t value) {
  DriverHandle h(path_);
  if (!h.opened()) return 0;
  // Writes carry only the low address byte after the fixed high byte 0x18.
  uint8_t packet[PACKET_SIZE] = {CMD_SROM_WRITE, 0x51, 0x03, 0x18, index, value};
  int ok = SendCommand(h.get(), PIPE_COMMAND, PACKET_SIZE, packet) == CHANNEL_OK;
  Sleep(kSromWritePauseMs);
  return ok;
}

int CQLVSdkLib::ReadClockSetting(uint8_t* value) {
  uint8_t v = 0;
  int ok = ReadPort(PORT_CLOCK, &v);
  if (value != nullptr) *value = ok ? v : 0;
  return ok;
}

int CQLVSdkLib::SetClockSetting(int value) {
  uint8_t v = static_cast<uint8_t>(value & 0xFF);
  if (v == 2) v = 3;
  return WritePort(PORT_CLOCK, v);
}

int CQLVSdkLib::GetGlobalGain() {
  uint16_t v = 0;
  ReadSensorRegister(REG_GLOBAL_GAIN, &v);
  return v >= kGainRegisterBias ? v - kGainRegisterBias : v;
}

int CQLVSdkLib::SetGlobalGain(int gain) {
  return WriteSensorRegister(REG_GLOBAL_GAIN,
                             static_cast<uint16_t>((gain & 0xFF) + kGainRegisterBias));
}

int CQLVSdkLib::GetExposureLines(uint16_t* lines) {
  uint16_t v = lines != nullptr ? *lines : 0;
  int ok = ReadSensorRegister(REG_EXPOSURE, &v);
  if (lines != nullptr) *lines = v & EXPOSURE_LINES_MAX;
  return ok;
}

int CQLVSdkLib::SetExposureLines(int lines) {
  const uint32_t v = static_cast<uint32_t>(lines) & 0xFFFF;
  uint16_t written;
  if (v < EXPOSURE_LINES_MIN)
    written = EXPOSURE_LINES_MIN;
  else if (v > EXPOSURE_LINES_MAX)
    written = EXPOSURE_LINES_MAX;
  else
    written = static_cast<uint16_t>(v);
  return WriteSensorRegister(REG_EXPOSURE, written);
}

int CQLVSdkLib::ReadMirrorH() {
  uint16_t v = 0;
  ReadSensorRegister(REG_READ_MODE, &v);
  mirrorH_ = (v & QLV_READ_MODE_UNMIRRORED_H) ? 0 : 1;
  ApplyMirrorOffsets();
  return mirrorH_;
}

int CQLVSdkLib::ReadMirrorV() {
  uint16_t v = 0;
  ReadSensorRegister(REG_READ_MODE, &v);
  mirrorV_ = (v & QLV_READ_MODE_UNMIRRORED_V) ? 0 : 1;
  ApplyMirrorOffsets();
  return mirrorV_;
}

int CQLVSdkLib::QueryColorGain(int code, int* value) const {
  if (value != nullptr) *value = 0;
  const bool colorGain = code == REG_GAIN_GREEN1 || code == REG_GAIN_RED ||
                         code == REG_GAIN_BLUE || code == REG_GAIN_GREEN2;
  return colorGain ? 1 : 0;
}

int CQLVSdkLib::QueryColorGainParam(int, int* value) const {
  if (value != nullptr) *value = 0;
  return 0;
}

int CQLVSdkLib::SetColorGain(int, int) { return 0; }

// --- Geometry defaults, slots 4 and 5 --------------------------------------------------------

int CQLVSdkLib::ResetGeometry() {
  if (IsStreaming()) return DEV_BUSY;
  samplingMode_ = 0;
  subSample_ = 0;
  wide_ = 0;
  pitch_ = 1339;
  xOffset_ = 50;
  outWidth_ = 1280;
  rawLines_ = 1040;
  firstLine_ = 10;
  outLines_ = 1028;
  timeoutMs_ = 3000;
  xOffsetUnmirrored_ = xOffset_;
  firstLineUnmirrored_ = firstLine_;
  trigger_ = 0;
  CloseSingleShot();
  return DEV_OK;
}

int CQLVSdkLib::SetSamplingMode(int mode) {
  samplingMode_ = (mode >= 0 && mode <= 2) ? mode : 1;
  return 1;
}

int CQLVSdkLib::SetWideTransfer(int on) {
  if (IsStreaming()) return DEV_BUSY;
  wide_ = on != 0;
  const uint8_t args[] = {CMD_SET_WIDE, static_cast<uint8_t>(on != 0)};
  SendPacket(args, sizeof(args));
  return 1;
}

void CQLVSdkLib::UpdateLargeFlag() {
  const int64_t bytes = static_cast<int64_t>(transferPixels_) * (wide_ ? 2 : 1);
  largeShot_ = bytes >= LARGE_TRANSFER_BYTES ? 1 : 0;
  block_.large = largeShot_;
}

void CQLVSdkLib::ApplyMirrorOffsets() {
  xOffset_ = qlv_mirrored_offset(xOffsetUnmirrored_, outWidth_, pitch_, mirrorH_);
  firstLine_ = qlv_mirrored_offset(firstLineUnmirrored_, outLines_, rawLines_, mirrorV_);
}
