#include "output/avi_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr uint32_t kMoviListAt = 220;  // "LIST" of the first chunk's movie list
constexpr uint32_t kHeaderBytes = 232;
constexpr uint32_t kAvixHeaderBytes = 24;  // "RIFF" size "AVIX" "LIST" size "movi"
constexpr uint32_t kIndexHeaderBytes = 32;  // "ix00"/"indx" chunk header and its fields
constexpr uint32_t kDmlhBytes = 248;
constexpr uint32_t kEntriesPerBlock = 4096;
constexpr size_t kMoveBlock = 4u << 20;

void Put16(uint8_t* at, uint16_t value) { std::memcpy(at, &value, 2); }
void Put32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }
void Put64(uint8_t* at, uint64_t value) { std::memcpy(at, &value, 8); }
void PutId(uint8_t* at, const char* id) { std::memcpy(at, id, 4); }

// The 232 bytes from the file's start to the first frame, for a rate in hundredths of a frame
// per second.
void FillHeader(uint8_t* h, int32_t width, int32_t height, uint32_t frameBytes, uint32_t rate,
                uint32_t riffSize, uint32_t moviSize, uint32_t mainFrames, uint32_t streamFrames) {
  const uint32_t buffer = frameBytes + 8;
  std::memset(h, 0, kHeaderBytes);
  PutId(h + 0, "RIFF");
  Put32(h + 4, riffSize);
  PutId(h + 8, "AVI ");
  PutId(h + 12, "LIST");
  Put32(h + 16, 200);
  PutId(h + 20, "hdrl");
  PutId(h + 24, "avih");
  Put32(h + 28, 56);
  Put32(h + 32, 100000000u / rate);
  // Maximum bytes per second: nothing reads it; a frame's worth per frame.
  const uint64_t perSecond = static_cast<uint64_t>(buffer) * rate / 100;
  Put32(h + 36, static_cast<uint32_t>(std::min<uint64_t>(perSecond, 0xFFFFFFFFu)));
  Put32(h + 44, 0x10010);
  Put32(h + 48, mainFrames);
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
  Put32(h + 128, 1000000000u / rate);
  Put32(h + 132, 10000000);
  Put32(h + 140, streamFrames);
  Put32(h + 144, buffer);
  PutId(h + 172, "strf");
  Put32(h + 176, 40);
  Put32(h + 180, 40);
  Put32(h + 184, static_cast<uint32_t>(width));
  Put32(h + 188, static_cast<uint32_t>(height));
  h[192] = 1;   // planes
  h[194] = 24;  // bits per pixel
  PutId(h + 220, "LIST");
  Put32(h + 224, moviSize);
  PutId(h + 228, "movi");
}

}  // namespace

void CAviWriter::ResetAvi() {
  file_.Close();
  chunks_.clear();
  chunks_.shrink_to_fit();
  end_ = chunk_at_ = first_junk_at_ = 0;
  riff_size_ = movi_size_ = chunk_frames_ = first_frames_ = 0;
  frame_bytes_ = frame_count_ = rate_ = 0;
  width_ = height_ = 0;
  failed_ = false;
}

int CAviWriter::OpenAvi(const char* name, int32_t width, int32_t height) {
  ResetAvi();
  if (name == nullptr || width <= 0 || height <= 0) return 0;
  const uint64_t frame = static_cast<uint64_t>(height) * ((3ull * width + 3) & ~3ull);
  // The first frame must fit a single-chunk file with its index.
  if (frame + 8 + kHeaderBytes + 8 + 16 > std::min<uint64_t>(chunk_limit_, 0x7FFFFFFF)) return 0;
  if (!file_.OpenForWrite(name, true)) return 0;
  width_ = width;
  height_ = height;
  rate_ = 3000;
  frame_bytes_ = static_cast<uint32_t>(frame);
  uint8_t h[kHeaderBytes];
  FillHeader(h, width_, height_, frame_bytes_, rate_, 0, 0, 0, 0);
  if (!file_.Write(h, sizeof h)) {
    ResetAvi();
    return 0;
  }
  end_ = kHeaderBytes;
  riff_size_ = kHeaderBytes - 8;
  movi_size_ = 4;
  return 1;
}

