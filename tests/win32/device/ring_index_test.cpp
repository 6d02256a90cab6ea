// Ring index arithmetic between the transfer thread and the consumer, without a camera.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
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

// A real producer thread writes each frame's number into every word of its slot while the
// consumer claims and copies. Each copied frame must be whole (one number throughout), carry
// the number its claim reported, and be newer than the frame before it.
TEST(RingIndex, TwoThreadsNeverSeeAFrameTwiceOrTorn) {
  constexpr int kWords = 256;
  constexpr int32_t kFrames = 200000;
  Ring ring(4);
  // Word-wise atomic so that a torn frame is a finding, not undefined behaviour.
  std::vector<std::atomic<int32_t>> words(4 * kWords);
  auto word = [&](int32_t slot, int i) -> std::atomic<int32_t>& { return words[slot * kWords + i]; };
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (int32_t n = 1; n <= kFrames; ++n) {
      const int32_t slot = ring.block.writeIndex;
      BeginSlot(ring.block);
      for (int i = 0; i < kWords; ++i) word(slot, i).store(n, std::memory_order_relaxed);
      CompleteSlot(ring.block, true);
    }
    done = true;
  });

  int32_t last = 0, taken = 0, torn = 0, stale = 0, mislabelled = 0;
  std::vector<int32_t> copy(kWords);
  for (;;) {
    const bool finished = done;
    int32_t number = 0;
    if (ClaimNewestSlot(ring.block, &number) == 3) {
      const int32_t slot = ring.block.readIndex;
      for (int i = 0; i < kWords; ++i) copy[i] = word(slot, i).load(std::memory_order_relaxed);
      ring.Release();
      for (int i = 1; i < kWords; ++i) torn += copy[i] != copy[0];
      mislabelled += copy[0] != number;
      stale += number <= last;
      last = number;
      ++taken;
    } else if (finished) {
      break;
    }
  }
  producer.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(mislabelled, 0);
  EXPECT_EQ(stale, 0);
  EXPECT_EQ(last, kFrames) << "the last frame is always taken";
  EXPECT_GT(taken, 1);
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
