#include "imaging/demosaic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "imaging/simd.h"
#include "reference/demosaic_reference.h"
#include "test_util.h"

using testutil::Get;
using testutil::Set;

namespace {

struct Gains {
  int red = 100, green = 100, blue = 100;
};

// Runs interior and/or border through Transfer, as the pipeline does.
void Demosaic(CDibImage& out, const CDibImage& raw, int mode, Gains g, bool interior = true,
              bool border = true) {
  imaging::BayerRecord rec{mode, g.red, g.green, g.blue};
  void* p = &rec;
  const bool wide = raw.BitCount() == 16;
  if (interior)
    out.Transfer(wide ? imaging::DemosaicInterior16 : imaging::DemosaicInterior8, &raw, nullptr, 0,
                 0, &p, 0);
  if (border)
    out.Transfer(wide ? imaging::DemosaicBorder16 : imaging::DemosaicBorder8, &raw, nullptr, 0, 0,
                 &p, 0);
}

int ColourAt(int mode, int x, int y) { return reference::BayerColourAt(mode, x, y); }

void ExpectMatchesReference(const CDibImage& out, const CDibImage& raw, int mode, Gains g,
                            bool interior_only) {
  const int w = raw.Width(), h = raw.Height();
  const reference::DemosaicReference ref{raw.Pixels(), raw.Stride(), raw.BitCount() == 16 ? 2 : 1,
                                         w, h, mode};
  int mismatches = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool inside = x >= 2 && x <= w - 3 && y >= 2 && y <= h - 3;
      if (interior_only && !inside) continue;
      int bgr[3];
      ref.Pixel(x, y, g.red, g.blue, bgr);
      const int b = bgr[0], gr = bgr[1], r = bgr[2];
      if (Get(out, x, y, 0) != b || Get(out, x, y, 1) != gr || Get(out, x, y, 2) != r) {
        if (++mismatches < 5)
          ADD_FAILURE() << "pixel (" << x << "," << y << ") mode " << mode << " got "
                        << Get(out, x, y, 0) << "," << Get(out, x, y, 1) << "," << Get(out, x, y, 2)
                        << " want " << b << "," << gr << "," << r;
      }
    }
  EXPECT_EQ(mismatches, 0) << w << "x" << h;
}

}  // namespace

TEST(Demosaic, UniformFrameGivesGrayEverywhereBordersIncluded) {
  for (int bits : {8, 16}) {
    CDibImage raw, out;
    ASSERT_EQ(raw.Create(20, 12, static_cast<uint16_t>(bits)), 1);
    ASSERT_EQ(out.Create(20, 12, static_cast<uint16_t>(bits == 8 ? 24 : 48)), 1);
    const int v = bits == 8 ? 173 : 861;
    testutil::Fill(raw, v, 1);
    for (int mode = 0; mode < 4; ++mode) {
      testutil::Fill(out, 0, 3);
      Demosaic(out, raw, mode, {});
      for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x)
          for (int c = 0; c < 3; ++c) ASSERT_EQ(Get(out, x, y, c), v) << x << "," << y;
    }
  }
}

TEST(Demosaic, GainsScaleTheWeightedSumAndClamp) {
  // Mode 0, 8x8: pixel (3, 3) has phases (1, 1); its red taps are s(2,3), s(4,3), s(2,1), s(4,1).
  CDibImage raw, out;
  ASSERT_EQ(raw.Create(8, 8, 8), 1);
  ASSERT_EQ(out.Create(8, 8, 24), 1);
  testutil::Fill(raw, 0, 1);
  Set(raw, 2, 3, 0, 17);                         // P, weight 9
  Set(raw, 4, 3, 0, 5);                          // X, weight 3
  Set(raw, 2, 1, 0, 200);                        // Y, weight 3
  Set(raw, 4, 1, 0, 7);                          // D, weight 1
  const int sum = 9 * 17 + 3 * 5 + 3 * 200 + 7;  // 775
  Demosaic(out, raw, 0, {}, true, false);
  EXPECT_EQ(Get(out, 3, 3, 2), sum / 16);  // 48
  Demosaic(out, raw, 0, {200, 100, 100}, true, false);
  EXPECT_EQ(Get(out, 3, 3, 2), (sum * 256) >> 11);  // 96
  Demosaic(out, raw, 0, {0, 100, 100}, true, false);
  EXPECT_EQ(Get(out, 3, 3, 2), 0);
  // A bright red sample: 9 * 255 * 256 >= 0x80000 clamps at 255.
  Set(raw, 2, 3, 0, 255);
  Set(raw, 4, 3, 0, 255);
  Demosaic(out, raw, 0, {200, 100, 100}, true, false);
  EXPECT_EQ(Get(out, 3, 3, 2), 255);

  CDibImage raw16, out16;
  ASSERT_EQ(raw16.Create(8, 8, 16), 1);
  ASSERT_EQ(out16.Create(8, 8, 64), 1);
  testutil::Fill(raw16, 1000, 1);
  Demosaic(out16, raw16, 0, {200, 100, 100});
  EXPECT_EQ(Get(out16, 3, 3, 2), 1023);
  EXPECT_EQ(Get(out16, 3, 3, 0), 1000);
  EXPECT_EQ(Get(out16, 3, 3, 1), 1000);
}

