// Still images and recording.
//
// Both take the frame lock only to copy the newest converted frame; encoding, conversion to
// AVI frames and file writes run outside it, so acquisition never waits for the disk.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>

#include "camera/camera.h"
#include "device/qelvan_device.h"
#include "imaging/format.h"
#include "output/dib_image.h"
#include "output/image_files.h"

namespace {

constexpr DWORD kRecordPollMs = 10;

bool HasPixels(const CDibImage* image) {
  return image != nullptr && image->Pixels() != nullptr && image->Width() > 0 && image->Height() > 0;
}

// Copies source's pixels into copy, reshaping copy only when the size or depth changed.
bool CopyImage(CDibImage* copy, const CDibImage* source) {
  if (copy->Width() != source->Width() || copy->Height() != source->Height() ||
      copy->BitCount() != source->BitCount()) {
    if (!copy->CreateLike(source)) return false;
  }
  std::memcpy(copy->Pixels(), source->Pixels(),
              static_cast<size_t>(source->Height()) * static_cast<size_t>(source->Stride()));
  return true;
}

}  // namespace

// The colour type a running mode was prepared with, else the current setting.
CDibImage* CQelvan::FileImage() const { return OutputImage(ActiveColorType()); }

int CQelvan::SaveCurrentImage(const char* name, int type) {
  if (name == nullptr || type < output::kFileBmp || type > output::kFileTiff) return 0;
  CDibImage copy;
  EnterCriticalSection(&frameLock);
  const CDibImage* image = FileImage();
  if (image == nullptr) {
    LeaveCriticalSection(&frameLock);
    PushError(ERR_NOT_READY);
    return 0;
  }
  // An image never prepared stays empty in the copy, and saving an empty copy fails.
  const bool copied = !HasPixels(image) || CopyImage(&copy, image);
  LeaveCriticalSection(&frameLock);
  if (!copied) return 0;
  return output::SaveImageFile(name, &copy, type);
}

int CQelvan::SaveImage(const char* name, int type) {
  if (!RequireDevice()) return 0;
  if (!frameAvailable) return PushError(ERR_NOT_READY), 0;
  return SaveCurrentImage(name, type);
}

int CQelvan::SaveImageW(const wchar_t* name, int type) {
  if (!RequireDevice()) return 0;
  char narrow[1024];
  if (name == nullptr || !NarrowFileName(name, narrow)) return PushError(ERR_NOT_READY), 0;
  return SaveCurrentImage(narrow, type);
}

// ---- Recording -------------------------------------------------------------------------

void CQelvan::CloseFinishedRecording() {
  if (recordDoneEvent) {
    // A start that made the event but not the thread has nobody to set it.
    if (recordThread) WaitForSingleObject(recordDoneEvent, INFINITE);
    CloseHandle(recordDoneEvent);
    recordDoneEvent = nullptr;
  }
  if (recordThread) CloseHandle(recordThread);
  recordThread = nullptr;
  recordThreadId = 0;
}

int CQelvan::Record(const char* name, int durationMs, int showWindow) {
  if (!name || !name[0] || durationMs < 0) return PushError(ERR_ARGUMENT), 0;
  // One writer per camera: a running recording keeps it.
  if (recordingFlag.load() != 0) return PushError(ERR_NOT_READY), 0;
  CloseFinishedRecording();

  if (showWindow) {
    // Clears frame delivery, makes the preview window and starts the preview.
    if (!Preview()) return PushError(ERR_FILE), 0;
  } else {
    SetFrameDelivery(nullptr, nullptr, 0, 0);
    if (!StartPreview()) {
      StopPreview();
      return PushError(ERR_FILE), 0;
    }
  }

  int w = 0, h = 0;
  EnterCriticalSection(&frameLock);
  const CDibImage* image = FileImage();
  if (HasPixels(image)) w = image->Width(), h = image->Height();
  LeaveCriticalSection(&frameLock);
  if (w <= 0 || !aviWriter_.OpenAvi(name, w, h)) {
    StopPreview();
    return PushError(ERR_FILE), 0;
  }

  recordDuration_ = static_cast<uint32_t>(durationMs);
  recordEndTime = durationMs;
  recordStartTime = 0;
  newFrameFlag = 0;
  recordingFlag = 1;
  recordDoneEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (recordDoneEvent)
    recordThread = CreateThread(nullptr, 0, RecordMain, this, 0, &recordThreadId);
  if (!recordDoneEvent || !recordThread || !recordThreadId) {
    recordingFlag = 0;
    if (recordThread) WaitForSingleObject(recordThread, INFINITE);
    CloseFinishedRecording();
    aviWriter_.ResetAvi();
    StopPreview();
    return PushError(ERR_THREAD), 0;
  }
  return 1;
}

