#include "device/transfer_block.h"

void CompleteSlot(TransferBlock& block, bool complete) {
  const int32_t count = block.ringCount;
  const int32_t filled = block.writeIndex.load();
  if (complete) block.newest.store(filled);
  int32_t next = RingNext(filled, count);
  block.writeIndex.store(next);
  if (next == block.readIndex.load()) {
    next = RingNext(next, count);
    block.writeIndex.store(next);
  }
}

int ClaimNewestSlot(TransferBlock& block) {
  const int32_t count = block.ringCount;
  for (;;) {
    const int32_t r = block.readIndex.load();
    int32_t w = block.writeIndex.load();
    if (w < r) w += count;
    if (w - r < 1) return 0;
    int32_t slot = block.newest.load();
    if (slot < 0) {
      // Nothing read completely yet: the slot before the write index, reduced into the ring.
      slot = w - 1;
      if (slot < 0) slot = count - 1;
      if (slot >= count) slot -= count;
    }
    block.readIndex.store(slot);
    // The thread may have moved onto this slot before it could see our claim: take a newer one.
    if (block.writeIndex.load() != slot) return 3;
  }
}
