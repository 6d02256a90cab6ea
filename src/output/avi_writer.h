// CAviWriter: one uncompressed 24-bit video stream in a single RIFF AVI file with an "idx1"
// index. Frames are bottom row first, blue-green-red, rows padded to 4 bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "output/data_file.h"

class CAviWriter {
 public:
  // Results of AddFrame.
  enum : int { kFrameFailed = 0, kFrameAdded = 1, kFrameTooLarge = -1 };

  CAviWriter() = default;
  ~CAviWriter() { ResetAvi(); }
  CAviWriter(const CAviWriter&) = delete;
  CAviWriter& operator=(const CAviWriter&) = delete;

  // Closes any earlier file, then writes the headers of a width x height stream at 30 fps.
  // 1 on success.
  int OpenAvi(const char* name, int32_t width, int32_t height);
  // Appends one frame of FrameBytes(). kFrameTooLarge (nothing written) when the frame and
  // the index would take the file past its size limit; kFrameFailed on a write error.
  int AddFrame(const uint8_t* pixels);
  // Writes the index, patches the sizes, counts and timing for the measured rate (hundredths
  // of a frame per second; 0 counts as 1) and closes the file. 1 when every write succeeded.
  int FinishAvi(uint32_t rate_hundredths);
  // Closes the file and forgets everything.
  void ResetAvi();

  bool IsOpen() const { return file_.IsOpen(); }
  uint32_t FrameCount() const { return frame_count_; }
  uint32_t FrameBytes() const { return frame_bytes_; }
  // Largest file the writer makes; 4 GB unless lowered (for tests).
  void SetSizeLimit(uint64_t bytes) { size_limit_ = bytes; }

 private:
  struct IndexEntry {
    char id[4];
    uint32_t flags;
    uint32_t offset;
    uint32_t size;
  };

  bool Patch(uint32_t offset, uint32_t value);

  CDataFile file_;
  uint32_t riff_size_ = 0;
  uint32_t movi_size_ = 0;
  uint32_t frame_bytes_ = 0;
  uint32_t frame_count_ = 0;
  uint32_t rate_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  uint64_t size_limit_ = 0xFFFFFFFFull;
  bool failed_ = false;
  std::vector<IndexEntry> index_;
};
