#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "imaging/format.h"
#include "imaging/gray.h"
#include "test_util.h"

using testutil::Get;
using testutil::Set;

namespace {

int RunGray(imaging::RowRoutine routine, CDibImage& img, imaging::GrayRecord& rec) {
  void* p = &rec;
  return img.Transfer(routine, &img, nullptr, 0, 0, &p, 0);
}

// Mode 0 cells: (even row, even column) G1, (even, odd) R, (odd, even) B, (odd, odd) G2.
void FillCells(CDibImage& img, int g1, int r, int b, int g2) {
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x)
      Set(img, x, y, 0, (y & 1) ? ((x & 1) ? g2 : b) : ((x & 1) ? r : g1));
}

}  // namespace

TEST(CellGain, GainsOffsetsAndClamping) {
  CDibImage img;
  ASSERT_EQ(img.Create(4, 2, 8), 1);
  std::mt19937 rng(4);
  testutil::FillRandom(img, rng, 255, 1);
  CDibImage copy;
  copy.CreateLike(&img);
  testutil::CopyBytes(copy, img);
  imaging::GrayRecord unity{0, 128, 128, 128, 128, 0, 0, 0, 0, 8};
  RunGray(imaging::CellGain8, img, unity);
  EXPECT_TRUE(testutil::SameBytes(img, copy));

  // R: gain 255 on 200 gives 398 -> 255; G1: offset -250 on 200 -> 0; B: 200 x 64/128 + 3;
  // G2: 201 x 129 / 128 = 202 (truncated).
  FillCells(img, 200, 200, 200, 201);
  imaging::GrayRecord rec{0, 255, 128, 129, 64, 0, -250, 0, 3, 8};
  RunGray(imaging::CellGain8, img, rec);
  EXPECT_EQ(Get(img, 1, 0), 255);
  EXPECT_EQ(Get(img, 0, 0), 0);
  EXPECT_EQ(Get(img, 0, 1), 103);
  EXPECT_EQ(Get(img, 1, 1), 202);

  // Mode 3 exchanges the cells: the sample at (0, 0) is G2.
  FillCells(img, 200, 200, 200, 201);
  rec.bayer_mode = 3;
  RunGray(imaging::CellGain8, img, rec);
  EXPECT_EQ(Get(img, 0, 0), 201);  // G2 gain 129 on 200 = 201
  EXPECT_EQ(Get(img, 1, 0), 103);  // B

  CDibImage wide;
  ASSERT_EQ(wide.Create(4, 2, 16), 1);
  FillCells(wide, 1000, 1000, 1000, 1000);
  imaging::GrayRecord rec16{0, 256, 128, 128, 128, 0, -7, 0, 0, 10};
  RunGray(imaging::CellGain16, wide, rec16);
  EXPECT_EQ(Get(wide, 1, 0), 1023);  // 2000 clamped to the 10-bit maximum
  EXPECT_EQ(Get(wide, 0, 0), 993);
}

TEST(GrayBalance, FlatFrameGivesCellGains) {
  CDibImage img;
  ASSERT_EQ(img.Create(8, 6, 8), 1);
  FillCells(img, 100, 100, 50, 100);
  imaging::GrayRecord rec{0, 1, 2, 3, 4, 0, 0, 0, 0, 8};
  RunGray(imaging::MeasureGrayBalance, img, rec);
  EXPECT_EQ(rec.gain_g1, 128);
  EXPECT_EQ(rec.gain_r, 128);
  EXPECT_EQ(rec.gain_b, 256);
  EXPECT_EQ(rec.gain_g2, 128);

  // Saturated and zero samples are left out; a frame of only those changes nothing.
  FillCells(img, 255, 0, 255, 0);
  imaging::GrayRecord keep{0, 11, 12, 13, 14, 0, 0, 0, 0, 8};
  RunGray(imaging::MeasureGrayBalance, img, keep);
  EXPECT_EQ(keep.gain_r, 11);
  EXPECT_EQ(keep.gain_g1, 12);
  EXPECT_EQ(keep.gain_g2, 13);
  EXPECT_EQ(keep.gain_b, 14);

  CDibImage wide;
  ASSERT_EQ(wide.Create(8, 6, 16), 1);
  FillCells(wide, 300, 900, 1023, 450);  // B holds only saturated samples
  Set(wide, 0, 1, 0, 600);               // one usable B sample
  imaging::GrayRecord rec16{0, 0, 0, 0, 0, 0, 0, 0, 0, 10};
  RunGray(imaging::MeasureGrayBalance, wide, rec16);
  EXPECT_EQ(rec16.gain_r, 128);
  EXPECT_EQ(rec16.gain_g1, 384);
  EXPECT_EQ(rec16.gain_g2, 256);
  EXPECT_EQ(rec16.gain_b, 192);
}

