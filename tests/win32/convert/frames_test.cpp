// End to end: frames of the virtual camera through the library's exports, compared byte for
// byte with the reference conversion of the raw frame; the automatic modes on a running preview.
#include <string>
#include <vector>

#include "acquisition/acquisition_fixture.h"
#include "reference/pipeline_reference.h"

namespace {

int StrideOf(int w, int bits) { return (w * bits / 8 + 3) & ~3; }

// A buffer of rows top first at the padded stride, as one channel or B, G, R.
reference::Plane Decode(const std::vector<uint8_t>& buf, int w, int h, int bits) {
  const int channels = bits >= 24 ? 3 : 1;
  const bool words = bits == 16 || bits >= 48;
  const int bpp = bits / 8;
  reference::Plane p(w, h, channels);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        const uint8_t* s = &buf[size_t(y) * StrideOf(w, bits) + size_t(x) * bpp];
        p.At(x, y, c) = words ? s[2 * c] | s[2 * c + 1] << 8 : s[c];
      }
  return p;
}

std::string Diff(const reference::Plane& got, const reference::Plane& want) {
  if (got.w != want.w || got.h != want.h || got.channels != want.channels) return "size differs";
  for (int y = 0; y < want.h; ++y)
    for (int x = 0; x < want.w; ++x)
      for (int c = 0; c < want.channels; ++c)
        if (got.At(x, y, c) != want.At(x, y, c))
          return "at (" + std::to_string(x) + ", " + std::to_string(y) + ") channel " +
                 std::to_string(c) + ": " + std::to_string(got.At(x, y, c)) + " instead of " +
                 std::to_string(want.At(x, y, c));
  return "";
}

struct Setting {
  int filter;
  int value;
};

// The reference's view of one filter setting.
void Apply(reference::Settings& s, const Setting& f) {
  switch (f.filter) {
    case 1: s.brightness = f.value; break;
    case 2: s.contrast = f.value; break;
    case 3: s.hue = f.value; break;
    case 4: s.saturation = f.value; break;
    case 5: s.sharpness = f.value; break;
    case 7: s.bayer_gain[0] = f.value; break;
    case 9: s.bayer_gain[2] = f.value; break;
    case 11: s.gamma = f.value; break;
    case 12: s.bayer_mode = f.value; break;
    case 19: s.gray_mode = f.value; break;
    case 20: s.gray_gain[0] = f.value; break;
    case 23: s.gray_gain[3] = f.value; break;
    case 24: s.gray_offset[0] = f.value; break;
    case 27: s.gray_offset[3] = f.value; break;
    default: ADD_FAILURE() << "no reference for filter " << f.filter;
  }
}

const int kBits[6] = {8, 16, 24, 32, 48, 64};

class Frames : public Acquisition {
 protected:
  void SetUp() override {
    Acquisition::SetUp();
    ASSERT_EQ(0u, vcamctl_scene(0, 0));
    ASSERT_EQ(0u, vcamctl_noise(0, 0));
    Neutral();
  }
  void Neutral() {
    const Setting neutral[] = {{1, 0},   {2, 0},   {3, 0},   {4, 0},   {5, 0},   {7, 100},
                               {8, 100}, {9, 100}, {10, 0},  {11, 100}, {12, 2}, {19, 0},
                               {20, 128}, {21, 128}, {22, 128}, {23, 128}, {24, 0}, {25, 0},
                               {26, 0},  {27, 0}};
    for (const Setting& f : neutral) ASSERT_EQ(1, Qelvan_SetFilterValue(h_, f.filter, f.value));
  }
  // One frame of a colour type by SnapShot from idle, rows top first.
  std::vector<uint8_t> Snap(int bits, int w, int h) {
    EXPECT_EQ(1, Qelvan_SetColorMode(h_, bits));
    std::vector<uint8_t> buf(size_t(StrideOf(w, bits)) * h);
    EXPECT_EQ(1, Qelvan_SnapShot(h_, buf.data(), int(buf.size()), 1)) << ::testing::PrintToString(Errors());
    return buf;
  }
  // The raw frame in 8 or 10 bits: colour type 0 or 1 with neutral settings.
  reference::Plane Raw(bool wide, int w, int h) {
    Neutral();
    return Decode(Snap(wide ? 16 : 8, w, h), w, h, wide ? 16 : 8);
  }

