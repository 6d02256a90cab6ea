// Acquisition modes: transitions and refusals, workers, trigger mode, the device-use claim,
// another program's claim, device loss, concurrent calls and start/stop cycles.
#include <thread>

#include "acquisition/acquisition_fixture.h"

namespace {

using Call = std::function<int(QelvanHandle)>;

int StartPreview(QelvanHandle h) { return Qelvan_StartPreview(h); }
int StopPreview(QelvanHandle h) { return Qelvan_StopPreview(h); }
int Capture(QelvanHandle h) { return Qelvan_Capture(h); }
int Preview(QelvanHandle h) { return Qelvan_Preview(h); }
int Trigger(QelvanHandle h) { return Qelvan_Trigger(h, nullptr, nullptr, 0, 0); }
int Snap(QelvanHandle h) {
  static std::vector<uint8_t> buffer(752 * 480);
  return Qelvan_SnapShot(h, buffer.data(), static_cast<int>(buffer.size()), 1);
}

struct Step {
  const char* name;
  Call call;
  int result;
  std::vector<int> errors;  // newest first
};

TEST_F(Acquisition, ModeTransitionsAndRefusals) {
  const std::vector<Step> steps = {
      {"stop while idle", StopPreview, 1, {}},
      {"capture", Capture, 1, {}},
      {"capture again", Capture, 1, {}},
      {"start in capture", StartPreview, 0, {1}},
      {"trigger in capture", Trigger, 0, {1}},
      {"preview in capture", Preview, 0, {8, 1}},
      {"snapshot still in capture", Snap, 1, {}},
      {"stop capture", StopPreview, 1, {}},
      {"start", StartPreview, 1, {}},
      {"start again", StartPreview, 1, {}},
      {"capture in preview", Capture, 0, {1}},
      {"snapshot in preview", Snap, 0, {1}},
      {"trigger in preview", Trigger, 0, {1}},
      {"stop preview", StopPreview, 1, {}},
      {"capture after stop", Capture, 1, {}},
      {"stop", StopPreview, 1, {}},
      {"trigger", Trigger, 1, {}},
      {"trigger again", Trigger, 0, {1}},
      {"start in trigger", StartPreview, 0, {1}},
      {"capture in trigger", Capture, 0, {1}},
      {"snapshot in trigger", Snap, 0, {1}},
      {"preview in trigger", Preview, 0, {8, 1}},
      {"stop trigger", StopPreview, 1, {}},
      {"snapshot from idle", Snap, 1, {}},
      {"stop after snapshot", StopPreview, 1, {}},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(s.call(h_), s.result) << s.name;
    EXPECT_EQ(Errors(), s.errors) << s.name;
  }
  EXPECT_TRUE(ThreadsBackToStart());
  EXPECT_TRUE(HandlesSettleAt(0));
}

TEST_F(Acquisition, StartingTwiceMakesOneWorkerAndStopEndsIt) {
  ASSERT_EQ(Qelvan_StartPreview(h_), 1);
  const int running = ThreadCount();
  EXPECT_GE(running, threadsBefore_ + 2);  // worker and transfer thread
  ASSERT_EQ(Qelvan_StartPreview(h_), 1);
  EXPECT_EQ(ThreadCount(), running);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_TRUE(ThreadsBackToStart());
}

TEST_F(Acquisition, SnapshotHandleClosedFromIdleKeptInCapture) {
  ASSERT_EQ(Snap(h_), 1);
  EXPECT_TRUE(HandlesSettleAt(0)) << "an idle snapshot leaves a driver handle open: " << CameraHandles();
  ASSERT_EQ(Qelvan_Capture(h_), 1);
  ASSERT_EQ(Snap(h_), 1);
  ASSERT_EQ(Snap(h_), 1);
  EXPECT_TRUE(HandlesSettleAt(1)) << "capture mode keeps one shot handle";
  EXPECT_EQ(Camera().opens - Camera().closes, 1u);
  // Leaving capture mode gives the handle back.
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_TRUE(HandlesSettleAt(0));
}

TEST_F(Acquisition, TriggerModeDeliversOneFramePerTrigger) {
  std::vector<uint8_t> buffer(752 * 480);
  ASSERT_EQ(Qelvan_Trigger(h_, window_.hwnd(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  EXPECT_EQ(Camera().trigger_mode, 1u);
  EXPECT_EQ(Camera().timeout_ms, 3000u);
  EXPECT_EQ(SharedOwner(0), 0u) << "trigger mode claims nothing";
  ASSERT_EQ(vcamctl_trigger(0, 3), 0u);
  ASSERT_TRUE(WaitFrames(3));
  ASSERT_EQ(vcamctl_trigger(0, 1), 0u);
  ASSERT_TRUE(WaitFrames(1));
  // The triggers are used up: a further frame would come from nowhere.
  EXPECT_TRUE(WaitUntil([] { return Camera().triggers_pending == 0; }));
  Pump(300);
  int frames = 0;
  for (const CameraMessage& m : seen_) {
    if (m.message != WM_CAMERA_FRAME) continue;
    ++frames;
    ASSERT_NE(m.wParam, 0u);
    const FrameInfo* info = reinterpret_cast<const FrameInfo*>(m.wParam);
    EXPECT_EQ(info->frameRate, 0);
    EXPECT_EQ(info->bitsPerPixel, 8);
    EXPECT_EQ(info->buffer, buffer.data());
  }
  EXPECT_EQ(frames, 4);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_EQ(Camera().trigger_mode, 0u);
  EXPECT_TRUE(ThreadsBackToStart());
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Acquisition, TriggerModeEndsWhenTheCameraIsGone) {
  ASSERT_EQ(Qelvan_Trigger(h_, window_.hwnd(), nullptr, 0, 1), 1);
  ASSERT_EQ(vcamctl_detach(0), 0u);
  EXPECT_TRUE(WaitFrameError(ERR_DEVICE_LOST));
  EXPECT_TRUE(ThreadsBackToStart()) << "the trigger worker did not end";
  EXPECT_EQ(Qelvan_GetLastError(h_), ERR_DEVICE_LOST);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_TRUE(HandlesSettleAt(0));
}

// Device loss while previewing: the worker ends, both windows hear 13, stop still works, and a
// camera that comes back previews again.
TEST_F(Acquisition, DeviceLossEndsThePreviewAndRecovers) {
  struct Loss {
    const char* name;
    std::function<void()> inject, restore;
  };
  const std::vector<Loss> losses = {
      {"detach", [] { vcamctl_detach(0); }, [] { vcamctl_attach(0, 0, 0); }},
      {"fail-read", [] { vcamctl_fault(0, vcamctl_fault_kind("fail-read"), 1); },
       [] { vcamctl_fault(0, vcamctl_fault_kind("clear"), 0); }},
      {"stall", [] { vcamctl_fault(0, vcamctl_fault_kind("stall"), 0); },
       [] { vcamctl_fault(0, vcamctl_fault_kind("clear"), 0); }},
  };
  for (const Loss& loss : losses) {
    SCOPED_TRACE(loss.name);
    seen_.clear();
    ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitFrames(2));
    loss.inject();
    EXPECT_TRUE(WaitFrameError(ERR_DEVICE_LOST));
    EXPECT_TRUE(WaitMessage([](const CameraMessage& m) { return m.message == WM_CAMERA_ERROR && m.lParam == 13; }));
    EXPECT_TRUE(ThreadsBackToStart()) << "worker or transfer thread still running";
    EXPECT_EQ(Qelvan_GetLastError(h_), ERR_DEVICE_LOST);
    EXPECT_EQ(Qelvan_StopPreview(h_), 1);
    EXPECT_TRUE(HandlesSettleAt(0));
    loss.restore();
    Errors();
    ASSERT_EQ(Qelvan_StartPreview(h_), 1);
    EXPECT_TRUE(WaitFrames(2)) << "no frames after the camera came back";
    EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  }
}

TEST_F(Acquisition, OneShortReadIsTolerated) {
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), nullptr, 0, 1), 1);
  ASSERT_TRUE(WaitFrames(2));
  ASSERT_EQ(vcamctl_fault(0, vcamctl_fault_kind("short-read"), 1), 0u);
  EXPECT_TRUE(WaitUntil([] { return Camera().reads_short >= 1; }));
  seen_.clear();
  EXPECT_TRUE(WaitFrames(10));
  EXPECT_EQ(Count(WM_CAMERA_FRAME, ERR_DEVICE_LOST), 0);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_TRUE(Errors().empty());
}

