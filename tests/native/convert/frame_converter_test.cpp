// The frame conversion against the independent per-pixel reference, and the automatic steps.
#include "output/frame_converter.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "imaging/auto_iris.h"
#include "reference/pipeline_reference.h"

namespace {

using frameconv::ConvertChanges;
using frameconv::ConvertSettings;
using frameconv::FrameImages;

int Sample(const CDibImage& img, int x, int y, int c) {
  const uint8_t* p = img.Pixels() + size_t(y) * img.Stride() + size_t(x) * img.BytesPerPixel();
  if (img.BitCount() == 16 || img.BitCount() >= 48) {
    uint16_t v;
    std::memcpy(&v, p + 2 * c, 2);
    return v;
  }
  return p[c];
}

void Put(CDibImage& img, int x, int y, int c, int v) {
  uint8_t* p = img.Pixels() + size_t(y) * img.Stride() + size_t(x) * img.BytesPerPixel();
  if (img.BitCount() == 16 || img.BitCount() >= 48) {
    uint16_t t = uint16_t(v);
    std::memcpy(p + 2 * c, &t, 2);
  } else {
    p[c] = uint8_t(v);
  }
}

// The holders of a camera instance for one colour type, sized w x h.
struct Images {
  std::unique_ptr<CDibImage> mono8, mono16, rgb24, rgb32, rgb48, rgb64, scratch;
  FrameImages view;

  Images(int type, int w, int h) {
    auto make = [&](std::unique_ptr<CDibImage>& img, uint16_t bits) {
      img = std::make_unique<CDibImage>();
      EXPECT_EQ(1, img->Create(w, h, bits));
    };
    if (type <= 3) make(mono8, 8);
    if (type == 1 || type >= 4) make(mono16, 16);
    if (type != 1) make(rgb24, 24);
    if (type == 3) make(rgb32, 32);
    if (type == 4) make(rgb48, 48);
    if (type == 5) make(rgb64, 64);
    scratch = std::make_unique<CDibImage>();
    view = {mono8.get(), mono16.get(), rgb24.get(), rgb32.get(),
            rgb48.get(), rgb64.get(), scratch.get()};
  }
};

reference::Plane RandomRaw(int w, int h, int max, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(0, max);
  reference::Plane p(w, h, 1);
  for (int& v : p.v) v = dist(rng);
  return p;
}

// A smooth colour scene with every level in use, so that gains and filters have work to do.
reference::Plane SceneRaw(int w, int h, int max, int mode, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-6, 6);
  reference::Plane p(w, h, 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int colour = reference::BayerColourAt(mode, x, y);
      int base = colour == 0 ? (x * max) / w : colour == 1 ? (y * max) / h : max / 3;
      p.At(x, y) = reference::ClampTo(base + noise(rng), 0, max);
    }
  return p;
}

void Load(CDibImage* raw, const reference::Plane& p) {
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) Put(*raw, x, y, 0, p.At(x, y));
}

// First difference between an image and the reference, or "" when they agree.
std::string Compare(const CDibImage* img, const reference::Plane& ref) {
  if (!img || img->Width() != ref.w || img->Height() != ref.h) return "size differs";
  for (int y = 0; y < ref.h; ++y)
    for (int x = 0; x < ref.w; ++x)
      for (int c = 0; c < ref.channels; ++c)
        if (Sample(*img, x, y, c) != ref.At(x, y, c))
          return "at (" + std::to_string(x) + ", " + std::to_string(y) + ") channel " +
                 std::to_string(c) + ": " + std::to_string(Sample(*img, x, y, c)) +
                 " instead of " + std::to_string(ref.At(x, y, c));
  return "";
}

ConvertSettings ToLibrary(const reference::Settings& r) {
  ConvertSettings s;
  s.colorType = r.color_type;
  s.bayerMode = r.bayer_mode;
  s.grayMode = r.gray_mode;
  for (int i = 0; i < 4; ++i) s.grayGain[i] = r.gray_gain[i], s.grayOffset[i] = r.gray_offset[i];
  for (int i = 0; i < 3; ++i) s.bayerGain[i] = r.bayer_gain[i];
  s.whiteBalance[0] = r.white_balance;
  s.grayBalance = r.gray_balance;
  s.hue = r.hue;
  s.saturation = r.saturation;
  s.gamma = r.gamma;
  s.contrast = r.contrast;
  s.sharpness = r.sharpness;
  s.brightness = r.brightness;
  return s;
}

