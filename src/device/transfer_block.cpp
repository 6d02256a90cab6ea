#include "device/transfer_block.h"

namespace {

// Whether the thread has neither moved onto slot nor refilled it since it held frame number.
bool SlotStillHolds(TransferBlock& block, int32_t slot, int32_t number) {
  const bool holds = block.writeIndex.load() != slot && block.stamps[slot].load() == number;
  if (block.claimSeam != nullptr) block.claimSeam(block.claimSeamContext);
  return holds;
}

}  // namespace

void BeginSlot(TransferBlock& block) {
  const int32_t slot = block.writeIndex.load();
  if (block.stamps != nullptr) block.stamps[slot].store(0);
}

void CompleteSlot(TransferBlock& block, bool complete) {
  const int32_t count = block.ringCount;
  const int32_t filled = block.writeIndex.load();
  if (complete) {
    const int32_t number = block.completed.load() + 1;
    if (block.stamps != nullptr) block.stamps[filled].store(number);
    block.newest.store(filled);
    block.completed.store(number);
  }
  int32_t next = RingNext(filled, count);
  block.writeIndex.store(next);
  if (next == block.readIndex.load()) {
    next = RingNext(next, count);
    block.writeIndex.store(next);
  }
}

int ClaimNewestSlot(TransferBlock& block, int32_t* frameNumber) {
  if (block.stamps == nullptr || block.ringCount < 1) return 0;
  // Each retry means the thread completed another frame meanwhile; a bound keeps a consumer
  // from spinning against a thread that outruns it, and it waits for the next frame instead.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int32_t last = block.lastTaken.load();
    if (block.completed.load() <= last) return 0;
    const int32_t slot = block.newest.load();
    if (slot < 0 || slot >= block.ringCount) return 0;
    const int32_t number = block.stamps[slot].load();
    // The thread refilled that slot meanwhile: look again.
    if (number <= last) continue;
    // Claim first, then check: with our claim published, the thread either sees it and steps
    // over the slot, or it had moved onto the slot already, which the check sees.
    block.readIndex.store(slot);
    if (SlotStillHolds(block, slot, number)) {
      block.lastTaken.store(number);
      if (frameNumber != nullptr) *frameNumber = number;
      return 3;
    }
  }
  return 0;
}
