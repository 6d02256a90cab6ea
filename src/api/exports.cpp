// The exported functions: each finds the camera instance of its handle and forwards to it.
// An unknown handle gets the no-instance value (-1 for three getters, 0 for the rest);
// no exception ever leaves an export.
#include <windows.h>

#include "QelvanSdk.h"
#include "api/chain.h"
#include "camera/camera.h"

namespace {

// A call in progress on a camera instance: Release waits for it before destroying the instance.
class CallFrame {
 public:
  explicit CallFrame(QelvanHandle handle) : camera_(g_sdkChain.EnterCall(handle)) {}
  ~CallFrame() {
    if (camera_) g_sdkChain.LeaveCall(camera_);
  }
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;
  CQelvan* camera() const { return camera_; }

 private:
  CQelvan* camera_;
};

template <int NoInstance = 0, class Operation>
int Forward(QelvanHandle handle, Operation operation) {
  try {
    CallFrame frame(handle);
    if (!frame.camera()) return NoInstance;
    return operation(*frame.camera());
  } catch (...) {
    return NoInstance;
  }
}

}  // namespace

#define QELVAN_EXPORT extern "C" int QELVAN_API

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// Lifetime and errors

QELVAN_EXPORT Qelvan_Initialize(HWND notifyWindow) {
  try {
    const int32_t handle = g_sdkChain.CreateInstance();
    if (!handle) return 0;
    // A failed open still yields the handle: its reason is in the instance's error history.
    CallFrame frame(handle);
    if (frame.camera()) frame.camera()->Open(notifyWindow);
    return handle;
  } catch (...) {
    return 0;
  }
}

QELVAN_EXPORT Qelvan_Release(QelvanHandle h) {
  // Unregistered first, under the registry lock: later calls with the handle find nothing,
  // and a second Release cannot take the same instance. It is destroyed outside the lock once
  // no call on another thread still runs on it.
  try {
    return g_sdkChain.ReleaseInstance(h) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

QELVAN_EXPORT Qelvan_GetDllVersion(void) { return 26215711; }
QELVAN_EXPORT Qelvan_GetLastError(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.PopError(); }); }

// Device selection

QELVAN_EXPORT Qelvan_EnumDevice(QelvanHandle h, char names[10][256]) {
  return Forward(h, [&](CQelvan& c) { return c.EnumDevice(names); });
}
QELVAN_EXPORT Qelvan_EnumDeviceW(QelvanHandle h, wchar_t names[10][256]) {
  return Forward(h, [&](CQelvan& c) { return c.EnumDeviceW(names); });
}
QELVAN_EXPORT Qelvan_GetDeviceName(QelvanHandle h, int number, char* buffer, int length) {
  return Forward(h, [&](CQelvan& c) { return c.GetDeviceName(number, buffer, length); });
}
QELVAN_EXPORT Qelvan_GetDeviceNameW(QelvanHandle h, int number, wchar_t* buffer, int length) {
  return Forward(h, [&](CQelvan& c) { return c.GetDeviceNameW(number, buffer, length); });
}
QELVAN_EXPORT Qelvan_SetDeviceNumber(QelvanHandle h, int number) {
  return Forward(h, [&](CQelvan& c) { return c.SetDeviceNumber(number); });
}
QELVAN_EXPORT Qelvan_Close(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.Close(); }); }

// Acquisition

QELVAN_EXPORT Qelvan_Preview(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.Preview(); }); }
QELVAN_EXPORT Qelvan_CallBackPreview(QelvanHandle h, HWND window, void* buffer, int size, int topDown) {
  return Forward(h, [&](CQelvan& c) { return c.CallBackPreview(window, buffer, size, topDown); });
}
QELVAN_EXPORT Qelvan_StartPreview(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.StartPreview(); }); }
QELVAN_EXPORT Qelvan_StopPreview(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.StopPreview(); }); }
QELVAN_EXPORT Qelvan_Capture(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.Capture(); }); }
QELVAN_EXPORT Qelvan_SnapShot(QelvanHandle h, void* buffer, int size, int topDown) {
  return Forward(h, [&](CQelvan& c) { return c.SnapShot(buffer, size, topDown); });
}
QELVAN_EXPORT Qelvan_Trigger(QelvanHandle h, HWND window, void* buffer, int size, int topDown) {
  return Forward(h, [&](CQelvan& c) { return c.Trigger(window, buffer, size, topDown); });
}
QELVAN_EXPORT Qelvan_GetImage(QelvanHandle h, void* buffer, int size, int topDown) {
  return Forward(h, [&](CQelvan& c) { return c.GetImage(buffer, size, topDown); });
}
QELVAN_EXPORT Qelvan_GetStatus(QelvanHandle h, int) { return Forward(h, [](CQelvan&) { return 0; }); }

