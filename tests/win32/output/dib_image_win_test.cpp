// The bitmap holder's GDI side: DIB sections, memory DCs, the colour table and BitBlt.
#include <gtest/gtest.h>
#include <windows.h>

#include "imaging/demosaic.h"
#include "output/dib_image.h"

TEST(DibImageGdi, DibSectionsForEightToThirtyTwoBits) {
  for (uint16_t bits : {8, 16, 24, 32}) {
    CDibImage img;
    ASSERT_EQ(img.Create(750, 480, bits), 1) << bits;
    ASSERT_NE(img.Dc(), nullptr);
    ASSERT_NE(img.Dib(), nullptr);
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectA(img.Dib(), sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
    EXPECT_EQ(ds.dsBm.bmBits, img.Pixels());
    EXPECT_EQ(ds.dsBmih.biBitCount, bits);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, img.Stride());
    EXPECT_EQ(GetCurrentObject(img.Dc(), OBJ_BITMAP), img.Dib());
  }
}

TEST(DibImageGdi, PlainMemoryForFortyEightAndSixtyFourBits) {
  for (uint16_t bits : {48, 64}) {
    CDibImage img;
    ASSERT_EQ(img.Create(11, 7, bits), 1);
    EXPECT_EQ(img.Dc(), nullptr);
    EXPECT_EQ(img.Dib(), nullptr);
    ASSERT_NE(img.Pixels(), nullptr);
    for (int i = 0; i < img.Stride() * 7; ++i) ASSERT_EQ(img.Pixels()[i], 0);
  }
}

TEST(DibImageGdi, GrayPaletteInTheDcAndReleaseFreesHandles) {
  CDibImage img;
  ASSERT_EQ(img.Create(752, 480, 8), 1);
  RGBQUAD table[256] = {};
  ASSERT_EQ(GetDIBColorTable(img.Dc(), 0, 256, table), 256u);
  EXPECT_EQ(table[200].rgbRed, 200);
  EXPECT_EQ(table[200].rgbGreen, 200);
  EXPECT_EQ(table[200].rgbBlue, 200);
  EXPECT_EQ(table[200].rgbReserved, 0);
  HDC dc = img.Dc();
  HBITMAP dib = img.Dib();
  img.Release();
  EXPECT_EQ(img.Dc(), nullptr);
  EXPECT_EQ(GetObjectType(dc), 0u);
  EXPECT_EQ(GetObjectType(dib), 0u);
  img.Release();
}

TEST(DibImageGdi, BlitConvertsGrayToColourWithoutTurningRows) {
  CDibImage gray, colour;
  ASSERT_EQ(gray.Create(16, 8, 8), 1);
  ASSERT_EQ(colour.CreateLike(&gray), 1);
  EXPECT_NE(colour.Dc(), nullptr);
  ASSERT_EQ(colour.Create(16, 8, 24), 1);
  gray.Pixels()[2 * gray.Stride() + 5] = 123;  // memory row 2, column 5
  colour.Blit(&gray, nullptr, 0, 0);
  GdiFlush();
  const uint8_t* p = colour.Pixels() + 2 * colour.Stride() + 5 * 3;
  EXPECT_EQ(p[0], 123);
  EXPECT_EQ(p[1], 123);
  EXPECT_EQ(p[2], 123);
  EXPECT_EQ(colour.Pixels()[0], 0);

  // A rectangle of the source placed elsewhere: picture coordinates, top-down.
  RECT unused{};
  (void)unused;
  imaging::Rect r{5, 5, 6, 6};  // picture row 5 = memory row 2
  CDibImage other;
  ASSERT_EQ(other.Create(16, 8, 24), 1);
  other.Blit(&gray, &r, 0, 7);  // picture row 7 = memory row 0
  GdiFlush();
  EXPECT_EQ(other.Pixels()[0], 123);
}

TEST(DibImageGdi, RoutinesRunOnDibSections) {
  CDibImage raw, rgb;
  ASSERT_EQ(raw.Create(16, 12, 8), 1);
  ASSERT_EQ(rgb.Create(16, 12, 32), 1);
  memset(raw.Pixels(), 90, static_cast<size_t>(raw.Stride()) * 12);
  imaging::BayerRecord rec{2, 100, 100, 100};
  void* p = &rec;
  EXPECT_EQ(rgb.Transfer(imaging::DemosaicInterior8, &raw, nullptr, 0, 0, &p, 0), 1);
  EXPECT_EQ(rgb.Transfer(imaging::DemosaicBorder8, &raw, nullptr, 0, 0, &p, 0), 1);
  for (int i = 0; i < 16 * 12; ++i) {
    ASSERT_EQ(rgb.Pixels()[4 * i + 0], 90);
    ASSERT_EQ(rgb.Pixels()[4 * i + 2], 90);
    ASSERT_EQ(rgb.Pixels()[4 * i + 3], 0);
  }
}
