// Copying the output window out of raw frames (slot 0), and the YUV and interlaced forms.
#include <cstring>

#include "device/qlv_sdk_lib.h"

namespace {

inline uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

int CQLVSdkLib::CopyWindow(void* out, const void* raw) {
  if (out == nullptr || raw == nullptr) return DEV_NO_DESTINATION;
  // During a run the frames have the width the run started with.
  const int64_t B = (IsStreaming() ? block_.wide : wide_) ? 2 : 1;
  // The geometry must describe the frame buffers raw comes from (it differs from them after a
  // geometry reset until the next window set-up).
  const int64_t lastByte =
      ((static_cast<int64_t>(firstLine_) + outLines_ - 1) * pitch_ + xOffset_ + outWidth_) * B;
  if (ringBytes_ <= 0 || outLines_ < 1 || outWidth_ < 1 || firstLine_ < 0 || xOffset_ < 0 ||
      lastByte > ringBytes_)
    return DEV_NO_DESTINATION;

  const uint8_t* src = static_cast<const uint8_t*>(raw);
  uint8_t* dst = static_cast<uint8_t*>(out);
  if (outWidth_ == pitch_ && outLines_ == rawLines_) {
    memcpy(dst, src, static_cast<size_t>(outWidth_ * outLines_ * B));
    return 0;
  }
  const size_t lineBytes = static_cast<size_t>(outWidth_ * B);
  for (int32_t i = 0; i < outLines_; ++i) {
    const int64_t from = (static_cast<int64_t>(firstLine_ + i) * pitch_ + xOffset_) * B;
    memcpy(dst + static_cast<size_t>(i) * lineBytes, src + from, lineBytes);
  }
  return 0;
}

// YUV 4:2:2 (flag 0: Y0 U Y1 V, else U Y0 V Y1) to 24-bit BGR for the inclusive rectangle
// (x0, y0)-(x1, y1) of the output window, BT.601 studio range.
int CQLVSdkLib::ConvertYuvWindow(void* out, const void* raw, int flag, int /*spare*/, int x0, int y0,
                                 int x1, int y1) {
  if (out == nullptr || raw == nullptr) return DEV_NO_DESTINATION;
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x1 > outWidth_ - 1) x1 = outWidth_ - 1;
  if (y1 > outLines_ - 1) y1 = outLines_ - 1;
  if (x0 > x1 || y0 > y1) return 0;
  const int64_t lastByte =
      ((static_cast<int64_t>(firstLine_) + y1) * pitch_ + ((xOffset_ + x1) | 1) + 1) * 2;
  if (ringBytes_ <= 0 || firstLine_ < 0 || xOffset_ < 0 || lastByte > ringBytes_)
    return DEV_NO_DESTINATION;

  const uint8_t* src = static_cast<const uint8_t*>(raw);
  uint8_t* dst = static_cast<uint8_t*>(out);
  const int yAt = flag ? 1 : 0;
  const int uAt = flag ? 0 : 1;
  const int vAt = flag ? 2 : 3;
  for (int y = y0; y <= y1; ++y) {
    const uint8_t* line = src + (static_cast<int64_t>(firstLine_) + y) * pitch_ * 2;
    uint8_t* o = dst + (static_cast<int64_t>(y) * outWidth_ + x0) * 3;
    for (int x = x0; x <= x1; ++x, o += 3) {
      const int p = xOffset_ + x;
      const uint8_t* pair = line + (p & ~1) * 2;
      const int c = line[p * 2 + yAt] - 16;
      const int d = pair[uAt] - 128;
      const int e = pair[vAt] - 128;
      o[0] = Clamp255((298 * c + 516 * d + 128) >> 8);
      o[1] = Clamp255((298 * c - 100 * d - 208 * e + 128) >> 8);
      o[2] = Clamp255((298 * c + 409 * e + 128) >> 8);
    }
  }
  return 0;
}

int CQLVSdkLib::ConvertYuvFrame(void* out, const void* raw, int a, int b) {
  return ConvertYuvWindow(out, raw, a, b, 0, 0, outWidth_ - 1, outLines_ - 1);
}

// The frame holds its even lines (first field) followed by its odd lines (second field).
int CQLVSdkLib::CopyInterlaced(void* out, const void* raw) {
  if (out == nullptr || raw == nullptr) return DEV_NO_DESTINATION;
  if (ringBytes_ <= 0 || outLines_ < 1 || outWidth_ < 1 || firstLine_ < 0 || xOffset_ < 0 ||
      firstLine_ + outLines_ > rawLines_)
    return DEV_NO_DESTINATION;
  const int64_t B = wide_ ? 2 : 1;
  const int32_t firstField = (rawLines_ + 1) / 2;
  const size_t lineBytes = static_cast<size_t>(outWidth_ * B);
  const uint8_t* src = static_cast<const uint8_t*>(raw);
  uint8_t* dst = static_cast<uint8_t*>(out);
  for (int32_t i = 0; i < outLines_; ++i) {
    const int32_t line = firstLine_ + i;
    const int32_t stored = (line & 1) ? firstField + line / 2 : line / 2;
    const int64_t from = (static_cast<int64_t>(stored) * pitch_ + xOffset_) * B;
    if (from + static_cast<int64_t>(lineBytes) > ringBytes_) return DEV_NO_DESTINATION;
    memcpy(dst + static_cast<size_t>(i) * lineBytes, src + from, lineBytes);
  }
  return 0;
}
