// The acquisition of one camera instance: the mode it is in, the worker and recorder threads,
// the preview window and where frames are delivered. Every change of mode runs under one lock
// (the transition lock), by the table in acquisition.cpp; the worker never takes it. A frame
// goes from the device through the pipeline to the window, the application's buffer and the
// recorder without leaving this object.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "QelvanSdk.h"
#include "camera/frame_rate.h"
#include "camera/preview_window.h"
#include "common/critical_section.h"
#include "common/qlv_camera_model.h"
#include "common/worker_thread.h"
#include "output/frame_pipeline.h"

class CQelvanZ51QKRVNSdk;
class DeviceClaim;
class ErrorHistory;
class LiveSettings;
class Recording;

namespace camera {

// Whether the camera at this number answers now (a camera plugged in since the last listing
// counts; one unplugged since does not).
bool CameraAnswers(int number);

class Acquisition {
 public:
  enum class State { kIdle, kPreview, kCallback, kCapture, kTrigger, kLost };

  Acquisition(CQelvanZ51QKRVNSdk& device, LiveSettings& settings, DeviceClaim& claim, ErrorHistory& errors);
  ~Acquisition();
  Acquisition(const Acquisition&) = delete;
  Acquisition& operator=(const Acquisition&) = delete;

  // Where the next preview window goes: a child of parent, or a top-level window when parent is
  // null and any value is non-zero; no window when all are zero and there is no parent.
  void SetPlacement(HWND parent, int x, int y, int width, int height);

  int StartPreview();
  // Preview (all null: frame messages and copies cleared) and CallBackPreview.
  int Preview(HWND window, void* buffer, int size, int topDown);
  int Stop();
  int Capture();
  int Trigger(HWND window, void* buffer, int size, int topDown);
  int SnapShot(void* buffer, int size, int topDown);
  int GetImage(void* buffer, int size, int topDown);
  // Copies the current output image (the last frame, or the blank image of a preparation);
  // an image never prepared leaves the copy empty.
  int CopyForFile(CDibImage* copy);
  bool FrameAvailable() const { return frameAvailable_.load() != 0; }
  int Record(const char* name, int durationMs, int showWindow);

  // Stops everything, destroys the preview window, forgets the last frame.
  void Close();
  // Close, and every later start is refused: the instance is being released.
  void Retire();

  // Runs f() under the transition lock when no mode runs (a run the camera ended is stopped
  // first); false, with ERR_NOT_READY recorded, otherwise.
  template <class F>
  bool WhenIdle(F f) {
    common::ScopedLock hold(transitionLock_);
    if (!ToIdleForSelection()) return false;
    f();
    return true;
  }
  // Runs f() under the transition lock; f learns whether the instance is idle.
  template <class F>
  void Locked(F f) {
    common::ScopedLock hold(transitionLock_);
    f(Current() == State::kIdle);
  }
  // Selection was deferred because another program streamed from the camera; the next
  // preparation that finds it free initialises it. Call under WhenIdle.
  void SetInitPending(bool pending) { initPending_ = pending; }
  bool InitPending() const { return initPending_; }

  // The camera settings dialog: stops preview or capture (holds trigger) while it runs, and
  // brings back what ran when it ends, unless the application started or stopped something
  // meanwhile.
  struct Pause {
    State state = State::kIdle;
    HWND window = nullptr;
    void* buffer = nullptr;
    int size = 0, topDown = 0;
    uint32_t generation = 0;
  };
  Pause PauseForSettings();
  void Resume(const Pause& pause, bool settingsChanged);

 private:
  enum class Request { kStream, kCapture, kTrigger, kSnapShot };
  enum class Answer { kRefuse, kAlready, kFromIdle };
  static Answer Lookup(State state, Request request);

  State Current() const;
  bool ToIdleForSelection();
  // A start that may make a window: the window is made before the lock is taken.
  struct StartResult {
    int ok = 0;
    bool startedHere = false;
    bool windowFailed = false;
  };
  // setDelivery: the frame window and buffer are replaced by these (null: none).
  StartResult StartStream(bool makeWindow, bool setDelivery, HWND window, void* buffer, int size, int topDown);
  bool WindowConfigured() const;
  PreviewWindow::Placement PlacementNow() const;
  // Installs a new preview window (the old one is handed back to be destroyed outside the lock).
  std::unique_ptr<PreviewWindow> InstallWindow(std::unique_ptr<PreviewWindow> window);
  void SetDelivery(HWND window, void* buffer, int size, int topDown);

  int Prepare();
  int StartStreamingRun();  // from idle, prepared: the worker and the device stream
  bool StartWorker(bool trigger);
  // Stops the worker, the device and the recorder; the lock is held. Returns the window to
  // destroy when closing.
  void StopLocked();
  std::unique_ptr<PreviewWindow> CloseLocked();
  void StopRecordingLocked();

  void PreviewLoop();
  void TriggerLoop();
  bool FetchFrame(bool stream);
  void ConvertFrame();
  void FillFrameInfo(int rate);
  void PostFrame(HWND window, WPARAM wParam, LPARAM lParam);
  // The copy of the published image into an application's buffer; a failure is posted to
  // window and recorded. Under the pipeline lock.
  bool CopyOutReported(HWND window, output::ColorType type, void* buffer, int size, int topDown);
  // The same from the frame just converted, before it is published; by the converting thread,
  // under the delivery lock (the worker) or the transition lock (a snapshot).
  bool DeliverReported(void* buffer, int size, int topDown);
  // Publishes the frame just converted and tells the recorder.
  void PublishFrame();
  void ReportLost();
  void FinishShot(State state);
  output::ColorType ActiveType() const;

  CQelvanZ51QKRVNSdk& device_;
  LiveSettings& settings_;
  DeviceClaim& claim_;
  ErrorHistory& errors_;
  output::FramePipeline pipeline_;

  common::CriticalSection transitionLock_;
  // Written under the transition lock; read by anyone.
  std::atomic<State> state_{State::kIdle};
  std::atomic<uint32_t> generation_{0};
  std::atomic<bool> retired_{false};
  bool initPending_ = false;
  int claimedNumber_ = -1;
  bool recordReserved_ = false;
  std::shared_ptr<Recording> recording_;

  // The worker. run_: 1 run, 2 hold (trigger while the settings dialog runs), 0 stop.
  std::atomic<int32_t> run_{0};
  std::atomic<bool> lost_{false};
  common::WorkerThread worker_;

  // Placement, under the transition lock.
  HWND placementParent_ = nullptr;
  int placementX_ = 0, placementY_ = 0, placementW_ = QLV_SENSOR_WIDTH, placementH_ = QLV_SENSOR_HEIGHT;

  // Delivery and drawing, under the delivery lock; the worker holds it while it draws a frame
  // and copies it into the application's buffer, never together with the pipeline lock.
  common::CriticalSection deliveryLock_;
  std::unique_ptr<PreviewWindow> window_;
  HWND paintWindow_ = nullptr;
  HDC paintDc_ = nullptr;
  HWND frameWindow_ = nullptr;
  void* frameBuffer_ = nullptr;
  int frameBufferSize_ = 0;
  int frameTopDown_ = 0;
  FrameInfo frameInfo_ = {24, 0, 0, 0, 0, nullptr};
  FrameRateMeter rate_;
  // Under the pipeline lock.
  Recording* recordingSink_ = nullptr;
  std::atomic<int32_t> frameAvailable_{0};
};

}  // namespace camera
