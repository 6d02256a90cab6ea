#include "imaging/filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

#include "imaging/simd.h"
#include "test_util.h"

using testutil::Get;
using testutil::Set;

namespace {

int Apply(imaging::RowRoutine routine, CDibImage& img, int value, int bits = 10) {
  imaging::FilterRecord rec{value, bits};
  void* p = &rec;
  return img.Transfer(routine, &img, nullptr, 0, 0, &p, 0);
}

void RunHue(imaging::RowRoutine routine, CDibImage& img, int hue, int saturation) {
  imaging::HueRecord rec{hue, 0, saturation, 10};
  void* p = &rec;
  img.Transfer(routine, &img, nullptr, 0, 0, &p, 0);
}

void Sharpen(imaging::RowRoutine routine, CDibImage& out, const CDibImage& scratch, int k) {
  imaging::FilterRecord rec{k, 10};
  void* p = &rec;
  out.Transfer(routine, &scratch, nullptr, 0, 0, &p, 0);
}

// One row of 256 pixels holding 0..255, to read a table back.
void Ramp(CDibImage& img, uint16_t bits, int channels) {
  img.Create(256, 1, bits);
  for (int i = 0; i < 256; ++i)
    for (int c = 0; c < channels; ++c) Set(img, i, 0, c, i);
}


}  // namespace

TEST(Brightness, ExtremesAndScaling) {
  for (bool simd : {true, false}) {
    testutil::SimdLevel guard(simd ? 3 : 0);
    CDibImage img;
    Ramp(img, 24, 3);
    Apply(imaging::BrightnessColor8, img, -255);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(Get(img, i, 0, 1), 0);
    Ramp(img, 24, 3);
    Apply(imaging::BrightnessColor8, img, 255);
    EXPECT_EQ(Get(img, 0, 0, 0), 0);
    EXPECT_EQ(Get(img, 23, 0, 2), 253);  // 23 x 11
    EXPECT_EQ(Get(img, 24, 0, 2), 255);
    Ramp(img, 8, 1);
    Apply(imaging::BrightnessMono8, img, -128);
    // f = 1 - 128/255 in single precision.
    EXPECT_EQ(Get(img, 255, 0), 127);
    EXPECT_EQ(Get(img, 100, 0), 49);
  }
  CDibImage wide;
  ASSERT_EQ(wide.Create(4, 1, 64), 1);
  Set(wide, 0, 0, 0, 93);
  Set(wide, 1, 0, 1, 94);
  Set(wide, 2, 0, 3, 500);
  Apply(imaging::BrightnessColor16, wide, 255);
  EXPECT_EQ(Get(wide, 0, 0, 0), 1023);  // 93 x 11 = 1023
  EXPECT_EQ(Get(wide, 1, 0, 1), 1023);  // clamped
  EXPECT_EQ(Get(wide, 2, 0, 3), 500);   // fourth word untouched
}

TEST(Contrast, Plus127AndMinus127) {
  CDibImage img;
  Ramp(img, 8, 1);
  Apply(imaging::ContrastMono8, img, 127);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(Get(img, i, 0), i < 128 ? 0 : (i == 128 ? 128 : 255));
  Ramp(img, 32, 3);
  Set(img, 5, 0, 3, 42);
  Apply(imaging::ContrastColor8, img, -127);
  EXPECT_EQ(Get(img, 0, 0, 0), 63);
  EXPECT_EQ(Get(img, 255, 0, 2), 191);
  EXPECT_EQ(Get(img, 100, 0, 1), 113);  // trunc(256/510 x 227)
  EXPECT_EQ(Get(img, 5, 0, 3), 42);

  // 16-bit: q = 127 x 4 on 1024 entries; samples of 1024 or more become 1023.
  CDibImage wide;
  ASSERT_EQ(wide.Create(4, 1, 16), 1);
  Set(wide, 0, 0, 0, 507);
  Set(wide, 1, 0, 0, 512);
  Set(wide, 2, 0, 0, 517);
  Set(wide, 3, 0, 0, 2000);
  Apply(imaging::ContrastMono16, wide, 127);
  EXPECT_EQ(Get(wide, 0, 0), 0);
  EXPECT_EQ(Get(wide, 1, 0), 512);  // trunc(1024/8 x 4)
  EXPECT_EQ(Get(wide, 2, 0), 1023);
  EXPECT_EQ(Get(wide, 3, 0), 1023);
}