// The worked examples of the written arithmetic, so that a slip in the reference itself shows.
TEST(PipelineReference, WorkedExamples) {
  int bgr[3] = {0, 0, 255};
  reference::HueSaturation(bgr, 120, 0);
  EXPECT_EQ(0, bgr[0]);
  EXPECT_EQ(255, bgr[1]);
  EXPECT_EQ(2, bgr[2]);
  int same[3] = {0, 0, 255};
  reference::HueSaturation(same, 360, 0);
  EXPECT_EQ(255, same[2]);
  EXPECT_EQ(0, same[1]);

  EXPECT_EQ(0, reference::Contrast(127, 127, false));
  EXPECT_EQ(128, reference::Contrast(128, 127, false));
  EXPECT_EQ(255, reference::Contrast(129, 127, false));
  EXPECT_EQ(63, reference::Contrast(0, -127, false));
  EXPECT_EQ(191, reference::Contrast(255, -127, false));
  EXPECT_EQ(255, reference::Gamma(255, 200, false, true));
  EXPECT_EQ(0, reference::Gamma(128, 200, false, true));
  EXPECT_EQ(255, reference::Gamma(0, 0, false, false));
  EXPECT_EQ(0, reference::Brightness(200, -255, 255));
  EXPECT_EQ(22, reference::Brightness(2, 255, 255));
  EXPECT_EQ(255, reference::ColorToGray(255, 255, 255));
  EXPECT_EQ(76, reference::ColorToGray(0, 0, 255));

  // Cells G1, R, B, G2 at 100, 100, 50, 100 (BayerMode 0).
  reference::Plane flat(4, 4, 1);
  const int level[4] = {100, 100, 100, 50};  // by cell R, G1, G2, B
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) flat.At(x, y) = level[reference::CellAt(0, x, y)];
  int gains[4] = {1, 1, 1, 1};
  ASSERT_TRUE(reference::GrayBalance(flat, 0, 255, gains));
  EXPECT_EQ(128, gains[0]);
  EXPECT_EQ(128, gains[1]);
  EXPECT_EQ(128, gains[2]);
  EXPECT_EQ(256, gains[3]);
}

struct Case {
  const char* name;
  void (*set)(reference::Settings&);
};

const Case kCases[] = {
    {"neutral", [](reference::Settings&) {}},
    {"bayer mode 0", [](reference::Settings& s) { s.bayer_mode = 0; }},
    {"bayer mode 1", [](reference::Settings& s) { s.bayer_mode = 1; }},
    {"bayer mode 3", [](reference::Settings& s) { s.bayer_mode = 3; }},
    {"gains", [](reference::Settings& s) { s.bayer_gain[0] = 250, s.bayer_gain[1] = 40, s.bayer_gain[2] = 0; }},
    {"white balance", [](reference::Settings& s) { s.white_balance = 1; }},
    {"hue", [](reference::Settings& s) { s.hue = -100; }},
    {"saturation", [](reference::Settings& s) { s.saturation = 180; }},
    {"gamma low", [](reference::Settings& s) { s.gamma = 37; }},
    {"gamma high", [](reference::Settings& s) { s.gamma = 155; }},
    {"contrast", [](reference::Settings& s) { s.contrast = 45; }},
    {"contrast negative", [](reference::Settings& s) { s.contrast = -90; }},
    {"sharpness", [](reference::Settings& s) { s.sharpness = 17; }},
    {"brightness", [](reference::Settings& s) { s.brightness = 77; }},
    {"darker", [](reference::Settings& s) { s.brightness = -120; }},
    {"all filters",
     [](reference::Settings& s) {
       s.bayer_mode = 1;
       s.hue = 33, s.saturation = -60, s.gamma = 80, s.contrast = 20, s.sharpness = 9,
       s.brightness = 30;
     }},
    {"gray mode 1",
     [](reference::Settings& s) {
       s.gray_mode = 1;
       s.gray_gain[0] = 200, s.gray_gain[1] = 128, s.gray_gain[2] = 90, s.gray_gain[3] = 255;
       s.gray_offset[0] = -40, s.gray_offset[2] = 15;
     }},
    {"gray mode 1 offsets only",
     [](reference::Settings& s) {
       s.gray_mode = 1;
       s.gray_offset[0] = 90, s.gray_offset[3] = -90;
     }},
    {"gray balance", [](reference::Settings& s) { s.gray_mode = 1, s.gray_balance = 1; }},
    {"gray mode 2", [](reference::Settings& s) { s.gray_mode = 2, s.bayer_gain[0] = 130; }},
    {"gray mode 2 with filters",
     [](reference::Settings& s) { s.gray_mode = 2, s.gamma = 120, s.sharpness = 30; }},
};