// Only what an instance claimed is released: capture and trigger mode claim nothing, and a
// refused start does not free another instance's claim.
TEST_F(Acquisition, DeviceUseClaimBelongsToTheStreamingInstance) {
  TestWindow otherWindow;
  const QelvanHandle other = Open(otherWindow.hwnd());
  ASSERT_NE(other, 0);
  ASSERT_EQ(Qelvan_Capture(h_), 1);
  EXPECT_EQ(SharedOwner(0), 0u);
  ASSERT_EQ(Qelvan_StartPreview(other), 1);
  const uint32_t theirs = SharedOwner(0);
  EXPECT_NE(theirs, 0u);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_EQ(SharedOwner(0), theirs) << "stopping capture mode released someone else's claim";
  EXPECT_EQ(Snap(h_), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{1, 2}));
  EXPECT_EQ(Qelvan_StopPreview(other), 1);
  EXPECT_EQ(SharedOwner(0), 0u);

  ASSERT_EQ(Qelvan_StartPreview(h_), 1);
  const uint32_t mine = SharedOwner(0);
  EXPECT_NE(mine, 0u);
  EXPECT_NE(mine, theirs);
  EXPECT_EQ(Qelvan_StartPreview(other), 0);
  EXPECT_EQ(Errors(other), (std::vector<int>{1, 2}));
  EXPECT_EQ(Qelvan_StopPreview(other), 1);
  EXPECT_EQ(SharedOwner(0), mine);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_EQ(SharedOwner(0), 0u);
}

