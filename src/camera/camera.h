// CQelvan: one application's use of one camera. A façade over the parts it owns: the live
// settings, the device, the acquisition (modes, worker, recorder, preview window, frame
// pipeline), the device claim and the error history. Every export reaches the instance here.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "QelvanSdk.h"
#include "camera/device_claim.h"
#include "camera/error_history.h"
#include "camera/live_settings.h"
#include "common/critical_section.h"
#include "dialogs/camera_access.h"

namespace camera {
class Acquisition;
}
class CQelvanZ51QKRVNSdk;

// Converts a wide file name to the system code page for the narrow operations; false when it
// does not fit or cannot be converted.
bool NarrowFileName(const wchar_t* name, char (&buffer)[1024]);

class CQelvan : private dialogs::CameraAccess {
 public:
  CQelvan();
  ~CQelvan() override;
  CQelvan(const CQelvan&) = delete;
  CQelvan& operator=(const CQelvan&) = delete;

  // Error reporting.
  int PushError(int code);  // records in the history and posts WM_CAMERA_ERROR
  int PopError();           // newest code, removed; 0 when the history is empty
  void PostError(int code); // posts WM_CAMERA_ERROR only, even to a null window

  int Open(HWND notifyWindow);
  // Stops everything, ends open dialogs and refuses every later start: the handle is being
  // released, possibly from inside one of this instance's own calls.
  void Retire();

  // Device selection.
  int EnumDevice(char names[10][256]);
  int EnumDeviceW(wchar_t names[10][256]);
  int GetDeviceName(int number, char* buffer, int length);
  int GetDeviceNameW(int number, wchar_t* buffer, int length);
  int SetDeviceNumber(int number);
  int Close();

  // Acquisition.
  int Preview();
  int CallBackPreview(HWND window, void* buffer, int size, int topDown);
  int StartPreview();
  int StopPreview();
  int Capture();
  int SnapShot(void* buffer, int size, int topDown);
  int Trigger(HWND window, void* buffer, int size, int topDown);
  int GetImage(void* buffer, int size, int topDown);

  // Window and geometry.
  int SetPreviewWindow(HWND parent, int x, int y, int w, int h);
  int SetCaptureWindow(int w, int h);
  int SetCaptureWindowEx(int th, int ehs, int eh, int tv, int evs, int ev);
  int GetCaptureWindowEx(int* th, int* ehs, int* eh, int* tv, int* evs, int* ev);
  int GetCameraInfo(QelvanCameraInfo* info);
  int Width() const;
  int Height() const;

  // Settings.
  int SetFilterValue(int number, int value);
  int GetFilterValue(int number, int* ok);
  int SetColorMode(int bits);
  int GetColorMode() const;
  int SetSubSample(int mode);
  int GetSubSample() const;
  int SetMirrorH(int on);
  int GetMirrorH();
  int SetMirrorV(int on);
  int GetMirrorV();
  int SetHalfClock(int value);
  int GetHalfClock(int* ok);
  int SetWaitTime(int ms);
  int GetWaitTime() const;
  int SetAutoIris(int mode);
  int GetAutoIris(int* ok);
  int SetRealExposureTime(int microseconds);
  int GetRealExposureTime(int* ok);

  // Registers, serial ROM, I/O port.
  int ReadRegister(int reg, int* ok);
  int ReadRegisterEx(int reg, int* ok);
  int WriteRegister(int reg, int value);
  int ReadSromID(int index, int* ok);
  int WriteSromID(int index, int value);
  int GetIOPort(unsigned char* value);
  int SetIOPort(int value);

  // Files.
  int SaveImage(const char* name, int type);
  int SaveImageW(const wchar_t* name, int type);
  int Record(const char* name, int durationMs, int showWindow);
  int RecordW(const wchar_t* name, int durationMs, int showWindow);
  int LoadConfigFileA(const char* path);
  int LoadConfigFileW(const wchar_t* path);
  // The records of the last configuration file loaded.
  std::vector<std::pair<int32_t, int32_t>> ConfigRecords() const;

  // Dialogs.
  int SetCameraDlg(HWND parent);
  int SetAnalogDlg(HWND parent);
  int SetImageDlg(HWND parent);

  // Functions this camera model does not have.
  int NotAvailable();
  int GetConfigFilter();

 private:
  friend class CSdkChain;  // counts the calls in progress (below)

  // Records ERR_NOT_READY (or only posts it) when there is no device; true when there is one.
  bool RequireDevice();
  bool RequireDevicePostOnly();

  // Opening, selection and the registry groups (camera_open.cpp).
  int SelectLocked(int number);
  // Gains, exposure and mirrors to the sensor.
  void PushAnalogSettings(const settings::AnalogValues& a);
  bool LoadSizePreset();
  bool LoadCameraValues();
  void LoadGain(int number);
  void SaveGain(int number);
  void LoadFilter(int number);
  void SaveFilter(int number);
  void LoadGray(int number);
  void SaveGray(int number);
  void SaveAll(int number);
  // Mirror flag from register 13; a failed read counts as off.
  int ReadMirrorFlag(bool vertical);
  // The preset of this size: 1 when applied; 0 with ERR_WINDOW when no key or no match.
  int ApplyPreset(int w, int h);
  // The geometry setters' device step: only while idle.
  void ApplyWindowWhenIdle();
  int SaveCurrentImage(const char* name, int type);

  // Dialogs (camera_dialogs.cpp): the settings copy they edit reaches the instance here.
  settings::CameraSettings Settings() const override;
  int CameraNumber() const override;
  void ShowFilter(int slot, int32_t value) override;
  void ShowAnalog(settings::AnalogField field, int32_t value) override;
  int ColorGainMinimum(int reg) const override;
  int ColorGainDefault(int reg) const override;
  double ExposureMilliseconds(int lines) const override;
  void PublishImageDialog(HWND window) override;
  void PublishAnalogDialog(HWND window) override;
  void PublishCameraDialog(HWND window) override;
  // Marks a dialog of a kind as open (false when one is) and counts it against selection.
  bool OpenDialog(std::atomic<int32_t>* kind);
  void CloseDialog(std::atomic<int32_t>* kind);

  ErrorHistory errors_;
  LiveSettings settings_;
  DeviceClaim claim_;
  std::unique_ptr<CQelvanZ51QKRVNSdk> device_;
  std::unique_ptr<camera::Acquisition> acquisition_;
  // The registry number of the selected camera; changed only while idle and no dialog is open.
  std::atomic<int> cameraNumber_{0};

  mutable common::CriticalSection configLock_;
  std::vector<std::pair<int32_t, int32_t>> configList_;

  std::atomic<int32_t> cameraDialogOpen_{0};
  std::atomic<int32_t> analogDialogOpen_{0};
  std::atomic<int32_t> imageDialogOpen_{0};
  std::atomic<HWND> cameraDialogWindow_{nullptr};

  // Calls in progress (api/chain.cpp): exports running on this instance now; raised only under
  // the registry lock while the handle is registered, so once Release has unlinked it the
  // count can only fall.
  std::atomic<int32_t> callsInProgress_{0};
  // Set by Release after unlinking: each call that leaves signals it.
  std::atomic<HANDLE> callsLeftEvent_{nullptr};
  // Release ran inside a call of its own thread: the last call to leave destroys the instance.
  std::atomic<int32_t> destroyOnLastLeave_{0};
};