  // Every colour type with each list of settings: SnapShot and GetImage against the reference.
  void CheckTypes(int w, int h, const std::vector<std::vector<Setting>>& cases) {
    const reference::Plane raw8 = Raw(false, w, h), raw10 = Raw(true, w, h);
    for (int type = 0; type <= 5; ++type)
      for (const auto& settings : cases) {
        std::string name = "type " + std::to_string(type) + ":";
        reference::Settings ref;
        ref.color_type = type;
        Neutral();
        for (const Setting& f : settings) {
          name += " " + std::to_string(f.filter) + "=" + std::to_string(f.value);
          ASSERT_EQ(1, Qelvan_SetFilterValue(h_, f.filter, f.value));
          Apply(ref, f);
        }
        SCOPED_TRACE(name);
        const bool wide = type == 1 || type >= 4;
        const reference::Plane want = reference::Convert(wide ? raw10 : raw8, ref);
        EXPECT_EQ("", Diff(Decode(Snap(kBits[type], w, h), w, h, kBits[type]), want));
        std::vector<uint8_t> image(size_t(StrideOf(w, kBits[type])) * h);
        ASSERT_EQ(1, Qelvan_GetImage(h_, image.data(), int(image.size()), 1));
        EXPECT_EQ("", Diff(Decode(image, w, h, kBits[type]), want));
      }
  }

  // Filter value after the preview has run until it stops changing (four equal readings a
  // few frames apart).
  int SettledValue(int filter) {
    int last = -1, same = 0;
    for (int i = 0; i < 200 && same < 4; ++i) {
      if (!WaitFrames(3)) break;
      int ok = 0;
      const int v = Qelvan_GetFilterValue(h_, filter, &ok);
      EXPECT_EQ(1, ok);
      EXPECT_LE(v, 32767);
      same = v == last ? same + 1 : 0;
      last = v;
    }
    EXPECT_EQ(4, same) << "filter " << filter << " did not settle";
    return last;
  }
};

TEST_F(Frames, EveryTypeAndSettingMatchesTheReference) {
  CheckTypes(752, 480, {
                           {},
                           {{12, 0}},
                           {{12, 1}},
                           {{12, 3}},
                           {{7, 170}, {9, 55}},
                           {{3, 50}},
                           {{4, -80}},
                           {{11, 140}},
                           {{2, 30}},
                           {{5, 15}},
                           {{1, 60}},
                           {{3, -20}, {4, 70}, {11, 80}, {2, -25}, {5, 9}, {1, -30}},
                           {{19, 1}, {20, 180}, {23, 90}, {27, -12}},
                           {{19, 2}, {7, 130}},
                       });
}

TEST_F(Frames, SubSampledAndOffsetWindowsMatchTheReference) {
  const std::vector<std::vector<Setting>> cases = {
      {}, {{3, 30}, {4, 40}, {11, 120}, {2, 20}, {5, 10}, {1, 20}, {19, 1}, {20, 150}}};
  for (int sub = 1; sub <= 2; ++sub) {
    SCOPED_TRACE("sub-sample " + std::to_string(sub));
    ASSERT_EQ(1, Qelvan_SetSubSample(h_, sub));
    CheckTypes(752 >> sub, 480 >> sub, cases);
  }
  ASSERT_EQ(1, Qelvan_SetSubSample(h_, 0));
  ASSERT_EQ(1, Qelvan_SetCaptureWindowEx(h_, 752, 56, 640, 480, 0, 480));
  CheckTypes(640, 480, cases);
}

