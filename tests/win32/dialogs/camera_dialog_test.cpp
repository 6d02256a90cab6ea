// The camera settings dialog: contents from the registry, presets, Apply, OK and Cancel, the
// stored values it must not break, and the rules every dialog export shares.
#include "dialog_driver.h"

namespace {

class CameraDialog : public DialogTest {};

std::vector<std::string> Edits(HWND dialog) {
  std::vector<std::string> out;
  for (int id = IDC_TOTAL_H; id <= IDC_WAIT_TIME; ++id) out.push_back(Text(dialog, id));
  return out;
}

std::vector<int> Preset(int index) {
  static const char* const names[7] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};
  char key[32];
  snprintf(key, sizeof key, "Camera_00\\Size_%02d", index);
  std::vector<int> out;
  for (const char* name : names) {
    int32_t v = -12345;
    ReadValue(key, name, &v);
    out.push_back(v);
  }
  return out;
}

int Stored(const char* name) {
  int32_t v = -12345;
  ReadValue("Camera_00", name, &v);
  return v;
}

TEST_F(CameraDialog, ShowsTheStoredSettings) {
  WriteFirstRunValues(0);
  DialogRun run(Dialog::kCamera, Open());
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  Screenshot(dialog, "camera_en");
  EXPECT_EQ(TextW(dialog), L"Property");
  EXPECT_EQ(TabItems(dialog), std::vector<std::wstring>{L"Stream Format"});
  EXPECT_EQ(ComboItems(dialog, IDC_SIZES), (std::vector<std::wstring>{L"752 x 480", L"Custom"}));
  EXPECT_EQ(ComboItems(dialog, IDC_CLOCK),
            (std::vector<std::wstring>{L"Nomal(24MHz)", L"Half(12MHz)", L"High(40MHz)"}));
  EXPECT_EQ(ComboItems(dialog, IDC_COLOR),
            (std::vector<std::wstring>{L"Monochrome 8bit", L"Monochrome 10bit *", L"Color 24bit",
                                       L"Color 32bit", L"Color 48bit *", L"Color 64bit *"}));
  EXPECT_EQ(ComboItems(dialog, IDC_SUBSAMPLE),
            (std::vector<std::wstring>{L"1/1", L"1/2 Skip", L"1/4 Skip"}));
  EXPECT_EQ(ComboSelection(dialog, IDC_COLOR), 2);
  EXPECT_EQ(ComboSelection(dialog, IDC_SUBSAMPLE), 0);
  EXPECT_EQ(ComboSelection(dialog, IDC_CLOCK), 2);
  EXPECT_EQ(ComboSelection(dialog, IDC_SIZES), 0);
  EXPECT_EQ(Edits(dialog), (std::vector<std::string>{"752", "480", "752", "480", "0", "0", "1"}));
  EXPECT_FALSE(IsWindowEnabled(Item(dialog, IDC_APPLY)));
  SetText(dialog, IDC_WAIT_TIME, "5");
  EXPECT_TRUE(IsWindowEnabled(Item(dialog, IDC_APPLY))) << "an edit change enables Apply";
  Click(dialog, IDCANCEL);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
  EXPECT_EQ(Stored("WaitTime"), 1) << "Cancel saves nothing";
}

TEST_F(CameraDialog, WithoutRegistryDataOnlyCustomIsOffered) {
  const QelvanHandle h = Open();
  DeleteProductKey();
  DialogRun run(Dialog::kCamera, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ComboItems(dialog, IDC_SIZES), std::vector<std::wstring>{L"Custom"});
  EXPECT_EQ(ComboSelection(dialog, IDC_SIZES), 0);
  EXPECT_EQ(Edits(dialog), (std::vector<std::string>{"752", "480", "752", "480", "0", "0", "1"}));
  Click(dialog, IDCANCEL);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_FALSE(KeyExists(""));
}