// Window and geometry

QELVAN_EXPORT Qelvan_SetPreviewWindow(QelvanHandle h, HWND parent, int x, int y, int w, int ht) {
  return Forward(h, [&](CQelvan& c) { return c.SetPreviewWindow(parent, x, y, w, ht); });
}
QELVAN_EXPORT Qelvan_SetCaptureWindow(QelvanHandle h, int w, int ht) {
  return Forward(h, [&](CQelvan& c) { return c.SetCaptureWindow(w, ht); });
}
QELVAN_EXPORT Qelvan_SetCaptureWindowEx(QelvanHandle h, int th, int ehs, int eh, int tv, int evs, int ev) {
  return Forward(h, [&](CQelvan& c) { return c.SetCaptureWindowEx(th, ehs, eh, tv, evs, ev); });
}
QELVAN_EXPORT Qelvan_GetCaptureWindowEx(QelvanHandle h, int* th, int* ehs, int* eh, int* tv, int* evs, int* ev) {
  return Forward(h, [&](CQelvan& c) { return c.GetCaptureWindowEx(th, ehs, eh, tv, evs, ev); });
}
QELVAN_EXPORT Qelvan_Width(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.Width(); }); }
QELVAN_EXPORT Qelvan_Height(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.Height(); }); }
QELVAN_EXPORT Qelvan_GetCameraInfo(QelvanHandle h, QelvanCameraInfo* info) {
  return Forward(h, [&](CQelvan& c) { return c.GetCameraInfo(info); });
}

// Image settings by filter number, and their named forms

QELVAN_EXPORT Qelvan_SetFilterValue(QelvanHandle h, int number, int value) {
  return Forward(h, [&](CQelvan& c) { return c.SetFilterValue(number, value); });
}
QELVAN_EXPORT Qelvan_GetFilterValue(QelvanHandle h, int number, int* ok) {
  return Forward(h, [&](CQelvan& c) { return c.GetFilterValue(number, ok); });
}

#define QELVAN_NAMED_FILTER(Name, number)                                           \
  QELVAN_EXPORT Qelvan_Set##Name(QelvanHandle h, int value) {                        \
    return Forward(h, [&](CQelvan& c) { return c.SetFilterValue(number, value); }); \
  }                                                                                  \
  QELVAN_EXPORT Qelvan_Get##Name(QelvanHandle h, int* ok) {                          \
    return Forward(h, [&](CQelvan& c) { return c.GetFilterValue(number, ok); });    \
  }

QELVAN_NAMED_FILTER(Brightness, 1)
QELVAN_NAMED_FILTER(Contrast, 2)
QELVAN_NAMED_FILTER(Hue, 3)
QELVAN_NAMED_FILTER(Saturation, 4)
QELVAN_NAMED_FILTER(Sharpness, 5)
QELVAN_NAMED_FILTER(BayerGainRGB, 6)
QELVAN_NAMED_FILTER(BayerGainRed, 7)
QELVAN_NAMED_FILTER(BayerGainGreen, 8)
QELVAN_NAMED_FILTER(BayerGainBlue, 9)
QELVAN_NAMED_FILTER(BayerGainAuto, 10)
QELVAN_NAMED_FILTER(Gamma, 11)
QELVAN_NAMED_FILTER(BayerMode, 12)
QELVAN_NAMED_FILTER(GlobalGain, 13)
QELVAN_NAMED_FILTER(ColorGainRed, 14)
QELVAN_NAMED_FILTER(ColorGainGreen1, 15)
QELVAN_NAMED_FILTER(ColorGainGreen2, 16)
QELVAN_NAMED_FILTER(ColorGainBlue, 17)
QELVAN_NAMED_FILTER(ExposureTime, 18)
QELVAN_NAMED_FILTER(GrayMode, 19)
QELVAN_NAMED_FILTER(GrayGainR, 20)
QELVAN_NAMED_FILTER(GrayGainG1, 21)
QELVAN_NAMED_FILTER(GrayGainG2, 22)
QELVAN_NAMED_FILTER(GrayGainB, 23)
QELVAN_NAMED_FILTER(GrayOffsetR, 24)
QELVAN_NAMED_FILTER(GrayOffsetG1, 25)
QELVAN_NAMED_FILTER(GrayOffsetG2, 26)
QELVAN_NAMED_FILTER(GrayOffsetB, 27)

