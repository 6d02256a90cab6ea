#include "output/dib_image.h"

#include <gtest/gtest.h>

#include "imaging/auto_iris.h"
#include "output/measure_windows.h"
#include "test_util.h"

namespace {

// Records what a row routine was handed.
struct Seen {
  int calls = 0;
  imaging::Rect rect{};
  int32_t dst_x = -1, dst_y = -1;
  uint16_t dst_bpp = 0, src_bpp = 0;
  int32_t dst_stride = 0, src_stride = 0;
  int32_t extra2 = 0;
};

int Record(uint8_t*, const uint8_t*, const imaging::Rect* rect, int32_t dst_x, int32_t dst_y,
           uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride, int32_t src_stride, void** param,
           int32_t extra2) {
  Seen* s = static_cast<Seen*>(*param);
  ++s->calls;
  s->rect = *rect;
  s->dst_x = dst_x, s->dst_y = dst_y;
  s->dst_bpp = dst_bpp, s->src_bpp = src_bpp;
  s->dst_stride = dst_stride, s->src_stride = src_stride;
  s->extra2 = extra2;
  return 7;
}

}  // namespace

TEST(DibImage, CreateSizesStridesAndPalette) {
  CDibImage img;
  ASSERT_EQ(img.Create(752, 480, 8), 1);
  EXPECT_EQ(img.Stride(), 752);
  EXPECT_EQ(img.Header().biSize, 40u);
  EXPECT_EQ(img.Header().biHeight, 480);
  EXPECT_EQ(img.Header().biPlanes, 1);
  EXPECT_EQ(img.ColorTable()[200].rgbRed, 200);
  EXPECT_EQ(img.ColorTable()[200].rgbGreen, 200);
  EXPECT_EQ(img.ColorTable()[200].rgbBlue, 200);
  EXPECT_EQ(img.ColorTable()[200].rgbReserved, 0);
  ASSERT_EQ(img.Create(750, 480, 8), 1);
  EXPECT_EQ(img.Stride(), 752);
  ASSERT_EQ(img.Create(5, 2, 24), 1);
  EXPECT_EQ(img.Stride(), 16);
  EXPECT_EQ(img.ColorTable()[200].rgbRed, 0);  // only 8-bit images get the ramp
  for (uint16_t bits : {48, 64}) {
    ASSERT_EQ(img.Create(3, 2, bits), 1);
    EXPECT_EQ(img.Stride(), bits == 48 ? 20 : 24);
    for (int i = 0; i < img.Stride() * 2; ++i) ASSERT_EQ(img.Pixels()[i], 0);
    EXPECT_EQ(img.Dc(), nullptr);
  }
}

TEST(DibImage, FailedCreateLeavesTheHolderEmpty) {
  CDibImage img;
  // Every rejected create releases the image held before, so no stale pixels survive.
  const struct {
    int w, h, bits;
  } bad[] = {{0, 10, 24}, {10, -1, 8}, {10, 10, 0}, {10, 10, 12}, {0x7fffffff, 0x7fffffff, 32}};
  for (const auto& b : bad) {
    ASSERT_EQ(img.Create(10, 10, 24), 1);
    EXPECT_EQ(img.Create(b.w, b.h, static_cast<uint16_t>(b.bits)), 0) << b.w << "x" << b.h;
    EXPECT_EQ(img.Pixels(), nullptr) << b.w << "x" << b.h << " at " << b.bits;
    EXPECT_EQ(img.Width(), 0);
    EXPECT_EQ(img.Stride(), 0);
  }
  img.Release();
  EXPECT_EQ(img.Pixels(), nullptr);
  EXPECT_EQ(img.Width(), 0);
  EXPECT_EQ(img.Header().biSize, 40u);
  img.Release();  // again: harmless
  EXPECT_EQ(img.Create(10, -1, 8), 0);
  EXPECT_EQ(img.Create(10, 10, 0), 0);
  EXPECT_EQ(img.Pixels(), nullptr);

  CDibImage empty, like;
  ASSERT_EQ(like.Create(4, 4, 8), 1);
  EXPECT_EQ(like.CreateLike(&empty), 0);
  EXPECT_EQ(like.Pixels(), nullptr);
  ASSERT_EQ(like.Create(4, 4, 8), 1);
  EXPECT_EQ(like.CreateLike(nullptr), 0);
  EXPECT_EQ(like.Pixels(), nullptr);
  // A holder modelled on itself keeps its format and gets fresh zeroed pixels.
  ASSERT_EQ(like.Create(5, 3, 24), 1);
  like.Pixels()[7] = 9;
  ASSERT_EQ(like.CreateLike(&like), 1);
  EXPECT_EQ(like.Width(), 5);
  EXPECT_EQ(like.Stride(), 16);
  EXPECT_EQ(like.Pixels()[7], 0);
}

