// Acquisition modes: preparation, preview, capture and trigger, the worker thread, snapshots and
// frame delivery.
#include "camera/camera.h"

#include <mmsystem.h>

#include <cstring>

#include "device/qelvan_device.h"
#include "imaging/format.h"
#include "output/dib_image.h"

namespace {

constexpr int kBitsPerType[6] = {8, 16, 24, 32, 48, 64};
constexpr int kTriggerTimeoutMs = 3000;
// Pause before another shot after one failed without waiting for a trigger.
constexpr DWORD kShotRetryPauseMs = 20;
// Pause while the worker is held (run flag 2).
constexpr DWORD kHeldPauseMs = 10;
// Longest single sleep of the pause between polls.
constexpr int kPauseSliceMs = 20;

bool WideType(int type) { return type == 1 || type == 4 || type == 5; }

}  // namespace

int CQelvan::SubSampleDivisor(int subSampleMode) {
  switch (subSampleMode) {
    case 1: case 17: return 2;
    case 2: case 18: return 4;
    case 3: case 19: return 8;
    default: return 1;
  }
}

CDibImage* CQelvan::RawImage(int type) const { return WideType(type) ? image16 : image8; }

CDibImage* CQelvan::OutputImage(int type) const {
  switch (type) {
    case 0: return image8;
    case 1: return image16;
    case 2: return image24;
    case 3: return image32;
    case 4: return image48;
    case 5: return image64;
    default: return nullptr;
  }
}

int CQelvan::ActiveColorType() const { return mode.load() != MODE_IDLE ? preparedColorType_ : colorType; }

// ---- Preparation ---------------------------------------------------------------------------

int CQelvan::PrepareAcquisition() {
  const int number = device->GetSelectedDevice();
  if (!device->IsDevicePresent(static_cast<uint32_t>(number)) || DeviceBusy(number)) {
    PushError(ERR_DEVICE_UNAVAILABLE);
    return 0;
  }
  if (initPending) {
    // Selection was deferred while another program streamed from this camera.
    if (device->InitDevice(static_cast<uint32_t>(number)) != 0) {
      PushError(ERR_DEVICE_UNAVAILABLE);
      return 0;
    }
    initPending = false;
  }
  if (!WindowIsValid()) {
    PushError(ERR_GEOMETRY);
    return 0;
  }
  const int type = colorType;
  if (type < 0 || type > 5) {
    PushError(ERR_MEMORY);
    return 0;
  }
  const int divisor = SubSampleDivisor(subSample);
  const int w = width / divisor;
  const int h = height / divisor;

  EnterCriticalSection(&frameLock);
  bool sized = true;
  if (type <= 3) sized = image8->Create(w, h, 8) && image8->SetGrayPalette();
  if (sized && (type == 1 || type == 4 || type == 5)) sized = image16->Create(w, h, 16);
  if (sized && type != 1) sized = image24->Create(w, h, 24);
  if (sized && type == 3) sized = image32->Create(w, h, 32);
  if (sized && type == 4) sized = image48->Create(w, h, 48);
  if (sized && type == 5) sized = image64->Create(w, h, 64);
  if (sized) sized = scratchImage->CreateLike(OutputImage(type));
  if (sized) preparedColorType_ = type;
  LeaveCriticalSection(&frameLock);
  if (!sized) {
    PushError(ERR_MEMORY);
    return 0;
  }

  device->SetWideTransfer(WideType(type) ? 1 : 0);
  uint8_t currentClock = 0;
  device->ReadClockSetting(&currentClock);
  if (currentClock != clock) {
    device->SetClockSetting(clock & 0xFF);
    Sleep(100);
  }
  // A window the device refuses would leave frames of another size than the images.
  const int placed = device->SetCaptureWindow(startX, startY, width, height, subSample);
  if (placed != 0 || device->OutputWidth() != w || device->OutputLines() != h) {
    PushError(ERR_GEOMETRY);
    return 0;
  }
  device->SetMirrorV(mirrorV);
  device->SetMirrorH(mirrorH);
  device->SetTriggerMode(0);
  device->SetGlobalGain(globalGain & 0xFF);
  device->SetColorGain(43, colorGainGreen1 & 0xFF);
  device->SetColorGain(45, colorGainRed & 0xFF);
  device->SetColorGain(44, colorGainBlue & 0xFF);
  device->SetColorGain(46, colorGainGreen2 & 0xFF);
  device->SetExposureLines(exposureLines & 0xFFFF);
  RecomputeRealExposure();

  SizeDisplayImage(type);
  return 1;
}