struct Size {
  int w, h;
};

// Every colour type, case and two frame sizes (one with padded rows) against the reference.
TEST(FrameConverter, MatchesReference) {
  const Size sizes[] = {{64, 48}, {38, 22}};
  for (int type = 0; type <= 5; ++type)
    for (const Case& c : kCases)
      for (const Size& size : sizes) {
        SCOPED_TRACE(std::string(c.name) + ", type " + std::to_string(type) + ", " +
                     std::to_string(size.w) + "x" + std::to_string(size.h));
        reference::Settings ref;
        ref.color_type = type;
        c.set(ref);
        const bool wide = type == 1 || type >= 4;
        reference::Plane raw = SceneRaw(size.w, size.h, wide ? 1023 : 255, ref.bayer_mode,
                                        uint32_t(type * 131 + size.w));
        Images images(type, size.w, size.h);
        Load(frameconv::RawImageOf(images.view, type), raw);
        ConvertSettings s = ToLibrary(ref);
        ConvertChanges changes;
        frameconv::ConvertFrameImages(images.view, &s, nullptr, &changes);
        reference::Plane expected = reference::Convert(raw, ref);
        EXPECT_EQ("", Compare(frameconv::OutputImageOf(images.view, type), expected));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(ref.bayer_gain[i], s.bayerGain[i]);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(ref.gray_gain[i], s.grayGain[i]);
      }
}

// Random noise reaches every clamp of the filters.
TEST(FrameConverter, NoiseMatchesReference) {
  for (int type = 0; type <= 5; ++type) {
    SCOPED_TRACE("type " + std::to_string(type));
    reference::Settings ref;
    ref.color_type = type;
    ref.hue = 200, ref.saturation = 255, ref.gamma = 60, ref.contrast = -20, ref.sharpness = 30,
    ref.brightness = 255;
    ref.gray_mode = 1, ref.gray_gain[1] = 255, ref.gray_offset[2] = -255;
    const bool wide = type == 1 || type >= 4;
    reference::Plane raw = RandomRaw(36, 20, wide ? 1023 : 255, uint32_t(77 + type));
    Images images(type, 36, 20);
    Load(frameconv::RawImageOf(images.view, type), raw);
    ConvertSettings s = ToLibrary(ref);
    ConvertChanges changes;
    frameconv::ConvertFrameImages(images.view, &s, nullptr, &changes);
    EXPECT_EQ("", Compare(frameconv::OutputImageOf(images.view, type), reference::Convert(raw, ref)));
  }
}

// A neutral monochrome conversion leaves the raw bytes, and the row padding, alone.
TEST(FrameConverter, NeutralMonochromeIsTheRawFrame) {
  for (int type = 0; type <= 1; ++type)
    for (int gray_mode = 0; gray_mode <= 2; ++gray_mode) {
      Images images(type, 38, 10);
      CDibImage* raw = frameconv::RawImageOf(images.view, type);
      std::mt19937 rng(5);
      for (int i = 0; i < raw->Stride() * raw->Height(); ++i) raw->Pixels()[i] = uint8_t(rng());
      std::vector<uint8_t> before(raw->Pixels(), raw->Pixels() + raw->Stride() * raw->Height());
      ConvertSettings s;
      s.colorType = type;
      s.grayMode = gray_mode;
      s.grayOffset[0] = 50;  // offsets alone do nothing
      s.hue = 90;            // no hue in monochrome
      ConvertChanges changes;
      frameconv::ConvertFrameImages(images.view, &s, nullptr, &changes);
      if (type == 1 || gray_mode != 2) {
        EXPECT_EQ(0, std::memcmp(before.data(), raw->Pixels(), before.size()))
            << "type " << type << " gray mode " << gray_mode;
      }
    }
}

