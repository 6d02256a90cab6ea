// The analog settings dialog against the virtual camera: every change reaches the sensor at
// once, Cancel puts the sensor and the camera back, nothing reaches the registry before release.
#include "dialog_driver.h"

namespace {

class AnalogDialog : public DialogTest {};

int Reg(int r) { return DialogTest::Regs().regs[r]; }

int32_t StoredGain(const char* name) {
  int32_t value = -12345;
  EXPECT_TRUE(ReadValue("Camera_00\\Gain", name, &value)) << name;
  return value;
}

TEST_F(AnalogDialog, OpensWithTheCamerasValuesAndTheDevicesRanges) {
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_SetGlobalGain)(h, 20), 1);
  ASSERT_EQ(QELVAN(Qelvan_SetExposureTime)(h, 300), 1);
  ASSERT_EQ(QELVAN(Qelvan_SetMirrorH)(h, 1), 1);
  ASSERT_EQ(QELVAN(Qelvan_SetMirrorV)(h, 0), 1);
  ASSERT_EQ(QELVAN(Qelvan_SetAutoIris)(h, 2), 1);
  DialogRun run(Dialog::kAnalog, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);
  ASSERT_NE(page, nullptr);
  Screenshot(dialog, "analog_en");

  EXPECT_EQ(Text(page, IDC_GAIN_ED), "20");
  EXPECT_EQ(Text(page, IDC_EXPOSURE_ED), "300");
  EXPECT_TRUE(Checked(page, IDC_MIRROR_H));
  EXPECT_FALSE(Checked(page, IDC_MIRROR_V));
  EXPECT_TRUE(Checked(page, IDC_IRIS_GAIN));
  EXPECT_FALSE(Checked(page, IDC_IRIS_EXPOSURE));
  EXPECT_EQ(TabItems(dialog), std::vector<std::wstring>{L"Analog Gain"});

  struct Expect {
    int trackbar, edit, updown, min, max;
    bool enabled;
  };
  const Expect rows[] = {
      {IDC_GAIN_TB, IDC_GAIN_ED, IDC_GAIN_UD, 0, 63, true},
      {IDC_G1_TB, IDC_G1_ED, IDC_G1_UD, 0, 63, false},
      {IDC_R_TB, IDC_R_ED, IDC_R_UD, 0, 63, false},
      {IDC_B_TB, IDC_B_ED, IDC_B_UD, 0, 63, false},
      {IDC_G2_TB, IDC_G2_ED, IDC_G2_UD, 0, 63, false},
      {IDC_EXPOSURE_TB, IDC_EXPOSURE_ED, IDC_EXPOSURE_UD, 1, 32767, true},
  };
  for (const Expect& row : rows) {
    SCOPED_TRACE(row.trackbar);
    EXPECT_EQ(SendMessageA(Item(page, row.trackbar), TBM_GETRANGEMIN, 0, 0), row.min);
    EXPECT_EQ(SendMessageA(Item(page, row.trackbar), TBM_GETRANGEMAX, 0, 0), row.max);
    int low = -1, high = -1;
    SendMessageA(Item(page, row.updown), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                 reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, row.min);
    EXPECT_EQ(high, row.max);
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(Item(page, row.updown), UDM_GETBUDDY, 0, 0)),
              Item(page, row.edit));
    for (int id : {row.trackbar, row.edit, row.updown})
      EXPECT_EQ(IsWindowEnabled(Item(page, id)) != 0, row.enabled) << id;
  }
  Click(dialog, IDCANCEL);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
}