TEST(Demosaic, BayerModesSwapAndShiftThePattern) {
  // Red sites (mode 0) read 200, blue sites 50, green 100; mode 3 reads the same frame with red
  // and blue exchanged.
  CDibImage raw, out0, out3;
  ASSERT_EQ(raw.Create(12, 10, 8), 1);
  ASSERT_EQ(out0.Create(12, 10, 24), 1);
  ASSERT_EQ(out3.Create(12, 10, 24), 1);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) {
      int c = ColourAt(0, x, y);
      Set(raw, x, y, 0, c == 0 ? 100 : (c == 1 ? 200 : 50));
    }
  Demosaic(out0, raw, 0, {});
  Demosaic(out3, raw, 3, {});
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) {
      EXPECT_EQ(Get(out0, x, y, 2), 200);
      EXPECT_EQ(Get(out0, x, y, 0), 50);
      EXPECT_EQ(Get(out0, x, y, 1), 100);
      EXPECT_EQ(Get(out3, x, y, 2), 50);
      EXPECT_EQ(Get(out3, x, y, 0), 200);
      EXPECT_EQ(Get(out3, x, y, 1), 100);
    }

  // Modes 1, 2 and 3 shift the pattern by a row, a column or both: a random frame cut one row
  // and/or column further in gives the same interior pixels, shifted.
  std::mt19937 rng(5);
  CDibImage big, big_out;
  ASSERT_EQ(big.Create(24, 20, 8), 1);
  ASSERT_EQ(big_out.Create(24, 20, 24), 1);
  testutil::FillRandom(big, rng, 255, 1);
  Demosaic(big_out, big, 0, {150, 100, 80});
  for (int mode = 1; mode < 4; ++mode) {
    const int dy = mode & 1, dx = (mode >> 1) & 1;
    CDibImage cut, out;
    ASSERT_EQ(cut.Create(24 - dx, 20 - dy, 8), 1);
    ASSERT_EQ(out.Create(24 - dx, 20 - dy, 24), 1);
    for (int y = 0; y < cut.Height(); ++y)
      for (int x = 0; x < cut.Width(); ++x) Set(cut, x, y, 0, Get(big, x + dx, y + dy));
    Demosaic(out, cut, mode, {150, 100, 80});
    for (int y = 2; y < cut.Height() - 2; ++y)
      for (int x = 2; x < cut.Width() - 2; ++x)
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(Get(out, x, y, c), Get(big_out, x + dx, y + dy, c)) << mode;
  }
}

TEST(Demosaic, MatchesIndependentReferenceOnRandomFrames) {
  std::mt19937 rng(1234);
  const int sizes[][2] = {{4, 4}, {6, 5}, {8, 8}, {16, 10}, {37, 23}, {64, 48}, {98, 7}, {53, 31}};
  for (int level : {3, 2, 1, 0}) {
    testutil::SimdLevel guard(level);
    for (auto& sz : sizes)
      for (int bits : {8, 16})
        for (int mode = 0; mode < 4; ++mode) {
          CDibImage raw, out;
          ASSERT_EQ(raw.Create(sz[0], sz[1], static_cast<uint16_t>(bits)), 1);
          ASSERT_EQ(out.Create(sz[0], sz[1], static_cast<uint16_t>(bits == 8 ? 24 : 48)), 1);
          testutil::FillRandom(raw, rng, bits == 8 ? 255 : 1023, 1);
          Gains g{static_cast<int>(rng() % 401), 100, static_cast<int>(rng() % 401)};
          Demosaic(out, raw, mode, g);
          ExpectMatchesReference(out, raw, mode, g, false);
        }
  }
}

TEST(Demosaic, InteriorPassLeavesTheBorderAlone) {
  std::mt19937 rng(99);
  for (int bits : {8, 16}) {
    CDibImage raw, out;
    ASSERT_EQ(raw.Create(40, 9, static_cast<uint16_t>(bits)), 1);
    ASSERT_EQ(out.Create(40, 9, static_cast<uint16_t>(bits == 8 ? 32 : 64)), 1);
    testutil::FillRandom(raw, rng, bits == 8 ? 255 : 1023, 1);
    testutil::Fill(out, 77, 4);
    Demosaic(out, raw, 2, {}, true, false);
    ExpectMatchesReference(out, raw, 2, {}, true);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 40; ++x) {
        EXPECT_EQ(Get(out, x, y, 3), 77);  // the fourth channel is never written
        if (x < 2 || x > 37 || y < 2 || y > 6) {
          for (int c = 0; c < 3; ++c) ASSERT_EQ(Get(out, x, y, c), 77) << x << "," << y;
        }
      }
  }
}

