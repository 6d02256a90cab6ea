// Streaming, single shots and handle hygiene against the virtual camera.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "device/qelvan_device.h"
#include "vcam_fixture.h"

namespace {

constexpr int kMono = 1;  // a monochrome camera: the moving square stands out in its frames

class Transfer : public VirtualCamera {
 protected:
  void SetUp() override {
    VirtualCamera::SetUp();
    ASSERT_EQ(vcamctl_attach(kMono, 1, 0), 0u);
  }
  // Waits for the newest frame (WaitFrame 2 means: ask again) and copies it out.
  static int NextFrame(CQLVSdkLib& dev, std::vector<uint8_t>& frame) {
    int rc = 2;
    for (int i = 0; i < 1000 && rc == 2; ++i) rc = dev.WaitFrame();
    if (rc != 3) return rc;
    return dev.GetStreamFrame(frame.data(), frame.size()) == 0 ? 3 : -1;
  }
};

TEST_F(Transfer, FramesArriveInOrder) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  std::vector<uint8_t> frame(752 * 480);
  ASSERT_EQ(dev.StartStreaming(), 0);
  EXPECT_EQ(dev.StartStreaming(), 21);  // already running: nothing changes
  int last = -1;
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(NextFrame(dev, frame), 3) << i;
    const int pos = SquarePosition(frame.data());
    ASSERT_GE(pos, 0) << "no moving square in frame " << i;
    if (last >= 0) {
      EXPECT_GT(FrameDistance(pos, last), 0) << "frame " << i << " is not newer";
    }
    last = pos;
  }
  EXPECT_TRUE(HandlesSettleAt(kMono, 1));  // the transfer thread's handle
  EXPECT_EQ(dev.StopStreaming(), 0);
  EXPECT_EQ(dev.StopStreaming(), 0);
  EXPECT_EQ(dev.WaitFrame(), 0);
  const vcam_camera_info info = Info(kMono);
  EXPECT_TRUE(HandlesSettleAt(kMono, 0));
  // Every frame read advanced the ring once.
  EXPECT_EQ(static_cast<uint32_t>(dev.Block().frames.load()), info.frames_delivered);
  EXPECT_GE(info.frames_delivered, 12u);
  EXPECT_GT(dev.LastRunMs(), 0);
}

// With a slow consumer the thread runs ahead; the consumer must still get the newest frame. The
// camera is stalled before each check so the ring holds still while it is inspected.
TEST_F(Transfer, WaitFrameTakesTheNewestFrame) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  dev.SetTransferTimeout(60000);
  std::vector<uint8_t> frame(752 * 480);
  ASSERT_EQ(dev.StartStreaming(), 0);
  int last = -1;
  for (int round = 0; round < 6; ++round) {
    const uint32_t seen = Info(kMono).frames_delivered;
    ASSERT_TRUE(WaitUntil([&] { return Info(kMono).frames_delivered >= seen + 5 + round % 3; }));
    ASSERT_EQ(vcamctl_fault(kMono, VCAM_FAULT_STALL, 0), 0u);
    ASSERT_TRUE(WaitUntil([&] { return Info(kMono).reads_pending == 1; }));
    ASSERT_EQ(dev.WaitFrame(), 3);
    const int claimed = dev.Block().readIndex;
    const int writing = dev.Block().writeIndex;
    const int claimedPos = SquarePosition(dev.RingData(claimed));
    ASSERT_GE(claimedPos, 0);
    for (int slot = 0; slot < 4; ++slot) {
      if (slot == claimed || slot == writing) continue;
      const int pos = SquarePosition(dev.RingData(slot));
      if (pos >= 0) {
        EXPECT_GT(FrameDistance(claimedPos, pos), 0)
            << "round " << round << ": slot " << slot << " holds a newer frame than slot " << claimed;
      }
    }
    ASSERT_EQ(dev.GetStreamFrame(frame.data(), frame.size()), 0);
    EXPECT_EQ(SquarePosition(frame.data()), claimedPos);
    if (last >= 0) {
      EXPECT_GT(FrameDistance(claimedPos, last), 0);
    }
    last = claimedPos;
    ASSERT_EQ(vcamctl_fault(kMono, VCAM_FAULT_CLEAR, 0), 0u);
  }
  EXPECT_EQ(dev.StopStreaming(), 0);
}

