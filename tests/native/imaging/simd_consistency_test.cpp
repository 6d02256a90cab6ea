// Every SIMD level against the scalar code, as one table: routine x geometry x sample data x
// level. Results must be bit-identical over the whole destination buffer, and nothing may be
// written outside it.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/demosaic.h"
#include "imaging/filters.h"
#include "test_util.h"

namespace {

enum class Kind { kDemosaic, kBrightness, kContrast, kGamma, kGammaContrast, kSharpen, kHue };

// Both demosaicing passes, as the conversion runs them.
int DemosaicWhole8(uint8_t* dst, const uint8_t* src, const imaging::Rect* region, int32_t dst_x,
                   int32_t dst_y, uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride,
                   int32_t src_stride, void** param, int32_t extra2) {
  imaging::DemosaicInterior8(dst, src, region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride,
                             src_stride, param, extra2);
  return imaging::DemosaicBorder8(dst, src, region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride,
                                  src_stride, param, extra2);
}

int DemosaicWhole16(uint8_t* dst, const uint8_t* src, const imaging::Rect* region, int32_t dst_x,
                    int32_t dst_y, uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride,
                    int32_t src_stride, void** param, int32_t extra2) {
  imaging::DemosaicInterior16(dst, src, region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride,
                              src_stride, param, extra2);
  return imaging::DemosaicBorder16(dst, src, region, dst_x, dst_y, dst_bpp, src_bpp, dst_stride,
                                   src_stride, param, extra2);
}

struct Routine {
  const char* name;
  imaging::RowRoutine routine;
  int dst_bpp, src_bpp;  // bytes per pixel
  Kind kind;
  bool wide;  // 16-bit samples
};

const Routine kRoutines[] = {
    {"DemosaicInterior8/24", imaging::DemosaicInterior8, 3, 1, Kind::kDemosaic, false},
    {"DemosaicInterior8/32", imaging::DemosaicInterior8, 4, 1, Kind::kDemosaic, false},
    {"DemosaicBorder8/24", imaging::DemosaicBorder8, 3, 1, Kind::kDemosaic, false},
    {"DemosaicWhole8/24", DemosaicWhole8, 3, 1, Kind::kDemosaic, false},
    {"DemosaicWhole8/32", DemosaicWhole8, 4, 1, Kind::kDemosaic, false},
    {"DemosaicInterior16/48", imaging::DemosaicInterior16, 6, 2, Kind::kDemosaic, true},
    {"DemosaicInterior16/64", imaging::DemosaicInterior16, 8, 2, Kind::kDemosaic, true},
    {"DemosaicBorder16/64", imaging::DemosaicBorder16, 8, 2, Kind::kDemosaic, true},
    {"DemosaicWhole16/48", DemosaicWhole16, 6, 2, Kind::kDemosaic, true},
    {"DemosaicWhole16/64", DemosaicWhole16, 8, 2, Kind::kDemosaic, true},
    {"BrightnessMono8", imaging::BrightnessMono8, 1, 1, Kind::kBrightness, false},
    {"BrightnessColor8/24", imaging::BrightnessColor8, 3, 3, Kind::kBrightness, false},
    {"BrightnessColor8/32", imaging::BrightnessColor8, 4, 4, Kind::kBrightness, false},
    {"BrightnessMono16", imaging::BrightnessMono16, 2, 2, Kind::kBrightness, true},
    {"BrightnessColor16/48", imaging::BrightnessColor16, 6, 6, Kind::kBrightness, true},
    {"BrightnessColor16/64", imaging::BrightnessColor16, 8, 8, Kind::kBrightness, true},
    {"ContrastMono8", imaging::ContrastMono8, 1, 1, Kind::kContrast, false},
    {"ContrastColor8/24", imaging::ContrastColor8, 3, 3, Kind::kContrast, false},
    {"ContrastColor8/32", imaging::ContrastColor8, 4, 4, Kind::kContrast, false},
    {"ContrastColor16/48", imaging::ContrastColor16, 6, 6, Kind::kContrast, true},
    {"GammaMono8", imaging::GammaMono8, 1, 1, Kind::kGamma, false},
    {"GammaColor8/24", imaging::GammaColor8, 3, 3, Kind::kGamma, false},
    {"GammaColor8/32", imaging::GammaColor8, 4, 4, Kind::kGamma, false},
    {"GammaMono16", imaging::GammaMono16, 2, 2, Kind::kGamma, true},
    {"GammaContrastMono8", imaging::GammaContrastMono8, 1, 1, Kind::kGammaContrast, false},
    {"GammaContrastColor8/24", imaging::GammaContrastColor8, 3, 3, Kind::kGammaContrast, false},
    {"GammaContrastColor8/32", imaging::GammaContrastColor8, 4, 4, Kind::kGammaContrast, false},
    {"GammaContrastMono16", imaging::GammaContrastMono16, 2, 2, Kind::kGammaContrast, true},
    {"GammaContrastColor16/48", imaging::GammaContrastColor16, 6, 6, Kind::kGammaContrast, true},
    {"GammaContrastColor16/64", imaging::GammaContrastColor16, 8, 8, Kind::kGammaContrast, true},
    {"SharpenMono8", imaging::SharpenMono8, 1, 1, Kind::kSharpen, false},
    {"SharpenColor8/24", imaging::SharpenColor8, 3, 3, Kind::kSharpen, false},
    {"SharpenColor8/32", imaging::SharpenColor8, 4, 4, Kind::kSharpen, false},
    {"SharpenMono16", imaging::SharpenMono16, 2, 2, Kind::kSharpen, true},
    {"SharpenColor16/48", imaging::SharpenColor16, 6, 6, Kind::kSharpen, true},
    {"SharpenColor16/64", imaging::SharpenColor16, 8, 8, Kind::kSharpen, true},
    {"HueSaturation8/24", imaging::HueSaturation8, 3, 3, Kind::kHue, false},
    {"HueSaturation8/32", imaging::HueSaturation8, 4, 4, Kind::kHue, false},
    {"HueSaturation16/48", imaging::HueSaturation16, 6, 6, Kind::kHue, true},
    {"HueSaturation16/64", imaging::HueSaturation16, 8, 8, Kind::kHue, true},
};

// Region w x h at (left, top) of the source, written at (dx, dy) of the destination.
struct Geometry {
  int w, h, left, top, dx, dy;
};

std::vector<Geometry> Geometries() {
  std::vector<Geometry> g;
  // Every width up to past two AVX2 blocks and a hue chunk, so that every tail length is met.
  for (int w = 1; w <= 130; ++w) g.push_back({w, 5 + w % 4, 0, 0, 0, 0});
  // Long rows: block and strip boundaries, the camera's width, and odd widths past the strips.
  for (int w : {255, 256, 257, 511, 512, 513, 514, 515, 752, 753, 1031})
    g.push_back({w, 6 + w % 3, 0, 0, 0, 0});
  // Tall regions: the border columns go through the kernels in chunks of rows, with a short
  // last chunk, a chunk too short for a block, and odd heights.
  for (Geometry o : {Geometry{5, 36, 0, 0, 0, 0}, Geometry{4, 37, 0, 0, 0, 0},
                     Geometry{40, 35, 0, 0, 0, 0}, Geometry{19, 291, 0, 0, 0, 0},
                     Geometry{34, 548, 0, 0, 0, 0}})
    g.push_back(o);
  // Regions inside larger holders, at destination offsets.
  for (Geometry o : {Geometry{29, 11, 3, 2, 5, 4}, Geometry{41, 17, 3, 5, 1, 2},
                     Geometry{752, 9, 3, 2, 5, 4}, Geometry{1031, 7, 1, 3, 2, 1},
                     Geometry{37, 45, 3, 2, 5, 4}, Geometry{36, 40, 1, 3, 2, 1}})
    g.push_back(o);
  return g;
}

// Sample data: random bytes (16-bit samples of any size), the few values where ties and
// extremes meet, 10-bit samples, and 10-bit samples with one far above.
enum class Data { kBytes, kTies, kTenBit, kTenBitOneHigh };

void Fill(uint8_t* p, size_t n, Data data, bool wide, std::mt19937& rng) {
  static const uint8_t few[] = {0, 1, 2, 127, 128, 129, 253, 254, 255};
  for (size_t i = 0; i < n; ++i) {
    if (data == Data::kTies) {
      p[i] = few[rng() % 9];
    } else if (wide && data != Data::kBytes && i + 1 < n && i % 2 == 0) {
      const uint16_t v = static_cast<uint16_t>(rng() % 1024);
      std::memcpy(p + i, &v, 2);
      ++i;
    } else {
      p[i] = static_cast<uint8_t>(rng());
    }
  }
  if (data == Data::kTenBitOneHigh && n >= 2) {
    const size_t at = (rng() % (n / 2)) * 2;
    p[at] = 0xFF, p[at + 1] = 0xFF;
  }
}

// A parameter record for the routine, drawn from the accepted range and a little past it.
struct Records {
  imaging::BayerRecord bayer;
  imaging::FilterRecord filter;
  imaging::HueRecord hue;
  imaging::GammaContrastRecord gamma_contrast;
  void* Of(Kind kind) {
    if (kind == Kind::kDemosaic) return &bayer;
    if (kind == Kind::kGammaContrast) return &gamma_contrast;
    if (kind == Kind::kHue) return &hue;
    return &filter;
  }
};

Records Draw(Kind kind, bool wide, std::mt19937& rng) {
  auto in = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
  const int bits = wide ? (rng() % 2 ? 10 : 16) : 8;
  Records r{};
  // Gains up to the clamp and past the accepted 0..400, so that saturation is met.
  r.bayer = {in(0, 3), in(0, 1700), 100, in(0, 1700)};
  r.hue = {in(-360, 360), 0, in(-255, 255), wide ? 10 : 8};
  r.gamma_contrast = {in(0, 200), in(-127, 127), bits};
  switch (kind) {
    case Kind::kBrightness:
      r.filter = {in(-255, 255), bits};
      break;
    case Kind::kContrast:
      r.filter = {in(-127, 127), bits};
      break;
    case Kind::kGamma:
      r.filter = {in(0, 200), bits};
      break;
    case Kind::kSharpen:
      r.filter = {in(1, 30), bits};
      break;
    default:
      r.filter = {0, bits};
  }
  return r;
}

}  // namespace