bool CAviWriter::FitsInChunk() const {
  const uint64_t limit = std::min<uint64_t>(chunk_limit_, 0x7FFFFFFF);
  const uint64_t n = chunk_frames_ + 1ull;
  const uint64_t frames = 8ull + riff_size_ + 8 + frame_bytes_;
  // The first chunk: the AVI 1.0 file with its "idx1", so that a recording within the limit is
  // a plain AVI 1.0 file. Its standard index (8 bytes a frame) and the reserved room come on
  // top once a second chunk follows: for camera frames under a megabyte past the limit, far
  // below the 2 GB where old readers fail.
  if (chunks_.empty()) return frames + 8 + 16 * n <= limit;
  return frames + kIndexHeaderBytes + 8 * n <= limit;
}

int CAviWriter::AddFrame(const uint8_t* pixels) {
  if (!file_.IsOpen() || failed_ || pixels == nullptr) return kFrameFailed;
  if (!FitsInChunk()) {
    if (ChunkCount() >= max_chunks_) return kFrameTooLarge;
    if (!CloseChunk() || !StartChunk()) {
      failed_ = true;
      return kFrameFailed;
    }
  }
  uint8_t head[8];
  PutId(head, "00db");
  Put32(head + 4, frame_bytes_);
  if (!file_.Write(head, 8) || !file_.Write(pixels, frame_bytes_)) {
    // The file may hold part of the chunk; the finished file ends before it.
    failed_ = true;
    return kFrameFailed;
  }
  end_ += 8 + frame_bytes_;
  riff_size_ += 8 + frame_bytes_;
  movi_size_ += 8 + frame_bytes_;
  ++chunk_frames_;
  ++frame_count_;
  return kFrameAdded;
}

bool CAviWriter::WriteEntries(bool legacy) {
  const uint32_t step = 8 + frame_bytes_;
  std::unique_ptr<uint32_t[]> block(new (std::nothrow) uint32_t[kEntriesPerBlock * 4]);
  if (!block) return false;
  const char id[4] = {'0', '0', 'd', 'b'};
  uint32_t tag;
  std::memcpy(&tag, id, 4);
  for (uint32_t first = 0; first < chunk_frames_; first += kEntriesPerBlock) {
    const uint32_t count = std::min(kEntriesPerBlock, chunk_frames_ - first);
    uint32_t* e = block.get();
    for (uint32_t k = first; k < first + count; ++k) {
      // Offsets from the "movi" identifier: of the chunk header in "idx1", of the data in "ix00".
      const uint32_t at = 4 + k * step;
      if (legacy) {
        *e++ = tag, *e++ = 0x10, *e++ = at, *e++ = frame_bytes_;  // key frame
      } else {
        *e++ = at + 8, *e++ = frame_bytes_;  // bit 31 clear: key frame
      }
    }
    if (!file_.Write(block.get(), (e - block.get()) * sizeof(uint32_t))) return false;
  }
  return true;
}

bool CAviWriter::WriteStandardIndex() {
  const uint64_t moviId = chunks_.empty() ? kMoviListAt + 8 : chunk_at_ + 20;
  uint8_t h[kIndexHeaderBytes] = {};
  PutId(h, "ix00");
  Put32(h + 4, kIndexHeaderBytes - 8 + 8 * chunk_frames_);
  Put16(h + 8, 2);  // longs per entry
  h[11] = 1;        // index of chunks
  Put32(h + 12, chunk_frames_);
  PutId(h + 16, "00db");
  Put64(h + 20, moviId);
  return file_.Write(h, sizeof h) && WriteEntries(false);
}

