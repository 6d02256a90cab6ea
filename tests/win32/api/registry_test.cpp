// The handle registry: ring order, the current node moved by lookups, removal and handles.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "api/chain.h"
#include "dll.h"

// Test access to the registry's private registration and handle formula.
struct ChainTestSeam {
  static int32_t Register(CSdkChain& chain, CQelvan* instance) { return chain.Register(instance); }
  static void Remove(CSdkChain& chain, int32_t handle) { chain.Remove(handle); }
  static void SetHandleSources(CSdkChain& chain, CSdkChain::TickSource tick,
                               CSdkChain::RandomSource random) {
    chain.SetHandleSources(tick, random);
  }
};

namespace {

// Fake instance pointers: the registry stores and returns them but never dereferences them.
CQelvan* Fake(int n) { return reinterpret_cast<CQelvan*>(static_cast<uintptr_t>(0x1000 * n)); }

uint32_t g_tick = 0;
std::vector<int> g_randoms;
size_t g_randomIndex = 0;
uint32_t FixedTick() { return g_tick; }
int ScriptedRandom() { return g_randoms.empty() ? 0 : g_randoms[g_randomIndex++ % g_randoms.size()]; }

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_tick = 1000;
    g_randoms = {7};
    g_randomIndex = 0;
    ChainTestSeam::SetHandleSources(chain, FixedTick, ScriptedRandom);
  }
  int32_t Current() { return chain.Current() ? chain.Current()->data.handle : 0; }
  CSdkChain chain;
};

TEST_F(RegistryTest, HandleIsTickPlusRandomPlusCount) {
  EXPECT_EQ(1007, ChainTestSeam::Register(chain, Fake(1)));
  g_randoms = {20};
  EXPECT_EQ(1021, ChainTestSeam::Register(chain, Fake(2)));  // count 1
  EXPECT_EQ(2u, chain.Count());
}

TEST_F(RegistryTest, NewestIsCurrentAndNextWalksOlderEntries) {
  const int32_t a = ChainTestSeam::Register(chain, Fake(1));
  const int32_t b = ChainTestSeam::Register(chain, Fake(2));
  const int32_t c = ChainTestSeam::Register(chain, Fake(3));
  ASSERT_EQ(c, Current());
  EXPECT_EQ(b, chain.Current()->next->data.handle);
  EXPECT_EQ(a, chain.Current()->next->next->data.handle);
  EXPECT_EQ(c, chain.Current()->next->next->next->data.handle);
  EXPECT_EQ(a, chain.Current()->previous->data.handle);
}

TEST_F(RegistryTest, LookupMovesCurrentToTheFoundNode) {
  const int32_t a = ChainTestSeam::Register(chain, Fake(1));
  const int32_t b = ChainTestSeam::Register(chain, Fake(2));
  ChainTestSeam::Register(chain, Fake(3));
  ASSERT_NE(nullptr, chain.Lookup(a));
  EXPECT_EQ(a, Current());
  ASSERT_NE(nullptr, chain.Lookup(b));
  EXPECT_EQ(b, Current());
  CSdkChain::Node* node = chain.Lookup(a);
  ASSERT_NE(nullptr, node);
  EXPECT_EQ(Fake(1), node->data.instance);
  EXPECT_EQ(a, Current());
  EXPECT_EQ(Fake(1), chain.LookupInstance(a));
}

TEST_F(RegistryTest, FailedLookupLeavesCurrentOneStepBeforeTheStart) {
  const int32_t a = ChainTestSeam::Register(chain, Fake(1));
  const int32_t b = ChainTestSeam::Register(chain, Fake(2));
  const int32_t c = ChainTestSeam::Register(chain, Fake(3));
  EXPECT_EQ(nullptr, chain.Lookup(424242));
  EXPECT_EQ(a, Current());  // started at c; a is c's previous
  ASSERT_NE(nullptr, chain.Lookup(b));
  EXPECT_EQ(nullptr, chain.Lookup(424242));
  EXPECT_EQ(c, Current());
  EXPECT_EQ(nullptr, chain.LookupInstance(0));
}

TEST_F(RegistryTest, RemoveWorksOnTheFoundNodeAndItsSuccessorBecomesCurrent) {
  const int32_t a = ChainTestSeam::Register(chain, Fake(1));
  const int32_t b = ChainTestSeam::Register(chain, Fake(2));
  const int32_t c = ChainTestSeam::Register(chain, Fake(3));
  ChainTestSeam::Remove(chain, b);
  EXPECT_EQ(2u, chain.Count());
  EXPECT_EQ(a, Current());  // b's former next
  EXPECT_EQ(nullptr, chain.Lookup(b));
  EXPECT_NE(nullptr, chain.Lookup(c));
  ChainTestSeam::Remove(chain, a);
  ChainTestSeam::Remove(chain, c);
  EXPECT_EQ(0u, chain.Count());
  EXPECT_EQ(nullptr, chain.Current());
  EXPECT_EQ(0, chain.RemoveCurrent());
  EXPECT_EQ(nullptr, chain.Lookup(a));
}