TEST(ColorToGray, WeightsAndTruncation) {
  CDibImage rgb, gray;
  ASSERT_EQ(rgb.Create(3, 1, 24), 1);
  ASSERT_EQ(gray.Create(3, 1, 8), 1);
  Set(rgb, 0, 0, 0, 255), Set(rgb, 0, 0, 1, 255), Set(rgb, 0, 0, 2, 255);
  Set(rgb, 1, 0, 2, 255);
  Set(rgb, 2, 0, 0, 9), Set(rgb, 2, 0, 1, 3);
  gray.Transfer(imaging::ColorToGray, &rgb, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(gray, 0, 0), 255);
  EXPECT_EQ(Get(gray, 1, 0), 76);
  EXPECT_EQ(Get(gray, 2, 0), 2);  // (177 + 99) / 100
}

TEST(SpreadRows, PackedRowsMoveToThePaddedStride) {
  CDibImage img;
  ASSERT_EQ(img.Create(750, 20, 8), 1);
  ASSERT_EQ(img.Stride(), 752);
  uint8_t* p = img.Pixels();
  for (int r = 0; r < 20; ++r)
    for (int i = 0; i < 750; ++i) p[r * 750 + i] = static_cast<uint8_t>(r * 7 + i);
  img.Transfer(imaging::SpreadRows8, &img, nullptr, 0, 0, nullptr, 0);
  for (int r = 0; r < 20; ++r)
    for (int i = 0; i < 750; ++i)
      ASSERT_EQ(p[r * 752 + i], static_cast<uint8_t>(r * 7 + i)) << r << "," << i;

  // A 752-wide frame needs no spreading and stays as it is.
  CDibImage full;
  ASSERT_EQ(full.Create(752, 4, 8), 1);
  for (int i = 0; i < 752 * 4; ++i) full.Pixels()[i] = static_cast<uint8_t>(i * 13);
  full.Transfer(imaging::SpreadRows8, &full, nullptr, 0, 0, nullptr, 0);
  for (int i = 0; i < 752 * 4; ++i) ASSERT_EQ(full.Pixels()[i], static_cast<uint8_t>(i * 13));

  CDibImage wide;
  ASSERT_EQ(wide.Create(5, 3, 16), 1);  // stride 12, packed rows of 10 bytes
  uint16_t* w = reinterpret_cast<uint16_t*>(wide.Pixels());
  for (int i = 0; i < 15; ++i) w[i] = static_cast<uint16_t>(1000 + i);
  wide.Transfer(imaging::SpreadRows16, &wide, nullptr, 0, 0, nullptr, 0);
  for (int r = 0; r < 3; ++r)
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Get(wide, i, r), 1000 + r * 5 + i);
}