// Each control reaches the sensor at once; OK keeps the values in the camera instance, which
// saves them only when it is released.
TEST_F(AnalogDialog, ControlsReachTheSensorAtOnceAndReleaseSavesThem) {
  const QelvanHandle h = Open();
  // The normal clock at full width: the time label uses its line length and clock period.
  ASSERT_EQ(QELVAN(Qelvan_SetHalfClock)(h, 0), 1);
  int ok = 0;
  QELVAN(Qelvan_GetRealExposureTime)(h, &ok);
  ASSERT_EQ(ok, 1);
  DialogRun run(Dialog::kAnalog, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);

  MoveTrackbar(page, IDC_GAIN_TB, 40);
  EXPECT_EQ(Text(page, IDC_GAIN_ED), "40");
  EXPECT_EQ(Reg(53), 56);

  SetText(page, IDC_EXPOSURE_ED, "0");
  EXPECT_EQ(SendMessageA(Item(page, IDC_EXPOSURE_TB), TBM_GETPOS, 0, 0), 1);
  EXPECT_EQ(Reg(11), 1);

  SendMessageA(Item(page, IDC_EXPOSURE_UD), UDM_SETPOS32, 0, 1500);
  EXPECT_EQ(Text(page, IDC_EXPOSURE_ED), "1500");
  EXPECT_EQ(Reg(11), 1500);
  EXPECT_EQ(Text(page, IDC_EXPOSURE_TIME), "=51.00ms");  // 1500 lines x 816 clocks / 24000 per ms

  Click(page, IDC_MIRROR_V);
  EXPECT_EQ(Reg(13) & 0x10, 0) << "mirror V on clears bit 4";
  EXPECT_EQ(QELVAN(Qelvan_GetMirrorV)(h), 1);

  Click(dialog, IDC_DEFAULT);
  EXPECT_EQ(Reg(53), 32);
  EXPECT_EQ(Reg(11), 480);
  EXPECT_EQ(Text(page, IDC_GAIN_ED), "16");
  EXPECT_EQ(Text(page, IDC_EXPOSURE_ED), "480");
  EXPECT_EQ(SendMessageA(Item(page, IDC_GAIN_TB), TBM_GETPOS, 0, 0), 16);
  MoveTrackbar(page, IDC_GAIN_TB, 40);

  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
  EXPECT_EQ(Reg(53), 56) << "OK keeps the live values";
  EXPECT_FALSE(KeyExists("Camera_00\\Gain")) << "the dialog itself writes nothing to the registry";
  EXPECT_EQ(Release(h), 1);
  EXPECT_EQ(StoredGain("Global"), 40);
  EXPECT_EQ(StoredGain("Exposure"), 480);
  EXPECT_EQ(StoredGain("V_Mirror"), 1);
}

TEST_F(AnalogDialog, AutoIrisBoxesAreExclusive) {
  const QelvanHandle h = Open();
  DialogRun run(Dialog::kAnalog, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);
  auto autoIris = [h] {
    int ok = 0;
    return QELVAN(Qelvan_GetAutoIris)(h, &ok);
  };
  Click(page, IDC_IRIS_EXPOSURE);
  EXPECT_EQ(autoIris(), 1);
  Click(page, IDC_IRIS_GAIN);
  EXPECT_EQ(autoIris(), 2);
  EXPECT_FALSE(Checked(page, IDC_IRIS_EXPOSURE));
  Click(page, IDC_IRIS_GAIN);
  EXPECT_EQ(autoIris(), 0);
  Click(page, IDC_IRIS_GAIN);
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(autoIris(), 2);
}

// Cancel, and a quit message that ends the dialog's loop, restore the sensor and the camera
// instance as they were when the dialog opened, including a Bayer mode the application changed
// meanwhile.
TEST_F(AnalogDialog, CancelRestoresSensorAndCameraInstance) {
  for (const char* ending : {"cancel", "quit"}) {
    SCOPED_TRACE(ending);
    const QelvanHandle h = Open();
    ASSERT_EQ(QELVAN(Qelvan_SetGlobalGain)(h, 12), 1);
    ASSERT_EQ(QELVAN(Qelvan_SetExposureTime)(h, 250), 1);
    ASSERT_EQ(QELVAN(Qelvan_SetAutoIris)(h, 1), 1);
    ASSERT_EQ(QELVAN(Qelvan_SetBayerMode)(h, 3), 1);
    const vcam_regs before = Regs();
    DialogRun run(Dialog::kAnalog, h);
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    HWND page = PageWith(dialog, IDC_GAIN_TB);
    MoveTrackbar(page, IDC_GAIN_TB, 50);
    SetText(page, IDC_EXPOSURE_ED, "900");
    Click(page, IDC_MIRROR_H);
    Click(page, IDC_MIRROR_V);
    Click(page, IDC_IRIS_GAIN);
    ASSERT_EQ(QELVAN(Qelvan_SetBayerMode)(h, 0), 1);
    ASSERT_EQ(Reg(53), 66);
    ASSERT_NE(Reg(13), before.regs[13]);
    if (std::string(ending) == "quit")
      PostThreadMessageA(run.threadId(), WM_QUIT, 0, 0);
    else
      Click(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitDone());
    EXPECT_EQ(run.result(), 1);
    for (int r : {53, 11, 13}) EXPECT_EQ(Reg(r), before.regs[r]) << "register " << r;
    int ok = 0;
    EXPECT_EQ(QELVAN(Qelvan_GetAutoIris)(h, &ok), 1);
    EXPECT_EQ(QELVAN(Qelvan_GetMirrorH)(h), 0);
    EXPECT_EQ(QELVAN(Qelvan_GetMirrorV)(h), 0);
    EXPECT_EQ(Filter(h, 12), 3);
    EXPECT_EQ(Release(h), 1);
    EXPECT_EQ(StoredGain("Global"), 12);
    EXPECT_EQ(StoredGain("Exposure"), 250);
  }
}