TEST_F(RegistryTest, EqualHandlesAreNeverIssued) {
  // Same tick and random for every call: the count alone would repeat handles after a removal.
  g_randoms = {0};
  const int32_t a = ChainTestSeam::Register(chain, Fake(1));  // 1000 + 0 + 0
  const int32_t b = ChainTestSeam::Register(chain, Fake(2));  // 1000 + 0 + 1
  ChainTestSeam::Remove(chain, a);
  const int32_t c = ChainTestSeam::Register(chain, Fake(3));  // formula gives 1001 again, which b holds
  EXPECT_EQ(1000, a);
  EXPECT_EQ(1001, b);
  EXPECT_EQ(1002, c);
  EXPECT_EQ(Fake(2), chain.LookupInstance(b));
  EXPECT_EQ(Fake(3), chain.LookupInstance(c));
}

TEST_F(RegistryTest, HandleZeroIsSteppedOver) {
  g_tick = 0xFFFFFFFFu;
  g_randoms = {1};  // wraps to 0
  const int32_t h = ChainTestSeam::Register(chain, Fake(1));
  EXPECT_EQ(1, h);
  EXPECT_EQ(Fake(1), chain.LookupInstance(h));
}

// Threads unlink the same handles at once while others look them up: each instance is handed
// out exactly once, and a handle is gone for everyone after its unlink.
TEST_F(RegistryTest, ConcurrentUnlinksHandOutEachInstanceOnce) {
  constexpr int kHandles = 300, kThreads = 4;
  std::vector<int32_t> handles;
  for (int i = 1; i <= kHandles; ++i) handles.push_back(ChainTestSeam::Register(chain, Fake(i)));
  std::vector<std::atomic<int>> takenBy(kHandles + 1);
  std::atomic<int> wrongInstance{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kHandles; ++k) {
        const int i = (k * (2 * t + 1) + t * 37) % kHandles;  // each thread its own order
        chain.LookupInstance(handles[i]);
        CQelvan* instance = nullptr;
        if (chain.Unlink(handles[i], &instance)) {
          ++takenBy[i + 1];
          if (instance != Fake(i + 1)) ++wrongInstance;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  int notOnce = 0;
  for (int i = 1; i <= kHandles; ++i) notOnce += takenBy[i] != 1;
  EXPECT_EQ(notOnce, 0);
  EXPECT_EQ(wrongInstance, 0);
  EXPECT_EQ(0u, chain.Count());
}

// Several threads release the same cameras while others call exports on them: each camera is
// released once (a second delete would corrupt the heap), and calls after the release answer 0.
TEST(RegistryDll, ConcurrentReleasesAndCallsReleaseEachCameraOnce) {
  auto init = QelvanProc<QelvanHandle(__cdecl*)(HWND)>("Qelvan_Initialize");
  auto release = QelvanProc<int(__cdecl*)(QelvanHandle)>("Qelvan_Release");
  auto width = QelvanProc<int(__cdecl*)(QelvanHandle)>("Qelvan_Width");
  for (int round = 0; round < 20; ++round) {
    constexpr int kCameras = 6;
    QelvanHandle handles[kCameras];
    for (QelvanHandle& h : handles) ASSERT_NE(0, h = init(nullptr));
    std::atomic<int> released[kCameras] = {};
    std::atomic<int> go{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        while (go == 0) {
        }
        for (int k = 0; k < kCameras; ++k) {
          const int i = (k + t) % kCameras;
          if (t % 2) width(handles[i]);
          released[i] += release(handles[i]);
          width(handles[i]);
        }
      });
    }
    go = 1;
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kCameras; ++i) {
      EXPECT_EQ(1, released[i]) << "camera " << i;
      EXPECT_EQ(0, width(handles[i]));
    }
  }
}

TEST(RegistryDll, ReleaseTwiceGivesOneThenZero) {
  auto release = QelvanProc<int(__cdecl*)(QelvanHandle)>("Qelvan_Release");
  auto width = QelvanProc<int(__cdecl*)(QelvanHandle)>("Qelvan_Width");
  const QelvanHandle a = InitializeWithoutDevice(nullptr);
  const QelvanHandle b = InitializeWithoutDevice(nullptr);
  ASSERT_NE(0, a);
  ASSERT_NE(0, b);
  EXPECT_NE(a, b);
  EXPECT_EQ(752, width(a));
  EXPECT_EQ(1, release(a));
  EXPECT_EQ(0, release(a));
  EXPECT_EQ(0, width(a));
  EXPECT_EQ(752, width(b));  // the other instance is untouched
  EXPECT_EQ(1, release(b));
}

TEST(RegistryDll, ManyCreateReleaseCyclesKeepWorking) {
  auto release = QelvanProc<int(__cdecl*)(QelvanHandle)>("Qelvan_Release");
  // Instances without a camera: cycles with the camera are counted in the camera tests.
  for (int i = 0; i < 200; ++i) {
    const QelvanHandle h = InitializeWithoutDevice(nullptr);
    ASSERT_NE(0, h);
    ASSERT_EQ(1, release(h));
  }
}

}  // namespace
