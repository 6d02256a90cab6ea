#include "camera/recording.h"

#include <mmsystem.h>

#include "QelvanSdk.h"
#include "camera/error_history.h"

namespace {
constexpr DWORD kRecordPollMs = 10;
}

Recording::Recording(const output::FramePipeline& pipeline, output::ColorType type, ErrorHistory& errors)
    : pipeline_(pipeline), type_(type), errors_(errors) {
  frameEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

Recording::~Recording() {
  // Last reference gone: the thread has finished (or this runs on it, at its very end).
  thread_.Join();
  if (frameEvent_) CloseHandle(frameEvent_);
}

bool Recording::Open(const char* name, int width, int height) {
  width_ = width;
  height_ = height;
  return width > 0 && height > 0 && writer_.OpenAvi(name, width, height);
}

bool Recording::Start(const std::shared_ptr<Recording>& self, uint32_t durationMs) {
  self->duration_ = durationMs;
  // The thread holds the recording alive: it may finish its file after its camera is gone.
  if (self->thread_.Start([self] { self->Loop(); })) return true;
  self->writer_.ResetAvi();
  return false;
}

void Recording::FrameReady() {
  newFrame_ = 1;
  if (frameEvent_) SetEvent(frameEvent_);
}

void Recording::SourceEnded() {
  sourceEnded_ = true;
  if (frameEvent_) SetEvent(frameEvent_);
}

void Recording::Stop() {
  stop_ = true;
  if (frameEvent_) SetEvent(frameEvent_);
}

bool Recording::Wait(DWORD ms) { return thread_.Wait(ms); }

void Recording::Detach() {
  common::ScopedLock hold(attachLock_);
  attached_ = false;
}

void Recording::Report(int code) {
  common::ScopedLock hold(attachLock_);
  if (attached_) errors_.Push(code);
}

int Recording::AddNewest(CDibImage* copy, CDibImage* a, CDibImage* b, CDibImage* c) {
  bool usable = false;
  {
    common::ScopedLock hold(attachLock_);
    if (attached_) {
      common::ScopedLock frame(pipeline_.Lock());
      const CDibImage* image = pipeline_.Output(type_);
      usable = image->Width() == width_ && image->Height() == height_ && pipeline_.CopyOutput(type_, copy);
    }
  }
  // A frame of another size (colour type or window changed) is not recorded.
  if (!usable) return 0;
  const CDibImage* frame = output::AviFrame(copy, a, b, c);
  return writer_.AddFrame(frame->Pixels()) == CAviWriter::kFrameAdded ? 1 : -1;
}

void Recording::Loop() {
  int failure = 0;
  uint32_t start = 0, last = 0, frames = 0;
  bool started = false, complete = false;
  {
    CDibImage copy, a, b, c;
    if (!a.Create(width_, height_, 24) || !b.Create(width_, height_, 24) || !c.Create(width_, height_, 8))
      failure = ERR_MEMORY;
    while (!failure && !stop_.load()) {
      // Woken by a new frame, or polls.
      WaitForSingleObject(frameEvent_, kRecordPollMs);
      if (sourceEnded_.load()) break;  // the camera is gone: no frame will come
      if (newFrame_.exchange(0) == 0) continue;
      const uint32_t now = timeGetTime();
      if (!started) {
        started = true;
        start = now;
      }
      const int added = AddNewest(&copy, &a, &b, &c);
      if (added == 0) continue;
      if (added < 0) {
        // A failed write, or the file would pass the largest size the writer can index.
        failure = ERR_FILE;
        break;
      }
      ++frames;
      last = now;
      // Wrap-safe: elapsed time since the first frame.
      if (now - start > duration_) {
        complete = true;
        break;
      }
    }
  }
  // Finished on every path, with the frames written so far.
  const uint32_t end = complete || !started ? last : timeGetTime();
  uint32_t elapsed = end - start;
  if (elapsed == 0) elapsed = 1;
  uint64_t rate = started ? static_cast<uint64_t>(frames) * 100000u / elapsed : 3000u;
  if (rate > 0xFFFFFFFFull) rate = 0xFFFFFFFFull;
  if (!writer_.FinishAvi(static_cast<uint32_t>(rate)) && !failure) failure = ERR_FILE;
  if (failure) Report(failure);
}