TEST(FormatRoutines, ReduceWidenSwapAlpha) {
  CDibImage s16, d8;
  ASSERT_EQ(s16.Create(3, 2, 16), 1);
  ASSERT_EQ(d8.Create(3, 2, 8), 1);
  Set(s16, 0, 0, 0, 1023), Set(s16, 1, 0, 0, 4), Set(s16, 2, 0, 0, 3);
  Set(s16, 0, 1, 0, 40);
  d8.Transfer(imaging::Reduce16To8, &s16, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d8, 0, 0), 255);
  EXPECT_EQ(Get(d8, 1, 0), 1);
  EXPECT_EQ(Get(d8, 2, 0), 0);
  EXPECT_EQ(Get(d8, 0, 1), 10);
  d8.Transfer(imaging::Reduce16To8Reversed, &s16, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d8, 0, 0), 10);
  EXPECT_EQ(Get(d8, 0, 1), 255);
  Set(s16, 0, 0, 0, 4095);
  d8.Transfer(imaging::Reduce16To8Bits12Reversed, &s16, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d8, 0, 1), 255);
  EXPECT_EQ(Get(d8, 0, 0), 2);

  CDibImage w16;
  ASSERT_EQ(w16.Create(3, 2, 16), 1);
  Set(s16, 0, 0, 0, 1023);
  w16.Transfer(imaging::Widen16Bits10, &s16, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(w16, 0, 0), 65472);
  Set(s16, 0, 0, 0, 4095);
  w16.Transfer(imaging::Widen16Bits12, &s16, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(w16, 0, 0), 65520);
  Set(s16, 0, 0, 0, 8191);  // only the low 16 bits of the shifted value are kept
  w16.Transfer(imaging::Widen16Bits12, &s16, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(w16, 0, 0), 65520);

  CDibImage s64, d64, d48, d24;
  ASSERT_EQ(s64.Create(2, 2, 64), 1);
  ASSERT_EQ(d64.Create(2, 2, 64), 1);
  ASSERT_EQ(d24.Create(2, 2, 24), 1);
  Set(s64, 0, 0, 0, 1), Set(s64, 0, 0, 1, 2), Set(s64, 0, 0, 2, 1023), Set(s64, 0, 0, 3, 9);
  Set(s64, 1, 1, 0, 400);
  d64.Transfer(imaging::Widen64Bits10Swapped, &s64, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d64, 0, 0, 0), 65472);
  EXPECT_EQ(Get(d64, 0, 0, 1), 128);
  EXPECT_EQ(Get(d64, 0, 0, 2), 64);
  EXPECT_EQ(Get(d64, 0, 0, 3), 0xFFFF);
  d64.Transfer(imaging::Widen64Bits12, &s64, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d64, 0, 0, 0), 16);
  EXPECT_EQ(Get(d64, 0, 0, 2), 16368);
  d24.Transfer(imaging::Reduce48To24, &s64, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d24, 0, 0, 2), 255);
  EXPECT_EQ(Get(d24, 1, 1, 0), 100);
  d24.Transfer(imaging::Reduce48To24Reversed, &s64, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d24, 0, 1, 2), 255);
  EXPECT_EQ(Get(d24, 1, 0, 0), 100);
  ASSERT_EQ(d48.Create(2, 2, 48), 1);
  CDibImage s48;
  ASSERT_EQ(s48.Create(2, 2, 48), 1);
  Set(s48, 1, 0, 0, 3), Set(s48, 1, 0, 1, 5), Set(s48, 1, 0, 2, 7);
  d48.Transfer(imaging::Widen48Bits12Swapped, &s48, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d48, 1, 0, 0), 112);
  EXPECT_EQ(Get(d48, 1, 0, 1), 80);
  EXPECT_EQ(Get(d48, 1, 0, 2), 48);
  d48.Transfer(imaging::Widen48Bits10, &s48, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d48, 1, 0, 0), 192);

  CDibImage s32, d32;
  ASSERT_EQ(s32.Create(2, 1, 32), 1);
  ASSERT_EQ(d32.Create(2, 1, 32), 1);
  Set(s32, 0, 0, 0, 10), Set(s32, 0, 0, 1, 20), Set(s32, 0, 0, 2, 30), Set(s32, 0, 0, 3, 0);
  Set(s32, 1, 0, 3, 200);
  d32.Transfer(imaging::Alpha32, &s32, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d32, 0, 0, 3), 255);
  EXPECT_EQ(Get(d32, 1, 0, 3), 55);
  EXPECT_EQ(Get(d32, 0, 0, 2), 30);
  d32.Transfer(imaging::Swap24, &s32, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d32, 0, 0, 0), 30);
  EXPECT_EQ(Get(d32, 0, 0, 2), 10);
  CDibImage d3;
  ASSERT_EQ(d3.Create(2, 1, 24), 1);
  d3.Transfer(imaging::Copy32To24, &s32, nullptr, 0, 0, nullptr, 0);
  EXPECT_EQ(Get(d3, 0, 0, 1), 20);
}

TEST(FormatRoutines, CopyRowsReversedAndScale) {
  CDibImage src, dst;
  ASSERT_EQ(src.Create(5, 3, 8), 1);  // stride 8
  ASSERT_EQ(dst.Create(6, 3, 8), 1);  // stride 8
  for (int i = 0; i < 24; ++i) src.Pixels()[i] = static_cast<uint8_t>(i);
  dst.Transfer(imaging::CopyRowsReversed, &src, nullptr, 0, 0, nullptr, 0);
  for (int r = 0; r < 3; ++r)
    for (int i = 0; i < 8; ++i) EXPECT_EQ(dst.Pixels()[r * 8 + i], (2 - r) * 8 + i);

  // 4x4 to 2x2: rows and columns 0 and 2, rows turned over.
  CDibImage s, d;
  ASSERT_EQ(s.Create(4, 4, 24), 1);
  ASSERT_EQ(d.Create(2, 2, 24), 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) Set(s, x, y, 1, 10 * y + x);
  EXPECT_EQ(d.StretchTransfer(imaging::Scale24, &s, nullptr, nullptr, nullptr, 0), 1);
  EXPECT_EQ(Get(d, 0, 0, 1), 30);
  EXPECT_EQ(Get(d, 1, 0, 1), 32);
  EXPECT_EQ(Get(d, 0, 1, 1), 10);
  EXPECT_EQ(Get(d, 1, 1, 1), 12);

  // 3 rows to 2: u = trunc(1.5 x i) = 0, 1.
  CDibImage s8, d8;
  ASSERT_EQ(s8.Create(3, 3, 8), 1);
  ASSERT_EQ(d8.Create(2, 2, 8), 1);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) Set(s8, x, y, 0, 10 * y + x);
  d8.StretchTransfer(imaging::Scale8, &s8, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(Get(d8, 0, 0), 20);
  EXPECT_EQ(Get(d8, 1, 0), 21);
  EXPECT_EQ(Get(d8, 0, 1), 10);
  EXPECT_EQ(Get(d8, 1, 1), 11);
}

