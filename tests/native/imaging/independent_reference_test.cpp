// The hue/saturation filter, the 16-bit contrast and gamma tables and the monochrome cell gains
// against plain per-pixel references written from the filters' arithmetic, not from the
// library's code, at every SIMD level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "imaging/filters.h"
#include "imaging/gray.h"
#include "test_util.h"

using testutil::Get;
using testutil::Set;

namespace {

// ---- hue and saturation, one 8-bit pixel at a time ----

struct HueReference {
  int32_t a;       // position on the 1530-step colour circle
  int32_t s;       // saturation scale, (t + 256) * 256
  HueReference(int hue, int saturation) : s((saturation + 256) * 256) {
    const int64_t h16 = (static_cast<int64_t>(hue) * 65536 / 360) & 0xFFFF;  // mod 65536
    const int32_t l = static_cast<int32_t>((h16 * 6) >> 8);
    int32_t r = l % 512;
    if (r >= 256) r -= 512;
    const int32_t k = ((l + 256) >> 9) % 3;
    a = r + 510 * k;
    if (a < 0) a += 1530;
    if (a > 1529) a -= 1530;
  }

  static int64_t Gray(int64_t i) { return i * 0x010101; }
  static int64_t Recip(int64_t i) { return i == 0 ? 0 : 0xFF0000 / i; }
  static int64_t Lim(int64_t j) { return j < 256 ? j : 511 - j; }
  int64_t Sat(int64_t i) const { return (i * s + 0x8000) >> 16; }

  void Apply(int& b, int& g, int& r) const {
    static const int64_t kMask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
    static const int64_t kUnit[6] = {-1, 0x100, -0x10000, 1, -0x100, 0x10000};
    const int mx = std::max({b, g, r}), mn = std::min({b, g, r});
    const int64_t j = mx + mn, d = mx - mn;
    const int64_t c = std::min(Lim(j), Sat(d));
    int64_t p_out = Gray((j - c) >> 1);
    if (d != 0) {
      int s0;
      int64_t n;
      if (r >= g && r >= b)
        s0 = 1, n = g - b;
      else if (g >= b)
        s0 = 3, n = b - r;
      else
        s0 = 5, n = r - g;
      if (n < 0) s0 -= 1, n += d;
      int64_t p = ((n * Recip(d) + 0x8000) >> 16) + (a % 255);
      const int index = (s0 + a / 255 + (p > 254 ? 1 : 0)) % 6;
      if (p >= 255) p -= 255;
      const int64_t i = ((j + c) >> 1) - ((j - c) >> 1);
      p_out += (Gray(i) & kMask[index]) + ((p * i + 128) >> 8) * kUnit[index];
    }
    r = static_cast<int>((p_out >> 16) & 0xFF);
    g = static_cast<int>((p_out >> 8) & 0xFF);
    b = static_cast<int>(p_out & 0xFF);
  }
};

// A subsampled colour cube, with the values next to the extremes and the middle.
std::vector<int> CubeLevels() {
  std::vector<int> v;
  for (int i = 0; i <= 255; i += 17) v.push_back(i);
  for (int i : {1, 2, 127, 128, 129, 253, 254}) v.push_back(i);
  return v;
}

const int kHues[] = {0, 1, 45, 119, 120, -90, 200, 359, 360, -360};
const int kSaturations[] = {0, -255, -100, 37, 180, 255};

}  // namespace