// Apply adds the custom size before "Custom" and selects it, so the following OK renames that
// entry instead of adding it a second time; Cancel afterwards keeps what Apply saved.
TEST_F(CameraDialog, CustomSizeIsAddedOnceAndSelected) {
  const QelvanHandle h = Open();
  for (const char* last : {"cancel", "ok"}) {
    SCOPED_TRACE(last);
    DeleteProductKey();
    WriteFirstRunValues(0);
    DialogRun run(Dialog::kCamera, h);
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    SelectComboItem(dialog, IDC_SIZES, 1);
    EXPECT_TRUE(IsWindowEnabled(Item(dialog, IDC_APPLY)));
    SetText(dialog, IDC_EFFECTIVE_H, "640");
    SetText(dialog, IDC_EFFECTIVE_V, "480");
    Click(dialog, IDC_APPLY);
    EXPECT_EQ(ComboItems(dialog, IDC_SIZES),
              (std::vector<std::wstring>{L"752 x 480", L"640 x 480", L"Custom"}));
    EXPECT_EQ(ComboSelection(dialog, IDC_SIZES), 1);
    EXPECT_FALSE(IsWindowEnabled(Item(dialog, IDC_APPLY)));
    EXPECT_EQ(Preset(1), (std::vector<int>{752, 480, 640, 480, 0, 0, 4}));
    EXPECT_EQ(Stored("Size"), 1);
    if (std::string(last) == "ok") {
      SetText(dialog, IDC_START_H, "16");
      Click(dialog, IDOK);
    } else {
      Click(dialog, IDCANCEL);
    }
    ASSERT_TRUE(run.WaitDone());
    EXPECT_FALSE(KeyExists("Camera_00\\Size_02")) << "added twice";
    EXPECT_EQ(Preset(1)[4], std::string(last) == "ok" ? 16 : 0);
    // Only OK has the camera instance reload what was saved.
    EXPECT_EQ(QELVAN(Qelvan_Width)(h), std::string(last) == "ok" ? 640 : 752);
  }
}

TEST_F(CameraDialog, OkSavesTheChosenValues) {
  WriteFirstRunValues(0);
  WritePreset(0, 1, {752, 480, 320, 240, 8, 4, 4});
  DialogRun run(Dialog::kCamera, Open());
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  SelectComboItem(dialog, IDC_SIZES, 1);
  EXPECT_EQ(Edits(dialog), (std::vector<std::string>{"752", "480", "320", "240", "8", "4", "1"}));
  SelectComboItem(dialog, IDC_COLOR, 0);
  SelectComboItem(dialog, IDC_SUBSAMPLE, 2);
  SelectComboItem(dialog, IDC_CLOCK, 1);
  SetText(dialog, IDC_WAIT_TIME, "25");
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
  EXPECT_EQ(Stored("Size"), 1);
  EXPECT_EQ(Stored("Color"), 0);
  EXPECT_EQ(Stored("SubSample"), 2);
  EXPECT_EQ(Stored("Clock"), 1);
  EXPECT_EQ(Stored("WaitTime"), 25);
  EXPECT_EQ(Preset(1), (std::vector<int>{752, 480, 320, 240, 8, 4, 4}));
  EXPECT_EQ(Preset(0), (std::vector<int>{752, 480, 752, 480, 0, 0, 4}));
}

// With all 100 presets in use "Custom" has no room: the dialog says so as soon as it is chosen,
// and Apply and OK save nothing and keep the typed size, until a stored size is chosen instead.
TEST_F(CameraDialog, CustomWithAFullTableSaysSoAndKeepsTheTypedSize) {
  WriteFirstRunValues(0);
  for (int i = 0; i < 100; ++i) WritePreset(0, i, {752, 480, 100 + i, 200, 0, 0, 4});
  WriteValue("Camera_00", "Size", 5);
  DialogRun run(Dialog::kCamera, Open());
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  ASSERT_EQ(ComboItems(dialog, IDC_SIZES).size(), 101u);
  EXPECT_EQ(ComboSelection(dialog, IDC_SIZES), 5);
  HWND note = Item(dialog, IDC_SIZE_FULL);
  EXPECT_FALSE(IsWindowVisible(note));
  SelectComboItem(dialog, IDC_SIZES, 100);
  EXPECT_TRUE(IsWindowVisible(note)) << "choosing Custom says nothing";
  EXPECT_NE(Text(dialog, IDC_SIZE_FULL).find("100"), std::string::npos)
      << Text(dialog, IDC_SIZE_FULL);
  Screenshot(dialog, "camera_full_en");
  SetText(dialog, IDC_EFFECTIVE_H, "640");
  SelectComboItem(dialog, IDC_COLOR, 3);
  for (int button : {IDC_APPLY, IDOK}) {
    SCOPED_TRACE(button);
    Click(dialog, button);
    EXPECT_FALSE(run.WaitDone(0)) << "the dialog closed";
    EXPECT_EQ(Text(dialog, IDC_EFFECTIVE_H), "640");
    EXPECT_EQ(ComboSelection(dialog, IDC_SIZES), 100);
    EXPECT_TRUE(IsWindowVisible(note));
    EXPECT_EQ(Focused(run.threadId()), Item(dialog, IDC_SIZES)) << "the size list has the focus";
    EXPECT_FALSE(KeyExists("Camera_00\\Size_100"));
    EXPECT_EQ(Stored("Color"), 2) << "saved with the size refused";
  }
  // A stored size can take the typed values.
  SelectComboItem(dialog, IDC_SIZES, 99);
  EXPECT_FALSE(IsWindowVisible(note));
  SetText(dialog, IDC_EFFECTIVE_H, "640");
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_FALSE(KeyExists("Camera_00\\Size_100"));
  EXPECT_EQ(Stored("Size"), 99);
  EXPECT_EQ(Stored("Color"), 3);
  EXPECT_EQ(Preset(99), (std::vector<int>{752, 480, 640, 200, 0, 0, 4}));
}