bool CAviWriter::CloseChunk() {
  const bool first = chunks_.empty();
  const uint32_t indexBytes = kIndexHeaderBytes + 8 * chunk_frames_;
  uint32_t riff = riff_size_ + indexBytes;
  const uint32_t movi = movi_size_ + indexBytes;
  // Nothing is counted until every write of the chunk's end has succeeded.
  if (!AtEnd() || !WriteStandardIndex()) return false;
  uint64_t junkAt = 0;
  if (first) {
    uint8_t head[8];
    PutId(head, "idx1");
    Put32(head + 4, 16 * chunk_frames_);
    if (!file_.Write(head, 8) || !WriteEntries(true)) return false;
    junkAt = end_ + indexBytes + 8 + 16ull * chunk_frames_;
    // Room for the header's growth at the finish: the first chunk's movie list then moves up
    // into it, and no later chunk moves.
    std::vector<uint8_t> junk(Reserve(), 0);
    PutId(junk.data(), "JUNK");
    Put32(junk.data() + 4, Reserve() - 8);
    if (!file_.Write(junk.data(), junk.size())) return false;
    riff += 8 + 16 * chunk_frames_ + Reserve();
  }
  const uint64_t moviSizeAt = first ? kMoviListAt + 4 : chunk_at_ + 16;
  if (!Patch(chunk_at_ + 4, riff) || !Patch(moviSizeAt, movi)) return false;
  chunks_.push_back(Chunk{end_, indexBytes, chunk_frames_});
  if (first) {
    first_frames_ = chunk_frames_;
    first_junk_at_ = junkAt;
  }
  end_ = chunk_at_ + 8 + riff;
  // Until the next chunk is started, an empty one at the end.
  chunk_at_ = end_;
  chunk_frames_ = 0;
  riff_size_ = movi_size_ = 0;
  return true;
}

bool CAviWriter::StartChunk() {
  uint8_t h[kAvixHeaderBytes];
  PutId(h, "RIFF");
  Put32(h + 4, 16);
  PutId(h + 8, "AVIX");
  PutId(h + 12, "LIST");
  Put32(h + 16, 4);
  PutId(h + 20, "movi");
  if (!AtEnd() || !file_.Write(h, sizeof h)) return false;
  chunk_at_ = end_;
  end_ += sizeof h;
  riff_size_ = 16;
  movi_size_ = 4;
  chunk_frames_ = 0;
  return true;
}

bool CAviWriter::Patch(uint64_t offset, uint32_t value) {
  return file_.Seek(offset) && file_.Write(&value, 4);
}

bool CAviWriter::MoveRange(uint64_t from, uint64_t to, uint64_t by) {
  size_t blockBytes = kMoveBlock;
  std::unique_ptr<uint8_t[]> block;
  while (!block && blockBytes >= 4096) {
    block.reset(new (std::nothrow) uint8_t[blockBytes]);
    if (!block) blockBytes /= 4;
  }
  if (!block) return false;
  // Back to front: each block lands where nothing unread remains.
  for (uint64_t hi = to; hi > from;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(blockBytes, hi - from));
    hi -= n;
    if (!file_.Seek(hi) || !file_.Read(block.get(), n) || !file_.Seek(hi + by) ||
        !file_.Write(block.get(), n))
      return false;
  }
  return true;
}