TEST(FrameConverter, WhiteBalanceWords) {
  struct {
    int words[3];
    int after[3];
  } const cases[] = {
      {{1, 1, 1}, {0, 0, 0}},  // once
      {{1, 0, 0}, {1, 0, 0}},  // every frame
      {{0, 1, 1}, {0, 1, 1}},  // off: the words stay and nothing is measured
  };
  for (const auto& c : cases) {
    Images images(2, 16, 16);
    reference::Plane raw(16, 16, 1);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) raw.At(x, y) = reference::BayerColourAt(2, x, y) == 2 ? 30 : 90;
    Load(images.mono8.get(), raw);
    ConvertSettings s;
    s.colorType = 2;
    for (int i = 0; i < 3; ++i) s.whiteBalance[i] = c.words[i];
    ConvertChanges changes;
    frameconv::ConvertFrameImages(images.view, &s, nullptr, &changes);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c.after[i], s.whiteBalance[i]);
    EXPECT_EQ(c.words[0] != 0, changes.bayerGains);
    // Blue reads a third of the others: its gain would be 300.
    EXPECT_EQ(c.words[0] ? 300 : 100, s.bayerGain[2]);
    EXPECT_EQ(100, s.bayerGain[0]);
  }
}

// A strongly tinted scene stops at 400; a scene without blue keeps the previous gains.
TEST(FrameConverter, WhiteBalanceLimits) {
  for (int blue : {5, 0}) {
    Images images(4, 16, 16);
    reference::Plane raw(16, 16, 1);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        raw.At(x, y) = reference::BayerColourAt(2, x, y) == 2 ? blue : 800;
    Load(images.mono16.get(), raw);
    ConvertSettings s;
    s.colorType = 4;
    s.whiteBalance[0] = 1;
    s.bayerGain[0] = 111, s.bayerGain[2] = 222;
    ConvertChanges changes;
    frameconv::ConvertFrameImages(images.view, &s, nullptr, &changes);
    EXPECT_EQ(blue ? 400 : 222, s.bayerGain[2]) << "blue " << blue;
    // (T / Rm / 3 x 100) / (T / Gm / 3) with Rm = Gm is 99.99999999999999 in double.
    EXPECT_EQ(blue ? 99 : 111, s.bayerGain[0]);
  }
}

TEST(FrameConverter, GrayBalanceCounter) {
  struct {
    int before, after;
  } const steps[] = {{1, 0}, {-1, -2}, {-7, -8}, {INT_MIN, INT_MIN}};
  for (const auto& step : steps) {
    Images images(0, 8, 8);
    reference::Plane raw(8, 8, 1);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) raw.At(x, y) = reference::CellAt(2, x, y) == 3 ? 50 : 100;
    Load(images.mono8.get(), raw);
    ConvertSettings s;
    s.colorType = 0;
    s.grayMode = 1;
    s.grayBalance = step.before;
    ConvertChanges changes;
    frameconv::ConvertFrameImages(images.view, &s, nullptr, &changes);
    EXPECT_EQ(step.after, s.grayBalance);
    EXPECT_TRUE(changes.grayGains);
    EXPECT_EQ(256, s.grayGain[frameconv::kCellB]);
    EXPECT_EQ(100, Sample(*images.mono8, 1, 1, 0));  // the B cell of mode 2, evened out
  }
}

// Missing or unlike images are skipped instead of read or written out of bounds.
TEST(FrameConverter, MissingOrUnlikeImages) {
  for (int type = 0; type <= 5; ++type) {
    Images images(type, 20, 12);
    FrameImages view = images.view;
    ConvertSettings s;
    s.colorType = type;
    s.sharpness = 5, s.gamma = 50, s.grayMode = 2, s.whiteBalance[0] = 1;
    ConvertChanges changes;
    FrameImages none;
    frameconv::ConvertFrameImages(none, &s, nullptr, &changes);
    // An output smaller than the raw frame, and a scratch of another size.
    CDibImage small;
    ASSERT_EQ(1, small.Create(8, 8, 24));
    view.rgb24 = &small;
    ASSERT_EQ(1, images.scratch->Create(4, 4, 8));
    frameconv::ConvertFrameImages(view, &s, nullptr, &changes);
    CDibImage* out = frameconv::OutputImageOf(view, type);
    EXPECT_EQ(out->Width(), images.scratch->Width());
    EXPECT_EQ(out->BitCount(), images.scratch->BitCount());
  }
}

class FakeSensor : public frameconv::SensorAccess {
 public:
  int32_t gain = 16, minimum = 0, lines = 480, maximum = 32767;
  int gain_writes = 0, exposure_writes = 0;
  int32_t GlobalGain() override { return gain; }
  int32_t MinimumGlobalGain() override { return minimum; }
  void SetGlobalGain(int32_t g) override { gain = g, ++gain_writes; }
  int32_t ExposureLines() override { return lines; }
  int32_t MaximumExposureLines() override { return maximum; }
  void SetExposureLines(int32_t l) override { lines = l, ++exposure_writes; }
};

