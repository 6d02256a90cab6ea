// The frame conversion as the acquisition worker runs it (pipeline and live settings) under Wine:
// settings in, measured values out, dialog notices posted, and the automatic modes against the
// virtual camera's sensor.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "camera/device_sensor.h"
#include "camera/live_settings.h"
#include "device/qelvan_device.h"
#include "dialogs/camera_access.h"
#include "output/dib_image.h"
#include "output/frame_converter.h"
#include "output/frame_pipeline.h"
#include "reference/pipeline_reference.h"
#include "vcamctl.h"

namespace {

int Sample(const CDibImage& img, int x, int y, int c) {
  const uint8_t* p = img.Pixels() + size_t(y) * img.Stride() + size_t(x) * img.BytesPerPixel();
  if (img.BitCount() == 16 || img.BitCount() >= 48) {
    uint16_t v;
    std::memcpy(&v, p + 2 * c, 2);
    return v;
  }
  return p[c];
}

void Put(CDibImage& img, int x, int y, int v) {
  uint8_t* p = img.Pixels() + size_t(y) * img.Stride() + size_t(x) * img.BytesPerPixel();
  if (img.BitCount() == 16) {
    uint16_t t = uint16_t(v);
    std::memcpy(p, &t, 2);
  } else {
    p[0] = uint8_t(v);
  }
}

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

using namespace settings;

// The pipeline of one colour type with neutral settings, converted as the worker converts.
struct Instance {
  output::FramePipeline pipeline;
  LiveSettings live;
  frameconv::SensorAccess* sensor = nullptr;

  Instance(int type, int w, int h) {
    EXPECT_TRUE(pipeline.Prepare(static_cast<output::ColorType>(type), w, h));
    live.Update([&](CameraSettings& s) {
      s.stream.colorType = type;
      s.filters = FilterBlock::Defaults();
    });
  }
  int Type() const { return live.Get().stream.colorType; }
  FilterBlock Filters() const { return live.Get().filters; }
  AnalogValues Analog() const { return live.Get().analog; }
  void SetFilters(const std::function<void(int*)>& set) {
    live.Update([&](CameraSettings& s) { set(s.filters.value); });
  }
  void Convert() {
    frameconv::ConvertSettings s = live.ForConversion();
    frameconv::ConvertChanges changes;
    pipeline.Convert(&s, sensor, &changes);
    pipeline.Publish();
    live.StoreConversion(s, changes);
  }
  CDibImage* Raw() { return pipeline.Raw(); }
  const CDibImage* Out() { return pipeline.Output(); }
  void Load(const reference::Plane& p) {
    for (int y = 0; y < p.h; ++y)
      for (int x = 0; x < p.w; ++x) Put(*Raw(), x, y, p.At(x, y));
  }
};

reference::Settings FromInstance(const Instance& in) {
  reference::Settings s;
  const FilterBlock f = in.Filters();
  s.color_type = in.Type();
  s.bayer_mode = f[kFilterBayerMode];
  s.gray_mode = f[kFilterGrayMode];
  for (int i = 0; i < 4; ++i) s.gray_gain[i] = f[kFilterGrayGain + i], s.gray_offset[i] = f[kFilterGrayOffset + i];
  s.bayer_gain[0] = f[kFilterGainRed];
  s.bayer_gain[1] = f[kFilterGainGreen];
  s.bayer_gain[2] = f[kFilterGainBlue];
  s.white_balance = f[kFilterWhiteBalance];
  s.gray_balance = f[kFilterGrayBalance];
  s.hue = f[kFilterHue];
  s.saturation = f[kFilterSaturation];
  s.gamma = f[kFilterGamma];
  s.contrast = f[kFilterContrast];
  s.sharpness = f[kFilterSharpness];
  s.brightness = f[kFilterBrightness];
  return s;
}

// One 8-bit frame of camera 0 (colour, full window) with the scene frozen.
reference::Plane Shot(CQelvanZ51QKRVNSdk& dev) {
  std::vector<uint8_t> frame(752 * 480);
  reference::Plane p(752, 480, 1);
  EXPECT_EQ(0, dev.SingleShot());
  EXPECT_EQ(0, dev.GetShotFrame(frame.data(), frame.size()));
  dev.CloseSingleShot();
  for (size_t i = 0; i < frame.size(); ++i) p.v[i] = frame[i];
  return p;
}

// A 10-bit frame made from an 8-bit one: four times the level plus a fixed low pattern.
reference::Plane Widen(const reference::Plane& p) {
  reference::Plane w = p;
  for (size_t i = 0; i < w.v.size(); ++i) w.v[i] = w.v[i] * 4 + int(i * 7 % 4);
  return w;
}

// Collects the messages a window got, without dispatching anything else.
struct MessageWindow {
  HWND hwnd = nullptr;
  MessageWindow() {
    hwnd = CreateWindowExA(0, "STATIC", "convert test", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                           nullptr, nullptr);
  }
  ~MessageWindow() { DestroyWindow(hwnd); }
  // (message, wParam, lParam) of every pending message.
  std::vector<MSG> Drain() {
    std::vector<MSG> out;
    MSG msg;
    while (PeekMessageA(&msg, hwnd, 0, 0, PM_REMOVE)) out.push_back(msg);
    return out;
  }
};

class VirtualCameraConvert : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vcamctl_reset(), 0u) << "the virtual camera driver does not answer";
    ASSERT_EQ(vcamctl_scene(0, 0), 0u);
  }
};

