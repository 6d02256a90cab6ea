// CQelvan: one application's use of one camera: device object, images, geometry, settings,
// acquisition state, preview window and error history.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "QelvanSdk.h"
#include "dialogs/camera_access.h"
#include "output/avi_writer.h"

class CDibImage;
namespace settings {
struct SizePreset;
}
class CQelvanZ51QKRVNSdk;
namespace frameconv {
struct ConvertSettings;
struct ConvertChanges;
class SensorAccess;
}  // namespace frameconv

// Image settings by position in the filter block.
enum FilterSlot {
  kFilterBrightness = 0,
  kFilterContrast = 1,
  kFilterHue = 2,
  kFilterSaturation = 3,
  kFilterSharpness = 4,
  kFilterGainRed = 5,
  kFilterGainGreen = 6,
  kFilterGainBlue = 7,
  kFilterGamma = 8,
  kFilterBayerMode = 9,
  kFilterGrayMode = 11,
  kFilterGrayGain = 12,    // 12..15: R, G1, G2, B
  kFilterGrayOffset = 16,  // 16..19: R, G1, G2, B
  kFilterWhiteBalance = 25,  // 25..27
  kFilterGrayBalance = 29,
  kFilterCount = 30,
};

constexpr int kErrorHistorySize = 20;
constexpr int kSensorWidth = 752;
constexpr int kSensorHeight = 480;
constexpr int kMaxExposureLines = 32767;

// Milliseconds per pixel clock for a clock setting (single-precision values widened).
double MillisecondsPerClock(int clock);
// Clocks per sensor line for a capture width.
int LineClocks(int captureWidth);
// Exposure of a number of lines in microseconds, truncated.
int ExposureMicroseconds(int lines, int captureWidth, int clock);
// Whole lines that fit in an exposure of microseconds, truncated.
int ExposureLinesFor(int microseconds, int captureWidth, int clock);

// Converts a wide file name to the system code page for the narrow operations; false when it
// does not fit or cannot be converted.
bool NarrowFileName(const wchar_t* name, char (&buffer)[1024]);

class CQelvan {
 public:
  CQelvan();
  virtual ~CQelvan();
  CQelvan(const CQelvan&) = delete;
  CQelvan& operator=(const CQelvan&) = delete;

  // Error reporting.
  int PushError(int code);  // records in the history and posts WM_CAMERA_ERROR
  int PopError();           // newest code, removed; 0 when the history is empty
  void PostError(int code); // posts WM_CAMERA_ERROR only, even to a null window

  int Open(HWND notifyWindow);

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
  bool WindowIsValid() const;

  // Settings.
  int SetFilterValue(int number, int value);
  int GetFilterValue(int number, int* ok);
  int SetColorMode(int bits);
  int GetColorMode() const;
  int SetSubSample(int mode);
  int SetMirrorH(int on);
  int GetMirrorH();
  int SetMirrorV(int on);
  int GetMirrorV();
  int SetHalfClock(int value);
  int GetHalfClock(int* ok);
  int SetWaitTime(int ms);
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

  // Dialogs.
  int SetCameraDlg(HWND parent);
  int SetAnalogDlg(HWND parent);
  int SetImageDlg(HWND parent);

  // Functions this camera model does not have.
  int NotAvailable();
  int GetConfigFilter();

  // Shared device-use region.
  HANDLE sharedMapping = nullptr;
  uint8_t* sharedView = nullptr;

  CQelvanZ51QKRVNSdk* device = nullptr;

  CDibImage* image8 = nullptr;
  CDibImage* image16 = nullptr;
  CDibImage* image24 = nullptr;
  CDibImage* image32 = nullptr;
  CDibImage* image48 = nullptr;
  CDibImage* image64 = nullptr;
  CDibImage* scratchImage = nullptr;
  CDibImage* displayImage = nullptr;

  HWND previewWindow = nullptr;
  HDC previewDC = nullptr;
  char windowClassName[256] = {};

