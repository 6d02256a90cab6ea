// Independent per-pixel references for the frame conversion, written for tests without using
// the library: cell gains and the gray balance measurement, colour to gray, the five filters,
// the white balance measurement, and the whole conversion of one frame. Images are plain
// vectors of samples in memory row order; nothing here is fast.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "reference/demosaic_reference.h"

namespace reference {

// w x h pixels of `channels` samples each, row 0 first.
struct Plane {
  int w = 0, h = 0, channels = 1;
  std::vector<int> v;

  Plane() = default;
  Plane(int width, int height, int ch) : w(width), h(height), channels(ch), v(size_t(width) * height * ch) {}
  int& At(int x, int y, int c = 0) { return v[(size_t(y) * w + x) * channels + c]; }
  int At(int x, int y, int c = 0) const { return v[(size_t(y) * w + x) * channels + c]; }
};

// Largest sample for a bits-per-sample setting.
inline int MaxOf(int bits) {
  switch (bits) {
    case 8: return 255;
    case 10: return 1023;
    case 12: return 4095;
    case 14: return 16383;
    default: return 65535;
  }
}

// Gray cell of a pixel: 0 R, 1 G1, 2 G2, 3 B (the order of the gain arrays below).
inline int CellAt(int mode, int x, int y) {
  int row_phase = (mode & 1) ^ (y & 1);
  int column_phase = ((mode >> 1) & 1) ^ (x & 1);
  if (row_phase == 0) return column_phase == 0 ? 1 : 0;
  return column_phase == 0 ? 3 : 2;
}

inline int ClampTo(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// offset + gain x s / 128 per cell, clamped to 0..max.
inline void CellGains(Plane& raw, int mode, const int gains[4], const int offsets[4], int max) {
  for (int y = 0; y < raw.h; ++y)
    for (int x = 0; x < raw.w; ++x) {
      int cell = CellAt(mode, x, y);
      int64_t v = offsets[cell] + (int64_t(gains[cell]) * raw.At(x, y)) / 128;
      raw.At(x, y) = int(std::min<int64_t>(std::max<int64_t>(v, 0), max));
    }
}

// Gains that even out a flat scene, leaving out samples at 0 and at max. False when a cell has
// no usable sample (gains untouched).
inline bool GrayBalance(const Plane& raw, int mode, int max, int gains[4]) {
  int64_t sum[4] = {}, count[4] = {};
  for (int y = 0; y < raw.h; ++y)
    for (int x = 0; x < raw.w; ++x) {
      int s = raw.At(x, y);
      if (s == 0 || s == max) continue;
      int cell = CellAt(mode, x, y);
      sum[cell] += s;
      ++count[cell];
    }
  double mean[4], top = 0;
  for (int i = 0; i < 4; ++i) {
    if (count[i] == 0) return false;
    mean[i] = double(sum[i]) / double(count[i]);
    top = std::max(top, mean[i]);
  }
  for (int i = 0; i < 4; ++i) {
    volatile double ratio = top / mean[i];
    volatile double scaled = ratio * 128;
    gains[i] = int(scaled);
  }
  return true;
}

inline int ColorToGray(int b, int g, int r) { return (59 * g + 30 * r + 11 * b) / 100; }

// White balance: results for red, green (100) and blue; false when a colour class is empty or
// dark (the gains then stay).
inline bool WhiteBalance(const Plane& raw, int mode, int results[3]) {
  double sum[3] = {}, count[3] = {};  // green, red, blue
  for (int y = 0; y < raw.h; ++y)
    for (int x = 0; x < raw.w; ++x) {
      int c = BayerColourAt(mode, x, y);
      sum[c] += raw.At(x, y);
      count[c] += 1;
    }
  for (int c = 0; c < 3; ++c)
    if (count[c] == 0 || sum[c] == 0) return false;
  volatile double gm = sum[0] / count[0], rm = sum[1] / count[1], bm = sum[2] / count[2];
  volatile double t = gm + bm + rm;
  volatile double green_term = t / gm / 3;
  volatile double blue = t / bm / 3 * 100;
  volatile double red = t / rm / 3 * 100;
  volatile double blue_q = blue / green_term;
  volatile double red_q = red / green_term;
  results[0] = int(red_q);
  results[1] = 100;
  results[2] = int(blue_q);
  return true;
}

// Brightness factor: 1 - |v|/255 below zero, 1 + 10 v/255 above, in single precision.
inline float BrightnessFactor(int v) {
  volatile double one_step = v < 0 ? 1.0 / 255 : 10.0 / 255;
  volatile double f = v < 0 ? 1.0 - std::abs(v) * one_step : 1.0 + v * one_step;
  volatile float single = float(f);
  return single;
}

inline int Brightness(int s, int v, int max) {
  volatile float f = BrightnessFactor(v);
  volatile float product = float(s) * f;
  float p = product;
  if (p < 0) return 0;
  if (p >= float(max)) return max;
  return ClampTo(int(p), 0, max);
}

// Contrast table entry of i for value c; wide: 10-bit samples.
inline int Contrast(int i, int c, bool wide) {
  const int m = wide ? 1024 : 256;
  const int q = wide ? c * 4 : c;
  if (q > m / 2 - 1) return 0;
  if (i < q) return 0;
  if (i > m - 1 - q) return m - 1;
  volatile double scale = double(m) / double(m - 2 * q);
  volatile double v = scale * double(i - q);
  return int(v);
}

// Gamma table entry of i for value g. clamp_exponent: the 24/32-bit member.
inline int Gamma(int i, int g, bool wide, bool clamp_exponent) {
  double e = g > 100 ? (g - 100) / 10.0 + 1 : g / 100.0;
  if (clamp_exponent) e = std::min(std::max(e, 0.001), 99.999);
  if (!wide) {
    volatile double p = std::pow(i / 255.0, e) * 255;
    return int(p);
  }
  volatile double p = std::pow(i / 1024.0, e) * 1023;
  return int(p);
}

// Sharpening of one channel plane in place: interior pixels move away from their 4 x 4 mean.
inline void Sharpen(Plane& img, int k, int max) {
  const Plane src = img;
  for (int c = 0; c < img.channels; ++c)
    for (int y = 2; y <= img.h - 3; ++y)
      for (int x = 2; x <= img.w - 3; ++x) {
        int sum = 0;
        for (int yy = y - 2; yy <= y + 1; ++yy)
          for (int xx = x - 2; xx <= x + 1; ++xx) sum += src.At(xx, yy, c);
        int s = src.At(x, y, c);
        int d = s - (sum >> 4);
        img.At(x, y, c) = ClampTo(s + (k * d) / 10, 0, max);
      }
}

// Position of a hue (degrees) on the circle of 1530 steps.
inline int HuePosition(int h) {
  int h16 = (h * 65536) / 360;
  h16 = ((h16 % 65536) + 65536) % 65536;
  int l = (h16 * 6) >> 8;
  int r = l % 512;
  if (r >= 256) r -= 512;
  int k = ((l + 256) >> 9) % 3;
  int a = r + 510 * k;
  if (a < 0) a += 1530;
  if (a > 1529) a -= 1530;
  return a;
}

// Hue and saturation of one 8-bit B, G, R pixel in place.
inline void HueSaturation(int bgr[3], int h, int t) {
  static const int64_t kMask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
  static const int64_t kUnit[6] = {-1, 0x100, -0x10000, 1, -0x100, 0x10000};
  auto gray = [](int64_t i) { return i * 0x010101; };
  auto recip = [](int64_t i) -> int64_t { return i == 0 ? 0 : 0xFF0000 / i; };
  auto lim = [](int j) { return j < 256 ? j : 511 - j; };
  auto sat = [t](int i) { return int((int64_t(i) * ((t + 256) * 256) + 0x8000) >> 16); };
  const int a = HuePosition(h);
  const int b = bgr[0], g = bgr[1], r = bgr[2];
  const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const int j = mx + mn, d = mx - mn;
  const int c = std::min(lim(j), sat(d));
  int64_t p_out = gray((j - c) >> 1);
  if (d != 0) {
    int s0, n;
    if (r >= g && r >= b) {
      s0 = 1;
      n = g - b;
    } else if (g >= b) {
      s0 = 3;
      n = b - r;
    } else {
      s0 = 5;
      n = r - g;
    }
    if (n < 0) {
      s0 -= 1;
      n += d;
    }
    int64_t p = ((n * recip(d) + 0x8000) >> 16) + (a % 255);
    int index = (s0 + a / 255 + (p > 254 ? 1 : 0)) % 6;
    if (p >= 255) p -= 255;
    int64_t i = ((j + c) >> 1) - ((j - c) >> 1);
    p_out += (gray(i) & kMask[index]) + ((p * i + 128) >> 8) * kUnit[index];
  }
  bgr[2] = int((p_out >> 16) & 0xFF);
  bgr[1] = int((p_out >> 8) & 0xFF);
  bgr[0] = int(p_out & 0xFF);
}

// Settings of one conversion (gray cells in the order R, G1, G2, B; Bayer gains red, green,
// blue).
struct Settings {
  int color_type = 2;
  int bayer_mode = 2;
  int gray_mode = 0;
  int gray_gain[4] = {128, 128, 128, 128};
  int gray_offset[4] = {0, 0, 0, 0};
  int bayer_gain[3] = {100, 100, 100};
  int white_balance = 0;  // measure the Bayer gains first
  int gray_balance = 0;   // measure the gray gains first
  int hue = 0, saturation = 0, gamma = 100, contrast = 0, sharpness = 0, brightness = 0;
};

// Demosaic a raw plane (10-bit samples when wide) into B, G, R.
inline Plane Demosaic(const Plane& raw, int mode, int red_gain, int blue_gain, bool wide) {
  std::vector<uint8_t> bytes(size_t(raw.w) * raw.h * 2);
  for (size_t i = 0; i < raw.v.size(); ++i) {
    bytes[2 * i] = uint8_t(raw.v[i] & 0xFF);
    bytes[2 * i + 1] = uint8_t(raw.v[i] >> 8);
  }
  DemosaicReference ref{bytes.data(), ptrdiff_t(raw.w) * 2, 2, raw.w, raw.h, mode};
  Plane out(raw.w, raw.h, 3);
  const int max = wide ? 1023 : 255;
  for (int y = 0; y < raw.h; ++y)
    for (int x = 0; x < raw.w; ++x) {
      int bgr[3];
      ref.Pixel(x, y, red_gain, blue_gain, bgr);
      for (int c = 0; c < 3; ++c) out.At(x, y, c) = std::min(bgr[c], max);
    }
  return out;
}

// The whole conversion of one raw frame (memory row order) for a colour type; `s` receives
// the measured gains. Colour types 0/1 give one channel, the others B, G, R.
inline Plane Convert(const Plane& raw_in, Settings& s) {
  const int type = s.color_type;
  const bool wide = type == 1 || type == 4 || type == 5;
  const int max = wide ? 1023 : 255;
  Plane raw = raw_in;
  Plane out;
  auto white_balance = [&]() {
    if (!s.white_balance) return;
    int results[3];
    if (WhiteBalance(raw, s.bayer_mode, results))
      for (int c = 0; c < 3; ++c) s.bayer_gain[c] = std::min(results[c], 400);
  };
  if (type <= 1) {
    if (s.gray_mode == 1) {
      if (s.gray_balance) GrayBalance(raw, s.bayer_mode, max, s.gray_gain);
      bool neutral = true;
      for (int g : s.gray_gain) neutral = neutral && g == 128;
      if (!neutral) CellGains(raw, s.bayer_mode, s.gray_gain, s.gray_offset, max);
    } else if (s.gray_mode == 2 && type == 0) {
      white_balance();
      Plane rgb = Demosaic(raw, s.bayer_mode, s.bayer_gain[0], s.bayer_gain[2], false);
      for (int y = 0; y < raw.h; ++y)
        for (int x = 0; x < raw.w; ++x)
          raw.At(x, y) = ColorToGray(rgb.At(x, y, 0), rgb.At(x, y, 1), rgb.At(x, y, 2));
    }
    out = raw;
  } else {
    white_balance();
    out = Demosaic(raw, s.bayer_mode, s.bayer_gain[0], s.bayer_gain[2], wide);
  }
  if (type >= 2 && (s.hue != 0 || s.saturation != 0)) {
    const int shift = wide ? 2 : 0;
    for (int y = 0; y < out.h; ++y)
      for (int x = 0; x < out.w; ++x) {
        int bgr[3];
        for (int c = 0; c < 3; ++c) bgr[c] = out.At(x, y, c) >> shift;
        HueSaturation(bgr, s.hue, s.saturation);
        for (int c = 0; c < 3; ++c) out.At(x, y, c) = bgr[c] << shift;
      }
  }
  if (s.gamma != 100)
    for (int& v : out.v) v = Gamma(v, s.gamma, wide, type == 2 || type == 3);
  if (s.contrast != 0)
    for (int& v : out.v) v = std::min(Contrast(v, s.contrast, wide), max);
  if (s.sharpness != 0) Sharpen(out, s.sharpness, max);
  if (s.brightness != 0)
    for (int& v : out.v) v = Brightness(v, s.brightness, max);
  return out;
}

}  // namespace reference