// Typed values are held to the row's range instead of reaching the sensor masked, and text
// that is no number changes nothing.
TEST_F(AnalogDialog, TypedValuesAreHeldToTheRowsRange) {
  const QelvanHandle h = Open();
  DialogRun run(Dialog::kAnalog, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);
  struct Case {
    const char* text;
    int gain;  // expected afterwards
  } cases[] = {{"300", 63}, {"-5", 0}, {"21", 21}, {"abc", 21}, {"", 21}, {"9999999999", 21}};
  for (const Case& c : cases) {
    SetText(page, IDC_GAIN_ED, c.text);
    EXPECT_EQ(Reg(53), c.gain + 16) << c.text;
    EXPECT_EQ(SendMessageA(Item(page, IDC_GAIN_TB), TBM_GETPOS, 0, 0), c.gain) << c.text;
  }
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(Reg(53), 21 + 16);
}

// Automatic exposure posts what it set to the open dialog, which shows it without writing it
// to the sensor a second time.
TEST_F(AnalogDialog, ShowsWhatAutomaticExposureSet) {
  const QelvanHandle h = Open();
  DialogRun run(Dialog::kAnalog, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);
  const uint32_t writes = Regs().log_count;
  PostMessageA(dialog, dialogs::kSetAnalogControlMessage, dialogs::kAnalogGainControl, 33);
  PostMessageA(dialog, dialogs::kSetAnalogControlMessage, dialogs::kAnalogExposureControl, 700);
  EXPECT_TRUE(WaitFor([&] { return Text(page, IDC_EXPOSURE_ED) == "700"; }));
  EXPECT_EQ(Text(page, IDC_GAIN_ED), "33");
  EXPECT_EQ(SendMessageA(Item(page, IDC_EXPOSURE_TB), TBM_GETPOS, 0, 0), 700);
  EXPECT_EQ(SendMessageA(Item(page, IDC_GAIN_TB), TBM_GETPOS, 0, 0), 33);
  EXPECT_EQ(Regs().log_count, writes) << "showing the values writes nothing to the sensor";
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
}

// Automatic exposure during a preview, for real: the open dialog follows what it writes.
TEST_F(AnalogDialog, FollowsAutomaticExposureDuringPreview) {
  ASSERT_EQ(vcamctl_scene(0, 0), 0u);
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_SetExposureTime)(h, 5), 1);
  ASSERT_EQ(QELVAN(Qelvan_Preview)(h), 1);
  DialogRun run(Dialog::kAnalog, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);
  ASSERT_EQ(Text(page, IDC_EXPOSURE_ED), "5");
  ASSERT_EQ(QELVAN(Qelvan_SetAutoIris)(h, 1), 1);
  EXPECT_TRUE(WaitFor([] { return Reg(11) > 50; })) << "automatic exposure did not raise the exposure";
  ASSERT_EQ(QELVAN(Qelvan_SetAutoIris)(h, 0), 1);
  EXPECT_TRUE(WaitFor([&] { return Text(page, IDC_EXPOSURE_ED) == std::to_string(Reg(11)); }));
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
}

}  // namespace