TEST_F(Transfer, OneShortReadIsRetriedTheSecondEndsTheRun) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  std::vector<uint8_t> frame(752 * 480);
  ASSERT_EQ(vcamctl_fault(kMono, VCAM_FAULT_SHORT_READ, 1), 0u);
  ASSERT_EQ(dev.StartStreaming(), 0);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(NextFrame(dev, frame), 3);
  EXPECT_GE(SquarePosition(frame.data()), 0);
  EXPECT_EQ(dev.StopStreaming(), 0);
  vcam_camera_info info = Info(kMono);
  EXPECT_EQ(info.reads_short, 1u);
  // The short read did not advance the ring: its slot was filled again.
  EXPECT_EQ(static_cast<uint32_t>(dev.Block().frames.load()), info.frames_delivered - 1);

  const uint32_t delivered = info.frames_delivered;
  ASSERT_EQ(vcamctl_fault(kMono, VCAM_FAULT_SHORT_READ, 2), 0u);
  ASSERT_EQ(dev.StartStreaming(), 0);
  int rc = 0;
  for (int i = 0; i < 100 && rc != 1; ++i) rc = NextFrame(dev, frame);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(dev.WaitFrame(), 1);
  EXPECT_EQ(dev.StopStreaming(), 19);
  EXPECT_EQ(dev.StopStreaming(), 0);
  EXPECT_EQ(dev.WaitFrame(), 0);
  info = Info(kMono);
  EXPECT_EQ(info.reads_short, 3u);
  EXPECT_EQ(info.frames_delivered - delivered, 2u);  // both short, then the run was over
  EXPECT_EQ(dev.Block().frames.load(), 1);             // the advance after the failed read
  EXPECT_TRUE(HandlesSettleAt(kMono, 0));
}

TEST_F(Transfer, DetachWhileStreamingEndsTheRun) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  std::vector<uint8_t> frame(752 * 480);
  ASSERT_EQ(dev.StartStreaming(), 0);
  ASSERT_EQ(NextFrame(dev, frame), 3);
  ASSERT_EQ(vcamctl_detach(kMono), 0u);
  int rc = 0;
  for (int i = 0; i < 100 && rc != 1; ++i) rc = NextFrame(dev, frame);
  EXPECT_EQ(rc, 1);
  // The thread ends by itself, without a stop request.
  EXPECT_TRUE(WaitUntil([&] { return dev.Block().stopped.load() == 1; }, 5000));
  EXPECT_EQ(dev.StopStreaming(), 19);
  EXPECT_EQ(dev.StopStreaming(), 0);
  // A run on a camera that is gone ends at its first request.
  ASSERT_EQ(dev.StartStreaming(), 0);
  rc = 0;
  for (int i = 0; i < 10 && rc != 1; ++i) rc = dev.WaitFrame();
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(dev.StopStreaming(), 19);
  EXPECT_FALSE(dev.IsStreaming());
}

TEST_F(Transfer, SingleShotIn8And16Bit) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  ASSERT_EQ(vcamctl_scene(kMono, 0), 0u);  // frozen: two shots are byte-identical
  std::vector<uint8_t> shot8(752 * 480);
  uint32_t opens = Info(kMono).opens;
  ASSERT_EQ(dev.SingleShot(), 0);
  ASSERT_EQ(dev.GetShotFrame(shot8.data(), shot8.size()), 0);
  EXPECT_GE(SquarePosition(shot8.data()), 0);
  // The shot's handle stays open; the transfer reset used a handle of its own.
  EXPECT_TRUE(HandlesSettleAt(kMono, 1));
  EXPECT_TRUE(WaitUntil([&] { return Info(kMono).opens - opens == 2u; }, 5000));
  opens = Info(kMono).opens;
  ASSERT_EQ(dev.SingleShot(), 0);
  EXPECT_TRUE(WaitUntil([&] { return Info(kMono).opens - opens == 1u; }, 5000));

  dev.SetWideTransfer(1);
  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 0), 0);
  const uint32_t before = Info(kMono).frames_delivered;
  ASSERT_EQ(dev.SingleShot(), 0);
  EXPECT_EQ(Info(kMono).frames_delivered, before + 1);
  std::vector<uint8_t> shot16(752 * 480 * 2 + 16, 0xEE);
  ASSERT_EQ(dev.GetShotFrame(shot16.data(), shot16.size()), 0);
  EXPECT_EQ(shot16[752 * 480 * 2], 0xEE);
  int mismatches = 0;
  for (int i = 0; i < 752 * 480; ++i) {
    const int v = shot16[2 * i] | shot16[2 * i + 1] << 8;
    if (v > 1023 || (v >> 2) != shot8[i]) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
  dev.CloseSingleShot();
  EXPECT_TRUE(HandlesSettleAt(kMono, 0));
}