// ---- Starting and stopping -----------------------------------------------------------------

bool CQelvan::StartWorker() {
  workerDoneEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!workerDoneEvent) return false;
  workerThread = CreateThread(nullptr, 0, WorkerMain, this, 0, &workerThreadId);
  return workerThread != nullptr && workerThreadId != 0;
}

int CQelvan::StartAcquisition() {
  ModeGuard guard(modeLock_);
  if (!RequireDevice()) return 0;
  const int current = mode.load();
  if (current == MODE_PREVIEW) return 1;
  if (current != MODE_IDLE || !PrepareAcquisition()) {
    PushError(ERR_NOT_READY);
    return 0;
  }
  runFlag = 1;
  int code = ERR_THREAD;
  if (StartWorker()) {
    device->SetTriggerMode(0);
    if (device->StartStreaming() == 0) {
      mode = MODE_PREVIEW;
      claimedNumber_ = device->GetSelectedDevice();
      ClaimDevice(claimedNumber_);
      return 1;
    }
    code = ERR_DEVICE_IO;
  }
  StopAcquisition();
  PushError(code);
  return 0;
}

int CQelvan::StartPreview() { return StartAcquisition(); }

int CQelvan::StopAcquisition() {
  ModeGuard guard(modeLock_);
  if (!RequireDevice()) return 0;
  runFlag = 0;
  const int stopping = mode.load();
  if (stopping != MODE_IDLE) {
    mode = MODE_IDLE;
    device->SetTriggerMode(0);
    device->StopStreaming();
    // Capture mode kept the shot handle open for its snapshots.
    if (stopping == MODE_CAPTURE) device->CloseSingleShot();
  }
  // Only what this instance claimed: capture and trigger mode claim nothing.
  if (claimedNumber_ >= 0) {
    ReleaseDevice(claimedNumber_);
    claimedNumber_ = -1;
  }
  if (workerDoneEvent) {
    // A start that made the event but not the thread has nobody to set it.
    if (workerThread) WaitForSingleObject(workerDoneEvent, INFINITE);
    CloseHandle(workerDoneEvent);
    workerDoneEvent = nullptr;
  }
  if (workerThread) CloseHandle(workerThread);
  workerThread = nullptr;
  workerThreadId = 0;

  recordingFlag = 0;
  if (recordDoneEvent) {
    if (recordThread) WaitForSingleObject(recordDoneEvent, INFINITE);
    CloseHandle(recordDoneEvent);
    recordDoneEvent = nullptr;
  }
  if (recordThread) CloseHandle(recordThread);
  recordThread = nullptr;
  recordThreadId = 0;
  return 1;
}

int CQelvan::StopPreview() { return StopAcquisition(); }

void CQelvan::SetFrameDelivery(HWND window, void* buffer, int size, int topDown) {
  // The worker reads all four together while it delivers a frame.
  EnterCriticalSection(&frameLock);
  frameWindow = window;
  frameBuffer = buffer;
  frameBufferSize = size;
  frameTopDown = topDown;
  LeaveCriticalSection(&frameLock);
}

int CQelvan::RefusePreview() {
  PushError(ERR_NOT_READY);
  PushError(ERR_TRANSFER);
  return 0;
}