  // Capture geometry: TH, TV, EH, EV, EHS, EVS and Buf.
  int totalWidth = kSensorWidth;
  int totalHeight = kSensorHeight;
  int width = kSensorWidth;
  int height = kSensorHeight;
  int startX = 0;
  int startY = 0;
  int bufferCount = 4;

  int filterValues[kFilterCount] = {};
  void* openImageDialog = nullptr;

  int globalGain = 0;
  int colorGainGreen1 = 0;
  int colorGainRed = 0;
  int colorGainBlue = 0;
  int colorGainGreen2 = 0;
  int exposureLines = 0;
  int mirrorV = 0;
  int mirrorH = 0;
  int autoIris = 0;
  void* openAnalogDialog = nullptr;
  int lineClocks = 0;
  int exposureLinesComputed = 1;
  double msPerClock = 1.0;
  int realExposure = 0;

  CRITICAL_SECTION frameLock;
  CRITICAL_SECTION configLock;
  std::vector<std::pair<int32_t, int32_t>> configList;

  std::atomic<int32_t> recordingFlag{0};
  int recordStartTime = 0;
  int recordEndTime = 0;
  std::atomic<int32_t> newFrameFlag{0};
  HANDLE recordThread = nullptr;
  DWORD recordThreadId = 0;
  HANDLE recordDoneEvent = nullptr;

  std::atomic<int32_t> runFlag{0};
  HANDLE workerThread = nullptr;
  DWORD workerThreadId = 0;
  HANDLE workerDoneEvent = nullptr;

  HWND previewParent = nullptr;
  int previewX = 0;
  int previewY = 0;
  int previewW = kSensorWidth;
  int previewH = kSensorHeight;

  HWND notificationWindow = nullptr;
  HWND frameWindow = nullptr;
  void* frameBuffer = nullptr;
  int frameBufferSize = 0;
  int frameTopDown = 0;
  FrameInfo frameInfo = {24, 0, 0, 0, 0, nullptr};

  std::atomic<int32_t> mode{MODE_IDLE};
  int colorType = 0;
  int subSample = 0;
  int waitTime = 10;
  int clock = 0;
  int frameAvailable = 0;
  int frameRate10 = 0;
  int framesCounted = 0;
  uint32_t rateTime = 0;

  int errorHistory[kErrorHistorySize] = {};
  int triggerTimeout = 3000;
  int cameraNumber = 0;

 private:
  // Each area keeps its private helpers and state in its own block below.

  // Opening, device selection, closing and the settings store (camera_open.cpp).
 public:
  // The device-use table shared by every program on the machine. A claim carries this
  // instance's owner word; release clears only a record that carries it.
  int ClaimDevice(int number);
  int ReleaseDevice(int number);
  // Another owner's claim stands on the number.
  bool DeviceBusy(int number) const;
  // Global gain, colour gains 43, 45, 44, 46, exposure, mirror V, mirror H, in that order.
  void PushAnalogSettings();
  // realExposure and the values behind it, from the clock, width and exposure lines.
  void RecomputeRealExposure();
  // Registry groups of a camera number into and out of the instance's fields.
  bool LoadSizePreset();
  bool LoadCameraValues();
  void LoadGain(int number);
  void SaveGain(int number);
  void LoadFilter(int number);
  void SaveFilter(int number);
  void LoadGray(int number);
  void SaveGray(int number);
  // The preset of this size: 1 when applied; 0 with ERR_WINDOW when no key or no match.
  int ApplyPreset(int w, int h);
  // The capture geometry (TH, TV, EH, EV, EHS, EVS, Buf) as a preset, and back.
  settings::SizePreset GeometryPreset() const;
  void SetGeometry(const settings::SizePreset& preset);

  // InitDevice was deferred because another program's claim stood on the camera; the next
  // preparation that finds it free runs it.
  bool initPending = false;
  // Non-zero word that names this instance in the device-use table, unique across processes.
  uint32_t ownerWord = 0;

 private:
  // Frees the device object and the eight images.
  void FreeDeviceObjects();
  // Mirror flag from register 13; a failed read counts as off.
  int ReadMirrorFlag(bool vertical);
  // Whether the camera at this number answers now.
  bool ProbeDevice(int number) const;

