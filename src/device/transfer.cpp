// Frame buffers, the streaming run with its transfer thread, and single shots.
#include <new>

#include "device/qlv_sdk_lib.h"

namespace {

constexpr DWORD kFrameWaitMs = 6000;

int ReadFrame(HANDLE h, bool large, int32_t bytes, void* buffer, uint32_t* moved) {
  return large ? PipeTransferLarge(h, PIPE_FRAME, bytes, buffer, moved, 1)
               : PipeTransfer(h, PIPE_FRAME, bytes, buffer, moved, 1);
}

}  // namespace

uint8_t* CQLVSdkLib::RingData(int32_t slot) const {
  if (slot < 0 || static_cast<size_t>(slot) >= ringTable_.size()) return nullptr;
  return ringTable_[slot].data;
}

int CQLVSdkLib::AllocateFrameBuffers(int32_t a, int32_t x, int32_t b, int32_t c, int32_t d,
                                     int32_t e, int32_t count) {
  // The run's buffers are in use by the transfer thread and the consumer.
  if (IsStreaming()) return DEV_BUSY;
  // Every line copied out must lie inside the line and inside the transfer.
  if (a < 1 || b < 1 || a < b || x < 0 || x > a - b) return DEV_BAD_WIDTH;
  if (c < 1 || e < 1 || d < 0 || static_cast<int64_t>(c) < static_cast<int64_t>(d) + e)
    return DEV_BAD_LINES;
  if (count < 2) return DEV_REJECTED;

  const int64_t unrounded = static_cast<int64_t>(a) * (static_cast<int64_t>(d) + e);
  const int64_t transfer = (unrounded + 1023) / 1024 * 1024;
  const int64_t perFrame = static_cast<int64_t>(a) * c;
  const int64_t rgb = static_cast<int64_t>(e) * b * 3;
  // Sizes must stay representable as the 32-bit byte counts the driver requests use.
  if (2 * transfer > INT32_MAX || 3 * perFrame > INT32_MAX || rgb > INT32_MAX) return DEV_NO_MEMORY;

  ReleaseBuffers();
  pitch_ = a;
  xOffset_ = x;
  xOffsetUnmirrored_ = x;
  firstLineUnmirrored_ = d;
  outWidth_ = b;
  rawLines_ = c;
  firstLine_ = d;
  outLines_ = e;
  pixelsPerFrame_ = static_cast<int32_t>(perFrame);
  transferPixels_ = static_cast<int32_t>(transfer);
  unroundedPixels_ = static_cast<int32_t>(unrounded);
  ringBytes_ = static_cast<int32_t>(2 * transfer);
  rgbBytes_ = static_cast<int32_t>(rgb);
  ringCount_ = count;

  raw_.reset(static_cast<uint8_t*>(calloc(static_cast<size_t>(ringBytes_), 1)));
  rgbScratch_.reset(static_cast<uint8_t*>(calloc(static_cast<size_t>(rgbBytes_), 1)));
  if (!raw_ || !rgbScratch_) {
    ReleaseBuffers();
    return DEV_NO_MEMORY;
  }
  ring_.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    ring_.emplace_back(static_cast<size_t>(ringBytes_));
    if (ring_.back().data() == nullptr) {
      ReleaseBuffers();
      return DEV_NO_MEMORY;
    }
    ringTable_.push_back(RingEntry{ring_.back().handle(), ring_.back().data()});
  }

  const uint32_t size = static_cast<uint32_t>(transferPixels_);
  const uint8_t args[] = {CMD_SET_TRANSFER_SIZE, static_cast<uint8_t>(size),
                          static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size >> 16),
                          static_cast<uint8_t>(size >> 24)};
  SendPacket(args, sizeof(args));
  return DEV_OK;
}

int CQLVSdkLib::FreeFrameBuffers() {
  // Never pull the ring from under a running transfer thread or a consumer.
  if (IsStreaming()) return DEV_BUSY;
  ReleaseBuffers();
  return DEV_OK;
}

void CQLVSdkLib::ReleaseBuffers() {
  raw_.reset();
  rgbScratch_.reset();
  ringTable_.clear();
  ring_.clear();
  block_.ring = nullptr;
  ringBytes_ = 0;
}

