// The analog settings dialog against the virtual camera: every change reaches the sensor at
// once, Cancel puts the sensor and the camera instance back, nothing reaches the registry.
#include "api/dll.h"
#include "dialog_driver.h"

namespace {

class AnalogDialog : public DialogTest {};

int Reg(int r) { return DialogTest::Regs().regs[r]; }

TEST_F(AnalogDialog, OpensWithTheCamerasValuesAndTheDevicesRanges) {
  auto cam = MakeCamera();
  ASSERT_TRUE(cam->device->SetGlobalGain(20));
  ASSERT_TRUE(cam->device->SetExposureLines(300));
  ASSERT_TRUE(cam->device->SetMirrorH(1));
  ASSERT_TRUE(cam->device->SetMirrorV(0));
  cam->autoIris = 2;
  DialogRun run([&] { return cam->SetAnalogDlg(nullptr); });
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

TEST_F(AnalogDialog, ControlsReachTheSensorAtOnce) {
  auto cam = MakeCamera();
  // A full-width line at the normal clock: 816 clocks of 1/24000 ms.
  cam->lineClocks = 816;
  cam->msPerClock = 1.0 / 24000.0;
  DialogRun run([&] { return cam->SetAnalogDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);

  MoveTrackbar(page, IDC_GAIN_TB, 40);
  EXPECT_EQ(Text(page, IDC_GAIN_ED), "40");
  EXPECT_EQ(Reg(53), 56);
  EXPECT_EQ(cam->globalGain, 40);

  SetText(page, IDC_EXPOSURE_ED, "0");
  EXPECT_EQ(SendMessageA(Item(page, IDC_EXPOSURE_TB), TBM_GETPOS, 0, 0), 1);
  EXPECT_EQ(Reg(11), 1);

  SendMessageA(Item(page, IDC_EXPOSURE_UD), UDM_SETPOS32, 0, 1500);
  EXPECT_EQ(Text(page, IDC_EXPOSURE_ED), "1500");
  EXPECT_EQ(Reg(11), 1500);
  EXPECT_EQ(cam->exposureLines, 1500);
  EXPECT_EQ(Text(page, IDC_EXPOSURE_TIME), "=51.00ms");  // 1500 x 816 / 24000

  Click(page, IDC_MIRROR_V);
  EXPECT_EQ(Reg(13) & 0x10, 0) << "mirror V on clears bit 4";
  EXPECT_EQ(cam->mirrorV, 1);

  Click(dialog, IDC_DEFAULT);
  EXPECT_EQ(Reg(53), 32);
  EXPECT_EQ(Reg(11), 480);
  EXPECT_EQ(Text(page, IDC_GAIN_ED), "16");
  EXPECT_EQ(Text(page, IDC_EXPOSURE_ED), "480");
  EXPECT_EQ(SendMessageA(Item(page, IDC_GAIN_TB), TBM_GETPOS, 0, 0), 16);

  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
  EXPECT_EQ(cam->globalGain, 16);
  EXPECT_EQ(cam->exposureLines, 480);
  EXPECT_EQ(cam->mirrorV, 1);
  EXPECT_FALSE(KeyExists("")) << "the analog dialog writes nothing to the registry";
}

TEST_F(AnalogDialog, AutoIrisBoxesAreExclusive) {
  auto cam = MakeCamera();
  DialogRun run([&] { return cam->SetAnalogDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);
  Click(page, IDC_IRIS_EXPOSURE);
  EXPECT_EQ(cam->autoIris, 1);
  Click(page, IDC_IRIS_GAIN);
  EXPECT_EQ(cam->autoIris, 2);
  EXPECT_FALSE(Checked(page, IDC_IRIS_EXPOSURE));
  Click(page, IDC_IRIS_GAIN);
  EXPECT_EQ(cam->autoIris, 0);
  Click(page, IDC_IRIS_GAIN);
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(cam->autoIris, 2);
}

// Cancel, and a quit message that ends the dialog's loop, restore the sensor and the camera
// instance as they were when the dialog opened.
TEST_F(AnalogDialog, CancelRestoresSensorAndCameraInstance) {
  for (const char* ending : {"cancel", "quit"}) {
    SCOPED_TRACE(ending);
    auto cam = MakeCamera();
    ASSERT_TRUE(cam->device->SetGlobalGain(12));
    ASSERT_TRUE(cam->device->SetExposureLines(250));
    cam->autoIris = 1;
    cam->filterValues[kFilterBayerMode] = 3;
    const vcam_regs before = Regs();
    DialogRun run([&] { return cam->SetAnalogDlg(nullptr); });
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    HWND page = PageWith(dialog, IDC_GAIN_TB);
    MoveTrackbar(page, IDC_GAIN_TB, 50);
    SetText(page, IDC_EXPOSURE_ED, "900");
    Click(page, IDC_MIRROR_H);
    Click(page, IDC_MIRROR_V);
    Click(page, IDC_IRIS_GAIN);
    cam->filterValues[kFilterBayerMode] = 0;
    ASSERT_EQ(Reg(53), 66);
    ASSERT_NE(Reg(13), before.regs[13]);
    if (std::string(ending) == "quit")
      PostThreadMessageA(run.threadId(), WM_QUIT, 0, 0);
    else
      Click(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitDone());
    EXPECT_EQ(run.result(), 1);
    for (int r : {53, 11, 13}) EXPECT_EQ(Reg(r), before.regs[r]) << "register " << r;
    EXPECT_EQ(cam->globalGain, 12);
    EXPECT_EQ(cam->exposureLines, 250);
    EXPECT_EQ(cam->mirrorH, 0);
    EXPECT_EQ(cam->mirrorV, 0);
    EXPECT_EQ(cam->autoIris, 1);
    EXPECT_EQ(cam->filterValues[kFilterBayerMode], 3);
  }
}

// Typed values are held to the row's range instead of reaching the sensor masked, and text
// that is no number changes nothing.
TEST_F(AnalogDialog, TypedValuesAreHeldToTheRowsRange) {
  auto cam = MakeCamera();
  DialogRun run([&] { return cam->SetAnalogDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);
  struct Case {
    const char* text;
    int gain;  // expected afterwards
  } cases[] = {{"300", 63}, {"-5", 0}, {"21", 21}, {"abc", 21}, {"", 21}, {"9999999999", 21}};
  for (const Case& c : cases) {
    SetText(page, IDC_GAIN_ED, c.text);
    EXPECT_EQ(cam->globalGain, c.gain) << c.text;
    EXPECT_EQ(Reg(53), c.gain + 16) << c.text;
    EXPECT_EQ(SendMessageA(Item(page, IDC_GAIN_TB), TBM_GETPOS, 0, 0), c.gain) << c.text;
  }
  SetText(page, IDC_GAIN_ED, "300");
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(cam->globalGain, 63) << "OK keeps the live value, not the text";
}

// Automatic exposure posts what it set to the open dialog, which shows it without writing it
// to the sensor a second time.
TEST_F(AnalogDialog, ShowsWhatAutomaticExposureSet) {
  auto cam = MakeCamera();
  DialogRun run([&] { return cam->SetAnalogDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);
  ASSERT_EQ(cam->analogDialogWindow, page);
  const uint32_t writes = Regs().log_count;
  PostMessageA(cam->analogDialogWindow, CQelvan::kSetAnalogControlMessage, CQelvan::kAnalogGainControl, 33);
  PostMessageA(cam->analogDialogWindow, CQelvan::kSetAnalogControlMessage,
               CQelvan::kAnalogExposureControl, 700);
  EXPECT_TRUE(WaitFor([&] { return Text(page, IDC_EXPOSURE_ED) == "700"; }));
  EXPECT_EQ(Text(page, IDC_GAIN_ED), "33");
  EXPECT_EQ(SendMessageA(Item(page, IDC_EXPOSURE_TB), TBM_GETPOS, 0, 0), 700);
  EXPECT_EQ(SendMessageA(Item(page, IDC_GAIN_TB), TBM_GETPOS, 0, 0), 33);
  EXPECT_EQ(Regs().log_count, writes) << "showing the values writes nothing to the sensor";
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
  EXPECT_EQ(cam->openAnalogDialog, nullptr);
  EXPECT_EQ(cam->analogDialogWindow, nullptr) << "withdrawn when the dialog ends";
}

// Through the library's exports: the values live in the camera instance until release saves them.
TEST_F(AnalogDialog, NothingReachesTheRegistryBeforeRelease) {
  auto initialize = QelvanProc<QelvanHandle (*)(HWND)>("Qelvan_Initialize");
  auto release = QelvanProc<int (*)(QelvanHandle)>("Qelvan_Release");
  auto dialogExport = QelvanProc<int (*)(QelvanHandle, HWND)>("Qelvan_SetAnalogDlg");
  ASSERT_TRUE(initialize && release && dialogExport);
  const QelvanHandle h = initialize(nullptr);
  ASSERT_NE(h, 0);
  int32_t stored = -1;
  const bool storedBefore = ReadValue("Camera_00\\Gain", "Global", &stored);
  DialogRun run([&] { return dialogExport(h, nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page = PageWith(dialog, IDC_GAIN_TB);
  MoveTrackbar(page, IDC_GAIN_TB, 40);
  EXPECT_EQ(Reg(53), 56);
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
  int32_t now = -1;
  EXPECT_EQ(ReadValue("Camera_00\\Gain", "Global", &now), storedBefore);
  if (storedBefore) {
    EXPECT_EQ(now, stored);
  }
  EXPECT_EQ(release(h), 1);
  ASSERT_TRUE(ReadValue("Camera_00\\Gain", "Global", &now));
  EXPECT_EQ(now, 40);
}

}  // namespace
