// CAviWriter: one uncompressed 24-bit video stream. Frames are bottom row first, blue-green-red,
// rows padded to 4 bytes.
//
// A recording whose AVI 1.0 file stays within the chunk limit (1 GB) is a single RIFF file with an
// "idx1" index. A longer one continues as an OpenDML (AVI 2.0) file: the first "RIFF AVI " chunk
// stays a complete AVI 1.0 file of its frames (old readers see that part), later frames go into
// "RIFF AVIX" chunks of at most the limit, each chunk's movie list ends with a standard index
// ("ix00"), and at the finish the header gains a super index ("indx") and the total frame count
// ("odml"/"dmlh"). To make room for them, the finish moves the first chunk's frames (at most
// the limit) up into space reserved at that chunk's end: a second or so of copying, once.
#pragma once

#include <cstdint>
#include <vector>

#include "output/data_file.h"

class CAviWriter {
 public:
  // Results of AddFrame.
  enum : int { kFrameFailed = 0, kFrameAdded = 1, kFrameTooLarge = -1 };
  static constexpr uint64_t kChunkLimit = 1ull << 30;
  // Room in the super index: with 1 GB chunks, files up to 16 TB (the largest NTFS file).
  static constexpr uint32_t kMaxChunks = 16384;

  CAviWriter() = default;
  ~CAviWriter() { ResetAvi(); }
  CAviWriter(const CAviWriter&) = delete;
  CAviWriter& operator=(const CAviWriter&) = delete;

  // Closes any earlier file, then writes the headers of a width x height stream at 30 fps.
  // 1 on success.
  int OpenAvi(const char* name, int32_t width, int32_t height);
  // Appends one frame of FrameBytes(), starting a new RIFF chunk when the current one is full.
  // kFrameTooLarge (nothing written) when the super index has no room for another chunk;
  // kFrameFailed on a write error.
  int AddFrame(const uint8_t* pixels);
  // Writes the indexes, patches the sizes, counts and timing for the measured rate (hundredths
  // of a frame per second; 0 counts as 1) and closes the file. 1 when every write succeeded.
  int FinishAvi(uint32_t rate_hundredths);
  // Closes the file and forgets everything.
  void ResetAvi();

  bool IsOpen() const { return file_.IsOpen(); }
  uint32_t FrameCount() const { return frame_count_; }
  uint32_t FrameBytes() const { return frame_bytes_; }
  // RIFF chunks so far, the one being written included.
  uint32_t ChunkCount() const { return static_cast<uint32_t>(chunks_.size()) + (IsOpen() ? 1 : 0); }
  // Largest RIFF chunk and most chunks per file; lowered by tests. Set before OpenAvi.
  void SetChunkLimit(uint64_t bytes, uint32_t max_chunks = kMaxChunks) {
    chunk_limit_ = bytes;
    max_chunks_ = max_chunks > 0 ? max_chunks : 1;
  }

 private:
  // One closed chunk, as its super index entry gives it.
  struct Chunk {
    uint64_t index_at;     // file offset of its "ix00" chunk
    uint32_t index_bytes;  // that chunk's size with its header
    uint32_t frames;
  };

  bool FitsInChunk() const;
  // Ends the chunk being written with its standard index (and, for the first, "idx1" and the
  // room the finished header grows into); then starts an "AVIX" chunk.
  bool CloseChunk();
  bool StartChunk();
  bool WriteStandardIndex();
  // Frame index entries of the chunk being written, as "idx1" (16 bytes) or "ix00" (8 bytes)
  // entries, written in blocks.
  bool WriteEntries(bool legacy);
  bool FinishOpenDml();
  bool MoveRange(uint64_t from, uint64_t to, uint64_t by);
  bool Patch(uint64_t offset, uint32_t value);
  bool AtEnd() { return file_.Seek(end_); }
  uint32_t HeaderGrowth() const { return 300 + 16 * static_cast<uint32_t>(chunks_.size()); }
  uint32_t Reserve() const { return 8 + 300 + 16 * max_chunks_; }

  CDataFile file_;
  uint64_t end_ = 0;          // end of the last complete write
  uint64_t chunk_at_ = 0;     // file offset of the current "RIFF"
  uint32_t riff_size_ = 0;    // bytes of the current RIFF chunk after its size field
  uint32_t movi_size_ = 0;    // bytes of its "movi" list after the size field
  uint32_t chunk_frames_ = 0;
  uint32_t first_frames_ = 0;  // frames of the first chunk once it is closed
  uint64_t first_junk_at_ = 0; // where the first chunk's reserved room starts
  uint32_t frame_bytes_ = 0;
  uint32_t frame_count_ = 0;
  uint32_t rate_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  uint64_t chunk_limit_ = kChunkLimit;
  uint32_t max_chunks_ = kMaxChunks;
  bool failed_ = false;
  std::vector<Chunk> chunks_;  // closed chunks, in order
};