TEST(BayerGainMeasurement, GrayAndTintedScenes) {
  CDibImage raw;
  ASSERT_EQ(raw.Create(16, 8, 8), 1);
  testutil::Fill(raw, 90, 1);
  imaging::BayerMeasureRecord m{0, 0, 0, 1};
  void* p = &m;
  EXPECT_EQ(raw.Transfer(imaging::MeasureBayerGains8, &raw, nullptr, 0, 0, &p, 0), 1);
  EXPECT_EQ(m.blue_result, 100);
  EXPECT_EQ(m.green_result, 100);
  EXPECT_EQ(m.red_result, 100);

  // Mode 0: green 100, red 20, blue 50. T = 170; blue = (170/50/3*100)/(170/100/3) = 200,
  // red = 500 (stored as 400).
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      int c = ColourAt(0, x, y);
      Set(raw, x, y, 0, c == 0 ? 100 : (c == 1 ? 20 : 50));
    }
  m = {0, 0, 0, 0};
  EXPECT_EQ(raw.Transfer(imaging::MeasureBayerGains8, &raw, nullptr, 0, 0, &p, 0), 1);
  EXPECT_EQ(m.blue_result, 200);
  EXPECT_EQ(m.red_result, 500);
  int32_t red = 1, green = 1, blue = 1;
  EXPECT_TRUE(imaging::StoreMeasuredGains(1, m, &red, &green, &blue));
  EXPECT_EQ(red, 400);
  EXPECT_EQ(green, 100);
  EXPECT_EQ(blue, 200);

  CDibImage raw16;
  ASSERT_EQ(raw16.Create(16, 8, 16), 1);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      int c = ColourAt(2, x, y);
      Set(raw16, x, y, 0, c == 0 ? 800 : (c == 1 ? 400 : 800));
    }
  m = {0, 0, 0, 2};
  EXPECT_EQ(raw16.Transfer(imaging::MeasureBayerGains16, &raw16, nullptr, 0, 0, &p, 0), 1);
  EXPECT_EQ(m.blue_result, 100);
  EXPECT_EQ(m.red_result, 200);
}

TEST(BayerGainMeasurement, ColourClassWithoutSamplesKeepsThePreviousGains) {
  // A one-row region holds green and one other colour only; a zero blue mean also cannot be
  // divided by.
  CDibImage raw;
  ASSERT_EQ(raw.Create(8, 4, 8), 1);
  testutil::Fill(raw, 60, 1);
  imaging::BayerMeasureRecord m{0, 0, 0, 0};
  void* p = &m;
  imaging::Rect one_row{0, 0, 8, 1};
  EXPECT_EQ(raw.Transfer(imaging::MeasureBayerGains8, &raw, &one_row, 0, 0, &p, 0), 0);
  EXPECT_EQ(m.blue_result, 0);
  EXPECT_EQ(m.red_result, 0);
  int32_t red = 150, green = 100, blue = 70;
  EXPECT_FALSE(imaging::StoreMeasuredGains(0, m, &red, &green, &blue));
  EXPECT_EQ(red, 150);
  EXPECT_EQ(green, 100);
  EXPECT_EQ(blue, 70);

  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      if (ColourAt(0, x, y) == 2) Set(raw, x, y, 0, 0);
  EXPECT_EQ(raw.Transfer(imaging::MeasureBayerGains8, &raw, nullptr, 0, 0, &p, 0), 0);
}

TEST(Demosaic, RegionAndDestinationOffsetsMatchACroppedFrame) {
  // The region starts at column 3, memory row 5 of a larger raw frame and lands at (1, 2) of
  // the destination; it must equal demosaicing the cropped samples on their own.
  std::mt19937 rng(17);
  for (int level : {3, 2, 0})
    for (int bits : {8, 16}) {
      testutil::SimdLevel guard(level);
      const uint16_t out_bits = static_cast<uint16_t>(bits == 8 ? 24 : 48);
      CDibImage big, crop, want, got;
      ASSERT_EQ(big.Create(60, 30, static_cast<uint16_t>(bits)), 1);
      testutil::FillRandom(big, rng, bits == 8 ? 255 : 1023, 1);
      const imaging::Rect region{3, 5, 3 + 41, 5 + 17};
      ASSERT_EQ(crop.Create(41, 17, static_cast<uint16_t>(bits)), 1);
      for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 41; ++x) Set(crop, x, y, 0, Get(big, x + 3, y + 5));
      ASSERT_EQ(want.Create(41, 17, out_bits), 1);
      Demosaic(want, crop, 1, {120, 100, 90});
      ASSERT_EQ(got.Create(44, 20, out_bits), 1);
      imaging::BayerRecord rec{1, 120, 100, 90};
      void* p = &rec;
      auto interior = bits == 8 ? imaging::DemosaicInterior8 : imaging::DemosaicInterior16;
      auto border = bits == 8 ? imaging::DemosaicBorder8 : imaging::DemosaicBorder16;
      for (auto routine : {interior, border})
        routine(got.Pixels(), big.Pixels(), &region, 1, 2, got.BytesPerPixel(), big.BytesPerPixel(),
                got.Stride(), big.Stride(), &p, 0);
      for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 41; ++x)
          for (int c = 0; c < 3; ++c)
            ASSERT_EQ(Get(got, x + 1, y + 2, c), Get(want, x, y, c))
                << x << "," << y << " level " << level;
    }
}