TEST(Contrast, ValuesFarOutsideTheSettingRangeFollowTheFormula) {
  // Entry i: 0 below q, M - 1 above M - 1 - q, else trunc(M / (M - 2q) x (i - q)) in double;
  // no value may overflow on the way (q = c x 4 for 10-bit samples).
  auto entry = [](int64_t q, int64_t m, int64_t i) -> int {
    if (q > m / 2 - 1) return 0;
    if (i < q) return 0;
    if (i > m - 1 - q) return static_cast<int>(m - 1);
    const double slope = static_cast<double>(m) / static_cast<double>(m - 2 * q);
    return static_cast<int>(slope * static_cast<double>(i - q));
  };
  for (int c : {INT32_MIN, INT32_MIN + 1, -1000000000, -300, -129, 130, 1000, INT32_MAX}) {
    CDibImage img;
    Ramp(img, 8, 1);
    Apply(imaging::ContrastMono8, img, c);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(Get(img, i, 0), entry(c, 256, i)) << c << " at " << i;
    CDibImage wide;
    ASSERT_EQ(wide.Create(1024, 1, 16), 1);
    for (int i = 0; i < 1024; ++i) Set(wide, i, 0, 0, i);
    Apply(imaging::ContrastMono16, wide, c, 10);
    for (int i = 0; i < 1024; ++i)
      ASSERT_EQ(Get(wide, i, 0), entry(int64_t{c} * 4, 1024, i)) << c << " at " << i;
  }
  CDibImage img;
  Ramp(img, 8, 1);
  Apply(imaging::ContrastMono8, img, INT32_MIN);
  EXPECT_EQ(Get(img, 0, 0), 127);  // the range pressed into its middle
  EXPECT_EQ(Get(img, 255, 0), 128);
}

TEST(Gamma, ExponentTablesPerMember) {
  CDibImage img;
  Ramp(img, 8, 1);
  Apply(imaging::GammaMono8, img, 200);
  EXPECT_EQ(Get(img, 255, 0), 255);
  EXPECT_EQ(Get(img, 128, 0), 0);
  EXPECT_EQ(Get(img, 240, 0), 130);  // trunc((240/255)^11 x 255)
  Ramp(img, 8, 1);
  Apply(imaging::GammaMono8, img, 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(Get(img, i, 0), 255);
  // The colour member clamps the exponent to 0.001: 0 stays 0.
  Ramp(img, 24, 3);
  Apply(imaging::GammaColor8, img, 0);
  EXPECT_EQ(Get(img, 0, 0, 0), 0);
  EXPECT_EQ(Get(img, 1, 0, 1), 253);
  EXPECT_EQ(Get(img, 255, 0, 2), 255);
  Ramp(img, 24, 3);
  Apply(imaging::GammaColor8, img, 50);
  EXPECT_EQ(Get(img, 64, 0, 0), 127);  // trunc(sqrt(64/255) x 255)

  // 16-bit: divisor N, scale N - 1.
  CDibImage wide;
  ASSERT_EQ(wide.Create(3, 1, 48), 1);
  Set(wide, 0, 0, 0, 1023);
  Set(wide, 1, 0, 1, 512);
  Set(wide, 2, 0, 2, 5000);
  Apply(imaging::GammaColor16, wide, 100);
  EXPECT_EQ(Get(wide, 0, 0, 0), 1022);
  EXPECT_EQ(Get(wide, 1, 0, 1), 511);
  EXPECT_EQ(Get(wide, 2, 0, 2), 1022);  // out-of-range sample reads the top entry
}

TEST(Sharpen, FlatImageUnchangedEdgeOvershoots) {
  CDibImage img, scratch;
  ASSERT_EQ(img.Create(8, 8, 8), 1);
  ASSERT_EQ(scratch.Create(8, 8, 8), 1);
  testutil::Fill(img, 90, 1);
  testutil::CopyBytes(scratch, img);
  Sharpen(imaging::SharpenMono8, img, scratch, 30);
  EXPECT_TRUE(testutil::SameBytes(img, scratch));

  // Columns 0..3 read 100, 4..7 read 160.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) Set(img, x, y, 0, x < 4 ? 100 : 160);
  testutil::CopyBytes(scratch, img);
  Sharpen(imaging::SharpenMono8, img, scratch, 7);
  // x = 3: blur (3 x 100 + 160) x 4 / 16 = 115, 100 + (7 x -15) / 10 = 100 - 10 (toward zero).
  EXPECT_EQ(Get(img, 3, 4), 90);
  // x = 4: blur 130, 160 + 21; x = 5: blur 145, 160 + 10.
  EXPECT_EQ(Get(img, 4, 4), 181);
  EXPECT_EQ(Get(img, 5, 4), 170);
  // The two outermost rows and columns keep the destination's content.
  EXPECT_EQ(Get(img, 1, 4), 100);
  EXPECT_EQ(Get(img, 6, 4), 160);
  testutil::CopyBytes(img, scratch);
  Sharpen(imaging::SharpenMono8, img, scratch, 30);
  EXPECT_EQ(Get(img, 4, 4), 250);  // 160 + 90
  EXPECT_EQ(Get(img, 3, 3), 55);   // 100 - 45

  CDibImage wide, wide_scratch;
  ASSERT_EQ(wide.Create(8, 8, 48), 1);
  ASSERT_EQ(wide_scratch.Create(8, 8, 48), 1);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) Set(wide, x, y, 1, x < 4 ? 0 : 1000);
  testutil::CopyBytes(wide_scratch, wide);
  Sharpen(imaging::SharpenColor16, wide, wide_scratch, 30);
  EXPECT_EQ(Get(wide, 4, 4, 1), 1023);  // 1000 + 3 x 500, clamped
  EXPECT_EQ(Get(wide, 3, 4, 1), 0);
  EXPECT_EQ(Get(wide, 4, 4, 0), 0);
}

