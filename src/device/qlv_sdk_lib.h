// The general device class: device naming, register/port/ROM access, frame buffers and
// transfers, and the copy of the output window out of raw frames.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/qlv_camera_model.h"
#include "common/worker_thread.h"
#include "device/driver_channel.h"
#include "device/transfer_block.h"

// Command codes of the 64-byte packets on pipe 0.
constexpr uint8_t CMD_TRANSFER_RESET = 0x01;
constexpr uint8_t CMD_FRAME_REQUEST = 0x02;
constexpr uint8_t CMD_SENSOR_WRITE = 0x04;
constexpr uint8_t CMD_DEVICE_INIT = 0x06;
constexpr uint8_t CMD_SET_TRANSFER_SIZE = 0x09;
constexpr uint8_t CMD_SET_WIDE = 0x0A;
constexpr uint8_t CMD_SENSOR_READ = 0x0C;
constexpr uint8_t CMD_PORT_WRITE = 0x25;
constexpr uint8_t CMD_PORT_READ = 0x26;
constexpr uint8_t CMD_SROM_WRITE = 0x40;
constexpr uint8_t CMD_SROM_READ = 0x41;

// Controller ports.
constexpr uint8_t PORT_TRANSFER_SIZE0 = 0;  // ports 0..3: transfer size, least significant first
constexpr uint8_t PORT_GPIO = 7;
constexpr uint8_t PORT_TRIGGER = 11;
constexpr uint8_t PORT_WIDE = 14;
constexpr uint8_t PORT_CLOCK = 15;

constexpr uint16_t SROM_FIRST_ADDRESS = 0x1800;
constexpr uint16_t SROM_SAMPLING_ADDRESS = 0x1EB0;

// Sensor registers.
constexpr uint8_t REG_EXPOSURE = QLV_REG_EXPOSURE;
constexpr uint8_t REG_READ_MODE = QLV_REG_READ_MODE;
constexpr uint8_t REG_GAIN_GREEN1 = QLV_REG_GAIN_GREEN1;
constexpr uint8_t REG_GAIN_RED = QLV_REG_GAIN_RED;
constexpr uint8_t REG_GAIN_BLUE = QLV_REG_GAIN_BLUE;
constexpr uint8_t REG_GAIN_GREEN2 = QLV_REG_GAIN_GREEN2;
constexpr uint8_t REG_GLOBAL_GAIN = QLV_REG_GLOBAL_GAIN;

// Capabilities of the sensor.
constexpr int GLOBAL_GAIN_MIN = QLV_GLOBAL_GAIN_MIN;
constexpr int GLOBAL_GAIN_MAX = QLV_GLOBAL_GAIN_MAX;
constexpr int GLOBAL_GAIN_DEFAULT = QLV_GLOBAL_GAIN_DEFAULT;
constexpr int EXPOSURE_LINES_MIN = QLV_EXPOSURE_LINES_MIN;
constexpr int EXPOSURE_LINES_DEFAULT = QLV_EXPOSURE_LINES_DEFAULT;
constexpr int EXPOSURE_LINES_MAX = QLV_EXPOSURE_LINES_MAX;

constexpr int SENSOR_WIDTH = QLV_SENSOR_WIDTH;
constexpr int SENSOR_HEIGHT = QLV_SENSOR_HEIGHT;

// Result codes of the geometry, buffer and transfer operations.
constexpr int DEV_OK = 0;
constexpr int DEV_REJECTED = 1;        // SetCaptureWindow arguments; ring count below 2
constexpr int DEV_BAD_WIDTH = 3;       // line pitch / output width / x offset
constexpr int DEV_BAD_LINES = 4;       // raw lines / first line / output lines
constexpr int DEV_NO_MEMORY = 7;       // a frame buffer could not be allocated
constexpr int DEV_OPEN_FAILED = 10;    // the driver could not be opened
constexpr int DEV_NO_DESTINATION = 14; // no destination, or no frame buffer to copy from
constexpr int DEV_TOO_SMALL = 15;      // the destination cannot hold the output window
constexpr int DEV_START_FAILED = 16;   // StartStreaming: events, scratch or thread not made
constexpr int DEV_TRANSFER_FAILED = 19;
constexpr int DEV_BUSY = 21;           // a streaming run is active
constexpr int DEV_BAD_NUMBER = 22;

// Frames wider than this many bytes go through the large pipe codes.
constexpr int32_t LARGE_TRANSFER_BYTES = 3072000;

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};