void CQLVSdkLib::ReleaseRun() {
  transfer_.Join();
  lastRunMs_ = block_.elapsed.load();
  block_.stopped.store(1);
  block_.error.store(0);
  // A consumer may be waiting in WaitFrame while the run is stopped, and the thread's last
  // request need not have set the frame event: wake it. The frame event is kept for the
  // object's life so that such a waiter never holds a closed handle.
  if (block_.frameEvent != nullptr) SetEvent(block_.frameEvent);
}

int CQLVSdkLib::StartStreaming() {
  if (block_.stopped.load() == 0) return DEV_BUSY;
  // A run that ended by itself and was never collected still holds its events.
  if (IsStreaming()) ReleaseRun();

  block_.bytesPerTransfer = transferPixels_ * (wide_ ? 2 : 1);
  const uint8_t reset[] = {CMD_TRANSFER_RESET};
  SendPacket(reset, sizeof(reset));

  if (block_.frameEvent == nullptr) block_.frameEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  runScratch_.reset(new (std::nothrow) uint8_t[2 * static_cast<size_t>(outLines_ > 0 ? outLines_ : 1)]);
  const size_t slots = ringTable_.size();
  stamps_.reset(new (std::nothrow) std::atomic<int32_t>[slots > 0 ? slots : 1]);
  if (block_.frameEvent == nullptr || !runScratch_ || !stamps_) return DEV_START_FAILED;
  // Drop the wake-up the previous stop left behind.
  ResetEvent(block_.frameEvent);
  block_.rgbBytes = 3 * pixelsPerFrame_;
  block_.wide = wide_;
  block_.ringCount = static_cast<int32_t>(ringTable_.size());
  block_.ring = ringTable_.empty() ? nullptr : ringTable_.data();
  block_.path = path_;
  block_.error.store(0);
  block_.writeIndex.store(0);
  block_.readIndex.store(0);
  block_.newest.store(-1);
  for (size_t i = 0; i < slots; ++i) stamps_[i].store(0);
  block_.stamps = stamps_.get();
  block_.completed.store(0);
  block_.lastTaken.store(0);
  block_.status.store(0);
  block_.frames.store(0);
  block_.elapsed.store(0);
  block_.stopped.store(0);

  TransferBlock* block = &block_;
  if (!transfer_.Start([block] { TransferThread(*block); }, THREAD_PRIORITY_HIGHEST)) {
    block_.stopped.store(1);
    return DEV_START_FAILED;
  }
  return DEV_OK;
}

int CQLVSdkLib::StopStreaming() {
  if (!IsStreaming()) return DEV_OK;
  // A run that ended by itself has stopped = 1 already; its thread is done or about to be, so
  // the join below returns at once.
  if (block_.stopped.load() == 0) block_.stopped.store(1);
  ReleaseRun();
  return block_.status.load();
}

int CQLVSdkLib::WaitFrame() {
  if (block_.error.load() == 1) return 1;
  if (block_.stopped.load() == 1) return 0;
  if (ClaimNewestSlot(block_) == 3) {
    // A failed read advances the write index after raising the error flag: do not hand out
    // that slot as a frame.
    return block_.error.load() == 1 ? 1 : 3;
  }
  return WaitForSingleObject(block_.frameEvent, kFrameWaitMs) == WAIT_OBJECT_0 ? 2 : 1;
}

int CQLVSdkLib::GetStreamFrame(void* dest, size_t dstSize) {
  if (dest == nullptr || ringTable_.empty()) return DEV_NO_DESTINATION;
  if (dstSize < OutputBytes()) return DEV_TOO_SMALL;
  const int32_t count = static_cast<int32_t>(ringTable_.size());
  const int32_t r = block_.readIndex.load();
  if (r < 0 || r >= count) return DEV_NO_DESTINATION;
  if (CopyWindow(dest, ringTable_[r].data) != 0) return DEV_NO_DESTINATION;
  block_.readIndex.store(RingNext(r, count));
  return DEV_OK;
}