// Camera instance and sensor settings

QELVAN_EXPORT Qelvan_SetColorMode(QelvanHandle h, int bits) {
  return Forward(h, [&](CQelvan& c) { return c.SetColorMode(bits); });
}
QELVAN_EXPORT Qelvan_GetColorMode(QelvanHandle h) { return Forward<-1>(h, [](CQelvan& c) { return c.GetColorMode(); }); }
QELVAN_EXPORT Qelvan_SetSubSample(QelvanHandle h, int value) {
  return Forward(h, [&](CQelvan& c) { return c.SetSubSample(value); });
}
QELVAN_EXPORT Qelvan_GetSubSample(QelvanHandle h) { return Forward<-1>(h, [](CQelvan& c) { return c.GetSubSample(); }); }
QELVAN_EXPORT Qelvan_SetMirrorH(QelvanHandle h, int on) { return Forward(h, [&](CQelvan& c) { return c.SetMirrorH(on); }); }
QELVAN_EXPORT Qelvan_GetMirrorH(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.GetMirrorH(); }); }
QELVAN_EXPORT Qelvan_SetMirrorV(QelvanHandle h, int on) { return Forward(h, [&](CQelvan& c) { return c.SetMirrorV(on); }); }
QELVAN_EXPORT Qelvan_GetMirrorV(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.GetMirrorV(); }); }
QELVAN_EXPORT Qelvan_SetHalfClock(QelvanHandle h, int value) {
  return Forward(h, [&](CQelvan& c) { return c.SetHalfClock(value); });
}
QELVAN_EXPORT Qelvan_GetHalfClock(QelvanHandle h, int* ok) { return Forward(h, [&](CQelvan& c) { return c.GetHalfClock(ok); }); }
QELVAN_EXPORT Qelvan_SetWaitTime(QelvanHandle h, int ms) { return Forward(h, [&](CQelvan& c) { return c.SetWaitTime(ms); }); }
QELVAN_EXPORT Qelvan_GetWaitTime(QelvanHandle h) { return Forward<-1>(h, [](CQelvan& c) { return c.GetWaitTime(); }); }
QELVAN_EXPORT Qelvan_SetAutoIris(QelvanHandle h, int value) {
  return Forward(h, [&](CQelvan& c) { return c.SetAutoIris(value); });
}
QELVAN_EXPORT Qelvan_GetAutoIris(QelvanHandle h, int* ok) { return Forward(h, [&](CQelvan& c) { return c.GetAutoIris(ok); }); }
QELVAN_EXPORT Qelvan_SetRealExposureTime(QelvanHandle h, int microseconds) {
  return Forward(h, [&](CQelvan& c) { return c.SetRealExposureTime(microseconds); });
}
QELVAN_EXPORT Qelvan_GetRealExposureTime(QelvanHandle h, int* ok) {
  return Forward(h, [&](CQelvan& c) { return c.GetRealExposureTime(ok); });
}

// Device registers and ports (Qelvan_WriteRegisterEx is an alias in the export list)