  // Setting pass-through (camera_settings.cpp) and geometry (camera_geometry.cpp).

  // Acquisition modes and workers (camera_acquisition.cpp) and the preview window.
  // Starts, stops, snapshots, window changes, device selection and Close of one instance run one
  // at a time; the worker never takes this.
  class ModeLock {
   public:
    ModeLock() { InitializeCriticalSection(&section_); }
    ~ModeLock() { DeleteCriticalSection(&section_); }
    ModeLock(const ModeLock&) = delete;
    ModeLock& operator=(const ModeLock&) = delete;
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

   private:
    CRITICAL_SECTION section_;
  };
  class ModeGuard {
   public:
    explicit ModeGuard(ModeLock& lock) : lock_(lock) { lock_.Enter(); }
    ~ModeGuard() { lock_.Leave(); }
    ModeGuard(const ModeGuard&) = delete;
    ModeGuard& operator=(const ModeGuard&) = delete;

   private:
    ModeLock& lock_;
  };

 public:
  // Stops the worker and streaming, releases this instance's device-use claim, waits for the
  // worker and the recording thread. Must not be called with frameLock held or from the worker.
  int StopAcquisition();
  // Counts one delivered frame at `now` (timeGetTime milliseconds) into the frame-rate window;
  // returns the rate times 10 now reported.
  int CountFrame(uint32_t now);
  // The colour type frames are produced in: the one a running mode was prepared with, else the
  // current setting.
  int ActiveColorType() const;
  // Image receiving the sensor samples, and the output image, of a colour type (null if none).
  CDibImage* RawImage(int type) const;
  CDibImage* OutputImage(int type) const;
  // Copies an image into a caller's buffer, rows top first (topDown) or bottom first. On a short
  // buffer it reports ERR_MEMORY (also to frameWindow) and returns 0.
  int CopyFrameOut(const CDibImage* image, int topDown, void* buffer, int size);

 private:
  int PrepareAcquisition();
  int StartAcquisition();
  // Creates the done event and the worker thread; false when either could not be made.
  bool StartWorker();
  static DWORD WINAPI WorkerMain(LPVOID self);
  void PreviewLoop();
  void TriggerLoop();
  // Copies the newest stream frame or the last shot into the raw image and spreads its rows;
  // 0, or ERR_TRANSFER when it failed or would not fit the image prepared for it.
  int FetchFrame(bool stream);
  void FillFrameInfo(int rate);
  // Closes the single-shot handle unless capture mode keeps it for the next shot.
  void FinishShot();
  // Ends a device-lost run from the worker: nothing more is fetched, both windows hear of it.
  void ReportDeviceLost();
  void PostFrameMessage(HWND window, WPARAM wParam, LPARAM lParam);
  // Preview exports: the refusal for a start that cannot run (its codes, mode left alone).
  int RefusePreview();
  int StartPreviewWith(HWND window, void* buffer, int size, int topDown, bool deliver);

  // Preview window (camera_preview.cpp).
  bool PreviewConfigured() const;
  // Makes the preview window when one is configured (reusing a running preview's window);
  // false when a configured window could not be made.
  bool OpenPreviewWindow();
  HWND CreatePreviewWindow();
  void DestroyPreviewWindow();
  void SizeDisplayImage(int type);
  void PaintPreview(int type);
  // 1, 2, 4 or 8 by sub-sample mode (modes 17 to 19 are the binned forms of 1 to 3).
  static int SubSampleDivisor(int subSampleMode);
  // The geometry setters' device step: only while idle.
  void ApplyWindowWhenIdle();

  ModeLock modeLock_;
  int preparedColorType_ = 0;
  int claimedNumber_ = -1;  // device number this instance claimed in the device-use table

  // Frame conversion (camera_convert.cpp).
 public:
  // Turns the raw image just filled by the device into the output image of the colour type
  // (the current one, or the one a running mode was prepared with). The caller holds the
  // frame lock. Returns 1.
  int ConvertFrame();
  int ConvertFrame(int type);

