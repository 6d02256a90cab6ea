// The measured frame rate: frames counted over windows of at least one second.
#pragma once

#include <cstdint>

class FrameRateMeter {
 public:
  explicit FrameRateMeter(uint32_t start) : windowStart_(start) {}
  // Counts one frame at now (timeGetTime milliseconds); the rate times 10 now reported.
  int Count(uint32_t now) {
    ++frames_;
    const uint32_t elapsed = now - windowStart_;
    if (elapsed > 1000) {
      rate10_ = static_cast<int>(frames_ * 10000.0 / elapsed);
      frames_ = 0;
      windowStart_ = now;
    }
    return rate10_;
  }
  int Pending() const { return frames_; }

 private:
  uint32_t windowStart_;
  int frames_ = 0;
  int rate10_ = 0;
};
