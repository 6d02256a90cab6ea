// Ring index arithmetic between the transfer thread and the consumer, without a camera.
#include <gtest/gtest.h>

#include <vector>

#include "device/qlv_sdk_lib.h"

namespace {

struct Ring {
  TransferBlock block;
  explicit Ring(int count) { block.ringCount = count; }
  void Set(int write, int read) {
    block.writeIndex = write;
    block.readIndex = read;
  }
};

TEST(RingIndex, WriteIndexStepsOverTheConsumerSlot) {
  Ring ring(4);
  ring.Set(2, 3);
  CompleteSlot(ring.block, true);  // slot 2 filled: 3 is the consumer's, so on to 0
  EXPECT_EQ(ring.block.writeIndex, 0);
  EXPECT_EQ(ring.block.newest, 2);
  ring.Set(3, 1);
  CompleteSlot(ring.block, true);  // wraps to 0
  EXPECT_EQ(ring.block.writeIndex, 0);
  ring.Set(3, 0);
  CompleteSlot(ring.block, true);  // wraps onto the consumer's slot 0, so 1
  EXPECT_EQ(ring.block.writeIndex, 1);
  // A failed read moves on but is never offered as the newest frame.
  ring.Set(1, 3);
  CompleteSlot(ring.block, false);
  EXPECT_EQ(ring.block.writeIndex, 2);
  EXPECT_EQ(ring.block.newest, 3);
}

TEST(RingIndex, ClaimTakesTheNewestFrame) {
  Ring ring(4);
  ring.Set(1, 3);  // w = 1 + 4 = 5: two new frames; the newest is in slot 0
  EXPECT_EQ(ClaimNewestSlot(ring.block), 3);
  EXPECT_EQ(ring.block.readIndex, 0);
  ring.Set(2, 2);
  EXPECT_EQ(ClaimNewestSlot(ring.block), 0);  // nothing new
  EXPECT_EQ(ring.block.readIndex, 2);
  ring.Set(0, 3);  // w = 4: the newest is slot 3
  EXPECT_EQ(ClaimNewestSlot(ring.block), 3);
  EXPECT_EQ(ring.block.readIndex, 3);
}

// Plays thread and consumer against each other: the thread fills one slot per tick with
// increasing frame numbers; the consumer holds each claimed slot for a few ticks (its copy), then
// works on the frame for a few more ticks before it waits again. Every claimed frame must be the
// newest one written so far and newer than the last one taken, and the thread must never write
// the slot the consumer holds.
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
        CompleteSlot(ring.block, true);

        if (held >= 0 && tick >= releaseAt) {
          EXPECT_EQ(slotFrame[held], heldFrame);
          ring.block.readIndex = RingNext(held, 4);  // GetStreamFrame steps on
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
            ring.block.readIndex = RingNext(held, 4);
            held = -1;
            claimAt = tick + workTicks;
          }
        }
      }
      EXPECT_GT(taken, 400 / (copyTicks + workTicks + 3)) << copyTicks << " " << workTicks;
    }
  }
}

TEST(WaitFrame, StateWithoutRun) {
  CQLVSdkLib dev;
  EXPECT_EQ(dev.WaitFrame(), 0);  // idle
  dev.MutableBlock().error = 1;
  EXPECT_EQ(dev.WaitFrame(), 1);  // a run that ended with a transfer error
  dev.MutableBlock().error = 0;
  EXPECT_EQ(dev.StopStreaming(), 0);
  EXPECT_EQ(dev.GetStreamFrame(nullptr), 14);
}

}  // namespace