// The application's buffer of a running preview holds the same bytes as a snapshot.
TEST_F(Frames, PreviewBufferMatchesTheReference) {
  const reference::Plane raw8 = Raw(false, 752, 480);
  const Setting all[] = {{3, 25}, {4, 30}, {11, 90}, {2, 15}, {5, 7}, {1, 10}};
  reference::Settings ref;
  ref.color_type = 3;
  for (const Setting& f : all) {
    ASSERT_EQ(1, Qelvan_SetFilterValue(h_, f.filter, f.value));
    Apply(ref, f);
  }
  ASSERT_EQ(1, Qelvan_SetColorMode(h_, 32));
  std::vector<uint8_t> buf(size_t(752) * 4 * 480);
  ASSERT_EQ(1, Qelvan_CallBackPreview(h_, window_.hwnd(), buf.data(), int(buf.size()), 1));
  ASSERT_TRUE(WaitFrames(2));
  ASSERT_EQ(1, Qelvan_StopPreview(h_));
  EXPECT_EQ("", Diff(Decode(buf, 752, 480, 32), reference::Convert(raw8, ref)));
}

TEST_F(Frames, OnceMeasurementsTakeTheReferenceValues) {
  const reference::Plane raw8 = Raw(false, 752, 480);
  // White balance on every frame: the gains the reference measures, at most 400.
  ASSERT_EQ(1, Qelvan_SetFilterValue(h_, 10, 1));
  Snap(24, 752, 480);
  int results[3];
  ASSERT_TRUE(reference::WhiteBalance(raw8, 2, results));
  int ok = 0;
  EXPECT_EQ(std::min(results[0], 400), Qelvan_GetFilterValue(h_, 7, &ok));
  EXPECT_EQ(100, Qelvan_GetFilterValue(h_, 8, &ok));
  EXPECT_EQ(std::min(results[2], 400), Qelvan_GetFilterValue(h_, 9, &ok));
  EXPECT_EQ(1, Qelvan_GetFilterValue(h_, 10, &ok));

  // Gray balance once: four gains, and the counter back to 0.
  Neutral();
  ASSERT_EQ(1, Qelvan_SetFilterValue(h_, 19, 1));
  ASSERT_EQ(1, Qelvan_SetFilterValue(h_, 28, 1));
  Snap(8, 752, 480);
  int gains[4] = {128, 128, 128, 128};
  ASSERT_TRUE(reference::GrayBalance(raw8, 2, 255, gains));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(gains[i], Qelvan_GetFilterValue(h_, 20 + i, &ok)) << i;
  EXPECT_EQ(0, Qelvan_GetFilterValue(h_, 28, &ok));
}

TEST_F(Frames, AutomaticExposureRisesAndGainFalls) {
  ASSERT_EQ(1, Qelvan_SetFilterValue(h_, 18, 20));  // dark start
  ASSERT_EQ(1, Qelvan_SetAutoIris(h_, 1));
  ASSERT_EQ(1, Qelvan_CallBackPreview(h_, window_.hwnd(), nullptr, 0, 1));
  EXPECT_GT(SettledValue(18), 100);
  ASSERT_EQ(1, Qelvan_StopPreview(h_));

  ASSERT_EQ(1, Qelvan_SetFilterValue(h_, 18, 960));
  ASSERT_EQ(1, Qelvan_SetFilterValue(h_, 13, 63));  // bright start: twice the lines, the highest gain
  ASSERT_EQ(1, Qelvan_SetAutoIris(h_, 2));
  ASSERT_EQ(1, Qelvan_CallBackPreview(h_, window_.hwnd(), nullptr, 0, 1));
  EXPECT_LT(SettledValue(13), 63);
  ASSERT_EQ(1, Qelvan_StopPreview(h_));
}

}  // namespace