// A locked GlobalAlloc block, unlocked and freed on destruction.
class GlobalBuffer {
 public:
  GlobalBuffer() = default;
  explicit GlobalBuffer(size_t bytes);
  ~GlobalBuffer();
  GlobalBuffer(GlobalBuffer&& other) noexcept;
  GlobalBuffer& operator=(GlobalBuffer&&) = delete;
  GlobalBuffer(const GlobalBuffer&) = delete;
  HGLOBAL handle() const { return handle_; }
  uint8_t* data() const { return data_; }

 private:
  HGLOBAL handle_ = nullptr;
  uint8_t* data_ = nullptr;
};

// The general device class.
//
// Rules for a running device. A run lasts from a successful StartStreaming to the StopStreaming
// that collects it (also when the transfer thread ended by itself on an error): the transfer
// thread and the consumer use the frame buffers and the raw geometry all that time. While a
// run is active, every operation that changes the geometry, the frame buffers, the selected
// device or the transfer width (InitDevice, ResetGeometry, SetCaptureWindow,
// AllocateFrameBuffers, FreeFrameBuffers, SelectDevice, SetWideTransfer) is refused with 21 and
// changes nothing; stop the run first. Register, port and ROM access, mirrors, gain and exposure
// stay allowed. Geometry and buffer results: 0 done; 1 window or ring count refused; 3 bad line
// width; 4 bad line counts; 7 no memory; 10 the driver could not be opened; 14 no destination or
// no frame buffer; 15 destination smaller than the output window; 16 StartStreaming could not
// make its events or thread; 19 a transfer failed; 21 refused during a run (StartStreaming: a run
// is active already); 22 device number out of range.
//
// Frames: WaitFrame claims the newest complete frame that is newer than the last one claimed,
// so no frame is handed out twice; GetStreamFrame copies the claimed frame out.
class CQLVSdkLib {
 public:
  CQLVSdkLib();
  ~CQLVSdkLib();  // not virtual: the owner deletes the model class it made
  CQLVSdkLib(const CQLVSdkLib&) = delete;
  CQLVSdkLib& operator=(const CQLVSdkLib&) = delete;

  // Virtual slots 0..5.
  virtual int CopyWindow(void* out, const void* raw);
  virtual int ConvertYuvWindow(void* out, const void* raw, int flag, int spare, int x0, int y0,
                               int x1, int y1);
  virtual int ConvertYuvFrame(void* out, const void* raw, int a, int b);
  virtual int CopyInterlaced(void* out, const void* raw);
  virtual int SetSamplingMode(int mode);
  virtual int SetWideTransfer(int on);

  // Device naming.
  void EnumerateDevices();
  // 0, 22 for a number out of range, 21 during a run. Closes the single-shot handle, which
  // belongs to the previously selected camera.
  int SelectDevice(uint32_t number);
  int IsDevicePresent(uint32_t number) const;
  int GetSelectedDevice() const { return selected_; }
  static constexpr int DeviceSlots() { return DEVICE_SLOTS; }
  const char* DevicePath() const { return path_; }

  // Registers, ports, serial ROM: 1 on success, 0 on failure.
  int ReadSensorRegister(uint8_t reg, uint16_t* value);
  int WriteSensorRegister(uint8_t reg, uint16_t value);
  int ReadPort(uint8_t port, uint8_t* value);
  int WritePort(uint8_t port, uint8_t value);
  int ReadSrom(uint16_t address, uint8_t* value);
  int ReadSromID(uint8_t index, uint8_t* value);
  int WriteSromID(uint8_t index, uint8_t value);
  int ReadClockSetting(uint8_t* value);
  int SetClockSetting(int value);
  int GetGlobalGain();
  int SetGlobalGain(int gain);
  int GetExposureLines(uint16_t* lines);
  int SetExposureLines(int lines);
  int ReadMirrorH();
  int ReadMirrorV();
  // Colour gains (registers 43..46): this sensor has none.
  int QueryColorGain(int code, int* value) const;
  int QueryColorGainParam(int code, int* value) const;
  int SetColorGain(int code, int value);
  // Sends one command packet whose meaningful bytes are args (count bytes, code first).
  int SendPacket(const uint8_t* args, size_t count);

  // Sets the geometry defaults and closes the single-shot handle; 21 during a run.
  int ResetGeometry();

  // Frame buffers and transfers.
  int AllocateFrameBuffers(int32_t pitch, int32_t xOffset, int32_t width, int32_t rawLines,
                           int32_t firstLine, int32_t lines, int32_t count);
  int FreeFrameBuffers();
  int StartStreaming();
  int StopStreaming();
  int WaitFrame();
  // Copies the claimed frame's output window into dest (dstSize bytes): 14 without dest or
  // frame buffers, 15 when dstSize is below OutputBytes().
  int GetStreamFrame(void* dest, size_t dstSize);
  int SingleShot();
  void CloseSingleShot();
  int GetShotFrame(void* dest, size_t dstSize);
  void SetTransferTimeout(int32_t milliseconds);
  bool IsStreaming() const { return transfer_.Started(); }

