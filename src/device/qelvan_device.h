// The device class of this camera model: sensor initialisation per chip version, capture window
// and binning, mirrors, trigger mode and the 16-bit transfer switch.
#pragma once

#include "common/qlv_camera_model.h"
#include "device/qlv_sdk_lib.h"

class CQelvanZ51QKRVNSdk final : public CQLVSdkLib {
 public:
  // Enumerates the cameras and initialises device 0.
  CQelvanZ51QKRVNSdk();
  // Enumerates the cameras and selects device 0 without sending it anything: for a camera
  // another program streams from, whose initialisation must wait.
  struct DeferInit {};
  explicit CQelvanZ51QKRVNSdk(DeferInit);
  ~CQelvanZ51QKRVNSdk() = default;

  // 0, 22 when the number is out of range, 21 during a run.
  int InitDevice(uint32_t number);
  // Soft reset, then the register sequence of the chip version read back. Returns 1.
  int RunSensorInit();
  // 0 when applied; 1 when the window or mode is refused, 7 when the frame buffers could not be
  // made, 21 while streaming.
  int SetCaptureWindow(int x, int y, int width, int height, int subsample);
  int SetMirrorH(int on);
  int SetMirrorV(int on);
  int SetTriggerMode(int on);
  // 1, or 21 during a run.
  int SetWideTransfer(int on) override;

  // The capture window's margins and the transfer size as last written.
  int32_t ColumnMargin() const { return columnMargin_; }
  int32_t RowMargin() const { return rowMargin_; }
  int32_t WrittenTransferSize() const { return writtenTransferSize_; }

 private:
  int WriteMirrors(int h, int v);
};

// One register write of a sensor sequence.
struct RegisterWrite {
  uint8_t reg;
  uint16_t value;
};

// The initialisation sequence for a chip version; count 0 for versions without one.
const RegisterWrite* SensorSequence(uint16_t chipVersion, size_t* count);

// Sensor window registers for a capture window, from its margins and size.
struct SensorWindow {
  uint16_t rowStart, columnStart, height, width;
};
SensorWindow ComputeSensorWindow(int columnMargin, int rowMargin, int width, int height,
                                 int binning);
// Horizontal blanking for a binned width.
uint16_t HorizontalBlanking(int binnedWidth);
