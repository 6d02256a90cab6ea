// Driver channel: the stateless primitives that open the camera's device object and move
// command packets, replies and frames over its three pipes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "common/qlv_camera_model.h"

// I/O control codes of the camera driver (device type 0x22, any access).
constexpr DWORD IOCTL_PIPE_OUTDIRECT = 0x22204E;
constexpr DWORD IOCTL_PIPE_INDIRECT = 0x222051;
constexpr DWORD IOCTL_PIPE_OUTDIRECT_LARGE = 0x2220A6;
constexpr DWORD IOCTL_PIPE_INDIRECT_LARGE = 0x2220A9;
constexpr DWORD IOCTL_SET_TIMEOUT = 0x2220A0;

// Pipes.
constexpr uint32_t PIPE_COMMAND = 0;
constexpr uint32_t PIPE_RESPONSE = 1;
constexpr uint32_t PIPE_FRAME = 2;

constexpr int32_t PACKET_SIZE = 64;
constexpr int32_t TIMEOUT_BLOCK_SIZE = 44;

// Result codes of the channel.
constexpr int CHANNEL_OK = 0;
constexpr int CHANNEL_IO_FAILED = -1;
constexpr int CHANNEL_NO_BUFFER = -2;
constexpr int CHANNEL_NO_HANDLE = -3;
constexpr int CHANNEL_NOT_OPEN = 10;
constexpr int CHANNEL_REQUEST_FAILED = 12;

// Device numbering.
constexpr int DEVICE_SLOTS = QLV_DEVICE_SLOTS;
constexpr size_t DEVICE_PATH_CHARS = 128;
constexpr char DRIVER_BASE_NAME[] = QLV_DRIVER_BASE_NAME;

// The one-character suffix of device number n (0..35): "0".."9", "A".."L", "N", "M", "O".."Z".
const char* DeviceSuffix(uint32_t number);
// Writes "\\.\<base>-<suffix>" into out (bounded by size, always terminated). Returns false
// when the number has no suffix.
bool FormatDevicePath(char* out, size_t size, const char* base, uint32_t number);

// Opens the device object for writing. Returns 1 unless CreateFileA gave a null handle; an
// absent camera gives INVALID_HANDLE_VALUE, which counts as opened and fails every request.
int OpenDriver(HANDLE* out, const char* path);
// Closes *h and nulls it; 0 when there was nothing to close.
int CloseDriver(HANDLE* h);

// One synchronous request on a pipe: kind != 0 uses the in-direct code, else the out-direct one.
// Returns 0, -1 (request failed), -2 (no buffer) or -3 (no handle); *transferred (if given)
// receives the count the driver reported, 0 when it reported none.
int PipeTransfer(HANDLE h, uint32_t pipe, int32_t length, void* buffer, uint32_t* transferred,
                 int32_t kind);
// The same with the large-transfer codes.
int PipeTransferLarge(HANDLE h, uint32_t pipe, int32_t length, void* buffer, uint32_t* transferred,
                      int32_t kind);

// Command send and reply read: 0, 10 (no handle) or 12 (failed or short).
int SendCommand(HANDLE h, uint32_t pipe, int32_t length, void* packet);
int ReadResponse(HANDLE h, uint32_t pipe, int32_t length, void* packet);

// Send a packet, then read the reply twice into the same buffer; the second read is the reply.
// Returns the send's code if it failed, else the second read's code.
int RequestReply(HANDLE h, uint8_t* packet);

// Sensor register query: request 0x0C <code>, then copies min(length, 64) reply bytes to out.
int QueryRegister(HANDLE h, uint8_t code, void* out, int32_t length);

// Bounds how long the driver lets one pipe request block.
void SetDriverTimeout(HANDLE h, uint32_t milliseconds);

// Owns a driver handle for the length of one operation.
class DriverHandle {
 public:
  explicit DriverHandle(const char* path) { opened_ = OpenDriver(&h_, path) != 0; }
  ~DriverHandle() { CloseDriver(&h_); }
  DriverHandle(const DriverHandle&) = delete;
  DriverHandle& operator=(const DriverHandle&) = delete;
  bool opened() const { return opened_; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_ = nullptr;
  bool opened_ = false;
};

