// Every routine on tiny and odd-sized regions, placed anywhere inside exactly-sized holders:
// guard bytes around each buffer catch writes outside it in any build, and AddressSanitizer
// also catches reads.
#include <gtest/gtest.h>

#include <random>

#include "imaging/demosaic.h"
#include "imaging/format.h"
#include "imaging/gray.h"
#include "imaging/simd.h"
#include "test_util.h"

namespace {

struct Member {
  const char* name;
  imaging::RowRoutine routine;
  uint16_t dst_bits, src_bits;
  int record;  // 0 none, 1 Bayer, 2 measure, 3 gray, 4 filter, 5 hue
};

const Member kMembers[] = {
    {"DemosaicInterior8", imaging::DemosaicInterior8, 24, 8, 1},
    {"DemosaicInterior8/32", imaging::DemosaicInterior8, 32, 8, 1},
    {"DemosaicBorder8", imaging::DemosaicBorder8, 32, 8, 1},
    {"DemosaicInterior16", imaging::DemosaicInterior16, 48, 16, 1},
    {"DemosaicBorder16", imaging::DemosaicBorder16, 64, 16, 1},
    {"MeasureBayerGains8", imaging::MeasureBayerGains8, 8, 8, 2},
    {"MeasureBayerGains16", imaging::MeasureBayerGains16, 16, 16, 2},
    {"CellGain8", imaging::CellGain8, 8, 8, 3},
    {"CellGain16", imaging::CellGain16, 16, 16, 3},
    {"MeasureGrayBalance", imaging::MeasureGrayBalance, 16, 16, 3},
    {"ColorToGray", imaging::ColorToGray, 8, 24, 0},
    {"BrightnessMono8", imaging::BrightnessMono8, 8, 8, 4},
    {"BrightnessColor8/24", imaging::BrightnessColor8, 24, 24, 4},
    {"BrightnessColor8/32", imaging::BrightnessColor8, 32, 32, 4},
    {"BrightnessMono16", imaging::BrightnessMono16, 16, 16, 4},
    {"BrightnessColor16", imaging::BrightnessColor16, 64, 64, 4},
    {"ContrastColor8", imaging::ContrastColor8, 24, 24, 4},
    {"ContrastMono16", imaging::ContrastMono16, 16, 16, 4},
    {"GammaColor16", imaging::GammaColor16, 48, 48, 4},
    {"GammaMono8", imaging::GammaMono8, 8, 8, 4},
    {"SharpenMono8", imaging::SharpenMono8, 8, 8, 4},
    {"SharpenColor8/24", imaging::SharpenColor8, 24, 24, 4},
    {"SharpenColor8/32", imaging::SharpenColor8, 32, 32, 4},
    {"SharpenMono16", imaging::SharpenMono16, 16, 16, 4},
    {"SharpenColor16", imaging::SharpenColor16, 48, 48, 4},
    {"HueSaturation8/24", imaging::HueSaturation8, 24, 24, 5},
    {"HueSaturation8/32", imaging::HueSaturation8, 32, 32, 5},
    {"HueSaturation16", imaging::HueSaturation16, 64, 64, 5},
    {"Mean8", imaging::Mean8, 8, 8, 0},
    {"Mean16", imaging::Mean16, 16, 16, 0},
    {"Reduce16To8Reversed", imaging::Reduce16To8Reversed, 8, 16, 0},
    {"Reduce48To24Reversed", imaging::Reduce48To24Reversed, 24, 64, 0},
    {"Copy3ChannelsReversed", imaging::Copy3ChannelsReversed, 24, 32, 0},
    {"Widen64Bits10Swapped", imaging::Widen64Bits10Swapped, 64, 64, 0},
    {"Alpha32", imaging::Alpha32, 32, 32, 0},
    {"Swap24", imaging::Swap24, 24, 24, 0},
};

}  // namespace

TEST(SmallRegions, NoRoutineReadsOrWritesOutsideItsBuffers) {
  std::mt19937 rng(2024);
  imaging::BayerRecord bayer{3, 400, 100, 250};
  imaging::BayerMeasureRecord measure{0, 0, 0, 2};
  imaging::GrayRecord gray{1, 200, 128, 90, 255, -5, 0, 3, 9, 10};
  imaging::FilterRecord filter{27, 10};
  imaging::HueRecord hue{200, 0, -90, 10};
  void* records[] = {nullptr, &bayer, &measure, &gray, &filter, &hue};
  for (int level : {3, 2, 1, 0}) {
    testutil::SimdLevel guard(level);
    for (const Member& m : kMembers)
      for (int w = 1; w <= 40; ++w)
        for (int h = 1; h <= 7; ++h) {
          // Holders exactly as large as the region plus its placement, rows padded to 4 bytes.
          const int left = static_cast<int>(rng() % 3), top = static_cast<int>(rng() % 3);
          const int dx = static_cast<int>(rng() % 3), dy = static_cast<int>(rng() % 3);
          CDibImage src, dst;
          ASSERT_EQ(src.Create(left + w, top + h, m.src_bits), 1);
          ASSERT_EQ(dst.Create(dx + w, dy + h, m.dst_bits), 1);
          testutil::GuardedBuffer s(static_cast<size_t>(src.Stride()) * src.Height());
          testutil::GuardedBuffer d(static_cast<size_t>(dst.Stride()) * dst.Height());
          for (size_t i = 0; i < s.size(); ++i) s.data()[i] = static_cast<uint8_t>(rng());
          const imaging::Rect region{left, top, left + w, top + h};
          void* p = records[m.record];
          m.routine(d.data(), s.data(), &region, dx, dy, dst.BytesPerPixel(), src.BytesPerPixel(),
                    dst.Stride(), src.Stride(), p ? &p : nullptr, 0);
          ASSERT_TRUE(d.GuardsIntact() && s.GuardsIntact())
              << m.name << " " << w << "x" << h << " level " << level;
        }
  }
}
