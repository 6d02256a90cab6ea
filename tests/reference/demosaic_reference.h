// Independent per-pixel Bayer demosaicing, written for tests without using the library: the
// colour at (x - 1/2, y - 1/2) from the 2 x 2 quad and the nearest same-coloured samples two
// steps further, coordinates outside the frame folded back by four.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace reference {

// Integer factor for a Bayer gain: trunc(gain x 1.28) in double, capped at 2048 (gain 100 gives
// 128). A negative product gives 0.
inline int BayerGainFactor(int gain) {
  volatile double scaled = static_cast<double>(gain) * 1.28;  // rounded to double, as written
  double v = scaled;
  if (v <= 0.0) return 0;
  if (v >= 2048.0) return 2048;
  return static_cast<int>(v);
}

// Colour of the raw sample at (x, y) for a Bayer mode: 0 green, 1 red, 2 blue.
inline int BayerColourAt(int mode, int x, int y) {
  int row_phase = (mode & 1) ^ (y & 1);
  int column_phase = ((mode >> 1) & 1) ^ (x & 1);
  if (row_phase == column_phase) return 0;
  return row_phase == 1 ? 1 : 2;
}

// A raw frame of 8-bit (bytes_per_sample 1) or 16-bit little-endian samples, w x h, rows
// `stride` bytes apart in memory order.
struct DemosaicReference {
  const uint8_t* raw;
  ptrdiff_t stride;
  int bytes_per_sample;
  int w, h;
  int mode;

  int Max() const { return bytes_per_sample == 2 ? 1023 : 255; }

  int Sample(int x, int y) const {
    auto fold = [](int c, int size) { return c < 0 ? c + 4 : (c >= size ? c - 4 : c); };
    const uint8_t* p = raw + fold(y, h) * stride + fold(x, w) * bytes_per_sample;
    if (bytes_per_sample == 1) return *p;
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }

  // Red (colour 1) or blue (colour 2) at output pixel (x, y) with that colour's gain.
  int Channel(int x, int y, int colour, int gain) const {
    int px = -1, py = -1;  // the quad sample of that colour
    for (int qy = y - 1; qy <= y; ++qy)
      for (int qx = x - 1; qx <= x; ++qx)
        if (BayerColourAt(mode, qx, qy) == colour) px = qx, py = qy;
    int xx = px == x ? px - 2 : px + 2;
    int yy = py == y ? py - 2 : py + 2;
    int64_t sum = 9 * Sample(px, py) + 3 * Sample(xx, py) + 3 * Sample(px, yy) + Sample(xx, yy);
    int64_t v = (sum * BayerGainFactor(gain)) >> 11;
    return static_cast<int>(std::min<int64_t>(v, Max()));
  }

  int Green(int x, int y) const {
    int total = 0;
    for (int qy = y - 1; qy <= y; ++qy)
      for (int qx = x - 1; qx <= x; ++qx)
        if (BayerColourAt(mode, qx, qy) == 0) total += Sample(qx, qy);
    return std::min(total >> 1, Max());
  }

  // B, G, R of output pixel (x, y).
  void Pixel(int x, int y, int red_gain, int blue_gain, int bgr[3]) const {
    bgr[0] = Channel(x, y, 2, blue_gain);
    bgr[1] = Green(x, y);
    bgr[2] = Channel(x, y, 1, red_gain);
  }
};

}  // namespace reference