  // Messages the conversion posts to open dialogs; never sent, since the worker holds the frame
  // lock that a dialog thread may be waiting for.
  // The image-filter dialog re-reads its settings (measured gains changed).
  static constexpr UINT kRefreshImageDialogMessage = dialogs::kRefreshImageDialogMessage;
  // The analog dialog shows a new value: wParam the control, lParam the value.
  static constexpr UINT kSetAnalogControlMessage = dialogs::kSetAnalogControlMessage;
  static constexpr int kAnalogGainControl = dialogs::kAnalogGainControl;
  static constexpr int kAnalogExposureControl = dialogs::kAnalogExposureControl;
  // Windows of the open image-filter and analog dialogs (null while closed); published by the
  // dialogs.
  HWND imageDialogWindow = nullptr;
  HWND analogDialogWindow = nullptr;
  // Replaces the device's sensor for the automatic exposure/gain step (tests).
  frameconv::SensorAccess* sensorOverride = nullptr;

 private:
  // Writes what one conversion measured back into the settings and tells the open dialogs.
  void StoreConversionResults(const frameconv::ConvertSettings& settings,
                              const frameconv::ConvertChanges& changes);

  // Still images and recording (camera_files.cpp).
  // Output image of the colour type frames are made in (null when there is none).
  CDibImage* FileImage() const;
  // Copies the current output image under the frame lock and saves the copy outside it.
  // ERR_NOT_READY when there is no image for the colour type.
  int SaveCurrentImage(const char* name, int type);
  // Closes the thread handle and done event of a recording that has ended.
  void CloseFinishedRecording();
  static DWORD WINAPI RecordMain(LPVOID self);
  void RecordLoop();
  // Writes one frame of the output image; 1 added, 0 skipped (size changed), else the writer's
  // failure result.
  int RecordFrame(CDibImage* copy, CDibImage* a, CDibImage* b, CDibImage* c);
  CAviWriter aviWriter_;
  uint32_t recordDuration_ = 0;
  // Set by the acquisition worker right after newFrameFlag, so that the recorder wakes for a
  // new frame at once instead of at its next poll. Lives as long as the instance.
  struct FrameEvent {
    HANDLE handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    FrameEvent() = default;
    FrameEvent(const FrameEvent&) = delete;
    FrameEvent& operator=(const FrameEvent&) = delete;
    ~FrameEvent() {
      if (handle) CloseHandle(handle);
    }
  } newFrameEvent_;

 public:
  HANDLE NewFrameEvent() const { return newFrameEvent_.handle; }

 private:

  // Dialogs (camera_dialogs.cpp).
  // Reads the stream settings and capture size the camera settings dialog saved.
  void ReloadStreamSettings();
  // Guards the published dialog pointers against their dialogs ending.
  SRWLOCK dialogLock_ = SRWLOCK_INIT;
  std::atomic<int32_t> cameraDialogOpen_{0};

  // Records ERR_NOT_READY when there is no device; true when there is one.
  bool RequireDevice();
  // Posts ERR_NOT_READY when there is no device; true when there is one.
  bool RequireDevicePostOnly();
  void CloseInstance();
  // Where frames go: the window for WM_CAMERA_FRAME and the application's buffer.
  void SetFrameDelivery(HWND window, void* buffer, int size, int topDown);
  // Operations that need the device layer: without a device they record ERR_NOT_READY as
  // they must; the device path itself is not driven yet and answers 0.
  int DeviceLayerPending();

  CRITICAL_SECTION errorLock_;

  // Calls in progress (the export frame and Release, api/chain.cpp).
 public:
  // Exports running on this instance now; raised only under the registry lock while the
  // handle is registered, so once Release has unlinked it the count can only fall.
  std::atomic<int32_t> callsInProgress{0};
  // Set by Release after unlinking: each call that leaves signals callsLeftEvent.
  std::atomic<HANDLE> callsLeftEvent{nullptr};
  // Release ran inside a call of its own thread: the last call to leave destroys the instance.
  std::atomic<int32_t> destroyOnLastLeave{0};
};