TEST(DibImage, CreateLikeCopiesTheFormatNotThePixels) {
  CDibImage a, b;
  ASSERT_EQ(a.Create(7, 3, 32), 1);
  a.Pixels()[5] = 99;
  ASSERT_EQ(b.CreateLike(&a), 1);
  EXPECT_EQ(b.Width(), 7);
  EXPECT_EQ(b.Height(), 3);
  EXPECT_EQ(b.Stride(), 28);
  EXPECT_EQ(b.BitCount(), 32);
  EXPECT_EQ(b.Header().biBitCount, 32);
  EXPECT_EQ(b.Pixels()[5], 0);
}

TEST(DibImage, TransferHalfSizeExampleAndDefaults) {
  CDibImage src, dst;
  ASSERT_EQ(src.Create(752, 480, 8), 1);
  ASSERT_EQ(dst.Create(376, 240, 24), 1);
  Seen seen;
  void* p = &seen;
  EXPECT_EQ(dst.Transfer(Record, &src, nullptr, 0, 0, &p, 3), 7);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.rect.left, 0);
  EXPECT_EQ(seen.rect.top, 240);
  EXPECT_EQ(seen.rect.right, 376);
  EXPECT_EQ(seen.rect.bottom, 480);
  EXPECT_EQ(seen.dst_x, 0);
  EXPECT_EQ(seen.dst_y, 0);
  EXPECT_EQ(seen.dst_bpp, 3);
  EXPECT_EQ(seen.src_bpp, 1);
  EXPECT_EQ(seen.dst_stride, 1128);
  EXPECT_EQ(seen.src_stride, 752);
  EXPECT_EQ(seen.extra2, 3);

  // Equal sizes, whole source: (0, 0, w, h) and (0, 0).
  CDibImage same;
  ASSERT_EQ(same.Create(752, 480, 24), 1);
  same.Transfer(Record, &src, nullptr, 0, 0, &p, 0);
  EXPECT_EQ(seen.rect.top, 0);
  EXPECT_EQ(seen.rect.bottom, 480);
  EXPECT_EQ(seen.rect.right, 752);
}

TEST(DibImage, TransferClipsAndSkipsWhatLiesOutside) {
  CDibImage src, dst;
  ASSERT_EQ(src.Create(100, 50, 8), 1);
  ASSERT_EQ(dst.Create(40, 30, 8), 1);
  Seen seen;
  void* p = &seen;
  EXPECT_EQ(dst.Transfer(Record, &src, nullptr, 40, 0, &p, 0), 0);
  EXPECT_EQ(dst.Transfer(Record, &src, nullptr, 0, 30, &p, 0), 0);
  EXPECT_EQ(dst.Transfer(Record, &src, nullptr, -100, 0, &p, 0), 0);
  imaging::Rect beyond{100, 0, 120, 10};
  EXPECT_EQ(dst.Transfer(Record, &src, &beyond, 0, 0, &p, 0), 0);
  EXPECT_EQ(dst.Transfer(nullptr, &src, nullptr, 0, 0, &p, 0), 0);
  EXPECT_EQ(seen.calls, 0);

  // Picture rectangle (10, 5)-(30, 15) at (-5, 25): 15 columns and 5 rows survive.
  imaging::Rect r{10, 5, 30, 15};
  EXPECT_EQ(dst.Transfer(Record, &src, &r, -5, 25, &p, 0), 7);
  EXPECT_EQ(seen.rect.left, 15);
  EXPECT_EQ(seen.rect.right, 30);
  EXPECT_EQ(seen.rect.top, 50 - 10);
  EXPECT_EQ(seen.rect.bottom, 50 - 5);
  EXPECT_EQ(seen.dst_x, 0);
  EXPECT_EQ(seen.dst_y, 0);  // destination bottom 30, height 30
}