TEST(Sharpen, SameBufferAsSourceGivesTheResultOfASeparateCopy) {
  // Writing into the rows it reads would feed sharpened samples into the next rows' blur.
  std::mt19937 rng(41);
  const struct {
    imaging::RowRoutine routine;
    uint16_t bits;
    int max;
    int channels;
  } cases[] = {{imaging::SharpenMono8, 8, 255, 1},
               {imaging::SharpenColor8, 32, 255, 3},
               {imaging::SharpenMono16, 16, 1023, 1},
               {imaging::SharpenColor16, 48, 1023, 3}};
  for (const auto& c : cases)
    for (bool simd : {true, false}) {
      testutil::SimdLevel guard(simd ? 3 : 0);
      CDibImage in_place, separate, scratch;
      ASSERT_EQ(in_place.Create(38, 11, c.bits), 1);
      testutil::FillRandom(in_place, rng, c.max, c.channels);
      ASSERT_EQ(separate.CreateLike(&in_place), 1);
      ASSERT_EQ(scratch.CreateLike(&in_place), 1);
      testutil::CopyBytes(separate, in_place);
      testutil::CopyBytes(scratch, in_place);
      Sharpen(c.routine, separate, scratch, 23);
      Sharpen(c.routine, in_place, in_place, 23);
      EXPECT_TRUE(testutil::SameBytes(in_place, separate)) << c.bits << " bpp, simd " << simd;
      ASSERT_FALSE(testutil::SameBytes(separate, scratch));  // the filter did something
    }
}

TEST(HueSaturation, WorkedExamples) {
  CDibImage img;
  ASSERT_EQ(img.Create(2, 1, 24), 1);
  Set(img, 0, 0, 2, 255);  // pure red
  Set(img, 1, 0, 0, 100), Set(img, 1, 0, 1, 100), Set(img, 1, 0, 2, 150);
  CDibImage copy;
  copy.CreateLike(&img);
  testutil::CopyBytes(copy, img);
  RunHue(imaging::HueSaturation8, img, 120, 0);
  EXPECT_EQ(Get(img, 0, 0, 2), 2);
  EXPECT_EQ(Get(img, 0, 0, 1), 255);
  EXPECT_EQ(Get(img, 0, 0, 0), 0);
  // Saturation +255 doubles the chroma of (B 100, G 100, R 150): base 75, level 100.
  testutil::CopyBytes(img, copy);
  RunHue(imaging::HueSaturation8, img, 0, 255);
  EXPECT_EQ(Get(img, 1, 0, 0), 75);
  EXPECT_EQ(Get(img, 1, 0, 1), 75);
  EXPECT_EQ(Get(img, 1, 0, 2), 175);

  CDibImage wide;
  ASSERT_EQ(wide.Create(1, 1, 64), 1);
  Set(wide, 0, 0, 2, 1020);
  Set(wide, 0, 0, 3, 7);
  RunHue(imaging::HueSaturation16, wide, 120, 0);
  EXPECT_EQ(Get(wide, 0, 0, 2), 8);
  EXPECT_EQ(Get(wide, 0, 0, 1), 1020);
  EXPECT_EQ(Get(wide, 0, 0, 0), 0);
  EXPECT_EQ(Get(wide, 0, 0, 3), 7);
}