int CQelvan::StartPreviewWith(HWND window, void* buffer, int size, int topDown, bool deliver) {
  ModeGuard guard(modeLock_);
  if (!device) {
    StartAcquisition();
    CloseInstance();
    PushError(ERR_TRANSFER);
    return 0;
  }
  // Refused before anything is touched, so the running mode keeps its window and delivery.
  const int current = mode.load();
  if (current == MODE_CAPTURE || current == MODE_TRIGGER) return RefusePreview();
  if (deliver)
    SetFrameDelivery(window, buffer, size, topDown);
  else
    SetFrameDelivery(nullptr, nullptr, 0, 0);
  if (!OpenPreviewWindow()) {
    PushError(ERR_WINDOW);
    return 0;
  }
  if (StartAcquisition()) return 1;
  CloseInstance();
  PushError(ERR_TRANSFER);
  return 0;
}

int CQelvan::Preview() { return StartPreviewWith(nullptr, nullptr, 0, 0, false); }

int CQelvan::CallBackPreview(HWND window, void* buffer, int size, int topDown) {
  return StartPreviewWith(window, buffer, size, topDown, true);
}

int CQelvan::Capture() {
  ModeGuard guard(modeLock_);
  if (!RequireDevice()) return 0;
  const int current = mode.load();
  if (current == MODE_CAPTURE) return 1;
  if (current != MODE_IDLE || !PrepareAcquisition()) {
    PushError(ERR_NOT_READY);
    return 0;
  }
  mode = MODE_CAPTURE;
  return 1;
}

int CQelvan::Trigger(HWND window, void* buffer, int size, int topDown) {
  ModeGuard guard(modeLock_);
  // Trigger mode itself is refused too: one worker at a time.
  if (!device || mode.load() != MODE_IDLE) {
    PushError(ERR_NOT_READY);
    return 0;
  }
  SetFrameDelivery(window, buffer, size, topDown);
  if (!OpenPreviewWindow()) {
    PushError(ERR_WINDOW);
    return 0;
  }
  if (!PrepareAcquisition()) {
    CloseInstance();
    PushError(ERR_NOT_READY);
    return 0;
  }
  mode = MODE_TRIGGER;
  triggerTimeout = kTriggerTimeoutMs;
  device->SetTransferTimeout(kTriggerTimeoutMs);
  device->SetTriggerMode(1);
  runFlag = 1;
  if (StartWorker()) return 1;
  CloseInstance();
  PushError(ERR_THREAD);
  return 0;
}

// ---- Frames --------------------------------------------------------------------------------

int CQelvan::FetchFrame(bool stream) {
  CDibImage* raw = RawImage(preparedColorType_);
  if (!raw || !raw->Pixels()) return ERR_TRANSFER;
  const int bytesPerSample = raw->BytesPerPixel();
  // The device's frame must be exactly the image prepared for it, or the copy would overrun.
  if (device->OutputWidth() != raw->Width() || device->OutputLines() != raw->Height() ||
      (device->Wide() ? 2 : 1) != bytesPerSample)
    return ERR_TRANSFER;
  const size_t bytes = static_cast<size_t>(raw->Stride()) * static_cast<size_t>(raw->Height());
  const int r = stream ? device->GetStreamFrame(raw->Pixels(), bytes) : device->GetShotFrame(raw->Pixels(), bytes);
  if (r != 0) return ERR_TRANSFER;
  if (raw->Stride() != raw->Width() * bytesPerSample)
    raw->Transfer(bytesPerSample == 1 ? imaging::SpreadRows8 : imaging::SpreadRows16, raw, nullptr, 0, 0, nullptr, 0);
  return 0;
}

void CQelvan::FillFrameInfo(int rate) {
  const CDibImage* raw = RawImage(preparedColorType_);
  frameInfo.size = sizeof(FrameInfo);
  frameInfo.width = raw->Width();
  frameInfo.height = raw->Height();
  frameInfo.bitsPerPixel = kBitsPerType[preparedColorType_];
  frameInfo.frameRate = rate;
  frameInfo.buffer = frameBuffer;
}

