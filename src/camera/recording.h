// One AVI recording: its writer and the thread that feeds it the newest converted frame. The
// object outlives its camera when a stop gives up waiting for a write that blocks: once
// detached, the thread finishes the file on its own and touches nothing of the camera.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/critical_section.h"
#include "common/worker_thread.h"
#include "output/avi_writer.h"
#include "output/frame_pipeline.h"

class ErrorHistory;

class Recording {
 public:
  Recording(const output::FramePipeline& pipeline, output::ColorType type, ErrorHistory& errors);
  ~Recording();
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // Opens the file for width x height frames; false when it could not be made.
  bool Open(const char* name, int width, int height);
  // Starts the thread that records for durationMs from its first frame; false when it could
  // not be made (the file is dropped).
  static bool Start(const std::shared_ptr<Recording>& self, uint32_t durationMs);

  // From the acquisition worker, under the pipeline lock: a new frame is there; no frame will
  // come any more.
  void FrameReady();
  void SourceEnded();

  // Asks the thread to finish the file with the frames written so far.
  void Stop();
  // Whether the thread has ended within ms.
  bool Wait(DWORD ms);
  bool Finished() const { return !thread_.Started() || thread_.Wait(0); }
  // After this the thread reads no frame and reports no error.
  void Detach();

 private:
  void Loop();
  // 1 added, 0 skipped (size changed), -1 failed.
  int AddNewest(CDibImage* copy, CDibImage* a, CDibImage* b, CDibImage* c);
  void Report(int code);

  const output::FramePipeline& pipeline_;
  const output::ColorType type_;
  ErrorHistory& errors_;
  common::CriticalSection attachLock_;
  bool attached_ = true;

  CAviWriter writer_;
  int width_ = 0, height_ = 0;
  uint32_t duration_ = 0;
  HANDLE frameEvent_ = nullptr;
  common::WorkerThread thread_;
  std::atomic<int32_t> newFrame_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> sourceEnded_{false};
};
