#include "camera/acquisition.h"

#include <mmsystem.h>

#include <cstring>
#include <utility>

#include "camera/device_claim.h"
#include "camera/device_sensor.h"
#include "camera/error_history.h"
#include "camera/live_settings.h"
#include "camera/recording.h"
#include "camera/sensor_timing.h"
#include "device/qelvan_device.h"

namespace camera {

using output::ColorType;
using State = Acquisition::State;

namespace {

constexpr int kTriggerTimeoutMs = 3000;
// Pause before another shot after one failed without waiting for a trigger.
constexpr DWORD kShotRetryPauseMs = 20;
// Pause while the worker is held.
constexpr DWORD kHeldPauseMs = 10;
// Longest single sleep of the pause between polls.
constexpr int kPauseSliceMs = 20;
// How long a stop waits for the recorder to finish its file before leaving it to finish alone.
constexpr DWORD kRecorderWaitMs = 5000;

}  // namespace

bool CameraAnswers(int number) {
  char path[DEVICE_PATH_CHARS];
  if (number < 0 || number >= DEVICE_SLOTS || !FormatDevicePath(path, sizeof path, DRIVER_BASE_NAME, number))
    return false;
  HANDLE h = nullptr;
  const bool present = OpenDriver(&h, path) && h != INVALID_HANDLE_VALUE;
  if (present) CloseDriver(&h);
  return present;
}

// ---- The table of transitions -----------------------------------------------------------------

Acquisition::Answer Acquisition::Lookup(State state, Request request) {
  constexpr Answer R = Answer::kRefuse, A = Answer::kAlready, I = Answer::kFromIdle;
  // A run the camera ended (lost) is stopped and starts again from idle.
  static constexpr Answer kTable[6][4] = {
      //         stream capture trigger snapshot
      /* idle     */ {I, I, I, I},
      /* preview  */ {A, R, R, R},
      /* callback */ {A, R, R, R},
      /* capture  */ {R, A, R, A},
      /* trigger  */ {R, R, R, R},
      /* lost     */ {I, I, I, I},
  };
  return kTable[static_cast<int>(state)][static_cast<int>(request)];
}

State Acquisition::Current() const {
  const State s = state_.load();
  if ((s == State::kPreview || s == State::kCallback || s == State::kTrigger) && lost_.load()) return State::kLost;
  return s;
}

// ---- Life ----------------------------------------------------------------------------------------

Acquisition::Acquisition(CQelvanZ51QKRVNSdk& device, LiveSettings& settings, DeviceClaim& claim, ErrorHistory& errors)
    : device_(device), settings_(settings), claim_(claim), errors_(errors), rate_(timeGetTime()) {}

Acquisition::~Acquisition() { Close(); }

void Acquisition::SetPlacement(HWND parent, int x, int y, int width, int height) {
  common::ScopedLock hold(transitionLock_);
  placementParent_ = parent;
  placementX_ = x;
  placementY_ = y;
  placementW_ = width;
  placementH_ = height;
}

bool Acquisition::WindowConfigured() const {
  return placementParent_ != nullptr || placementX_ != 0 || placementY_ != 0 || placementW_ != 0 || placementH_ != 0;
}

PreviewWindow::Placement Acquisition::PlacementNow() const {
  const settings::CameraSettings s = settings_.Get();
  const int divisor = SubSampleDivisor(s.stream.subSample);
  PreviewWindow::Placement p;
  p.parent = placementParent_;
  p.x = placementX_;
  p.y = placementY_;
  p.width = placementW_;
  p.height = placementH_;
  p.imageWidth = s.geometry.width / divisor;
  p.imageHeight = s.geometry.height / divisor;
  return p;
}

std::unique_ptr<PreviewWindow> Acquisition::InstallWindow(std::unique_ptr<PreviewWindow> window) {
  common::ScopedLock delivery(deliveryLock_);
  std::swap(window_, window);
  paintWindow_ = window_ ? window_->Window() : nullptr;
  paintDc_ = window_ ? window_->Dc() : nullptr;
  return window;
}

void Acquisition::SetDelivery(HWND window, void* buffer, int size, int topDown) {
  // The worker reads all four together while it delivers a frame.
  common::ScopedLock delivery(deliveryLock_);
  frameWindow_ = window;
  frameBuffer_ = buffer;
  frameBufferSize_ = size;
  frameTopDown_ = topDown;
}

// ---- Preparation ---------------------------------------------------------------------------------

int Acquisition::Prepare() {
  const int number = device_.GetSelectedDevice();
  if (!CameraAnswers(number) || claim_.Busy(number)) {
    errors_.Push(ERR_DEVICE_UNAVAILABLE);
    return 0;
  }
  if (initPending_) {
    // Selection was deferred while another program streamed from this camera.
    if (device_.InitDevice(static_cast<uint32_t>(number)) != 0) {
      errors_.Push(ERR_DEVICE_UNAVAILABLE);
      return 0;
    }
    initPending_ = false;
  }
  const settings::CameraSettings s = settings_.Get();
  if (!CaptureWindowValid(s.geometry, s.stream.subSample)) {
    errors_.Push(ERR_GEOMETRY);
    return 0;
  }
  if (!output::ValidColorType(s.stream.colorType)) {
    errors_.Push(ERR_MEMORY);
    return 0;
  }
  const ColorType type = static_cast<ColorType>(s.stream.colorType);
  const int divisor = SubSampleDivisor(s.stream.subSample);
  const int w = s.geometry.width / divisor;
  const int h = s.geometry.height / divisor;
  bool sized;
  {
    common::ScopedLock frame(pipeline_.Lock());
    sized = pipeline_.Prepare(type, w, h);
  }
  if (!sized) {
    errors_.Push(ERR_MEMORY);
    return 0;
  }

  device_.SetWideTransfer(output::WideSamples(type) ? 1 : 0);
  uint8_t currentClock = 0;
  device_.ReadClockSetting(&currentClock);
  if (currentClock != s.stream.clock) {
    device_.SetClockSetting(s.stream.clock & 0xFF);
    Sleep(100);
  }
  // A window the device refuses would leave frames of another size than the images.
  const settings::SizePreset& g = s.geometry;
  const int placed = device_.SetCaptureWindow(g.startX, g.startY, g.width, g.height, s.stream.subSample);
  if (placed != 0 || device_.OutputWidth() != w || device_.OutputLines() != h) {
    errors_.Push(ERR_GEOMETRY);
    return 0;
  }
  const settings::AnalogValues& a = s.analog;
  device_.SetMirrorV(a.mirrorV);
  device_.SetMirrorH(a.mirrorH);
  device_.SetTriggerMode(0);
  device_.SetGlobalGain(a.globalGain & 0xFF);
  for (settings::AnalogField field : settings::kColorGainFields)
    device_.SetColorGain(settings::ColorGainRegister(field), a[field] & 0xFF);
  device_.SetExposureLines(a.exposureLines & 0xFFFF);
  settings_.SetExposureTiming(LineClocks(g.width), MillisecondsPerClock(s.stream.clock));

  common::ScopedLock delivery(deliveryLock_);
  if (paintDc_) pipeline_.SizeDisplay(paintWindow_);
  return 1;
}

// ---- Starting and stopping -----------------------------------------------------------------------

bool Acquisition::StartWorker(bool trigger) {
  lost_ = false;
  run_ = 1;
  return worker_.Start([this, trigger] { trigger ? TriggerLoop() : PreviewLoop(); });
}

int Acquisition::StartStreamingRun() {
  if (!Prepare()) {
    errors_.Push(ERR_NOT_READY);
    return 0;
  }
  {
    common::ScopedLock delivery(deliveryLock_);
    rate_ = FrameRateMeter(timeGetTime());
  }
  int code = ERR_THREAD;
  if (StartWorker(false)) {
    device_.SetTriggerMode(0);
    if (device_.StartStreaming() == 0) {
      claimedNumber_ = device_.GetSelectedDevice();
      claim_.Claim(claimedNumber_);
      return 1;
    }
    code = ERR_DEVICE_IO;
  }
  StopLocked();
  errors_.Push(code);
  return 0;
}

Acquisition::StartResult Acquisition::StartStream(bool makeWindow, bool setDelivery, HWND window, void* buffer,
                                                  int size, int topDown) {
  StartResult result;
  // A running preview keeps its window; anything else gets a new one, made before the lock is
  // taken so that no export waits on the lock while the parent's thread is involved.
  std::unique_ptr<PreviewWindow> made;
  bool wanted = false;
  PreviewWindow::Placement placement;
  {
    common::ScopedLock hold(transitionLock_);
    const State s = Current();
    wanted = makeWindow && WindowConfigured() && !(s == State::kPreview || s == State::kCallback) &&
             Lookup(s, Request::kStream) != Answer::kRefuse;
    if (wanted) placement = PlacementNow();
  }
  if (wanted) {
    made.reset(new PreviewWindow);
    if (!made->Open(placement)) {
      errors_.Push(ERR_WINDOW);
      result.windowFailed = true;
      return result;
    }
  }

  std::unique_ptr<PreviewWindow> retired;
  {
    common::ScopedLock hold(transitionLock_);
    const State s = Current();
    const Answer answer = retired_ ? Answer::kRefuse : Lookup(s, Request::kStream);
    const State running = setDelivery && (window || buffer) ? State::kCallback : State::kPreview;
    if (answer == Answer::kRefuse) {
      errors_.Push(ERR_NOT_READY);
    } else if (answer == Answer::kAlready) {
      if (setDelivery) {
        SetDelivery(window, buffer, size, topDown);
        state_ = running;
      }
      result.ok = 1;
    } else {
      if (s == State::kLost) StopLocked();
      if (setDelivery) SetDelivery(window, buffer, size, topDown);
      // A window left from an earlier start goes: the placement may have changed since.
      if (makeWindow) retired = InstallWindow(std::move(made));
      ++generation_;
      if (StartStreamingRun()) {
        state_ = running;
        result.ok = 1;
        result.startedHere = true;
      } else if (makeWindow) {
        // A failed start closes the window it made, as closing the instance does.
        std::unique_ptr<PreviewWindow> failed = InstallWindow(nullptr);
        if (!retired) retired = std::move(failed);
      }
    }
  }
  // Destroyed outside the lock: a child's parent thread may be calling us.
  retired.reset();
  made.reset();
  return result;
}

int Acquisition::StartPreview() { return StartStream(false, false, nullptr, nullptr, 0, 0).ok; }

int Acquisition::Preview(HWND window, void* buffer, int size, int topDown) {
  const StartResult started = StartStream(true, true, window, buffer, size, topDown);
  if (started.ok) return 1;
  if (!started.windowFailed) errors_.Push(ERR_TRANSFER);
  return 0;
}

void Acquisition::StopLocked() {
  run_ = 0;
  const State stopping = state_.load();
  if (stopping != State::kIdle) {
    state_ = State::kIdle;
    device_.SetTriggerMode(0);
    device_.StopStreaming();
    // Capture mode kept the shot handle open for its snapshots.
    if (stopping == State::kCapture) device_.CloseSingleShot();
  }
  // Every wait of the worker is bounded (a frame wait, a shot's transfer time-out), and the
  // stopped device wakes it.
  worker_.Join();
  lost_ = false;
  // Only what this instance claimed: capture and trigger mode claim nothing.
  if (claimedNumber_ >= 0) {
    claim_.Release(claimedNumber_);
    claimedNumber_ = -1;
  }
  StopRecordingLocked();
}

void Acquisition::StopRecordingLocked() {
  std::shared_ptr<Recording> recording = std::move(recording_);
  if (!recording) return;
  recording->Stop();
  // A write that blocks (a full or stalled share) must not hold the camera: the recording then
  // finishes its file alone.
  if (!recording->Wait(kRecorderWaitMs)) recording->Detach();
  common::ScopedLock frame(pipeline_.Lock());
  recordingSink_ = nullptr;
}

int Acquisition::Stop() {
  common::ScopedLock hold(transitionLock_);
  ++generation_;
  StopLocked();
  return 1;
}

std::unique_ptr<PreviewWindow> Acquisition::CloseLocked() {
  ++generation_;
  StopLocked();
  frameAvailable_ = 0;
  device_.CloseSingleShot();
  return InstallWindow(nullptr);
}

void Acquisition::Close() {
  std::unique_ptr<PreviewWindow> window;
  {
    common::ScopedLock hold(transitionLock_);
    window = CloseLocked();
  }
}

void Acquisition::Retire() {
  std::unique_ptr<PreviewWindow> window;
  {
    common::ScopedLock hold(transitionLock_);
    retired_ = true;
    window = CloseLocked();
  }
}

bool Acquisition::ToIdleForSelection() {
  const State s = Current();
  if (s == State::kLost) StopLocked();
  if (s != State::kIdle && s != State::kLost) {
    errors_.Push(ERR_NOT_READY);
    return false;
  }
  return true;
}

int Acquisition::Capture() {
  common::ScopedLock hold(transitionLock_);
  const State s = Current();
  const Answer answer = retired_ ? Answer::kRefuse : Lookup(s, Request::kCapture);
  if (answer == Answer::kAlready) return 1;
  if (answer == Answer::kRefuse) {
    errors_.Push(ERR_NOT_READY);
    return 0;
  }
  if (s == State::kLost) StopLocked();
  ++generation_;
  if (!Prepare()) {
    errors_.Push(ERR_NOT_READY);
    return 0;
  }
  state_ = State::kCapture;
  return 1;
}

int Acquisition::Trigger(HWND window, void* buffer, int size, int topDown) {
  std::unique_ptr<PreviewWindow> made;
  bool wanted = false;
  PreviewWindow::Placement placement;
  {
    common::ScopedLock hold(transitionLock_);
    // Trigger mode itself is refused too: one worker at a time.
    if (retired_ || Lookup(Current(), Request::kTrigger) == Answer::kRefuse) {
      errors_.Push(ERR_NOT_READY);
      return 0;
    }
    wanted = WindowConfigured();
    if (wanted) placement = PlacementNow();
  }
  if (wanted) {
    made.reset(new PreviewWindow);
    if (!made->Open(placement)) {
      errors_.Push(ERR_WINDOW);
      return 0;
    }
  }
  std::unique_ptr<PreviewWindow> retired;
  int result = 0;
  {
    common::ScopedLock hold(transitionLock_);
    const State s = Current();
    if (retired_ || Lookup(s, Request::kTrigger) == Answer::kRefuse) {
      errors_.Push(ERR_NOT_READY);
    } else {
      if (s == State::kLost) StopLocked();
      ++generation_;
      SetDelivery(window, buffer, size, topDown);
      retired = InstallWindow(std::move(made));
      if (!Prepare()) {
        std::unique_ptr<PreviewWindow> failed = CloseLocked();
        if (!retired) retired = std::move(failed);
        errors_.Push(ERR_NOT_READY);
      } else {
        state_ = State::kTrigger;
        device_.SetTransferTimeout(kTriggerTimeoutMs);
        device_.SetTriggerMode(1);
        if (StartWorker(true)) {
          result = 1;
        } else {
          std::unique_ptr<PreviewWindow> failed = CloseLocked();
          if (!retired) retired = std::move(failed);
          errors_.Push(ERR_THREAD);
        }
      }
    }
  }
  return result;
}

// ---- The settings dialog's pause -------------------------------------------------------------

Acquisition::Pause Acquisition::PauseForSettings() {
  common::ScopedLock hold(transitionLock_);
  Pause pause;
  pause.state = Current();
  {
    common::ScopedLock delivery(deliveryLock_);
    pause.window = frameWindow_;
    pause.buffer = frameBuffer_;
    pause.size = frameBufferSize_;
    pause.topDown = frameTopDown_;
  }
  if (pause.state == State::kPreview || pause.state == State::kCallback || pause.state == State::kCapture) {
    StopLocked();
  } else if (pause.state == State::kTrigger) {
    run_ = 2;  // the trigger loop waits while the settings change
  }
  pause.generation = ++generation_;
  return pause;
}

void Acquisition::Resume(const Pause& pause, bool settingsChanged) {
  {
    common::ScopedLock hold(transitionLock_);
    // The application stopped, started or closed something meanwhile, or releases the
    // instance: what it did stands.
    if (retired_ || generation_.load() != pause.generation) return;
    if (pause.state == State::kTrigger && !settingsChanged) {
      run_ = 1;
      return;
    }
    // A held trigger loop would keep the old format: it stops, so the new settings reach the
    // device when it starts again.
    if (pause.state == State::kTrigger) StopLocked();
  }
  switch (pause.state) {
    case State::kPreview:
    case State::kCallback:
      {
        common::ScopedLock hold(transitionLock_);
        if (generation_.load() != pause.generation || Current() != State::kIdle) return;
        ++generation_;
        if (StartStreamingRun()) state_ = pause.state;
      }
      return;
    case State::kCapture:
      Capture();
      return;
    case State::kTrigger:
      Trigger(pause.window, pause.buffer, pause.size, pause.topDown);
      return;
    default:
      return;
  }
}

// ---- Frames ----------------------------------------------------------------------------------------

ColorType Acquisition::ActiveType() const {
  if (state_.load() != State::kIdle) return pipeline_.Prepared();
  const int type = settings_.Get().stream.colorType;
  return static_cast<ColorType>(type);
}

bool Acquisition::FetchFrame(bool stream) {
  CDibImage* raw = pipeline_.Raw();
  if (!raw->Pixels()) return false;
  // The device's frame must be exactly the image prepared for it, or the copy would overrun.
  if (device_.OutputWidth() != raw->Width() || device_.OutputLines() != raw->Height() ||
      (device_.Wide() ? 2 : 1) != raw->BytesPerPixel())
    return false;
  const size_t bytes = static_cast<size_t>(raw->Stride()) * static_cast<size_t>(raw->Height());
  const int r = stream ? device_.GetStreamFrame(raw->Pixels(), bytes) : device_.GetShotFrame(raw->Pixels(), bytes);
  if (r != 0) return false;
  pipeline_.SpreadRawRows();
  return true;
}

void Acquisition::ConvertFrame() {
  frameconv::ConvertSettings s = settings_.ForConversion();
  DeviceSensor sensor(device_, settings_.Get().analog.exposureLines);
  frameconv::ConvertChanges changes;
  pipeline_.Convert(&s, &sensor, &changes);
  settings_.StoreConversion(s, changes);
}

void Acquisition::FillFrameInfo(int rate) {
  const CDibImage* raw = pipeline_.Raw();
  frameInfo_.size = sizeof(FrameInfo);
  frameInfo_.width = raw->Width();
  frameInfo_.height = raw->Height();
  frameInfo_.bitsPerPixel = output::OutputBits(pipeline_.Prepared());
  frameInfo_.frameRate = rate;
  frameInfo_.buffer = frameBuffer_;
}

void Acquisition::PostFrame(HWND window, WPARAM wParam, LPARAM lParam) {
  if (window) PostMessageA(window, WM_CAMERA_FRAME, wParam, lParam);
}

bool Acquisition::CopyOutReported(HWND window, ColorType type, void* buffer, int size, int topDown) {
  if (pipeline_.CopyOut(type, buffer, size, topDown)) return true;
  PostFrame(window, 0, ERR_MEMORY);
  errors_.Push(ERR_MEMORY);
  return false;
}

bool Acquisition::DeliverReported(void* buffer, int size, int topDown) {
  if (pipeline_.CopyOutConverted(buffer, size, topDown)) return true;
  PostFrame(frameWindow_, 0, ERR_MEMORY);
  errors_.Push(ERR_MEMORY);
  return false;
}

void Acquisition::PublishFrame() {
  common::ScopedLock frame(pipeline_.Lock());
  pipeline_.Publish();
  if (recordingSink_) recordingSink_->FrameReady();
  frameAvailable_ = 1;
}

void Acquisition::ReportLost() {
  run_ = 0;
  HWND window;
  {
    common::ScopedLock delivery(deliveryLock_);
    window = frameWindow_;
  }
  {
    common::ScopedLock frame(pipeline_.Lock());
    if (recordingSink_) recordingSink_->SourceEnded();
  }
  lost_ = true;
  PostFrame(window, 0, ERR_DEVICE_LOST);
  errors_.Push(ERR_DEVICE_LOST);
}

void Acquisition::PreviewLoop() {
  while (run_.load() != 0) {
    // The pause is slept in short slices so that a long one (the setting has no upper bound)
    // never holds up a stop; a negative value from stored settings counts as no pause.
    const int wait = settings_.Get().stream.waitTime;
    for (int left = wait; left > 0 && run_.load() != 0; left -= kPauseSliceMs)
      Sleep(static_cast<DWORD>(left < kPauseSliceMs ? left : kPauseSliceMs));
    if (run_.load() != 1) continue;
    const int s = device_.WaitFrame();
    if (s == 1) {
      ReportLost();
      break;
    }
    if (s != 3) continue;

    // The frame is fetched and converted into the worker's own images, drawn and delivered from
    // them, and only then published: readers of the current image wait for the swap alone.
    if (!FetchFrame(true)) {
      HWND window;
      {
        common::ScopedLock delivery(deliveryLock_);
        window = frameWindow_;
      }
      PostFrame(window, 0, ERR_TRANSFER);
      errors_.Push(ERR_TRANSFER);
      continue;
    }
    const int rate = rate_.Count(timeGetTime());
    ConvertFrame();
    HWND window;
    bool delivered = true;
    {
      common::ScopedLock delivery(deliveryLock_);
      window = frameWindow_;
      FillFrameInfo(rate);
      pipeline_.Paint(paintWindow_, paintDc_);
      if (frameBuffer_ && frameBufferSize_ != 0) delivered = DeliverReported(frameBuffer_, frameBufferSize_, frameTopDown_);
    }
    PublishFrame();
    if (delivered) PostFrame(window, reinterpret_cast<WPARAM>(&frameInfo_), 0);
  }
}

void Acquisition::TriggerLoop() {
  while (run_.load() != 0) {
    if (run_.load() != 1) {
      Sleep(kHeldPauseMs);
      continue;
    }
    const int r = device_.SingleShot();
    if (run_.load() == 0) break;
    if (r == DEV_OPEN_FAILED) {
      // The camera is gone: as in preview, the run ends here.
      ReportLost();
      break;
    }
    if (r != 0) {
      // The time-out of a shot without a trigger is the normal wait and stays silent; a read
      // that failed or came back short is reported as a failed frame, and the loop tries again
      // (after a pause, so a failing camera does not turn it into a spin).
      if (!device_.LastShotTimedOut()) {
        HWND window;
        {
          common::ScopedLock delivery(deliveryLock_);
          window = frameWindow_;
        }
        PostFrame(window, 0, ERR_TRANSFER);
        errors_.Push(ERR_TRANSFER);
      }
      Sleep(kShotRetryPauseMs);
      continue;
    }

    if (!FetchFrame(false)) {
      errors_.Push(ERR_TRANSFER);
      continue;
    }
    ConvertFrame();
    HWND window;
    bool delivered = true;
    {
      common::ScopedLock delivery(deliveryLock_);
      window = frameWindow_;
      FillFrameInfo(0);
      if (frameBuffer_ && frameBufferSize_ != 0) delivered = DeliverReported(frameBuffer_, frameBufferSize_, frameTopDown_);
      // A frame that could not be delivered is not drawn either.
      if (delivered) pipeline_.Paint(paintWindow_, paintDc_);
    }
    PublishFrame();
    if (delivered) PostFrame(window, reinterpret_cast<WPARAM>(&frameInfo_), 0);
  }
}

// ---- Snapshots, the current image, files ----------------------------------------------------------

void Acquisition::FinishShot(State state) {
  if (state != State::kCapture) device_.CloseSingleShot();
}

int Acquisition::SnapShot(void* buffer, int size, int topDown) {
  common::ScopedLock hold(transitionLock_);
  State s = Current();
  const Answer answer = retired_ ? Answer::kRefuse : Lookup(s, Request::kSnapShot);
  if (answer == Answer::kRefuse) {
    errors_.Push(ERR_NOT_READY);
    return 0;
  }
  if (s == State::kLost) {
    StopLocked();
    s = State::kIdle;
  }
  if (answer == Answer::kFromIdle && !Prepare()) {
    errors_.Push(ERR_NOT_READY);
    return 0;
  }
  // The shot waits for the camera without the pipeline lock, so that reading the current
  // image or saving it is never held up by it.
  if (device_.SingleShot() != 0) {
    errors_.Push(ERR_TRANSFER);
    FinishShot(s);
    return 0;
  }
  // No worker runs in the modes a snapshot is taken from: the shot is converted in the
  // worker's images as a frame of the worker would be, and published the same way.
  int result = 1;
  if (!FetchFrame(false)) {
    PostFrame(frameWindow_, 0, ERR_TRANSFER);
    errors_.Push(ERR_TRANSFER);
    result = 0;
  } else {
    ConvertFrame();
    if (buffer && size != 0 && !DeliverReported(buffer, size, topDown)) {
      errors_.Push(ERR_MEMORY);
      result = 0;
    }
    PublishFrame();
  }
  FinishShot(s);
  return result;
}

int Acquisition::GetImage(void* buffer, int size, int topDown) {
  const ColorType type = ActiveType();
  // Where a failed copy is reported; read first, so that no lock is taken inside the other.
  HWND window;
  {
    common::ScopedLock delivery(deliveryLock_);
    window = frameWindow_;
  }
  common::ScopedLock frame(pipeline_.Lock());
  if (!output::ValidColorType(static_cast<int32_t>(type))) {
    errors_.Push(ERR_NOT_READY);
    return 0;
  }
  if (pipeline_.Output(type)->Pixels() && buffer && CopyOutReported(window, type, buffer, size, topDown)) return 1;
  errors_.Push(ERR_MEMORY);
  return 0;
}

int Acquisition::CopyForFile(CDibImage* copy) {
  const ColorType type = ActiveType();
  if (!output::ValidColorType(static_cast<int32_t>(type))) {
    errors_.Push(ERR_NOT_READY);
    return 0;
  }
  {
    common::ScopedLock frame(pipeline_.Lock());
    // An image never prepared stays empty in the copy, and saving an empty copy fails.
    if (!pipeline_.Output(type)->Pixels()) return 1;
    if (!pipeline_.ShapeLikeOutput(type, copy)) return 0;
  }
  // The fresh copy's pages are faulted in here, outside the lock, so that the copy under it
  // is a plain move of memory.
  std::memset(copy->Pixels(), 0, static_cast<size_t>(copy->Stride()) * static_cast<size_t>(copy->Height()));
  common::ScopedLock frame(pipeline_.Lock());
  return pipeline_.CopyOutput(type, copy) ? 1 : 0;
}

// ---- Recording -------------------------------------------------------------------------------------

int Acquisition::Record(const char* name, int durationMs, int showWindow) {
  {
    common::ScopedLock hold(transitionLock_);
    // One writer per camera: a running recording keeps it, and of two calls at once one wins.
    if (recordReserved_ || (recording_ && !recording_->Finished())) {
      errors_.Push(ERR_NOT_READY);
      return 0;
    }
    recordReserved_ = true;
    recording_.reset();
  }
  // Frame messages and copies are cleared as Qelvan_Preview clears them.
  const StartResult started = StartStream(showWindow != 0, true, nullptr, nullptr, 0, 0);
  if (!started.ok && showWindow && !started.windowFailed) errors_.Push(ERR_TRANSFER);

  std::shared_ptr<Recording> recording;
  if (started.ok) {
    int w = 0, h = 0;
    ColorType type;
    {
      common::ScopedLock frame(pipeline_.Lock());
      type = pipeline_.Prepared();
      const CDibImage* image = pipeline_.Output(type);
      if (image->Pixels()) w = image->Width(), h = image->Height();
    }
    recording = std::make_shared<Recording>(pipeline_, type, errors_);
    if (!recording->Open(name, w, h)) recording.reset();
  }

  common::ScopedLock hold(transitionLock_);
  recordReserved_ = false;
  const State s = Current();
  if (!recording || (s != State::kPreview && s != State::kCallback)) {
    // Only what this call started is stopped: a running mode stays as it was.
    if (started.startedHere && (s == State::kPreview || s == State::kCallback)) StopLocked();
    errors_.Push(ERR_FILE);
    return 0;
  }
  recording_ = recording;
  {
    common::ScopedLock frame(pipeline_.Lock());
    recordingSink_ = recording.get();
  }
  if (!Recording::Start(recording, static_cast<uint32_t>(durationMs))) {
    StopRecordingLocked();
    if (started.startedHere) StopLocked();
    errors_.Push(ERR_THREAD);
    return 0;
  }
  return 1;
}

}  // namespace camera