int CQelvan::CountFrame(uint32_t now) {
  ++framesCounted;
  const uint32_t elapsed = now - rateTime;
  if (elapsed > 1000) {
    frameRate10 = static_cast<int>(framesCounted * 10000.0 / elapsed);
    framesCounted = 0;
    rateTime = now;
  }
  return frameRate10;
}

void CQelvan::PostFrameMessage(HWND window, WPARAM wParam, LPARAM lParam) {
  if (window) PostMessageA(window, WM_CAMERA_FRAME, wParam, lParam);
}

int CQelvan::CopyFrameOut(const CDibImage* image, int topDown, void* buffer, int size) {
  const int rowBytes = image ? image->Stride() : 0;
  const int rows = image ? image->Height() : 0;
  if (!buffer || !image || !image->Pixels() || static_cast<int64_t>(size) < static_cast<int64_t>(rowBytes) * rows) {
    PostFrameMessage(frameWindow, 0, ERR_MEMORY);
    PushError(ERR_MEMORY);
    return 0;
  }
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const uint8_t* pixels = image->Pixels();
  for (int i = 0; i < rows; ++i) {
    const int from = topDown ? i : rows - 1 - i;
    std::memcpy(out + static_cast<size_t>(i) * rowBytes, pixels + static_cast<size_t>(from) * rowBytes, rowBytes);
  }
  return 1;
}

void CQelvan::ReportDeviceLost() {
  runFlag = 0;
  EnterCriticalSection(&frameLock);
  const HWND window = frameWindow;
  LeaveCriticalSection(&frameLock);
  PostFrameMessage(window, 0, ERR_DEVICE_LOST);
  PushError(ERR_DEVICE_LOST);
}

// ---- Worker --------------------------------------------------------------------------------

DWORD WINAPI CQelvan::WorkerMain(LPVOID self) {
  CQelvan* camera = static_cast<CQelvan*>(self);
  if (camera->mode.load() == MODE_TRIGGER)
    camera->TriggerLoop();
  else
    camera->PreviewLoop();
  SetEvent(camera->workerDoneEvent);
  return 0;
}

void CQelvan::PreviewLoop() {
  const int type = preparedColorType_;
  while (runFlag.load() != 0) {
    // The pause is slept in short slices so that a long one (the setting has no upper bound)
    // never holds up a stop; a negative value from stored settings counts as no pause.
    for (int left = waitTime; left > 0 && runFlag.load() != 0; left -= kPauseSliceMs)
      Sleep(static_cast<DWORD>(left < kPauseSliceMs ? left : kPauseSliceMs));
    if (runFlag.load() != 1) continue;
    const int s = device->WaitFrame();
    if (s == 1) {
      ReportDeviceLost();
      break;
    }
    if (s != 3) continue;

    EnterCriticalSection(&frameLock);
    if (FetchFrame(true) != 0) {
      const HWND window = frameWindow;
      LeaveCriticalSection(&frameLock);
      PostFrameMessage(window, 0, ERR_TRANSFER);
      PushError(ERR_TRANSFER);
      continue;
    }
    FillFrameInfo(CountFrame(timeGetTime()));
    ConvertFrame(type);
    newFrameFlag = 1;
    SetEvent(NewFrameEvent());
    frameAvailable = 1;
    PaintPreview(type);
    if (frameBuffer && frameBufferSize != 0 &&
        !CopyFrameOut(OutputImage(type), frameTopDown, frameBuffer, frameBufferSize)) {
      LeaveCriticalSection(&frameLock);
      continue;
    }
    const HWND window = frameWindow;
    LeaveCriticalSection(&frameLock);
    PostFrameMessage(window, reinterpret_cast<WPARAM>(&frameInfo), 0);
  }
}