TEST(SimdConsistency, EveryLevelMatchesScalarBitForBit) {
  const std::vector<Geometry> geometries = Geometries();
  int compared = 0;
  for (const Routine& r : kRoutines) {
    std::mt19937 rng(static_cast<uint32_t>(std::hash<std::string>()(r.name)));
    const std::vector<Data> kinds = r.wide
                                        ? std::vector<Data>{Data::kBytes, Data::kTenBit,
                                                            Data::kTenBitOneHigh}
                                        : std::vector<Data>{Data::kBytes, Data::kTies};
    // In-place routines also run on one buffer, as the conversion runs them.
    const bool can_share = r.kind != Kind::kDemosaic && r.dst_bpp == r.src_bpp;
    for (const Geometry& g : geometries)
      for (Data data : kinds)
        for (bool shared : {false, true}) {
          if (shared && !can_share) continue;
          const int32_t src_stride = ((g.left + g.w + 1) * r.src_bpp + 3) & ~3;
          const int32_t dst_stride = ((g.dx + g.w + 1) * r.dst_bpp + 3) & ~3;
          const size_t src_size = static_cast<size_t>(src_stride) * (g.top + g.h + 1);
          const size_t dst_size = static_cast<size_t>(dst_stride) * (g.dy + g.h + 1);
          std::vector<uint8_t> src(src_size), dst(shared ? src_size : dst_size);
          Fill(src.data(), src.size(), data, r.wide, rng);
          Fill(dst.data(), dst.size(), Data::kBytes, false, rng);
          if (shared) dst = src;
          Records rec = Draw(r.kind, r.wide, rng);
          const imaging::Rect region{g.left, g.top, g.left + g.w, g.top + g.h};
          const int32_t dx = shared ? g.left : g.dx, dy = shared ? g.top : g.dy;

          auto run = [&](int level, std::vector<uint8_t>& out) {
            testutil::SimdLevel guard(level);
            EXPECT_TRUE(testutil::SimdLevel::InEffect(level)) << "level " << level;
            testutil::GuardedBuffer d(dst.size()), s(src.size());
            std::memcpy(d.data(), dst.data(), dst.size());
            std::memcpy(s.data(), src.data(), src.size());
            void* p = rec.Of(r.kind);
            r.routine(d.data(), shared ? d.data() : s.data(), &region, dx, dy,
                      static_cast<uint16_t>(r.dst_bpp), static_cast<uint16_t>(r.src_bpp),
                      shared ? src_stride : dst_stride, src_stride, &p, 0);
            EXPECT_TRUE(d.GuardsIntact() && s.GuardsIntact())
                << r.name << " wrote outside its buffers at level " << level;
            out.assign(d.data(), d.data() + d.size());
          };
          std::vector<uint8_t> want, got;
          run(0, want);
          for (int level = 1; level <= 3; ++level) {
            if (!testutil::SimdLevel::Available(level)) continue;
            run(level, got);
            ++compared;
            ASSERT_TRUE(got == want)
                << r.name << " level " << level << ", " << g.w << "x" << g.h << " at (" << g.left
                << "," << g.top << ") to (" << dx << "," << dy << "), data "
                << static_cast<int>(data) << (shared ? ", in place" : "");
          }
        }
  }
  if (!testutil::SimdLevel::Available(1)) GTEST_SKIP() << "no SIMD level on this processor";
  EXPECT_GT(compared, 10000);
}

TEST(SimdConsistency, LevelGuardRestoresEveryPathAfterAFailedAssertion) {
  // A test body that stops at a fatal failure inside the guard's scope.
  auto failing_body = [] {
    testutil::SimdLevel guard(0);
    ASSERT_TRUE(false) << "expected";
  };
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    failing_body();
  }
  EXPECT_EQ(failures.size(), 1);
  EXPECT_TRUE(testutil::SimdLevel::InEffect(3));
}