QELVAN_EXPORT Qelvan_ReadRegister(QelvanHandle h, int reg, int* ok) {
  return Forward(h, [&](CQelvan& c) { return c.ReadRegister(reg, ok); });
}
QELVAN_EXPORT Qelvan_ReadRegisterEx(QelvanHandle h, int reg, int* ok) {
  return Forward(h, [&](CQelvan& c) { return c.ReadRegisterEx(reg, ok); });
}
QELVAN_EXPORT Qelvan_WriteRegister(QelvanHandle h, int reg, int value) {
  return Forward(h, [&](CQelvan& c) { return c.WriteRegister(reg, value); });
}
QELVAN_EXPORT Qelvan_ReadSromID(QelvanHandle h, int index, int* ok) {
  return Forward(h, [&](CQelvan& c) { return c.ReadSromID(index, ok); });
}
QELVAN_EXPORT Qelvan_WriteSromID(QelvanHandle h, int index, int value) {
  return Forward(h, [&](CQelvan& c) { return c.WriteSromID(index, value); });
}
QELVAN_EXPORT Qelvan_GetIOPort(QelvanHandle h, unsigned char* value, int, int) {
  return Forward(h, [&](CQelvan& c) { return c.GetIOPort(value); });
}
QELVAN_EXPORT Qelvan_SetIOPort(QelvanHandle h, int value) { return Forward(h, [&](CQelvan& c) { return c.SetIOPort(value); }); }

// Files

QELVAN_EXPORT Qelvan_SaveImage(QelvanHandle h, const char* name, int type) {
  return Forward(h, [&](CQelvan& c) { return c.SaveImage(name, type); });
}
QELVAN_EXPORT Qelvan_SaveImageW(QelvanHandle h, const wchar_t* name, int type) {
  return Forward(h, [&](CQelvan& c) { return c.SaveImageW(name, type); });
}
QELVAN_EXPORT Qelvan_Record(QelvanHandle h, const char* name, int durationMs, int showWindow) {
  return Forward(h, [&](CQelvan& c) { return c.Record(name, durationMs, showWindow); });
}
QELVAN_EXPORT Qelvan_RecordW(QelvanHandle h, const wchar_t* name, int durationMs, int showWindow) {
  return Forward(h, [&](CQelvan& c) { return c.RecordW(name, durationMs, showWindow); });
}
QELVAN_EXPORT Qelvan_LoadConfigFileA(QelvanHandle h, const char* path) {
  return Forward(h, [&](CQelvan& c) { return c.LoadConfigFileA(path); });
}
QELVAN_EXPORT Qelvan_LoadConfigFileW(QelvanHandle h, const wchar_t* path) {
  return Forward(h, [&](CQelvan& c) { return c.LoadConfigFileW(path); });
}

// Setting dialogs

QELVAN_EXPORT Qelvan_SetCameraDlg(QelvanHandle h, HWND parent) { return Forward(h, [&](CQelvan& c) { return c.SetCameraDlg(parent); }); }
QELVAN_EXPORT Qelvan_SetAnalogDlg(QelvanHandle h, HWND parent) { return Forward(h, [&](CQelvan& c) { return c.SetAnalogDlg(parent); }); }
QELVAN_EXPORT Qelvan_SetImageDlg(QelvanHandle h, HWND parent) { return Forward(h, [&](CQelvan& c) { return c.SetImageDlg(parent); }); }

// Not available on this model. One body each serves several names of the export list;
// extra arguments are ignored, which the caller-cleans convention makes safe.

QELVAN_EXPORT Qelvan_Fpga_ReadRegister(QelvanHandle h, ...) { return Forward(h, [](CQelvan& c) { return c.NotAvailable(); }); }
QELVAN_EXPORT Qelvan_GetSamplingRate(QelvanHandle h, int* value) {
  return Forward(h, [&](CQelvan&) {
    if (value) *value = 0;
    return 0;
  });
}
QELVAN_EXPORT Qelvan_SetConfigFilter(QelvanHandle h, int) { return Forward(h, [](CQelvan& c) { return c.GetConfigFilter(); }); }
QELVAN_EXPORT Qelvan_GetConfigFilter(QelvanHandle h) { return Forward(h, [](CQelvan& c) { return c.GetConfigFilter(); }); }
