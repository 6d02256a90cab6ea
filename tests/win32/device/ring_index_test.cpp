// Ring index arithmetic between the transfer thread and the consumer, without a camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "device/qlv_sdk_lib.h"

// Test access to the transfer block of a device object.
struct DeviceTestSeam {
  static TransferBlock& Block(CQLVSdkLib& dev) { return dev.block_; }
};

namespace {

struct Ring {
  TransferBlock block;
  std::atomic<int32_t> stamps[8] = {};
  explicit Ring(int count) {
    block.ringCount = count;
    block.stamps = stamps;
  }
  void Set(int write, int read) {
    block.writeIndex = write;
    block.readIndex = read;
  }
  // One frame read into the slot at the write index.
  void Fill() {
    BeginSlot(block);
    CompleteSlot(block, true);
  }
  // What GetStreamFrame does to the indices after its copy.
  void Release() { block.readIndex = RingNext(block.readIndex, block.ringCount); }
};

TEST(RingIndex, WriteIndexStepsOverTheConsumerSlot) {
  Ring ring(4);
  ring.Set(2, 3);
  CompleteSlot(ring.block, true);  // slot 2 filled: 3 is the consumer's, so on to 0
  EXPECT_EQ(ring.block.writeIndex, 0);
  EXPECT_EQ(ring.block.newest, 2);
  EXPECT_EQ(ring.stamps[2], 1);
  ring.Set(3, 1);
  CompleteSlot(ring.block, true);  // wraps to 0
  EXPECT_EQ(ring.block.writeIndex, 0);
  ring.Set(3, 0);
  CompleteSlot(ring.block, true);  // wraps onto the consumer's slot 0, so 1
  EXPECT_EQ(ring.block.writeIndex, 1);
  EXPECT_EQ(ring.stamps[3], 3);
  // A failed read moves on but is never offered as the newest frame, and its slot loses the
  // number of the frame it held.
  ring.Set(1, 3);
  ring.stamps[1] = 7;
  BeginSlot(ring.block);
  CompleteSlot(ring.block, false);
  EXPECT_EQ(ring.block.writeIndex, 2);
  EXPECT_EQ(ring.block.newest, 3);
  EXPECT_EQ(ring.stamps[1], 0);
  EXPECT_EQ(ring.block.completed, 3);
}

// The sequence that handed out one frame twice: take, four fills, take, take again.
TEST(RingIndex, ClaimTakesOnlyNewerFrames) {
  Ring ring(4);
  EXPECT_EQ(ClaimNewestSlot(ring.block), 0);  // nothing read yet
  ring.Fill();
  int32_t number = 0;
  ASSERT_EQ(ClaimNewestSlot(ring.block, &number), 3);
  EXPECT_EQ(number, 1);
  ring.Release();
  for (int i = 0; i < 4; ++i) ring.Fill();  // the last fill steps over the consumer's slot
  ASSERT_EQ(ClaimNewestSlot(ring.block, &number), 3);
  EXPECT_EQ(number, 5);
  const int32_t slot = ring.block.readIndex;
  ring.Release();
  // The write index is ahead of the read index again, but no frame is newer than 5.
  EXPECT_EQ(ClaimNewestSlot(ring.block, &number), 0);
  ring.Fill();
  ASSERT_EQ(ClaimNewestSlot(ring.block, &number), 3);
  EXPECT_EQ(number, 6);
  EXPECT_NE(ring.block.readIndex, slot);
}

// Plays thread and consumer against each other in lock step: the thread fills one slot per tick;
// the consumer holds each claimed slot for a few ticks (its copy), then works on the frame for a
// few more ticks before it claims again. Every claimed frame must be the newest one written so
// far and newer than the last one taken, and the thread must never write the slot the consumer
// holds.
TEST(RingIndex, ConsumerAlwaysGetsTheNewestFrameAtAnySpeed) {
  for (int copyTicks = 0; copyTicks <= 2; ++copyTicks) {
    for (int workTicks = 0; workTicks <= 6; ++workTicks) {
      Ring ring(4);
      std::vector<int> slotFrame(4, -1);
      int written = 0, lastTaken = -1, taken = 0, held = -1, heldFrame = -1, releaseAt = 0,
          claimAt = 0;
      for (int tick = 0; tick < 400; ++tick) {
        const int slot = ring.block.writeIndex;
        ASSERT_NE(slot, held) << "thread writes the slot the consumer holds";
        slotFrame[slot] = written++;
        ring.Fill();

        if (held >= 0 && tick >= releaseAt) {
          EXPECT_EQ(slotFrame[held], heldFrame);
          ring.Release();
          held = -1;
          claimAt = tick + workTicks;
        }
        if (held < 0 && tick >= claimAt && ClaimNewestSlot(ring.block) == 3) {
          held = ring.block.readIndex;
          heldFrame = slotFrame[held];
          EXPECT_EQ(heldFrame, written - 1)
              << "copy " << copyTicks << " work " << workTicks << " tick " << tick;
          EXPECT_GT(heldFrame, lastTaken);
          lastTaken = heldFrame;
          releaseAt = tick + copyTicks;
          ++taken;
          if (copyTicks == 0) {
            ring.Release();
            held = -1;
            claimAt = tick + workTicks;
          }
        }
      }
      EXPECT_GT(taken, 400 / (copyTicks + workTicks + 3)) << copyTicks << " " << workTicks;
    }
  }
}

// The thread played step by step: it writes each frame's number into every word of its slot,
// half a frame per step. The consumer claims and copies; while it claims, right after it checked
// its slot, the thread runs on over the whole ring and stops in the middle of a frame. Each
// copied frame must be whole (one number throughout), carry the number its claim reported, and
// be newer than the frame before it.
TEST(RingIndex, ThreadRunningOnDuringAClaimNeverTearsAFrame) {
  constexpr int kWords = 64;
  Ring ring(4);
  std::vector<int32_t> words(4 * kWords);
  struct Thread {
    Ring* ring;
    int32_t* words;
    int32_t frame = 0;
    bool halfWritten = false;
    void Step() {
      const int32_t slot = ring->block.writeIndex;
      int32_t* first = words + slot * kWords;
      if (!halfWritten) {
        BeginSlot(ring->block);
        std::fill(first, first + kWords / 2, ++frame);
      } else {
        std::fill(first + kWords / 2, first + kWords, frame);
        CompleteSlot(ring->block, true);
      }
      halfWritten = !halfWritten;
    }
    void Run(int steps) {
      for (int i = 0; i < steps; ++i) Step();
    }
  } thread{&ring, words.data()};
  ring.block.claimSeamContext = &thread;
  ring.block.claimSeam = [](void* t) { static_cast<Thread*>(t)->Run(2 * 4 + 1); };

  int32_t last = 0, taken = 0, torn = 0, stale = 0, mislabelled = 0;
  std::vector<int32_t> copy(kWords);
  for (int round = 0; round < 2000; ++round) {
    // Meet the thread at every phase of its ring.
    thread.Run(round % 9);
    int32_t number = 0;
    if (ClaimNewestSlot(ring.block, &number) != 3) continue;
    const int32_t slot = ring.block.readIndex;
    std::copy(words.begin() + slot * kWords, words.begin() + (slot + 1) * kWords, copy.begin());
    ring.Release();
    for (int i = 1; i < kWords; ++i) torn += copy[i] != copy[0];
    mislabelled += copy[0] != number;
    stale += number <= last;
    last = number;
    ++taken;
  }
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(mislabelled, 0);
  EXPECT_EQ(stale, 0);
  EXPECT_GT(taken, 1000);

  // The thread's last frame is always taken.
  ring.block.claimSeam = nullptr;
  if (thread.halfWritten) thread.Step();
  int32_t number = 0;
  ASSERT_EQ(ClaimNewestSlot(ring.block, &number), 3);
  EXPECT_EQ(number, thread.frame);
}

TEST(WaitFrame, StateWithoutRun) {
  CQLVSdkLib dev;
  EXPECT_EQ(dev.WaitFrame(), 0);  // idle
  DeviceTestSeam::Block(dev).error = 1;
  EXPECT_EQ(dev.WaitFrame(), 1);  // a run that ended with a transfer error
  DeviceTestSeam::Block(dev).error = 0;
  EXPECT_EQ(dev.StopStreaming(), 0);
  EXPECT_EQ(dev.GetStreamFrame(nullptr, 0), 14);
}

}  // namespace