TEST(HueSaturation, Hue360EqualsHue0AndSaturationExtremes) {
  std::mt19937 rng(3);
  CDibImage a, b;
  ASSERT_EQ(a.Create(64, 16, 32), 1);
  testutil::FillRandomBytes(a, rng);
  b.CreateLike(&a);
  testutil::CopyBytes(b, a);
  RunHue(imaging::HueSaturation8, a, 360, 40);
  RunHue(imaging::HueSaturation8, b, 0, 40);
  EXPECT_TRUE(testutil::SameBytes(a, b));
  EXPECT_EQ(imaging::HueShift(-360), imaging::HueShift(0));
  EXPECT_EQ(imaging::HueShift(120), 509);

  testutil::FillRandomBytes(a, rng);
  testutil::CopyBytes(b, a);
  RunHue(imaging::HueSaturation8, a, 0, -255);
  int within = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x) {
      int v[3] = {Get(a, x, y, 0), Get(a, x, y, 1), Get(a, x, y, 2)};
      EXPECT_LE(*std::max_element(v, v + 3) - *std::min_element(v, v + 3), 1);
      within += Get(a, x, y, 3) == Get(b, x, y, 3);
    }
  EXPECT_EQ(within, 64 * 16);  // the fourth byte is untouched

  // Hue 0 and saturation 0 reproduce every colour within rounding.
  testutil::CopyBytes(a, b);
  RunHue(imaging::HueSaturation8, a, 0, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(Get(a, x, y, c), Get(b, x, y, c), 1);
}

TEST(HueSaturation, SharedTablesSurviveTwoInstancesAtOnce) {
  std::mt19937 rng(11);
  CDibImage src;
  ASSERT_EQ(src.Create(96, 32, 24), 1);
  testutil::FillRandomBytes(src, rng);
  CDibImage want[2];
  const int sat[2] = {-100, 180};
  for (int i = 0; i < 2; ++i) {
    want[i].CreateLike(&src);
    testutil::CopyBytes(want[i], src);
    RunHue(imaging::HueSaturation8, want[i], 45, sat[i]);
  }
  bool ok[2] = {true, true};
  auto worker = [&](int i) {
    CDibImage img;
    img.CreateLike(&src);
    for (int round = 0; round < 200; ++round) {
      testutil::CopyBytes(img, src);
      RunHue(imaging::HueSaturation8, img, 45, sat[i]);
      if (!testutil::SameBytes(img, want[i])) ok[i] = false;
    }
  };
  std::thread t0(worker, 0), t1(worker, 1);
  t0.join();
  t1.join();
  EXPECT_TRUE(ok[0]);
  EXPECT_TRUE(ok[1]);
}

TEST(Sharpen, WideMembersMatchThePlainFormulaOnRandomFrames) {
  std::mt19937 rng(8);
  for (uint16_t bits : {16, 48, 64}) {
    const int channels = bits == 16 ? 1 : 3;
    const imaging::RowRoutine routine =
        bits == 16 ? imaging::SharpenMono16 : imaging::SharpenColor16;
    CDibImage scratch, out;
    ASSERT_EQ(scratch.Create(13, 9, bits), 1);
    testutil::FillRandom(scratch, rng, 1023, bits == 64 ? 4 : channels);
    out.CreateLike(&scratch);
    testutil::CopyBytes(out, scratch);
    const int k = 17;
    Sharpen(routine, out, scratch, k);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 13; ++x)
        for (int c = 0; c < (bits == 64 ? 4 : channels); ++c) {
          int want = Get(scratch, x, y, c);
          if (c < 3 && x >= 2 && x <= 10 && y >= 2 && y <= 6) {
            int sum = 0;
            for (int dy = -2; dy <= 1; ++dy)
              for (int dx = -2; dx <= 1; ++dx) sum += Get(scratch, x + dx, y + dy, c);
            const int s = Get(scratch, x, y, c);
            want = std::clamp(s + (k * (s - (sum >> 4))) / 10, 0, 1023);
          }
          ASSERT_EQ(Get(out, x, y, c), want) << bits << " " << x << "," << y << "," << c;
        }
  }
}

TEST(HueSaturation, WideMemberIsTheByteAlgorithmOnReducedSamples) {
  std::mt19937 rng(51);
  for (bool simd : {true, false}) {
    testutil::SimdLevel guard(simd ? 3 : 0);
    for (uint16_t bits : {48, 64}) {
      CDibImage wide;
      ASSERT_EQ(wide.Create(37, 3, bits), 1);
      testutil::FillRandom(wide, rng, 1023, bits == 64 ? 4 : 3);
      testutil::Set(wide, 5, 1, 2, 40000);  // above the bit depth: full scale
      CDibImage original;
      original.CreateLike(&wide);
      testutil::CopyBytes(original, wide);
      RunHue(imaging::HueSaturation16, wide, 77, -40);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 37; ++x) {
          CDibImage one;
          ASSERT_EQ(one.Create(1, 1, 24), 1);
          for (int c = 0; c < 3; ++c) Set(one, 0, 0, c, std::min(Get(original, x, y, c) >> 2, 255));
          RunHue(imaging::HueSaturation8, one, 77, -40);
          for (int c = 0; c < 3; ++c) ASSERT_EQ(Get(wide, x, y, c), Get(one, 0, 0, c) << 2) << x;
          if (bits == 64) {
            ASSERT_EQ(Get(wide, x, y, 3), Get(original, x, y, 3));
          }
        }
    }
  }
}
