// The block a streaming run shares with its transfer thread, and the ring index arithmetic on it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

// One ring buffer: its global memory handle and the pointer it stays locked at.
struct RingEntry {
  HGLOBAL handle = nullptr;
  uint8_t* data = nullptr;
};

// Written by StartStreaming before the thread exists, then by the sides named per field. The
// words both threads touch are atomic; the others are fixed for the run.
struct TransferBlock {
  int32_t bytesPerTransfer = 0;
  HANDLE frameEvent = nullptr;  // auto reset, set after every advance of the write index and by a stop
  std::atomic<int32_t> elapsed{0};
  std::atomic<int32_t> frames{0};
  std::atomic<int32_t> status{0};   // 0 stopped normally, 10 open failed, 19 transfer failed
  std::atomic<int32_t> stopped{1};  // 1 = stop requested or not running
  std::atomic<int32_t> error{0};    // 1 when the run ended with status 19
  int32_t rgbBytes = 0;
  int32_t wide = 0;
  int32_t ringCount = 0;
  RingEntry* ring = nullptr;
  std::atomic<int32_t> writeIndex{0};  // thread: next slot to fill
  std::atomic<int32_t> readIndex{0};   // consumer: slot it reads next
  // Thread: slot of the newest frame read completely in this run, -1 before the first. The
  // write index alone cannot tell it once the thread has stepped over the consumer's slot.
  std::atomic<int32_t> newest{-1};
  // Thread: number of frames read completely in this run; frame n's slot has stamp n. A slot
  // being filled (or passed over after a failed read) has stamp 0.
  std::atomic<int32_t> completed{0};
  std::atomic<int32_t>* stamps = nullptr;  // ringCount entries
  // Consumer: number of the last frame it claimed; a claim takes only newer ones.
  std::atomic<int32_t> lastTaken{0};
  int32_t large = 0;
  const char* path = nullptr;
  // Test seam, null in production. The consumer calls it at the end of its check that the slot
  // it claims is still its own: from there on, nothing the thread does can change the check's
  // answer, so a test runs the thread on at this point.
  void (*claimSeam)(void* context) = nullptr;
  void* claimSeamContext = nullptr;
};

inline int32_t RingNext(int32_t index, int32_t count) {
  return index + 1 >= count ? 0 : index + 1;
}

// Thread side, before a frame is read into slot [write index]: the slot stops counting as a
// complete frame.
void BeginSlot(TransferBlock& block);

// Thread side, after a frame read into slot [write index] ended (complete == false for a failed
// read, whose slot is passed over but never offered as a frame). Stamps a complete frame with
// the next frame number and publishes it, then moves the write index on, stepping over the slot
// the consumer holds. The write index is published before the read index is checked, so that a
// consumer claiming the same slot at the same moment notices (see ClaimNewestSlot).
void CompleteSlot(TransferBlock& block, bool complete);

// Consumer side: the index part of WaitFrame. Returns 3 and points the read index at the newest
// complete frame when that frame is newer than the last one claimed, else 0 (nothing new).
// *frameNumber (if given) receives the claimed frame's number.
int ClaimNewestSlot(TransferBlock& block, int32_t* frameNumber = nullptr);