  // Read-only views for the camera instance and tests.
  int32_t Wide() const { return wide_; }
  int32_t LinePitch() const { return pitch_; }
  int32_t OutputWidth() const { return outWidth_; }
  int32_t RawLines() const { return rawLines_; }
  int32_t OutputLines() const { return outLines_; }
  int32_t PixelsPerFrame() const { return pixelsPerFrame_; }
  int32_t TransferPixels() const { return transferPixels_; }
  int32_t RingBytes() const { return ringBytes_; }
  int32_t RingCount() const { return ringCount_; }
  int32_t RgbScratchBytes() const { return rgbBytes_; }
  int32_t TransferBytes() const { return transferPixels_ * (wide_ ? 2 : 1); }
  // Bytes of one copied output window.
  size_t OutputBytes() const {
    return static_cast<size_t>(outWidth_) * static_cast<size_t>(outLines_) * (wide_ ? 2u : 1u);
  }
  int32_t LargeShot() const { return largeShot_; }
  int32_t LastRunMs() const { return lastRunMs_; }
  int32_t LastTransferError() const { return lastTransferError_; }
  // Whether the last failed SingleShot ran out of time (no frame came, as in trigger mode without
  // a trigger) rather than failing: a broken or short read.
  bool LastShotTimedOut() const { return shotTimedOut_; }
  int32_t SamplingMode() const { return samplingMode_; }
  int32_t SubSample() const { return subSample_; }
  int32_t MirrorH() const { return mirrorH_; }
  int32_t MirrorV() const { return mirrorV_; }
  int32_t TriggerMode() const { return trigger_; }
  uint8_t* RawFrame() const { return raw_.get(); }
  uint8_t* RingData(int32_t slot) const;
  HANDLE ShotHandle() const { return shotHandle_; }
  const TransferBlock& Block() const { return block_; }

  // Sets the large flags (single shot and streaming) from the transfer size in bytes.
  void UpdateLargeFlag();

 protected:
  friend struct DeviceTestSeam;  // tests reach the transfer block through it

  // Points the copy at the capture window inside the picture as the sensor mirrors it.
  void ApplyMirrorOffsets();
  void ReleaseBuffers();

  // The transfer thread's body.
  static void TransferThread(TransferBlock& block);
  void ReleaseRun();

  int32_t wide_ = 0;
  int32_t columnMargin_ = 0;
  int32_t rowMargin_ = 0;
  int32_t reqWidth_ = 0;
  int32_t reqHeight_ = 0;
  int32_t pitch_ = 0;
  int32_t xOffset_ = 0;
  int32_t xOffsetUnmirrored_ = 0;  // capture window's first column and line in the picture
  int32_t firstLineUnmirrored_ = 0;
  int32_t outWidth_ = 0;
  int32_t rawLines_ = 0;
  int32_t firstLine_ = 0;
  int32_t outLines_ = 0;
  int32_t pixelsPerFrame_ = 0;
  int32_t transferPixels_ = 0;
  int32_t unroundedPixels_ = 0;
  std::unique_ptr<uint8_t, FreeDeleter> raw_;
  std::unique_ptr<uint8_t, FreeDeleter> rgbScratch_;
  int32_t rgbBytes_ = 0;
  int32_t lastRunMs_ = 0;
  int32_t timeoutMs_ = 3000;
  int32_t ringBytes_ = 0;
  int32_t ringCount_ = 0;
  int32_t dataFormat_ = 1;
  char baseName_[13] = {};
  int32_t samplingMode_ = 0;
  int32_t subSample_ = 0;
  uint16_t rowStart_ = 0;
  uint16_t columnStart_ = 0;
  uint16_t windowHeight_ = 0;
  uint16_t windowWidth_ = 0;
  int32_t mirrorH_ = 0;
  int32_t mirrorV_ = 0;
  int32_t present_[DEVICE_SLOTS] = {};
  int32_t selected_ = 0;
  int32_t trigger_ = 0;
  TransferBlock block_;
  int32_t lastTransferError_ = 0;
  int32_t largeShot_ = 0;
  bool shotTimedOut_ = false;
  std::vector<GlobalBuffer> ring_;
  std::vector<RingEntry> ringTable_;
  char path_[DEVICE_PATH_CHARS] = {};
  HANDLE shotHandle_ = nullptr;
  std::unique_ptr<uint8_t[]> runScratch_;
  std::unique_ptr<std::atomic<int32_t>[]> stamps_;  // completed-frame number per ring slot
  int32_t writtenTransferSize_ = 0;
  common::WorkerThread transfer_;  // the run's transfer thread
};