int CQelvan::RecordW(const wchar_t* name, int durationMs, int showWindow) {
  char narrow[1024];
  if (!name) return PushError(ERR_ARGUMENT), 0;
  if (!NarrowFileName(name, narrow)) return PushError(ERR_FILE), 0;
  return Record(narrow, durationMs, showWindow);
}

DWORD WINAPI CQelvan::RecordMain(LPVOID self) {
  CQelvan* camera = static_cast<CQelvan*>(self);
  camera->RecordLoop();
  // Last act: whoever stops acquisition waits for this.
  SetEvent(camera->recordDoneEvent);
  return 0;
}

int CQelvan::RecordFrame(CDibImage* copy, CDibImage* a, CDibImage* b, CDibImage* c) {
  EnterCriticalSection(&frameLock);
  const CDibImage* image = FileImage();
  const bool usable = HasPixels(image) && image->Width() == a->Width() &&
                      image->Height() == a->Height() && CopyImage(copy, image);
  LeaveCriticalSection(&frameLock);
  // A frame of another size (colour type or window changed) is not recorded.
  if (!usable) return 0;

  CDibImage* frame = a;
  switch (copy->BitCount()) {
    case 8:
      // GDI spreads the gray levels into blue = green = red.
      b->Blit(copy, nullptr, 0, 0);
      a->Transfer(imaging::Copy3ChannelsReversed, b, nullptr, 0, 0, nullptr, 0);
      break;
    case 16:
      c->Transfer(imaging::Reduce16To8Reversed, copy, nullptr, 0, 0, nullptr, 0);
      a->Blit(c, nullptr, 0, 0);
      break;
    case 48:
    case 64:
      b->Transfer(imaging::Reduce48To24Reversed, copy, nullptr, 0, 0, nullptr, 0);
      frame = b;
      break;
    default:
      a->Transfer(imaging::Copy3ChannelsReversed, copy, nullptr, 0, 0, nullptr, 0);
  }
  return aviWriter_.AddFrame(frame->Pixels()) == CAviWriter::kFrameAdded ? 1 : -1;
}

void CQelvan::RecordLoop() {
  int w = 0, h = 0;
  EnterCriticalSection(&frameLock);
  const CDibImage* image = FileImage();
  if (HasPixels(image)) w = image->Width(), h = image->Height();
  LeaveCriticalSection(&frameLock);

  int failure = 0;
  uint32_t start = 0, last = 0, frames = 0;
  bool started = false, complete = false;
  {
    CDibImage copy, a, b, c;
    if (!a.Create(w, h, 24) || !b.Create(w, h, 24) || !c.Create(w, h, 8)) failure = ERR_MEMORY;
    while (!failure && recordingFlag.load() != 0) {
      // Woken by a new frame, or polls.
      if (newFrameEvent_.handle)
        WaitForSingleObject(newFrameEvent_.handle, kRecordPollMs);
      else
        Sleep(kRecordPollMs);
      // The preview worker has ended (camera lost): no frame will come.
      if (runFlag.load() == 0) break;
      if (newFrameFlag.exchange(0) == 0) continue;
      const uint32_t now = timeGetTime();
      if (!started) {
        started = true;
        start = now;
        recordStartTime = static_cast<int>(now);
        recordEndTime = static_cast<int>(now + recordDuration_);
      }
      const int added = RecordFrame(&copy, &a, &b, &c);
      if (added == 0) continue;
      if (added < 0) {
        // A failed write, or the file would pass its 4 GB limit.
        failure = ERR_FILE;
        break;
      }
      ++frames;
      last = now;
      // Wrap-safe: elapsed time since the first frame.
      if (now - start > recordDuration_) {
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
  if (!aviWriter_.FinishAvi(static_cast<uint32_t>(rate)) && !failure) failure = ERR_FILE;
  recordStartTime = 0;
  recordEndTime = 0;
  recordingFlag = 0;
  if (failure) PushError(failure);
}