bool CAviWriter::FinishOpenDml() {
  // The last chunk gets its standard index; if even that cannot be written, the file ends with
  // the chunk before it.
  if (chunk_frames_ == 0 || !AtEnd() || !WriteStandardIndex() ||
      !Patch(chunk_at_ + 4, riff_size_ + kIndexHeaderBytes + 8 * chunk_frames_) ||
      !Patch(chunk_at_ + 16, movi_size_ + kIndexHeaderBytes + 8 * chunk_frames_)) {
    frame_count_ -= chunk_frames_;
    end_ = chunk_at_;
  } else {
    const uint32_t indexBytes = kIndexHeaderBytes + 8 * chunk_frames_;
    chunks_.push_back(Chunk{end_, indexBytes, chunk_frames_});
    end_ += indexBytes;
  }
  chunk_frames_ = 0;
  if (!AtEnd() || !file_.Truncate()) return false;

  // Make room for the super index and the extended header: everything from the first movie
  // list to the reserved room moves up by the growth.
  const uint32_t chunks = static_cast<uint32_t>(chunks_.size());
  const uint32_t grow = HeaderGrowth();
  if (!MoveRange(kMoviListAt, first_junk_at_, grow)) return false;
  uint8_t junk[8];
  PutId(junk, "JUNK");
  Put32(junk + 4, Reserve() - grow - 8);
  chunks_[0].index_at += grow;
  const uint64_t base = kMoviListAt + 8 + grow;
  if (!file_.Seek(first_junk_at_ + grow) || !file_.Write(junk, 8) ||
      !file_.Seek(chunks_[0].index_at + 20) || !file_.Write(&base, 8))
    return false;

  const uint32_t firstRiff = static_cast<uint32_t>(first_junk_at_ + Reserve() - 8);
  std::vector<uint8_t> h(kMoviListAt + grow, 0);
  // Old readers see the first chunk only: both of its counts are its own frames (the system's
  // reader fails on a stream longer than its "idx1"); the total is in "dmlh" and the super index.
  FillHeader(h.data(), width_, height_, frame_bytes_, rate_, firstRiff, 0, first_frames_,
             first_frames_);
  std::memset(&h[kMoviListAt], 0, kHeaderBytes - kMoviListAt);
  Put32(&h[16], 200 + grow);                 // header list
  Put32(&h[92], 124 + kIndexHeaderBytes + 16 * chunks);  // stream list
  uint8_t* indx = &h[kMoviListAt];
  PutId(indx, "indx");
  Put32(indx + 4, kIndexHeaderBytes - 8 + 16 * chunks);
  Put16(indx + 8, 4);  // longs per entry; index of indexes
  Put32(indx + 12, chunks);
  PutId(indx + 16, "00db");
  uint8_t* entry = indx + kIndexHeaderBytes;
  for (const Chunk& c : chunks_) {
    Put64(entry, c.index_at);
    Put32(entry + 8, c.index_bytes);
    Put32(entry + 12, c.frames);
    entry += 16;
  }
  PutId(entry, "LIST");
  Put32(entry + 4, 4 + 8 + kDmlhBytes);
  PutId(entry + 8, "odml");
  PutId(entry + 12, "dmlh");
  Put32(entry + 16, kDmlhBytes);
  Put32(entry + 20, frame_count_);
  return file_.Seek(0) && file_.Write(h.data(), h.size()) && file_.FileSize() == end_;
}

int CAviWriter::FinishAvi(uint32_t rate_hundredths) {
  if (!file_.IsOpen()) return 0;
  rate_ = rate_hundredths > 0 ? rate_hundredths : 1;
  bool ok;
  if (chunks_.empty()) {
    // The index follows the last complete frame, even when a failed write left part of a chunk.
    uint8_t head[8];
    PutId(head, "idx1");
    Put32(head + 4, 16 * chunk_frames_);
    ok = AtEnd() && file_.Write(head, 8) && WriteEntries(true) && file_.Truncate();
    riff_size_ += 8 + 16 * chunk_frames_;
    uint8_t h[kHeaderBytes];
    FillHeader(h, width_, height_, frame_bytes_, rate_, riff_size_, movi_size_, frame_count_,
               frame_count_);
    ok = ok && file_.Seek(0) && file_.Write(h, sizeof h) &&
         file_.FileSize() == 8ull + riff_size_;
  } else {
    ok = FinishOpenDml();
  }
  file_.Close();
  return ok && !failed_ ? 1 : 0;
}