void CQelvan::TriggerLoop() {
  const int type = preparedColorType_;
  while (runFlag.load() != 0) {
    if (runFlag.load() != 1) {
      Sleep(kHeldPauseMs);
      continue;
    }
    const int r = device->SingleShot();
    if (runFlag.load() == 0) break;
    if (r == DEV_OPEN_FAILED) {
      // The camera is gone: as in preview, the run ends here.
      ReportDeviceLost();
      break;
    }
    if (r != 0) {
      // The time-out of a shot without a trigger is the normal wait and stays silent; a read
      // that failed or came back short is reported as a failed frame, and the loop tries again
      // (after a pause, so a failing camera does not turn it into a spin).
      if (!device->LastShotTimedOut()) {
        EnterCriticalSection(&frameLock);
        const HWND window = frameWindow;
        LeaveCriticalSection(&frameLock);
        PostFrameMessage(window, 0, ERR_TRANSFER);
        PushError(ERR_TRANSFER);
      }
      Sleep(kShotRetryPauseMs);
      continue;
    }

    EnterCriticalSection(&frameLock);
    if (FetchFrame(false) != 0) {
      LeaveCriticalSection(&frameLock);
      PushError(ERR_TRANSFER);
      continue;
    }
    FillFrameInfo(0);
    ConvertFrame(type);
    frameAvailable = 1;
    if (frameBuffer && frameBufferSize != 0 &&
        !CopyFrameOut(OutputImage(type), frameTopDown, frameBuffer, frameBufferSize)) {
      LeaveCriticalSection(&frameLock);
      continue;
    }
    PostFrameMessage(frameWindow, reinterpret_cast<WPARAM>(&frameInfo), 0);
    PaintPreview(type);
    LeaveCriticalSection(&frameLock);
  }
}

// ---- Snapshots and reading the current image -----------------------------------------------

void CQelvan::FinishShot() {
  if (mode.load() != MODE_CAPTURE) device->CloseSingleShot();
}

int CQelvan::SnapShot(void* buffer, int size, int topDown) {
  ModeGuard guard(modeLock_);
  const int current = mode.load();
  if (!device || current == MODE_PREVIEW || current == MODE_TRIGGER) {
    PushError(ERR_NOT_READY);
    return 0;
  }
  if (current == MODE_IDLE && !PrepareAcquisition()) {
    PushError(ERR_NOT_READY);
    return 0;
  }
  EnterCriticalSection(&frameLock);
  if (device->SingleShot() != 0) {
    PushError(ERR_TRANSFER);
    FinishShot();
    LeaveCriticalSection(&frameLock);
    return 0;
  }
  if (FetchFrame(false) != 0) {
    PostFrameMessage(frameWindow, 0, ERR_TRANSFER);
    FinishShot();
    PushError(ERR_TRANSFER);
    LeaveCriticalSection(&frameLock);
    return 0;
  }
  ConvertFrame(preparedColorType_);
  frameAvailable = 1;
  if (buffer && size != 0 && !CopyFrameOut(OutputImage(preparedColorType_), topDown, buffer, size)) {
    FinishShot();
    LeaveCriticalSection(&frameLock);
    PushError(ERR_MEMORY);
    return 0;
  }
  LeaveCriticalSection(&frameLock);
  FinishShot();
  return 1;
}

int CQelvan::GetImage(void* buffer, int size, int topDown) {
  if (!RequireDevice()) return 0;
  EnterCriticalSection(&frameLock);
  const CDibImage* image = OutputImage(ActiveColorType());
  if (!image) {
    PushError(ERR_NOT_READY);
  } else if (!image->Pixels() || !buffer || !CopyFrameOut(image, topDown, buffer, size)) {
    PushError(ERR_MEMORY);
  } else {
    LeaveCriticalSection(&frameLock);
    return 1;
  }
  LeaveCriticalSection(&frameLock);
  return 0;
}
