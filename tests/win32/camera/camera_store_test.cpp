// The registry store: values that are missing, short or out of range, preset lists with gaps,
// and the preset lookup behind Qelvan_SetCaptureWindow.
#include "camera/camera_fixture.h"
#include "settings/registry_store.h"

namespace {

using StoreTest = CameraTest;

TEST_F(StoreTest, MissingAndShortGainValuesRepeatTheOneBefore) {
  const std::string gain = CameraPath(0, "Gain");
  SetDword(gain, "Global", 12);
  SetDword(gain, "ColorG1", 7);
  // ColorR missing: takes ColorG1's 7. ColorB two bytes long: counts as missing too.
  const uint16_t half = 0x0BAD;
  SetBinary(gain, "ColorB", &half, sizeof half);
  SetDword(gain, "ColorG2", 9);
  SetDword(gain, "Exposure", 333);
  // V_Mirror, H_Mirror and AutoIris missing: all repeat the exposure.
  const QelvanHandle h = Open();
  ASSERT_EQ(1, Release(h));
  EXPECT_EQ(12, Dword(gain, "Global"));
  EXPECT_EQ(7, Dword(gain, "ColorG1"));
  EXPECT_EQ(7, Dword(gain, "ColorR"));
  EXPECT_EQ(7, Dword(gain, "ColorB"));
  EXPECT_EQ(9, Dword(gain, "ColorG2"));
  EXPECT_EQ(333, Dword(gain, "V_Mirror"));
  EXPECT_EQ(333, Dword(gain, "AutoIris"));
}

TEST_F(StoreTest, MissingFilterAndGrayValuesKeepTheirFieldsAndMissingKeysGiveDefaults) {
  const std::string filter = CameraPath(0, "Filter");
  const char* names[] = {"Brightness", "Contrast", "Hue", "Saturation", "Sharpness",
                         "R_Gain",     "G_Gain",   "B_Gain", "BayerMode"};
  for (int i = 0; i < 9; ++i) SetDword(filter, names[i], 10 + i);
  // Gamma missing: the instance's own field, 0 after construction, stays.
  const uint8_t one = 1;
  SetBinary(filter, "Contrast", &one, 1);  // a one-byte value must not overwrite a byte of it
  SetDword(CameraPath(0, "Gray"), "GainG2", 200);
  const QelvanHandle h = Open();
  int ok = 0;
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetGamma", h, &ok));
  ASSERT_EQ(1, Release(h));
  EXPECT_EQ(10, Dword(filter, "Brightness"));
  EXPECT_EQ(0, Dword(filter, "Contrast"));
  EXPECT_EQ(0, Dword(filter, "Gamma"));
  EXPECT_EQ(18, Dword(filter, "BayerMode"));
  EXPECT_EQ(200, Dword(CameraPath(0, "Gray"), "GainG2"));
  EXPECT_EQ(0, Dword(CameraPath(0, "Gray"), "GainR1"));
  // No Gain key: its defaults, including exposure 480.
  EXPECT_EQ(480, Dword(CameraPath(0, "Gain"), "Exposure"));
  EXPECT_EQ(16, Dword(CameraPath(0, "Gain"), "Global"));
}

TEST_F(StoreTest, UnusableCameraValuesCountAsMissing) {
  struct Case {
    int color, subSample, waitTime;
    int expectMode, expectSub, expectWait;
  } cases[] = {{7, 3, -5, 8, 0, 10}, {-1, -1, 0, 8, 0, 0}, {5, 2, 1000, 58, 2, 1000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.color);
    SetDword(CameraPath(0), "Color", c.color);
    SetDword(CameraPath(0), "SubSample", c.subSample);
    SetDword(CameraPath(0), "WaitTime", c.waitTime);
    const QelvanHandle h = Open();
    EXPECT_EQ(c.expectMode, Qelvan<int>("Qelvan_GetColorMode", h));
    EXPECT_EQ(c.expectSub, Qelvan<int>("Qelvan_GetSubSample", h));
    EXPECT_EQ(c.expectWait, Qelvan<int>("Qelvan_GetWaitTime", h));
    Release(h);
  }
}

TEST_F(StoreTest, PresetLookupTakesTheFirstMatchAndRefusesOthers) {
  SetPreset(0, 0, 752, 480, 752, 480, 0, 0, 4);
  SetPreset(0, 1, 700, 400, 320, 240, 16, 8, 3);
  SetPreset(0, 2, 752, 480, 320, 240, 400, 200, 4);  // same size, later: never chosen
  SetPreset(0, 3, 752, 480, 700, 100, 100, 0, 4);    // does not fit the sensor
  SetPreset(0, 5, 752, 480, 640, 480, 0, 0, 4);      // beyond the gap at 4
  SetDword(CameraPath(0), "Size", 0);
  const QelvanHandle h = Open();
  int g[6];

  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetCaptureWindow", h, 320, 240));
  Window(h, g);
  EXPECT_EQ((std::vector<int>{700, 16, 320, 400, 8, 240}), std::vector<int>(g, g + 6));
  EXPECT_EQ(320, Regs(0).regs[4]);
  EXPECT_TRUE(Errors(h).empty());

  for (int width : {640, 100}) {
    EXPECT_EQ(0, Qelvan<int>("Qelvan_SetCaptureWindow", h, width, width == 640 ? 480 : 100));
    EXPECT_EQ(ERR_WINDOW, LastError(h));
    Window(h, g);
    EXPECT_EQ(320, g[2]);
  }

  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetCaptureWindow", h, 700, 100));
  EXPECT_EQ(ERR_GEOMETRY, LastError(h));
  Window(h, g);
  EXPECT_EQ((std::vector<int>{752, 0, 752, 480, 0, 480}), std::vector<int>(g, g + 6));
  EXPECT_EQ(752, Regs(0).regs[4]);

  // Without the camera key there is nothing to look in.
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, kBasePath));
  EXPECT_EQ(0, Qelvan<int>("Qelvan_SetCaptureWindow", h, 752, 480));
  EXPECT_EQ(ERR_WINDOW, LastError(h));
}

// White-box: the dialog's preset list.
TEST_F(StoreTest, PresetListStopsAtAGapAndSavesItsCameraValues) {
  settings::PresetList list;
  EXPECT_FALSE(settings::LoadPresetList(7, &list));
  SetPreset(7, 0, 752, 480, 640, 480, 0, 0, 4);
  SetPreset(7, 2, 752, 480, 320, 240, 0, 0, 4);
  SetDword(CameraPath(7), "Clock", 4);
  ASSERT_TRUE(settings::LoadPresetList(7, &list));
  ASSERT_EQ(1u, list.presets.size());
  EXPECT_EQ(640, list.presets[0].width);
  EXPECT_EQ(4, list.values.clock);

  list.presets.push_back(list.presets[0]);
  list.presets[1].width = 100;
  list.values.subSample = 5;  // anything but 1 and 2 is stored as 0
  list.values.color = 3;
  ASSERT_TRUE(settings::SavePresetList(7, list));
  EXPECT_EQ(100, Dword(CameraPath(7, "Size_01"), "EH"));
  EXPECT_EQ(320, Dword(CameraPath(7, "Size_02"), "EH"));  // left in place
  EXPECT_EQ(0, Dword(CameraPath(7), "SubSample"));
  EXPECT_EQ(3, Dword(CameraPath(7), "Color"));
  ASSERT_TRUE(settings::LoadPresetList(7, &list));
  EXPECT_EQ(3u, list.presets.size());  // the old third preset comes back once the gap is filled
}

}  // namespace