// A real frame through every colour type and a spread of settings, read once from the
// instance's filter block, against the reference.
TEST_F(VirtualCameraConvert, FramesMatchTheReference) {
  CQelvanZ51QKRVNSdk dev;
  const reference::Plane frame8 = Shot(dev);
  const reference::Plane frame10 = Widen(frame8);
  struct {
    const char* name;
    std::function<void(int*)> set;
  } const cases[] = {
      {"neutral", [](int*) {}},
      {"bayer mode 0, gains", [](int* f) { f[kFilterBayerMode] = 0, f[kFilterGainRed] = 170, f[kFilterGainBlue] = 60; }},
      {"bayer mode 3, hue", [](int* f) { f[kFilterBayerMode] = 3, f[kFilterHue] = 45, f[kFilterSaturation] = 40; }},
      {"all filters",
       [](int* f) {
         f[kFilterHue] = -30, f[kFilterSaturation] = 90, f[kFilterGamma] = 140, f[kFilterContrast] = 25,
         f[kFilterSharpness] = 12, f[kFilterBrightness] = -40;
       }},
      {"gray mode 1", [](int* f) { f[kFilterGrayMode] = 1, f[kFilterGrayGain] = 150, f[kFilterGrayOffset + 3] = -20; }},
      {"gray mode 2", [](int* f) { f[kFilterGrayMode] = 2, f[kFilterGamma] = 70; }},
  };
  for (int type = 0; type <= 5; ++type)
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", type " + std::to_string(type));
      Instance in(type, 752, 480);
      in.SetFilters(c.set);
      const bool wide = type == 1 || type >= 4;
      in.Load(wide ? frame10 : frame8);
      reference::Settings ref = FromInstance(in);
      in.Convert();
      EXPECT_EQ("", Compare(in.Out(), reference::Convert(wide ? frame10 : frame8, ref)));
    }
}

// The once-only measurements store their results, switch themselves off and ask the open
// image-filter dialog to refresh; the running ones keep going.
TEST_F(VirtualCameraConvert, OnceMeasurementsStoreAndNotify) {
  CQelvanZ51QKRVNSdk dev;
  const reference::Plane frame = Shot(dev);
  MessageWindow dialog;
  ASSERT_NE(nullptr, dialog.hwnd);

  {  // White balance once.
    Instance in(2, 752, 480);
    in.live.imageDialog = dialog.hwnd;
    in.SetFilters([](int* f) { f[kFilterWhiteBalance] = f[kFilterWhiteBalance + 1] = f[kFilterWhiteBalance + 2] = 1; });
    in.Load(frame);
    int expected[3];
    ASSERT_TRUE(reference::WhiteBalance(frame, 2, expected));
    in.Convert();
    const FilterBlock f = in.Filters();
    EXPECT_EQ(std::min(expected[0], 400), f[kFilterGainRed]);
    EXPECT_EQ(100, f[kFilterGainGreen]);
    EXPECT_EQ(std::min(expected[2], 400), f[kFilterGainBlue]);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(0, f[kFilterWhiteBalance + i]);
    auto msgs = dialog.Drain();
    ASSERT_EQ(1u, msgs.size());
    EXPECT_EQ(dialogs::kRefreshImageDialogMessage, msgs[0].message);
  }
  {  // Gray balance once: four gains, the counter back to 0.
    Instance in(0, 752, 480);
    in.live.imageDialog = dialog.hwnd;
    in.SetFilters([](int* f) { f[kFilterGrayMode] = 1, f[kFilterGrayBalance] = 1; });
    in.Load(frame);
    int expected[4] = {128, 128, 128, 128};
    ASSERT_TRUE(reference::GrayBalance(frame, 2, 255, expected));
    in.Convert();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(expected[i], in.Filters()[kFilterGrayGain + i]) << i;
    EXPECT_EQ(0, in.Filters()[kFilterGrayBalance]);
    EXPECT_EQ(1u, dialog.Drain().size());
    // Gray balance off now: gains stay, no notice.
    in.Load(frame);
    in.Convert();
    EXPECT_EQ(0, in.Filters()[kFilterGrayBalance]);
    EXPECT_EQ(0u, dialog.Drain().size());
  }
  {  // White balance on every frame keeps its word, and a closed dialog gets nothing.
    Instance in(3, 752, 480);
    in.SetFilters([](int* f) { f[kFilterWhiteBalance] = 1; });
    in.Load(frame);
    in.Convert();
    EXPECT_EQ(1, in.Filters()[kFilterWhiteBalance]);
    EXPECT_EQ(0u, dialog.Drain().size());
  }
}