// Stored values outside their lists, and typed wait times that do not fit, keep what is stored.
TEST_F(CameraDialog, UnusableValuesKeepTheStoredOnes) {
  struct Case {
    int size, color, clock;
    const char* wait;
    int expectWait;
  } cases[] = {
      {7, 9, -1, "3000000000", 1},
      {-2, -5, 3, "abc", 1},
      {1, 2, 2, "2147483647", 2147483647},
  };
  const QelvanHandle h = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wait);
    DeleteProductKey();
    WriteFirstRunValues(0);
    WriteValue("Camera_00", "Size", c.size);
    WriteValue("Camera_00", "Color", c.color);
    WriteValue("Camera_00", "Clock", c.clock);
    DialogRun run(Dialog::kCamera, h);
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    const bool inRange = c.size >= 0 && c.size <= 1;
    EXPECT_EQ(ComboSelection(dialog, IDC_SIZES), inRange ? c.size : 1) << "Custom stands in";
    EXPECT_EQ(ComboSelection(dialog, IDC_COLOR), c.color >= 0 && c.color < 6 ? c.color : -1);
    SetText(dialog, IDC_WAIT_TIME, c.wait);
    Click(dialog, IDOK);
    ASSERT_TRUE(run.WaitDone());
    EXPECT_EQ(Stored("Color"), c.color);
    EXPECT_EQ(Stored("Clock"), c.clock);
    EXPECT_EQ(Stored("WaitTime"), c.expectWait);
  }
}

TEST_F(CameraDialog, ADialogThatCannotBeShownIsAnError) {
  const QelvanHandle h = Open();
  HWND notAWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7FFF0));
  ASSERT_FALSE(IsWindow(notAWindow));
  EXPECT_EQ(QELVAN(Qelvan_SetCameraDlg)(h, notAWindow), 0);
  EXPECT_EQ(QELVAN(Qelvan_GetLastError)(h), ERR_WINDOW);
  EXPECT_EQ(QELVAN(Qelvan_SetAnalogDlg)(h, notAWindow), 0);
  EXPECT_EQ(QELVAN(Qelvan_GetLastError)(h), ERR_WINDOW);
  EXPECT_EQ(QELVAN(Qelvan_SetImageDlg)(h, notAWindow), 0);
  EXPECT_EQ(QELVAN(Qelvan_GetLastError)(h), ERR_WINDOW);
}

TEST_F(CameraDialog, WithoutADeviceEveryDialogRefuses) {
  const QelvanHandle h = InitializeWithoutDevice(nullptr);
  ASSERT_NE(h, 0);
  EXPECT_EQ(QELVAN(Qelvan_SetCameraDlg)(h, nullptr), 0);
  EXPECT_EQ(QELVAN(Qelvan_GetLastError)(h), ERR_NOT_READY);
  EXPECT_EQ(QELVAN(Qelvan_SetAnalogDlg)(h, nullptr), 0);
  EXPECT_EQ(QELVAN(Qelvan_GetLastError)(h), ERR_NOT_READY);
  EXPECT_EQ(QELVAN(Qelvan_SetImageDlg)(h, nullptr), 0);
  EXPECT_EQ(QELVAN(Qelvan_GetLastError)(h), ERR_NOT_READY);
  EXPECT_EQ(QELVAN(Qelvan_Release)(h), 1);
}