int CQLVSdkLib::SingleShot() {
  const int32_t bytes = transferPixels_ * (wide_ ? 2 : 1);
  runScratch_.reset(new (std::nothrow) uint8_t[2 * static_cast<size_t>(outLines_ > 0 ? outLines_ : 1)]);

  if (shotHandle_ == nullptr || shotHandle_ == INVALID_HANDLE_VALUE) {
    if (!OpenDriver(&shotHandle_, path_) || shotHandle_ == INVALID_HANDLE_VALUE) {
      lastTransferError_ = DEV_TRANSFER_FAILED;
      shotTimedOut_ = false;
      shotHandle_ = nullptr;
      return DEV_OPEN_FAILED;
    }
  }
  const uint8_t reset[] = {CMD_TRANSFER_RESET};
  SendPacket(reset, sizeof(reset));

  uint8_t packet[PACKET_SIZE] = {CMD_FRAME_REQUEST};
  uint32_t moved = 0;
  PipeTransfer(shotHandle_, PIPE_COMMAND, PACKET_SIZE, packet, &moved, 1);
  moved = 0;
  int rc = ReadFrame(shotHandle_, largeShot_ != 0, bytes, raw_.get(), &moved);
  shotTimedOut_ = rc != CHANNEL_OK && GetLastError() == ERROR_SEM_TIMEOUT;
  if (rc == CHANNEL_OK && moved == static_cast<uint32_t>(bytes)) return DEV_OK;
  lastTransferError_ = DEV_TRANSFER_FAILED;
  CloseDriver(&shotHandle_);
  return DEV_TRANSFER_FAILED;
}

void CQLVSdkLib::CloseSingleShot() { CloseDriver(&shotHandle_); }

int CQLVSdkLib::GetShotFrame(void* dest, size_t dstSize) {
  if (dest == nullptr || !raw_) return DEV_NO_DESTINATION;
  if (dstSize < OutputBytes()) return DEV_TOO_SMALL;
  return CopyWindow(dest, raw_.get()) == 0 ? DEV_OK : DEV_NO_DESTINATION;
}

void CQLVSdkLib::SetTransferTimeout(int32_t milliseconds) {
  timeoutMs_ = milliseconds;
  DriverHandle h(path_);
  if (h.opened()) SetDriverTimeout(h.get(), static_cast<uint32_t>(milliseconds));
}

void CQLVSdkLib::TransferThread(TransferBlock& block) {
  const int32_t bytes = block.bytesPerTransfer;
  const bool large = block.large != 0;
  HANDLE frameEvent = block.frameEvent;
  int32_t frames = 0;
  int32_t elapsed = 0;
  int32_t status = 0;
  bool shortReadAllowed = true;

  HANDLE h = nullptr;
  if (!OpenDriver(&h, block.path)) {
    status = DEV_OPEN_FAILED;
  } else {
    const DWORD start = GetTickCount();
    while (h != nullptr && block.stopped.load() != 1 && status != DEV_TRANSFER_FAILED) {
      const int32_t slot = block.writeIndex.load();
      uint8_t* buffer = block.ring != nullptr ? block.ring[slot].data : nullptr;
      BeginSlot(block);
      uint8_t packet[PACKET_SIZE] = {CMD_FRAME_REQUEST};
      uint32_t moved = 0;
      PipeTransfer(h, PIPE_COMMAND, PACKET_SIZE, packet, &moved, 0);
      moved = 0;
      const int rc = ReadFrame(h, large, bytes, buffer, &moved);
      bool complete = true;
      if (rc != CHANNEL_OK) {
        status = DEV_TRANSFER_FAILED;
        complete = false;
      } else if (moved != static_cast<uint32_t>(bytes)) {
        if (shortReadAllowed) {
          shortReadAllowed = false;  // read the same slot again
          continue;
        }
        status = DEV_TRANSFER_FAILED;
        complete = false;
      }
      // Raised before the wake-up, so a consumer woken by this advance sees the failure.
      if (!complete) block.error.store(1);
      ++frames;
      CompleteSlot(block, complete);
      SetEvent(frameEvent);
    }
    elapsed = static_cast<int32_t>(GetTickCount() - start);
    CloseDriver(&h);
  }
  block.frames.store(frames);
  block.elapsed.store(elapsed);
  block.status.store(status);
  block.stopped.store(1);
  block.error.store(status == DEV_TRANSFER_FAILED ? 1 : 0);
}