TEST_F(Transfer, FailedShotClosesItsHandleAndTriggerModeTimesOut) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  ASSERT_EQ(dev.SingleShot(), 0);
  ASSERT_NE(dev.ShotHandle(), nullptr);
  ASSERT_EQ(vcamctl_fault(kMono, VCAM_FAULT_FAIL_READ, 1), 0u);
  EXPECT_EQ(dev.SingleShot(), 19);
  EXPECT_EQ(dev.LastTransferError(), 19);
  EXPECT_EQ(dev.ShotHandle(), nullptr);
  EXPECT_TRUE(HandlesSettleAt(kMono, 0));
  const uint32_t opens = Info(kMono).opens;
  EXPECT_EQ(dev.SingleShot(), 0);  // opens afresh
  EXPECT_TRUE(WaitUntil([&] { return Info(kMono).opens - opens == 2u; }, 5000));

  ASSERT_EQ(dev.SetTriggerMode(1), 1);
  dev.SetTransferTimeout(300);
  EXPECT_EQ(Info(kMono).timeout_ms, 300u);
  EXPECT_EQ(dev.SingleShot(), 19);  // no trigger: the read times out
  EXPECT_EQ(Info(kMono).reads_timed_out, 1u);
  ASSERT_EQ(vcamctl_trigger(kMono, 1), 0u);
  EXPECT_EQ(dev.SingleShot(), 0);
  ASSERT_EQ(dev.SetTriggerMode(0), 1);
  dev.CloseSingleShot();

  // A camera that is not attached: the shot cannot open it.
  ASSERT_EQ(dev.SelectDevice(9), 0);
  EXPECT_EQ(dev.SingleShot(), 10);
  EXPECT_EQ(dev.LastTransferError(), 19);
  EXPECT_EQ(dev.ShotHandle(), nullptr);
}

TEST_F(Transfer, RepeatedRunsLeaveNothingBehind) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  std::vector<uint8_t> frame(752 * 480);
  // One run first, so that lazily made process objects exist before counting.
  ASSERT_EQ(dev.StartStreaming(), 0);
  ASSERT_EQ(NextFrame(dev, frame), 3);
  ASSERT_EQ(dev.StopStreaming(), 0);
  // Handles are counted by the slot a new handle gets (Wine's GetProcessHandleCount reads 0):
  // slots are reused lowest first, so one leaked per run pushes it up.
  const auto freshHandle = [] {
    HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<uintptr_t>(probe);
  };
  const uintptr_t handlesBefore = freshHandle();
  for (int cycle = 0; cycle < 8; ++cycle) {
    ASSERT_EQ(dev.StartStreaming(), 0);
    if (cycle % 2 == 0) {
      ASSERT_EQ(NextFrame(dev, frame), 3);
    }
    ASSERT_EQ(dev.StopStreaming(), 0);
    EXPECT_TRUE(HandlesSettleAt(kMono, 0)) << cycle;
  }
  EXPECT_LE(freshHandle(), handlesBefore + 2 * 4) << "handles leaked over eight runs";
  EXPECT_TRUE(WaitUntil([] { return Info(kMono).opens == Info(kMono).closes; }, 5000));
  EXPECT_EQ(Info(kMono).reads_pending, 0u);
}