// One dialog of a kind per camera, open again once the first has ended; another camera's dialog
// is its own.
TEST_F(CameraDialog, ASecondDialogOfAKindOnTheSameCameraIsRefused) {
  ASSERT_EQ(vcamctl_attach(1, 0, 0), 0u);
  const QelvanHandle cam = Open();
  const QelvanHandle other = Open(1);
  for (Dialog kind : {Dialog::kCamera, Dialog::kAnalog, Dialog::kImage}) {
    SCOPED_TRACE(static_cast<int>(kind));
    DialogRun first(kind, cam);
    HWND dialog = first.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    DialogRun refused(kind, cam);
    ASSERT_TRUE(refused.WaitDone());
    EXPECT_EQ(refused.result(), 0);
    EXPECT_EQ(QELVAN(Qelvan_GetLastError)(cam), ERR_NOT_READY);
    DialogRun second(kind, other);
    HWND dialog2 = second.WaitDialog();
    ASSERT_NE(dialog2, nullptr);
    EXPECT_NE(dialog2, dialog);
    Click(dialog2, IDOK);
    ASSERT_TRUE(second.WaitDone());
    EXPECT_EQ(second.result(), 1);
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(first.WaitDone());
    EXPECT_EQ(first.result(), 1);
    DialogRun again(kind, cam);
    EXPECT_NE(again.WaitDialog(), nullptr) << "the first dialog's claim was not withdrawn";
  }
}

// After OK the camera instance reloads what the dialog saved; nothing before.
TEST_F(CameraDialog, OkReloadsIntoTheCameraInstance) {
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_GetColorMode)(h), 24) << "first run";

  for (const char* last : {"cancel", "ok"}) {
    SCOPED_TRACE(last);
    DialogRun run(Dialog::kCamera, h);
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    SelectComboItem(dialog, IDC_SIZES, 1);  // Custom
    SetText(dialog, IDC_EFFECTIVE_H, "640");
    SetText(dialog, IDC_EFFECTIVE_V, "400");
    SetText(dialog, IDC_START_H, "56");
    SetText(dialog, IDC_START_V, "40");
    SelectComboItem(dialog, IDC_COLOR, 0);
    SelectComboItem(dialog, IDC_SUBSAMPLE, 1);
    SetText(dialog, IDC_WAIT_TIME, "25");
    if (std::string(last) == "ok") {
      Click(dialog, IDOK);
    } else {
      Click(dialog, IDC_APPLY);
      Click(dialog, IDCANCEL);
    }
    ASSERT_TRUE(run.WaitDone());
    EXPECT_EQ(run.result(), 1);
    int th = 0, ehs = 0, eh = 0, tv = 0, evs = 0, ev = 0;
    QELVAN(Qelvan_GetCaptureWindowEx)(h, &th, &ehs, &eh, &tv, &evs, &ev);
    if (std::string(last) == "ok") {
      EXPECT_EQ(QELVAN(Qelvan_GetColorMode)(h), 8);
      EXPECT_EQ(QELVAN(Qelvan_GetSubSample)(h), 1);
      EXPECT_EQ(QELVAN(Qelvan_GetWaitTime)(h), 25);
      EXPECT_EQ((std::vector<int>{th, ehs, eh, tv, evs, ev}), (std::vector<int>{752, 56, 640, 480, 40, 400}));
    } else {
      EXPECT_EQ(QELVAN(Qelvan_GetColorMode)(h), 24) << "Apply then Cancel leaves the camera instance as it was";
      EXPECT_EQ(QELVAN(Qelvan_GetWaitTime)(h), 1);
      EXPECT_EQ(eh, 752);
      // Start again from the first-run presets for the OK round.
      DeleteProductKey();
      WriteFirstRunValues(0);
    }
  }
  EXPECT_FALSE(KeyExists("Camera_00\\Size_02"));
}

}  // namespace
