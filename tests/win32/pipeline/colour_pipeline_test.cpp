// End to end: a raw frame from the virtual camera, through the device layer, demosaiced by the
// pixel engine with BayerMode 2, shows the scene's colour bars in their true colours.
#include <gtest/gtest.h>

#include <cstring>

#include "device/qelvan_device.h"
#include "imaging/demosaic.h"
#include "output/dib_image.h"
#include "vcamctl.h"

namespace {

// The bars across the top third of the scene, 94 pixels each, as (red, green, blue) on/off.
const int kBars[8][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0},
                         {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};

TEST(ColourPipeline, BayerModeTwoDecodesTheBarsInTrueColours) {
  ASSERT_EQ(vcamctl_reset(), 0u) << "the virtual camera driver does not answer";
  ASSERT_EQ(vcamctl_scene(0, 0), 0u);
  CQelvanZ51QKRVNSdk dev;  // colour camera 0, full window, 8-bit

  CDibImage raw, colour;
  ASSERT_EQ(raw.Create(752, 480, 8), 1);
  ASSERT_EQ(colour.Create(752, 480, 24), 1);
  std::vector<uint8_t> frame(752 * 480);
  ASSERT_EQ(dev.SingleShot(), 0);
  ASSERT_EQ(dev.GetShotFrame(frame.data(), frame.size()), 0);
  dev.CloseSingleShot();
  for (int y = 0; y < 480; ++y) std::memcpy(raw.Pixels() + y * raw.Stride(), &frame[y * 752], 752);

  imaging::BayerRecord rec{2, 100, 100, 100};
  void* param = &rec;
  ASSERT_EQ(colour.Transfer(imaging::DemosaicInterior8, &raw, nullptr, 0, 0, &param, 0), 1);
  ASSERT_EQ(colour.Transfer(imaging::DemosaicBorder8, &raw, nullptr, 0, 0, &param, 0), 1);

  // Sample the middle of each bar, away from the bar edges and the top border. At the power-up
  // gain the bars' channels are at half level: on 720 / 2 (8-bit 90), off 48 / 2 (6).
  for (int bar = 0; bar < 8; ++bar) {
    const int x = bar * 94 + 47, y = 80;
    const uint8_t* p = colour.Pixels() + y * colour.Stride() + x * 3;  // B, G, R
    const int rgb[3] = {p[2], p[1], p[0]};
    for (int c = 0; c < 3; ++c) {
      if (kBars[bar][c])
        EXPECT_GT(rgb[c], 64) << "bar " << bar << " channel " << c;
      else
        EXPECT_LT(rgb[c], 32) << "bar " << bar << " channel " << c;
    }
  }
}

}  // namespace