TEST(IndependentReference, HueSaturationOnAColourCube) {
  const std::vector<int> levels = CubeLevels();
  const int n = static_cast<int>(levels.size());
  const int count = n * n * n;
  for (uint16_t bpp : {24, 32, 48, 64}) {
    const bool wide = bpp >= 48;
    CDibImage original;
    ASSERT_EQ(original.Create(count, 1, bpp), 1);
    std::mt19937 rng(bpp);
    for (int i = 0; i < count; ++i) {
      const int bgr[3] = {levels[i % n], levels[i / n % n], levels[i / (n * n)]};
      // 10-bit samples carry two low bits the filter drops.
      for (int c = 0; c < 3; ++c) Set(original, i, 0, c, wide ? bgr[c] << 2 | (rng() & 3) : bgr[c]);
      if (bpp == 32 || bpp == 64) Set(original, i, 0, 3, 77);
    }
    for (int hue : kHues)
      for (int sat : kSaturations) {
        const HueReference ref(hue, sat);
        for (int level : {0, 1, 2, 3}) {
          if (!testutil::SimdLevel::Available(level)) continue;
          testutil::SimdLevel guard(level);
          CDibImage img;
          ASSERT_EQ(img.CreateLike(&original), 1);
          testutil::CopyBytes(img, original);
          imaging::HueRecord rec{hue, 0, sat, 10};
          void* p = &rec;
          img.Transfer(wide ? imaging::HueSaturation16 : imaging::HueSaturation8, &img, nullptr, 0,
                       0, &p, 0);
          int mismatches = 0;
          for (int i = 0; i < count && mismatches < 3; ++i) {
            int b = Get(original, i, 0, 0), g = Get(original, i, 0, 1), r = Get(original, i, 0, 2);
            if (wide) b >>= 2, g >>= 2, r >>= 2;
            ref.Apply(b, g, r);
            if (wide) b <<= 2, g <<= 2, r <<= 2;
            const bool ok = Get(img, i, 0, 0) == b && Get(img, i, 0, 1) == g &&
                            Get(img, i, 0, 2) == r &&
                            (bpp == 24 || bpp == 48 || Get(img, i, 0, 3) == 77);
            if (!ok)
              ADD_FAILURE() << ++mismatches << ": " << bpp << " bpp, hue " << hue << " sat " << sat
                            << " level " << level << ": pixel " << Get(original, i, 0, 0) << ","
                            << Get(original, i, 0, 1) << "," << Get(original, i, 0, 2) << " gave "
                            << Get(img, i, 0, 0) << "," << Get(img, i, 0, 1) << ","
                            << Get(img, i, 0, 2) << " want " << b << "," << g << "," << r;
          }
          ASSERT_EQ(mismatches, 0);
        }
      }
  }
}

// Every one of the 2^24 colours, at every SIMD level, for hue and saturation values that reach
// each wrap of the colour circle and both ends of the saturation range: the vector paths take
// their position on the circle from a division and their channel order from lookups, and this
// proves them against the reference for every input they can see.
TEST(IndependentReference, HueSaturationOnEveryColour) {
  const int kCases[][2] = {{45, 40}, {-150, -255}, {359, 255}, {200, -77}};
  for (uint16_t bpp : {24, 32}) {
    // Four-byte pixels share the arithmetic and differ in loads and stores: one case will do.
    CDibImage original;
    ASSERT_EQ(original.Create(256, 256, bpp), 1);
    std::vector<uint8_t> want(256 * 256 * 3);
    for (const auto& hs : kCases) {
      if (bpp == 32 && hs[0] != 45) continue;
      const HueReference ref(hs[0], hs[1]);
      imaging::HueRecord rec{hs[0], 0, hs[1], 8};
      for (int blue = 0; blue < 256; ++blue) {
        for (int i = 0; i < 256 * 256; ++i) {
          int b = blue, g = i & 0xFF, r = i >> 8;
          Set(original, i & 0xFF, i >> 8, 0, b);
          Set(original, i & 0xFF, i >> 8, 1, g);
          Set(original, i & 0xFF, i >> 8, 2, r);
          if (bpp == 32) Set(original, i & 0xFF, i >> 8, 3, 77);
          ref.Apply(b, g, r);
          want[3 * i] = static_cast<uint8_t>(b), want[3 * i + 1] = static_cast<uint8_t>(g),
          want[3 * i + 2] = static_cast<uint8_t>(r);
        }
        for (int level : {0, 1, 2, 3}) {
          if (!testutil::SimdLevel::Available(level)) continue;
          testutil::SimdLevel guard(level);
          CDibImage img;
          ASSERT_EQ(img.CreateLike(&original), 1);
          testutil::CopyBytes(img, original);
          void* p = &rec;
          img.Transfer(imaging::HueSaturation8, &img, nullptr, 0, 0, &p, 0);
          for (int i = 0; i < 256 * 256; ++i) {
            const int x = i & 0xFF, y = i >> 8;
            if (Get(img, x, y, 0) != want[3 * i] || Get(img, x, y, 1) != want[3 * i + 1] ||
                Get(img, x, y, 2) != want[3 * i + 2] || (bpp == 32 && Get(img, x, y, 3) != 77))
              FAIL() << bpp << " bpp, hue " << hs[0] << " sat " << hs[1] << " level " << level
                     << ": colour " << blue << "," << x << "," << y << " gave " << Get(img, x, y, 0)
                     << "," << Get(img, x, y, 1) << "," << Get(img, x, y, 2) << " want "
                     << int{want[3 * i]} << "," << int{want[3 * i + 1]} << "," << int{want[3 * i + 2]};
          }
        }
      }
    }
  }
}