TEST(Mean, WindowsAndEmptyRegion) {
  CDibImage img;
  ASSERT_EQ(img.Create(10, 10, 8), 1);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) Set(img, x, y, 0, x * 10 + y);
  // Picture rows 2..3 are memory rows 6..7.
  imaging::Rect r{1, 2, 4, 4};
  EXPECT_EQ(img.Transfer(imaging::Mean8, &img, &r, r.left, r.top, nullptr, 0), 26);  // 159 / 6
  imaging::Rect memory_rows{0, 0, 0, 5};
  EXPECT_EQ(
      imaging::Mean8(nullptr, img.Pixels(), &memory_rows, 0, 0, 0, 1, 0, img.Stride(), nullptr, 0),
      0);

  CDibImage wide;
  ASSERT_EQ(wide.Create(2, 1, 16), 1);
  Set(wide, 0, 0, 0, 1023);
  Set(wide, 1, 0, 0, 1022);  // 255 + 255
  EXPECT_EQ(wide.Transfer(imaging::Mean16, &wide, nullptr, 0, 0, nullptr, 0), 255);
  Set(wide, 0, 0, 0, 1024 + 8);  // reduced to (1032 >> 2) & 0xFF = 2
  Set(wide, 1, 0, 0, 0);
  EXPECT_EQ(wide.Transfer(imaging::Mean16, &wide, nullptr, 0, 0, nullptr, 0), 1);
}

TEST(GrayBalance, RecordThatDisagreesWithTheBitmapIsRefused) {
  // A 10-bit record on an 8 bpp bitmap would read two bytes per sample, past the buffer's end;
  // an 8-bit record on 16 bpp samples would read half samples. Both keep the gains.
  CDibImage narrow, wide;
  ASSERT_EQ(narrow.Create(8, 6, 8), 1);
  ASSERT_EQ(wide.Create(8, 6, 16), 1);
  FillCells(narrow, 100, 100, 50, 100);
  FillCells(wide, 400, 400, 200, 400);
  const struct {
    CDibImage* img;
    int bits;
    int result;
  } cases[] = {{&narrow, 10, 0}, {&narrow, 16, 0}, {&wide, 8, 0}, {&narrow, 8, 1}, {&wide, 10, 1}};
  for (const auto& c : cases) {
    imaging::GrayRecord rec{0, 11, 12, 13, 14, 0, 0, 0, 0, c.bits};
    EXPECT_EQ(RunGray(imaging::MeasureGrayBalance, *c.img, rec), c.result)
        << c.img->BitCount() << " bpp, " << c.bits << " bits";
    EXPECT_EQ(rec.gain_b, c.result ? 256 : 14);
    EXPECT_EQ(rec.gain_r, c.result ? 128 : 11);
  }
}

TEST(FormatRoutines, ScaleColumnsRoundInSinglePrecision) {
  // The preview scales a 752-wide frame to any window width. Every product is rounded to single
  // precision: 752 / 160 is 4.69999981f and column 50 reads source column 234, not 235 as with
  // an exact ratio. The reference rounds each step through a float in memory.
  CDibImage src;
  ASSERT_EQ(src.Create(752, 2, 24), 1);
  for (int x = 0; x < 752; ++x) {
    for (int y = 0; y < 2; ++y) Set(src, x, y, 0, x & 0xFF), Set(src, x, y, 1, x >> 8);
  }
  auto column = [](const CDibImage& img, int x) { return Get(img, x, 0, 0) | Get(img, x, 0, 1) << 8; };
  int checked = 0;
  for (int width = 100; width <= 1600; ++width) {
    CDibImage dst;
    ASSERT_EQ(dst.Create(width, 1, 24), 1);
    ASSERT_EQ(dst.StretchTransfer(imaging::Scale24, &src, nullptr, nullptr, nullptr, 0), 1);
    volatile float ratio = 752.0f / static_cast<float>(width);
    for (int j = 0; j < width; ++j) {
      volatile float position = ratio * static_cast<float>(j);
      const int want = std::min(static_cast<int>(position), 751);
      ASSERT_EQ(column(dst, j), want) << "width " << width << ", column " << j;
      ++checked;
    }
    if (width == 160) {
      EXPECT_EQ(column(dst, 50), 234);
    }
  }
  EXPECT_GT(checked, 1000000);
}
