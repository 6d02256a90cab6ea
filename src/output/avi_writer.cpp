#include "output/avi_writer.h"

#include <cstring>

namespace {

constexpr uint32_t kMoviSizeOffset = 224;
constexpr uint32_t kHeaderBytes = 232;

void Put32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }
void PutId(uint8_t* at, const char* id) { std::memcpy(at, id, 4); }

}  // namespace

void CAviWriter::ResetAvi() {
  file_.Close();
  index_.clear();
  index_.shrink_to_fit();
  riff_size_ = movi_size_ = frame_bytes_ = frame_count_ = rate_ = 0;
  width_ = height_ = 0;
  failed_ = false;
}

int CAviWriter::OpenAvi(const char* name, int32_t width, int32_t height) {
  ResetAvi();
  if (name == nullptr || width <= 0 || height <= 0) return 0;
  const uint64_t frame = static_cast<uint64_t>(height) * ((3ull * width + 3) & ~3ull);
  if (frame + 8 + kHeaderBytes + 8 + 16 > size_limit_) return 0;
  if (!file_.OpenForWrite(name)) return 0;
  width_ = width;
  height_ = height;
  rate_ = 30;
  frame_bytes_ = static_cast<uint32_t>(frame);
  const uint32_t buffer = frame_bytes_ + 8;

  uint8_t h[kHeaderBytes] = {};
  PutId(h + 0, "RIFF");
  PutId(h + 8, "AVI ");
  PutId(h + 12, "LIST");
  Put32(h + 16, 200);
  PutId(h + 20, "hdrl");
  PutId(h + 24, "avih");
  Put32(h + 28, 56);
  Put32(h + 32, 1000000 / rate_);
  Put32(h + 36, buffer * rate_);  // maximum bytes per second: free; a frame's worth per frame
  Put32(h + 44, 0x10010);
  Put32(h + 56, 1);
  Put32(h + 60, buffer);
  Put32(h + 64, static_cast<uint32_t>(width));
  Put32(h + 68, static_cast<uint32_t>(height));
  PutId(h + 88, "LIST");
  Put32(h + 92, 124);
  PutId(h + 96, "strl");
  PutId(h + 100, "strh");
  Put32(h + 104, 64);
  PutId(h + 108, "vids");
  PutId(h + 112, "DIB ");
  Put32(h + 128, 10000000 / rate_);
  Put32(h + 132, 10000000);
  Put32(h + 144, buffer);
  PutId(h + 172, "strf");
  Put32(h + 176, 40);
  Put32(h + 180, 40);
  Put32(h + 184, static_cast<uint32_t>(width));
  Put32(h + 188, static_cast<uint32_t>(height));
  h[192] = 1;   // planes
  h[194] = 24;  // bits per pixel
  PutId(h + 220, "LIST");
  PutId(h + 228, "movi");
  if (!file_.Write(h, sizeof h)) {
    ResetAvi();
    return 0;
  }
  riff_size_ = kHeaderBytes - 8;
  movi_size_ = 4;
  return 1;
}

int CAviWriter::AddFrame(const uint8_t* pixels) {
  if (!file_.IsOpen() || failed_ || pixels == nullptr) return kFrameFailed;
  // The file after this frame and the index that must follow it.
  const uint64_t after = 8ull + riff_size_ + 8 + frame_bytes_ + 8 + 16ull * (frame_count_ + 1);
  if (after > size_limit_) return kFrameTooLarge;
  uint8_t head[8];
  PutId(head, "00db");
  Put32(head + 4, frame_bytes_);
  if (!file_.Write(head, 8) || !file_.Write(pixels, frame_bytes_)) {
    // The file may hold part of the chunk; the finished file ends before it.
    failed_ = true;
    return kFrameFailed;
  }
  IndexEntry entry = {{'0', '0', 'd', 'b'}, 0x10, movi_size_, frame_bytes_};
  index_.push_back(entry);
  riff_size_ += 8 + frame_bytes_;
  movi_size_ += 8 + frame_bytes_;
  ++frame_count_;
  return kFrameAdded;
}

bool CAviWriter::Patch(uint32_t offset, uint32_t value) {
  return file_.Seek(offset) && file_.Write(&value, 4);
}

int CAviWriter::FinishAvi(uint32_t rate_hundredths) {
  if (!file_.IsOpen()) return 0;
  rate_ = rate_hundredths > 0 ? rate_hundredths : 1;
  // The index follows the last complete frame, even when a failed write left part of a chunk.
  bool ok = file_.Seek(8ull + riff_size_);
  uint8_t head[8];
  PutId(head, "idx1");
  Put32(head + 4, 16 * frame_count_);
  ok = ok && file_.Write(head, 8) &&
       (index_.empty() || file_.Write(index_.data(), index_.size() * sizeof(IndexEntry))) &&
       file_.Truncate();
  riff_size_ += 8 + 16 * frame_count_;
  const uint64_t end = 8ull + riff_size_;
  ok = ok && Patch(4, riff_size_) && Patch(kMoviSizeOffset, movi_size_) &&
       Patch(48, frame_count_) && Patch(140, frame_count_) && Patch(32, 100000000u / rate_) &&
       Patch(128, 1000000000u / rate_) &&
       Patch(36, static_cast<uint32_t>(
                     static_cast<uint64_t>(frame_bytes_ + 8) * rate_ / 100 > 0xFFFFFFFFull
                         ? 0xFFFFFFFFull
                         : static_cast<uint64_t>(frame_bytes_ + 8) * rate_ / 100));
  ok = ok && file_.FileSize() == end;
  file_.Close();
  return ok && !failed_ ? 1 : 0;
}
