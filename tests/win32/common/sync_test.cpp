// The lock and the worker thread the device, output and camera layers build on.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "common/critical_section.h"
#include "common/worker_thread.h"

namespace {

constexpr DWORD kGenerousMs = 20000;

// A manual-reset event that the test opens for a worker.
struct Gate {
  HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ~Gate() { CloseHandle(handle); }
  void Open() { SetEvent(handle); }
  bool WaitOpen() const { return WaitForSingleObject(handle, kGenerousMs) == WAIT_OBJECT_0; }
};

// Whether another thread gets the lock at once.
bool OtherThreadGets(common::CriticalSection& lock) {
  common::WorkerThread probe;
  bool got = false;
  EXPECT_TRUE(probe.Start([&] {
    got = lock.TryEnter();
    if (got) lock.Leave();
  }));
  EXPECT_TRUE(probe.Wait(kGenerousMs));
  return got;
}

TEST(ScopedLock, HoldsForItsScopeAndLeavesOnce) {
  common::CriticalSection lock;
  {
    common::ScopedLock guard(lock);
    EXPECT_FALSE(OtherThreadGets(lock));
    EXPECT_TRUE(lock.TryEnter()) << "the holder enters again";
    lock.Leave();
    EXPECT_FALSE(OtherThreadGets(lock));
  }
  EXPECT_TRUE(OtherThreadGets(lock));

  // After an early Unlock the guard's destructor must not leave a second time: that would
  // release a hold another thread took meanwhile.
  Gate taken, release;
  common::WorkerThread holder;
  {
    common::ScopedLock guard(lock);
    guard.Unlock();
    ASSERT_TRUE(holder.Start([&] {
      lock.Enter();
      taken.Open();
      release.WaitOpen();
      lock.Leave();
    }));
    ASSERT_TRUE(taken.WaitOpen());
  }
  EXPECT_FALSE(lock.TryEnter()) << "the other thread's hold was released by a second Leave";
  release.Open();
  holder.Join();
  EXPECT_TRUE(lock.TryEnter());
  lock.Leave();
}

TEST(WorkerThread, RunsOnItsOwnThreadUntilJoined) {
  common::WorkerThread worker;
  EXPECT_FALSE(worker.Started());
  EXPECT_TRUE(worker.Wait(0)) << "nothing held, nothing to wait for";
  Gate gate;
  std::atomic<DWORD> ranOn{0};
  std::atomic<int> priority{0};
  ASSERT_TRUE(worker.Start(
      [&] {
        ranOn = GetCurrentThreadId();
        priority = GetThreadPriority(GetCurrentThread());
        gate.WaitOpen();
      },
      THREAD_PRIORITY_HIGHEST));
  EXPECT_TRUE(worker.Started());
  EXPECT_NE(worker.Id(), 0u);
  EXPECT_NE(worker.Id(), GetCurrentThreadId());
  EXPECT_FALSE(worker.IsCurrentThread());
  EXPECT_NE(worker.DoneEvent(), nullptr);
  EXPECT_FALSE(worker.Wait(0)) << "the function is still waiting at the gate";
  EXPECT_FALSE(worker.Start([] {})) << "one thread at a time";

  gate.Open();
  ASSERT_TRUE(worker.Wait(kGenerousMs));
  EXPECT_EQ(ranOn.load(), worker.Id());
  EXPECT_EQ(priority.load(), THREAD_PRIORITY_HIGHEST);
  EXPECT_TRUE(worker.Started()) << "held until joined";
  worker.Join();
  EXPECT_FALSE(worker.Started());
  EXPECT_EQ(worker.Id(), 0u);
  EXPECT_EQ(worker.DoneEvent(), nullptr);

  // Joined, it starts again.
  std::atomic<bool> again{false};
  ASSERT_TRUE(worker.Start([&] { again = true; }));
  worker.Join();
  EXPECT_TRUE(again);
  EXPECT_FALSE(worker.Start(std::function<void()>()));
  EXPECT_FALSE(worker.Started());
}

TEST(WorkerThread, DestructorWaitsForTheFunction) {
  std::atomic<bool> finished{false};
  {
    common::WorkerThread worker;
    ASSERT_TRUE(worker.Start([&] {
      // Long enough that a destructor that does not wait returns first.
      Sleep(200);
      finished = true;
    }));
  }
  EXPECT_TRUE(finished);
}

// A worker may let go of itself (its owner going away on the worker): no deadlock, and the
// thread still runs to its end.
TEST(WorkerThread, JoinOnTheWorkerItselfDoesNotWait) {
  Gate joined;
  common::WorkerThread worker;
  ASSERT_TRUE(worker.Start([&] {
    worker.Join();
    joined.Open();
  }));
  ASSERT_TRUE(joined.WaitOpen()) << "the worker waited for itself";
  EXPECT_FALSE(worker.Started());
}

// Every handle is closed. Wine's handle counters do not count, but it hands out the lowest free
// handle value: the highest of many fresh handles rises with every handle left open.
TEST(WorkerThread, LeavesNoHandleBehind) {
  auto highestFresh = [] {
    std::vector<HANDLE> fresh(400);
    uintptr_t highest = 0;
    for (HANDLE& h : fresh) {
      h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
      highest = std::max(highest, reinterpret_cast<uintptr_t>(h));
    }
    for (HANDLE h : fresh) CloseHandle(h);
    return highest;
  };
  const uintptr_t before = highestFresh();
  for (int i = 0; i < 100; ++i) {
    common::WorkerThread joined;
    ASSERT_TRUE(joined.Start([] {}));
    joined.Join();
    common::WorkerThread destroyed;
    ASSERT_TRUE(destroyed.Start([] {}));
  }
  // One handle left open per worker would add 4 * 200.
  EXPECT_LE(highestFresh(), before + 64);
}

}  // namespace