TEST_F(Transfer, NoFrameForSixSecondsIsReportedButDoesNotEndTheRun) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  dev.SetTransferTimeout(20000);
  std::vector<uint8_t> frame(752 * 480);
  ASSERT_EQ(dev.StartStreaming(), 0);
  ASSERT_EQ(NextFrame(dev, frame), 3);
  ASSERT_EQ(vcamctl_fault(kMono, VCAM_FAULT_STALL, 0), 0u);
  int rc = 0;
  for (int i = 0; i < 20 && rc != 1; ++i) rc = NextFrame(dev, frame);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(dev.Block().error.load(), 0);
  ASSERT_EQ(vcamctl_fault(kMono, VCAM_FAULT_CLEAR, 0), 0u);
  EXPECT_EQ(NextFrame(dev, frame), 3);
  EXPECT_EQ(dev.StopStreaming(), 0);
}

// While a run is active, everything that would change the geometry, the buffers, the device or
// the transfer width is refused with 21 and writes nothing; after the stop each works again.
TEST_F(Transfer, RunningDeviceRefusesChangesUnderItsRun) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  std::vector<uint8_t> frame(752 * 480);
  ASSERT_EQ(dev.SingleShot(), 0);
  ASSERT_NE(dev.ShotHandle(), nullptr);
  ASSERT_EQ(dev.StartStreaming(), 0);
  const uint32_t logged = LogCount(kMono);
  const std::string path = dev.DevicePath();
  struct Change {
    const char* name;
    std::function<int()> run;
  };
  const Change changes[] = {
      {"InitDevice", [&] { return dev.InitDevice(0); }},
      {"SelectDevice", [&] { return dev.SelectDevice(0); }},
      {"SetCaptureWindow", [&] { return dev.SetCaptureWindow(0, 0, 376, 240, 0); }},
      {"AllocateFrameBuffers", [&] { return dev.AllocateFrameBuffers(100, 0, 100, 10, 0, 10, 4); }},
      {"FreeFrameBuffers", [&] { return dev.FreeFrameBuffers(); }},
      {"ResetGeometry", [&] { return dev.ResetGeometry(); }},
      {"SetWideTransfer", [&] { return dev.SetWideTransfer(1); }},
      {"StartStreaming", [&] { return dev.StartStreaming(); }},
  };
  for (const Change& c : changes) {
    EXPECT_EQ(c.run(), 21) << c.name;
    EXPECT_TRUE(dev.IsStreaming()) << c.name;
  }
  EXPECT_EQ(dev.OutputWidth(), 752);
  EXPECT_EQ(dev.Wide(), 0);
  EXPECT_EQ(dev.DevicePath(), path);
  EXPECT_NE(dev.RawFrame(), nullptr);
  ASSERT_EQ(NextFrame(dev, frame), 3);
  EXPECT_GE(SquarePosition(frame.data()), 0);
  EXPECT_EQ(LogCount(kMono), logged);  // no register was written
  EXPECT_EQ(Regs(kMono).transfer_pixels, 361472u);
  EXPECT_EQ(dev.StopStreaming(), 0);

  // Selecting a device closes the shot handle, which leads to the previous camera.
  EXPECT_EQ(dev.SelectDevice(kMono), 0);
  EXPECT_EQ(dev.ShotHandle(), nullptr);
  EXPECT_TRUE(HandlesSettleAt(kMono, 0));
  EXPECT_EQ(dev.InitDevice(kMono), 0);
  EXPECT_EQ(dev.FreeFrameBuffers(), 0);
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 752, 480, 0), 0);
  EXPECT_EQ(dev.StartStreaming(), 0);
  EXPECT_EQ(NextFrame(dev, frame), 3);
  EXPECT_EQ(dev.StopStreaming(), 0);
}

// A destination smaller than the output window is refused; one that fits exactly is filled.
TEST_F(Transfer, FramesGoOnlyIntoDestinationsTheyFit) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  ASSERT_EQ(dev.SetCaptureWindow(10, 20, 101, 31, 0), 0);
  std::vector<uint8_t> frame(101 * 31 + 1, 0xEE);
  ASSERT_EQ(dev.SingleShot(), 0);
  EXPECT_EQ(dev.GetShotFrame(frame.data(), 101 * 31 - 1), 15);
  EXPECT_EQ(frame[0], 0xEE);
  EXPECT_EQ(dev.GetShotFrame(frame.data(), 101 * 31), 0);
  EXPECT_EQ(frame[101 * 31], 0xEE);
  ASSERT_EQ(dev.StartStreaming(), 0);
  int rc = 0;
  while ((rc = dev.WaitFrame()) == 2) {
  }
  ASSERT_EQ(rc, 3);
  EXPECT_EQ(dev.GetStreamFrame(frame.data(), 101 * 31 - 1), 15);
  EXPECT_EQ(dev.GetStreamFrame(frame.data(), frame.size()), 0);
  EXPECT_EQ(dev.StopStreaming(), 0);
  dev.SetWideTransfer(1);
  ASSERT_EQ(dev.SetCaptureWindow(10, 20, 101, 31, 0), 0);
  ASSERT_EQ(dev.SingleShot(), 0);
  EXPECT_EQ(dev.GetShotFrame(frame.data(), frame.size()), 15) << "16-bit samples need twice";
}