TEST(DibImage, StretchTransferDefaultsToWholeHolders) {
  CDibImage src, dst;
  ASSERT_EQ(src.Create(8, 6, 8), 1);
  ASSERT_EQ(dst.Create(4, 3, 8), 1);
  struct Args {
    imaging::Rect d, s;
    int32_t sw, sh;
  } args{};
  void* p = &args;
  auto routine = [](uint8_t*, const uint8_t*, const imaging::Rect* d, const imaging::Rect* s,
                    int32_t, int32_t, int32_t sw, int32_t sh, uint16_t, uint16_t, int32_t, int32_t,
                    void** param, int32_t) {
    Args* a = static_cast<Args*>(*param);
    a->d = *d, a->s = *s, a->sw = sw, a->sh = sh;
    return 5;
  };
  EXPECT_EQ(dst.StretchTransfer(routine, &src, nullptr, nullptr, &p, 0), 5);
  EXPECT_EQ(args.d.right, 4);
  EXPECT_EQ(args.d.bottom, 3);
  EXPECT_EQ(args.s.right, 8);
  EXPECT_EQ(args.s.bottom, 6);
  EXPECT_EQ(args.sw, 8);
  EXPECT_EQ(dst.StretchTransfer(nullptr, &src, nullptr, nullptr, &p, 0), 0);
}

TEST(AutoIris, WindowsFactorAndMeasurementThroughTransfer) {
  imaging::Rect w[imaging::kAutoIrisWindows];
  imaging::AutoIrisWindows(752, 480, w);
  EXPECT_EQ(w[0].left, 75);
  EXPECT_EQ(w[0].top, 48);
  EXPECT_EQ(w[0].right, 150);
  EXPECT_EQ(w[0].bottom, 96);
  EXPECT_EQ(w[2].left, 338);  // 0.45 x 752 = 338.4
  EXPECT_EQ(w[2].right, 413);
  EXPECT_EQ(w[4].bottom, 432);

  const int32_t bright[5] = {201, 201, 201, 201, 201};
  EXPECT_DOUBLE_EQ(imaging::AutoIrisFactor(bright), 1.0 - 5 * 0.15);
  const int32_t dark[5] = {99, 99, 130, 0, 50};
  EXPECT_EQ(imaging::AutoIrisFactor(dark), 1.2000000000000002);
  const int32_t mixed[5] = {161, 200, 100, 160, 255};
  EXPECT_DOUBLE_EQ(imaging::AutoIrisFactor(mixed), 1.0 - 0.1 - 0.1 - 0.15);

  // Upper picture windows are the lower memory rows; fill memory rows by half.
  CDibImage raw;
  ASSERT_EQ(raw.Create(100, 100, 8), 1);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) testutil::Set(raw, x, y, 0, y < 50 ? 40 : 220);
  int32_t means[5];
  ASSERT_TRUE(MeasureAutoIrisWindows(&raw, means));
  // Window 0 is picture rows 10..19 = memory rows 80..89.
  EXPECT_EQ(means[0], 220);
  EXPECT_EQ(means[1], 40);
  EXPECT_EQ(means[2], 130);  // memory rows 45..54: half and half
  EXPECT_EQ(means[3], 220);
  EXPECT_EQ(means[4], 40);

  CDibImage raw16;
  ASSERT_EQ(raw16.Create(20, 20, 16), 1);
  testutil::Fill(raw16, 1023, 1);
  ASSERT_TRUE(MeasureAutoIrisWindows(&raw16, means));
  EXPECT_EQ(means[0], 255);
  CDibImage tiny;
  ASSERT_EQ(tiny.Create(4, 4, 8), 1);  // windows truncate to nothing
  ASSERT_TRUE(MeasureAutoIrisWindows(&tiny, means));
  EXPECT_EQ(means[2], 0);
  CDibImage none;
  EXPECT_FALSE(MeasureAutoIrisWindows(&none, means));
}