// A second program previewing camera 0 makes this one's starts fail with the busy code.
TEST_F(Acquisition, AnotherProgramHoldsTheCamera) {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "QelvanAcquisitionChildReady");
  HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, "QelvanAcquisitionChildQuit");
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  char cmd[] = "acquisition_child.exe";
  ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  ASSERT_EQ(WaitForSingleObject(ready, 60000), WAIT_OBJECT_0) << "the child did not start previewing";
  EXPECT_NE(SharedOwner(0), 0u);

  EXPECT_EQ(Qelvan_StartPreview(h_), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{1, 2}));
  EXPECT_EQ(Qelvan_Preview(h_), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{8, 1, 2}));

  SetEvent(quit);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  CloseHandle(ready);
  CloseHandle(quit);
  EXPECT_EQ(SharedOwner(0), 0u);
  EXPECT_EQ(Qelvan_StartPreview(h_), 1);
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
}

// Starts, stops and snapshots from two threads at once end in a consistent state.
TEST_F(Acquisition, ConcurrentStartsStopsAndSnapshots) {
  std::thread a([&] {
    for (int i = 0; i < 25; ++i) {
      Qelvan_StartPreview(h_);
      Qelvan_StopPreview(h_);
    }
  });
  std::thread b([&] {
    for (int i = 0; i < 25; ++i) {
      Qelvan_Capture(h_);
      Snap(h_);
      Qelvan_StopPreview(h_);
    }
  });
  a.join();
  b.join();
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_TRUE(ThreadsBackToStart());
  EXPECT_TRUE(HandlesSettleAt(0));
  EXPECT_EQ(SharedOwner(0), 0u);
  Errors();
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), nullptr, 0, 1), 1);
  EXPECT_TRUE(WaitFrames(2));
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
}

TEST_F(Acquisition, CyclesLeaveThreadsHandlesAndClassesFlat) {
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(Qelvan_StartPreview(h_), 1) << "cycle " << i;
    ASSERT_EQ(Qelvan_StopPreview(h_), 1) << "cycle " << i;
  }
  EXPECT_TRUE(ThreadsBackToStart());
  EXPECT_TRUE(HandlesSettleAt(0));

  // A child window: Wine under a bare X server waits two seconds for each top-level window to
  // be withdrawn when it is destroyed.
  WNDCLASSA pc = {};
  pc.lpfnWndProc = DefWindowProcA;
  pc.hInstance = GetModuleHandleA(nullptr);
  pc.lpszClassName = "QelvanCycleParent";
  RegisterClassA(&pc);
  HWND parent = CreateWindowExA(0, pc.lpszClassName, "parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300,
                                nullptr, nullptr, pc.hInstance, nullptr);
  Qelvan_SetPreviewWindow(h_, parent, 0, 0, 320, 240);
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(Qelvan_Preview(h_), 1) << "cycle " << i;
    HWND preview = GetDlgItem(parent, 6540);
    ASSERT_NE(preview, nullptr) << "cycle " << i;
    char cls[256] = {};
    GetClassNameA(preview, cls, sizeof cls);
    ASSERT_EQ(Qelvan_Close(h_), 1) << "cycle " << i;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    ASSERT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), cls, &wc)) << "class left after cycle " << i;
    ASSERT_FALSE(IsWindow(preview));
  }
  DestroyWindow(parent);
  EXPECT_TRUE(ThreadsBackToStart());
  EXPECT_TRUE(HandlesSettleAt(0));
  EXPECT_TRUE(Errors().empty());
}

}  // namespace
