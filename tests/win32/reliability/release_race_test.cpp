// Release against calls in progress: an export that has found its instance may still be
// running when another thread releases the handle; the instance must outlive that call. Release
// from inside a call on the same thread (a dialog's message loop) must neither wait for itself
// nor destroy the instance under the running call.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "api/chain.h"
#include "camera/camera.h"
#include "reliability/reliability.h"

struct ChainTestSeam {
  static int32_t Register(CSdkChain& chain, CQelvan* instance) { return chain.Register(instance); }
};

namespace {

// A camera instance (never opened) that says when it is destroyed.
class WatchedInstance : public CQelvan {
 public:
  explicit WatchedInstance(std::atomic<int>* destroyed) : destroyed_(destroyed) {}
  ~WatchedInstance() override { destroyed_->fetch_add(1); }

 private:
  std::atomic<int>* destroyed_;
};

TEST(ReleaseFrame, ReleaseInsideOwnCallLeavesDestructionToThatCall) {
  CSdkChain chain;
  std::atomic<int> destroyed{0};
  const int32_t h = ChainTestSeam::Register(chain, new WatchedInstance(&destroyed));
  CQelvan* outer = chain.EnterCall(h);
  ASSERT_NE(outer, nullptr);
  CQelvan* inner = chain.EnterCall(h);  // a nested call, as from a dialog's window procedure
  ASSERT_EQ(inner, outer);

  ASSERT_TRUE(chain.ReleaseInstance(h));  // returns at once: no wait for its own calls
  EXPECT_EQ(chain.LookupInstance(h), nullptr);
  EXPECT_EQ(chain.EnterCall(h), nullptr) << "a released handle admits no new call";
  EXPECT_EQ(destroyed.load(), 0) << "destroyed under a running call";
  chain.LeaveCall(inner);
  EXPECT_EQ(destroyed.load(), 0);
  chain.LeaveCall(outer);
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(ReleaseFrame, ReleaseWaitsForCallsOnOtherThreads) {
  CSdkChain chain;
  std::atomic<int> destroyed{0};
  const int32_t h = ChainTestSeam::Register(chain, new WatchedInstance(&destroyed));
  HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE leave = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread caller([&] {
    CQelvan* c = chain.EnterCall(h);
    SetEvent(entered);
    WaitForSingleObject(leave, 60000);
    chain.LeaveCall(c);
  });
  ASSERT_EQ(WaitForSingleObject(entered, 20000), WAIT_OBJECT_0);
  std::atomic<bool> released{false};
  std::thread releaser([&] {
    chain.ReleaseInstance(h);
    released = true;
  });
  // The handle is unlinked at once even though Release still waits.
  for (int i = 0; i < 2000 && chain.LookupInstance(h) != nullptr; ++i) Sleep(10);
  EXPECT_EQ(chain.LookupInstance(h), nullptr);
  Sleep(200);
  EXPECT_FALSE(released.load()) << "Release returned while a call still ran";
  EXPECT_EQ(destroyed.load(), 0);
  SetEvent(leave);
  caller.join();
  releaser.join();
  EXPECT_EQ(destroyed.load(), 1);
  CloseHandle(entered);
  CloseHandle(leave);
}

TEST(ReleaseFrame, ManyCallersOneRelease) {
  for (int round = 0; round < 20; ++round) {
    CSdkChain chain;
    std::atomic<int> destroyed{0};
    const int32_t h = ChainTestSeam::Register(chain, new WatchedInstance(&destroyed));
    std::atomic<bool> stop{false};
    std::atomic<int> inside{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t)
      callers.emplace_back([&] {
        while (!stop) {
          if (CQelvan* c = chain.EnterCall(h)) {
            // Touches the instance as a running export would; destroyed must still be 0.
            if (destroyed.load() != 0) inside = -1000;
            c->PushError(ERR_ARGUMENT);
            c->PopError();
            chain.LeaveCall(c);
          }
        }
      });
    Sleep(round % 5);
    EXPECT_TRUE(chain.ReleaseInstance(h));
    EXPECT_EQ(destroyed.load(), 1);
    stop = true;
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(inside.load(), 0) << "a call ran on a destroyed instance";
    EXPECT_FALSE(chain.ReleaseInstance(h));
  }
}

// Through the DLL: a shot waiting on a stalled camera is in progress when another thread
// releases the handle. The release waits for the shot; the instance is destroyed after it.
class ReleaseRace : public Acquisition {};

TEST_F(ReleaseRace, ReleaseWaitsForShotInProgress) {
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_STALL, 0), 0u);
  std::vector<uint8_t> buffer(kFrameBytes);
  std::atomic<int> shot{-1};
  std::thread shooter([&] { shot = Qelvan_SnapShot(h_, buffer.data(), kFrameBytes, 1); });
  // The shot is in the driver once a frame read is pending; it stays there until the transfer
  // time-out, since nothing delivers a frame.
  ASSERT_TRUE(WaitUntil([] { return Camera().reads_pending > 0; }));
  const uint32_t timedOut = Camera().reads_timed_out, cancelled = Camera().reads_cancelled;
  ASSERT_EQ(Qelvan_Release(h_), 1);
  // Sampled before anything else: a Release that did not wait finds the read still pending.
  const vcam_camera_info atReturn = Camera();
  opened_.clear();
  shooter.join();
  EXPECT_EQ(shot.load(), 0);
  EXPECT_EQ(atReturn.reads_pending, 0u) << "Release returned while the shot's read was still pending";
  EXPECT_EQ(atReturn.reads_timed_out - timedOut + atReturn.reads_cancelled - cancelled, 1u)
      << "the shot's read had not ended when Release returned";
  vcamctl_fault(0, VCAM_FAULT_CLEAR, 0);
  EXPECT_TRUE(HandlesSettleAt(0));
}

// Four threads call getters, setters and snapshots on one handle while it previews; the main
// thread releases it in the middle. Repeated, so a call landing just as Release runs is likely.
TEST_F(ReleaseRace, CallersAndReleaseAtOnce) {
  const uint32_t baseHandles = CameraHandles();
  const int rounds = Scaled(6, 100);
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    const QelvanHandle h = Qelvan_Initialize(window_.hwnd());
    ASSERT_NE(h, 0);
    ASSERT_EQ(Qelvan_StartPreview(h), 1);
    std::atomic<bool> stop{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t)
      callers.emplace_back([&, t] {
        std::vector<uint8_t> image(kFrameBytes);
        while (!stop) {
          Qelvan_GetImage(h, image.data(), kFrameBytes, t & 1);
          Qelvan_SetBrightness(h, t * 10);
          Qelvan_ReadRegister(h, 13, nullptr);
          Qelvan_GetLastError(h);
          Qelvan_Width(h);
        }
      });
    Sleep(20 + round % 7 * 15);
    EXPECT_EQ(Qelvan_Release(h), 1);
    Sleep(20);
    stop = true;
    for (std::thread& t : callers) t.join();
    Pump(10);
    seen_.clear();
  }
  EXPECT_TRUE(HandlesSettleAt(baseHandles)) << CameraHandles();
  Figure("release races: " + std::to_string(rounds) + " releases under 4 calling threads while previewing, " +
         std::to_string(CameraHandles() - baseHandles) + " driver handles left");
}

}  // namespace