// Fixed sensor answers, so that the instance's mirrors and the dialog notices can be checked.
class ScriptedSensor : public frameconv::SensorAccess {
 public:
  int32_t gain = 40, lines = 32767;
  int32_t GlobalGain() override { return gain; }
  int32_t MinimumGlobalGain() override { return 0; }
  void SetGlobalGain(int32_t g) override { gain = g; }
  int32_t ExposureLines() override { return lines; }
  int32_t MaximumExposureLines() override { return 32767; }
  void SetExposureLines(int32_t l) override { lines = l; }
};

TEST(ConvertFrame, AutomaticStepUpdatesMirrorsAndTheAnalogDialog) {
  MessageWindow dialog;
  ASSERT_NE(nullptr, dialog.hwnd);
  for (int mode : {1, 2}) {
    for (int level : {5, 250}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + ", level " + std::to_string(level));
      Instance in(0, 100, 60);
      ScriptedSensor sensor;
      in.sensor = &sensor;
      in.live.analogDialog = dialog.hwnd;
      in.live.Update([&](CameraSettings& s) { s.analog.autoIris = mode, s.analog.exposureLines = 32767; });
      reference::Plane flat(100, 60, 1);
      for (int& v : flat.v) v = level;
      in.Load(flat);
      in.Convert();
      auto msgs = dialog.Drain();
      ASSERT_EQ(1u, msgs.size());
      EXPECT_EQ(dialogs::kSetAnalogControlMessage, msgs[0].message);
      const AnalogValues a = in.Analog();
      if (mode == 2) {
        const int expected = level == 5 ? 50 : 9;  // 40 x 1.25; 40 x 0.2499...
        EXPECT_EQ(expected, sensor.gain);
        for (int g : {a.globalGain, a.colorGainRed, a.colorGainGreen1, a.colorGainGreen2, a.colorGainBlue})
          EXPECT_EQ(expected, g);
        EXPECT_EQ(WPARAM(1015), msgs[0].wParam);
        EXPECT_EQ(LPARAM(expected), msgs[0].lParam);
      } else {
        // A dark scene at the longest exposure stays there instead of wrapping to 1 line.
        const int expected = level == 5 ? 32767 : 8191;
        EXPECT_EQ(expected, sensor.lines);
        EXPECT_EQ(expected, a.exposureLines);
        EXPECT_EQ(WPARAM(1027), msgs[0].wParam);
        EXPECT_EQ(LPARAM(expected), msgs[0].lParam);
      }
    }
  }
}

// Runs frames of the virtual camera through the conversion with the automatic mode on until
// the sensor setting stops changing; returns the settings seen after each frame.
std::vector<int> RunAutomatic(Instance& in, CQelvanZ51QKRVNSdk& dev, int mode, int frames) {
  std::vector<int> seen;
  int unchanged = 0;
  for (int i = 0; i < frames && unchanged < 4; ++i) {
    in.Load(Shot(dev));
    in.Convert();
    vcam_regs regs = {};
    EXPECT_EQ(0u, vcamctl_regs(0, &regs));
    const int value = mode == 1 ? regs.regs[11] : regs.regs[53] - 16;
    unchanged = !seen.empty() && seen.back() == value ? unchanged + 1 : 0;
    seen.push_back(value);
  }
  return seen;
}

TEST_F(VirtualCameraConvert, ExposureRisesFromADarkStartAndSettles) {
  Instance in(0, 752, 480);
  CQelvanZ51QKRVNSdk dev;
  DeviceSensor sensor(dev, 480);
  in.sensor = &sensor;
  in.live.Update([](CameraSettings& s) { s.analog.autoIris = 1; });
  ASSERT_EQ(1, dev.SetExposureLines(24));
  std::vector<int> seen = RunAutomatic(in, dev, 1, 60);
  ASSERT_GE(seen.size(), 5u);
  EXPECT_GT(seen[0], 24);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i], 32767);
  EXPECT_EQ(seen[seen.size() - 1], seen[seen.size() - 4]) << "exposure did not settle";
  EXPECT_GT(seen.back(), 100);
  EXPECT_EQ(seen.back(), in.Analog().exposureLines);
}

TEST_F(VirtualCameraConvert, GainFallsFromABrightStartAndSettles) {
  Instance in(2, 752, 480);
  CQelvanZ51QKRVNSdk dev;
  DeviceSensor sensor(dev, 480);
  in.sensor = &sensor;
  in.live.Update([](CameraSettings& s) { s.analog.autoIris = 2; });
  ASSERT_EQ(1, dev.SetExposureLines(960));  // with the highest gain: well above the scene's level
  ASSERT_EQ(1, dev.SetGlobalGain(63));
  std::vector<int> seen = RunAutomatic(in, dev, 2, 60);
  ASSERT_GE(seen.size(), 5u);
  EXPECT_LT(seen[0], 63);
  EXPECT_EQ(seen[seen.size() - 1], seen[seen.size() - 4]) << "gain did not settle";
  EXPECT_EQ(seen.back(), in.Analog().globalGain);
  EXPECT_EQ(seen.back(), in.Analog().colorGainBlue);
}

}  // namespace