TEST(IndependentReference, WideContrastAndGammaTables) {
  // Entry i of an N-entry table (N = 2^bits), every sample below N read back through the filter.
  for (int bits : {10, 12}) {
    const int n = 1 << bits;
    CDibImage ramp;
    ASSERT_EQ(ramp.Create(n, 1, 48), 1);
    for (int i = 0; i < n; ++i)
      for (int c = 0; c < 3; ++c) Set(ramp, i, 0, c, i);
    auto run = [&](imaging::RowRoutine routine, int value, CDibImage& out) {
      ASSERT_EQ(out.CreateLike(&ramp), 1);
      testutil::CopyBytes(out, ramp);
      imaging::FilterRecord rec{value, bits};
      void* p = &rec;
      out.Transfer(routine, &out, nullptr, 0, 0, &p, 0);
    };
    for (int c : {-127, -50, -1, 1, 64, 127}) {
      // q = c x 2^(bits - 8); 0 below q, N - 1 above N - 1 - q, else trunc(N / (N - 2q) x (i - q)).
      const int64_t q = static_cast<int64_t>(c) * (1 << (bits - 8));
      CDibImage out;
      run(imaging::ContrastColor16, c, out);
      for (int i = 0; i < n; ++i) {
        int64_t want;
        if (i < q)
          want = 0;
        else if (i > n - 1 - q)
          want = n - 1;
        else
          want = static_cast<int64_t>(static_cast<double>(n) / static_cast<double>(n - 2 * q) *
                                      static_cast<double>(i - q));
        ASSERT_EQ(Get(out, i, 0, 1), want) << "contrast " << c << " bits " << bits << " at " << i;
      }
    }
    for (int g : {0, 1, 50, 99, 100, 101, 150, 200}) {
      // e = g > 100 ? (g - 100) / 10 + 1 : g / 100; entry trunc(pow(i / N, e) x (N - 1)).
      const double e = g > 100 ? (g - 100) / 10.0 + 1.0 : g / 100.0;
      CDibImage out;
      run(imaging::GammaColor16, g, out);
      for (int i = 0; i < n; ++i) {
        const int want = static_cast<int>(std::pow(static_cast<double>(i) / n, e) * (n - 1));
        ASSERT_EQ(Get(out, i, 0, 2), want) << "gamma " << g << " bits " << bits << " at " << i;
      }
    }
  }
}

TEST(IndependentReference, CellGainsPerCellOfEveryBayerMode) {
  // v = offset + (gain x s) / 128 truncating toward zero, clamped to 0..M; the cell from the row
  // and column phase of each pixel.
  std::mt19937 rng(88);
  for (int bits : {8, 10, 12}) {
    const int top = (1 << bits) - 1;
    for (int mode = 0; mode < 4; ++mode) {
      CDibImage img;
      ASSERT_EQ(img.Create(24, 7, static_cast<uint16_t>(bits == 8 ? 8 : 16)), 1);
      testutil::FillRandom(img, rng, top, 1);
      CDibImage original;
      ASSERT_EQ(original.CreateLike(&img), 1);
      testutil::CopyBytes(original, img);
      auto draw = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
      // Gains R, G1, G2, B and offsets R, G1, G2, B as the record orders them.
      imaging::GrayRecord rec{mode,          draw(0, 255),  draw(0, 255), draw(0, 255),
                              draw(0, 255),  draw(-255, 255), draw(-255, 255),
                              draw(-255, 255), draw(-255, 255), bits};
      void* p = &rec;
      img.Transfer(bits == 8 ? imaging::CellGain8 : imaging::CellGain16, &img, nullptr, 0, 0, &p,
                   0);
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 24; ++x) {
          const int rp = (mode & 1) ^ (y & 1), cp = ((mode >> 1) & 1) ^ (x & 1);
          int gain, offset;
          if (rp == 0 && cp == 0)
            gain = rec.gain_g1, offset = rec.offset_g1;
          else if (rp == 0)
            gain = rec.gain_r, offset = rec.offset_r;
          else if (cp == 0)
            gain = rec.gain_b, offset = rec.offset_b;
          else
            gain = rec.gain_g2, offset = rec.offset_g2;
          const int v = offset + gain * Get(original, x, y) / 128;
          ASSERT_EQ(Get(img, x, y), std::clamp(v, 0, top))
              << "bits " << bits << " mode " << mode << " at " << x << "," << y;
        }
    }
  }
}