// The five window means set by painting the windows; the rest of the frame is neutral.
void PaintWindows(CDibImage& raw, const int levels[5]) {
  const bool wide = raw.BitCount() == 16;
  for (int y = 0; y < raw.Height(); ++y)
    for (int x = 0; x < raw.Width(); ++x) Put(raw, x, y, 0, wide ? 130 * 4 : 130);
  imaging::Rect windows[5];
  imaging::AutoIrisWindows(raw.Width(), raw.Height(), windows);
  for (int i = 0; i < 5; ++i)
    for (int y = windows[i].top; y < windows[i].bottom; ++y)
      for (int x = windows[i].left; x < windows[i].right; ++x)
        Put(raw, x, y, 0, wide ? levels[i] * 4 : levels[i]);
}

TEST(AutoIris, Steps) {
  struct {
    const char* name;
    int mode;
    int levels[5];
    int32_t gain, minimum, lines;
    int expect_kind;
    int32_t expect_value;
  } const cases[] = {
      {"off", 0, {250, 250, 250, 250, 250}, 16, 0, 480, frameconv::kAutoIrisNone, 0},
      {"neutral", 1, {130, 130, 130, 130, 130}, 16, 0, 480, frameconv::kAutoIrisNone, 0},
      {"dark rises", 1, {10, 10, 10, 10, 10}, 16, 0, 480, frameconv::kAutoIrisExposure, 600},
      {"four dark, one neutral", 1, {10, 10, 130, 10, 10}, 16, 0, 1000, frameconv::kAutoIrisExposure, 1200},
      {"long exposure saturates", 1, {10, 10, 10, 10, 10}, 16, 0, 32767, frameconv::kAutoIrisExposure, 32767},
      // Five steps of -0.15 leave 0.24999999999999992 in double.
      {"bright falls", 1, {250, 250, 250, 250, 250}, 16, 0, 480, frameconv::kAutoIrisExposure, 119},
      {"short exposure stays 1", 1, {250, 250, 250, 250, 250}, 16, 0, 3, frameconv::kAutoIrisExposure, 1},
      {"bright gain", 2, {250, 250, 250, 250, 250}, 40, 0, 480, frameconv::kAutoIrisGain, 9},
      {"bright gain to minimum", 2, {250, 250, 250, 250, 250}, 40, 12, 480, frameconv::kAutoIrisGain, 12},
      {"dark gain from 0", 2, {10, 10, 10, 10, 10}, 0, 0, 480, frameconv::kAutoIrisGain, 5},
      {"dark gain small", 2, {10, 10, 10, 10, 130}, 3, 0, 480, frameconv::kAutoIrisGain, 4},
      {"dark gain top", 2, {10, 10, 10, 10, 10}, 60, 0, 480, frameconv::kAutoIrisGain, 63},
      {"high means", 2, {170, 170, 170, 170, 170}, 40, 0, 480, frameconv::kAutoIrisGain, 20},
  };
  for (int bits : {8, 16})
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(bits) + " bits");
      CDibImage raw;
      ASSERT_EQ(1, raw.Create(100, 60, uint16_t(bits)));
      PaintWindows(raw, c.levels);
      FakeSensor sensor;
      sensor.gain = c.gain, sensor.minimum = c.minimum, sensor.lines = c.lines;
      ConvertChanges changes;
      EXPECT_EQ(c.mode == 0 ? 0 : 1, frameconv::AutoIrisStep(&raw, c.mode, &sensor, &changes));
      EXPECT_EQ(c.expect_kind, changes.autoIris);
      if (c.expect_kind == frameconv::kAutoIrisExposure) {
        EXPECT_EQ(c.expect_value, sensor.lines);
        EXPECT_EQ(1, sensor.exposure_writes);
      } else if (c.expect_kind == frameconv::kAutoIrisGain) {
        EXPECT_EQ(c.expect_value, sensor.gain);
        EXPECT_EQ(1, sensor.gain_writes);
      } else {
        EXPECT_EQ(0, sensor.gain_writes + sensor.exposure_writes);
      }
      if (c.expect_kind != frameconv::kAutoIrisNone) {
        EXPECT_EQ(c.expect_value, changes.autoIrisValue);
      }
    }
  ConvertChanges changes;
  EXPECT_EQ(0, frameconv::AutoIrisStep(nullptr, 1, nullptr, &changes));
}

}  // namespace
