#include "device/driver_channel.h"

#include <cstdio>
#include <cstring>


namespace {

int Transfer(HANDLE h, DWORD code, uint32_t pipe, int32_t length, void* buffer,
             uint32_t* transferred) {
  if (buffer == nullptr || length < 0) return CHANNEL_NO_BUFFER;
  if (h == nullptr) return CHANNEL_NO_HANDLE;
  // A failed request does not write the count, so start from 0 rather than stale stack.
  DWORD moved = 0;
  BOOL ok = DeviceIoControl(h, code, &pipe, sizeof(pipe), buffer, static_cast<DWORD>(length), &moved,
                            nullptr);
  if (transferred != nullptr) *transferred = moved;
  return ok ? CHANNEL_OK : CHANNEL_IO_FAILED;
}

int PacketExchange(HANDLE h, uint32_t pipe, int32_t length, void* packet, int32_t kind) {
  if (h == nullptr) return CHANNEL_NOT_OPEN;
  uint32_t moved = 0;
  int rc = PipeTransfer(h, pipe, length, packet, &moved, kind);
  return (rc == CHANNEL_OK && moved == static_cast<uint32_t>(length)) ? CHANNEL_OK
                                                                       : CHANNEL_REQUEST_FAILED;
}

}  // namespace

const char* DeviceSuffix(uint32_t number) {
  // One two-byte string (character and terminator) per number.
  static const struct Table {
    char text[QLV_SUFFIX_COUNT][2];
    Table() : text() {
      for (uint32_t i = 0; i < QLV_SUFFIX_COUNT; ++i) text[i][0] = qlv_device_suffix(i);
    }
  } table;
  return number < QLV_SUFFIX_COUNT ? table.text[number] : nullptr;
}

bool FormatDevicePath(char* out, size_t size, const char* base, uint32_t number) {
  const char* suffix = DeviceSuffix(number);
  if (out == nullptr || size == 0 || suffix == nullptr) return false;
  snprintf(out, size, "\\\\.\\%s-%s", base, suffix);
  return true;
}

int OpenDriver(HANDLE* out, const char* path) {
  if (path == nullptr || out == nullptr) return 0;
  *out = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  return *out != nullptr ? 1 : 0;
}

int CloseDriver(HANDLE* h) {
  if (h == nullptr || *h == nullptr) return 0;
  // INVALID_HANDLE_VALUE is the process pseudo-handle: nothing to close.
  if (*h != INVALID_HANDLE_VALUE) CloseHandle(*h);
  *h = nullptr;
  return 1;
}

int PipeTransfer(HANDLE h, uint32_t pipe, int32_t length, void* buffer, uint32_t* transferred,
                 int32_t kind) {
  return Transfer(h, kind ? IOCTL_PIPE_INDIRECT : IOCTL_PIPE_OUTDIRECT, pipe, length, buffer,
                  transferred);
}

int PipeTransferLarge(HANDLE h, uint32_t pipe, int32_t length, void* buffer, uint32_t* transferred,
                      int32_t kind) {
  return Transfer(h, kind ? IOCTL_PIPE_INDIRECT_LARGE : IOCTL_PIPE_OUTDIRECT_LARGE, pipe, length,
                  buffer, transferred);
}

int SendCommand(HANDLE h, uint32_t pipe, int32_t length, void* packet) {
  return PacketExchange(h, pipe, length, packet, 1);
}

int ReadResponse(HANDLE h, uint32_t pipe, int32_t length, void* packet) {
  return PacketExchange(h, pipe, length, packet, 0);
}

int RequestReply(HANDLE h, uint8_t* packet) {
  int rc = SendCommand(h, PIPE_COMMAND, PACKET_SIZE, packet);
  if (rc != CHANNEL_OK) return rc;
  ReadResponse(h, PIPE_RESPONSE, PACKET_SIZE, packet);  // status packet, not the reply
  return ReadResponse(h, PIPE_RESPONSE, PACKET_SIZE, packet);
}

int QueryRegister(HANDLE h, uint8_t code, void* out, int32_t length) {
  uint8_t packet[PACKET_SIZE] = {};
  packet[0] = 0x0C;
  packet[1] = code;
  int rc = SendCommand(h, PIPE_COMMAND, PACKET_SIZE, packet);
  if (rc != CHANNEL_OK) return rc;
  ReadResponse(h, PIPE_RESPONSE, PACKET_SIZE, packet);
  rc = ReadResponse(h, PIPE_RESPONSE, PACKET_SIZE, packet);
  if (out != nullptr && length > 0) memcpy(out, packet, length < PACKET_SIZE ? length : PACKET_SIZE);
  return rc;
}

void SetDriverTimeout(HANDLE h, uint32_t milliseconds) {
  if (h == nullptr) return;
  uint8_t block[TIMEOUT_BLOCK_SIZE] = {};
  const uint32_t one = 1;
  memcpy(block, &one, 4);
  memcpy(block + 4, &milliseconds, 4);
  DWORD moved = 0;
  DeviceIoControl(h, IOCTL_SET_TIMEOUT, block, TIMEOUT_BLOCK_SIZE, nullptr, 0, &moved, nullptr);
}