// The camera instance stops a run while its consumer may be inside WaitFrame. The consumer must
// be woken by the stop, not left on an event closed under it and then told the device is lost.
// The run's last read here is a short one, which is retried silently: no frame wakes anyone.
TEST_F(Transfer, StopWakesAConsumerWaitingForAFrame) {
  CQelvanZ51QKRVNSdk dev;
  ASSERT_EQ(dev.InitDevice(kMono), 0);
  dev.SetTransferTimeout(60000);
  ASSERT_EQ(dev.SetTriggerMode(1), 1);  // frames only on a trigger: the thread's read waits
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(dev.StartStreaming(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Info(kMono).reads_pending == 1; }));

    struct Consumer {
      CQLVSdkLib* dev;
      std::atomic<int> waiting{0};
      std::atomic<int> result{-1};
      static DWORD WINAPI Run(LPVOID arg) {
        Consumer& c = *static_cast<Consumer*>(arg);
        c.waiting = 1;
        c.result = c.dev->WaitFrame();
        return 0;
      }
    } consumer;
    consumer.dev = &dev;
    struct Stopper {
      CQLVSdkLib* dev;
      std::atomic<int> result{-1};
      static DWORD WINAPI Run(LPVOID arg) {
        Stopper& s = *static_cast<Stopper*>(arg);
        s.result = s.dev->StopStreaming();
        return 0;
      }
    } stopper;
    stopper.dev = &dev;

    HANDLE consumerThread = CreateThread(nullptr, 0, Consumer::Run, &consumer, 0, nullptr);
    ASSERT_NE(consumerThread, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return consumer.waiting.load() == 1; }));
    HANDLE stopperThread = CreateThread(nullptr, 0, Stopper::Run, &stopper, 0, nullptr);
    ASSERT_NE(stopperThread, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return dev.Block().stopped.load() == 1; }));
    // Let the pending read end short: the thread sees the stop and ends without a frame.
    ASSERT_EQ(vcamctl_fault(kMono, VCAM_FAULT_SHORT_READ, 1), 0u);
    ASSERT_EQ(vcamctl_trigger(kMono, 1), 0u);

    EXPECT_EQ(WaitForSingleObject(stopperThread, 30000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(consumerThread, 30000), WAIT_OBJECT_0);
    CloseHandle(stopperThread);
    CloseHandle(consumerThread);
    EXPECT_EQ(stopper.result.load(), 0) << round;
    // 2 (woken: ask again) or 0 (stopped), never the error answer.
    EXPECT_TRUE(consumer.result.load() == 2 || consumer.result.load() == 0)
        << "round " << round << ": WaitFrame answered " << consumer.result.load();
    EXPECT_EQ(dev.WaitFrame(), 0);
    EXPECT_EQ(Info(kMono).reads_short, static_cast<uint32_t>(round + 1));
  }
  ASSERT_EQ(dev.SetTriggerMode(0), 1);
  EXPECT_TRUE(HandlesSettleAt(kMono, 0));
}

TEST_F(Transfer, ReleasingTheDeviceStopsItsRun) {
  const uint32_t start = Info(kMono).closes;
  {
    CQelvanZ51QKRVNSdk dev;
    ASSERT_EQ(dev.InitDevice(kMono), 0);
    ASSERT_EQ(dev.StartStreaming(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Info(kMono).frames_delivered >= 2; }));
  }
  const vcam_camera_info info = Info(kMono);
  EXPECT_TRUE(HandlesSettleAt(kMono, 0));
  EXPECT_GT(info.closes, start);
}

}  // namespace
