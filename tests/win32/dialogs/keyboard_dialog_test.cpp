// The dialogs by keyboard: Tab through the tab strip and the shown page, arrows on the strip to
// change pages, typing while the camera refreshes rows, and the focus after Apply.
#include "dialog_driver.h"

namespace {

class DialogKeyboard : public DialogTest {};

// The control ids the focus visits from the tab strip, Tab after Tab, until it is back there.
std::vector<int> TabCycle(HWND dialog, DWORD thread, bool backward) {
  FocusOn(dialog, Item(dialog, IDC_TAB));
  std::vector<int> ids = {GetDlgCtrlID(Focused(thread))};
  for (int step = 0; step < 80; ++step) {
    PressTab(dialog, backward);
    HWND focus = Focused(thread);
    if (focus == Item(dialog, IDC_TAB)) break;
    ids.push_back(focus ? GetDlgCtrlID(focus) : 0);
  }
  return ids;
}

TEST_F(DialogKeyboard, TabVisitsTheStripTheShownPageAndTheButtons) {
  struct Case {
    const char* name;
    Dialog kind;
    int colorBits;
    bool secondPage;  // reached with the Right arrow on the strip
    // A radio group is entered at its checked button: the Bayer mode is 2 (the third).
    std::vector<int> cycle;
  };
  std::vector<int> gray = {IDC_TAB};
  for (int first = IDC_GRAY_FIRST; first < IDC_GRAY_FIRST + 24; first += 3) {
    gray.push_back(first);
    gray.push_back(first + 1);
  }
  for (int id :
       {IDC_GRAY_MODE0, IDC_BALANCE_ONCE, IDC_BALANCE_ALL, IDC_BAYER2, IDOK, IDCANCEL, IDC_DEFAULT})
    gray.push_back(id);
  // clang-format off
  const Case cases[] = {
      {"analog", Dialog::kAnalog, 24, false,
       {IDC_TAB, IDC_GAIN_TB, IDC_GAIN_ED, IDC_EXPOSURE_TB, IDC_EXPOSURE_ED, IDC_IRIS_GAIN,
        IDC_IRIS_EXPOSURE, IDC_MIRROR_V, IDC_MIRROR_H, IDOK, IDCANCEL, IDC_DEFAULT}},
      {"image, colour", Dialog::kImage, 24, false,
       {IDC_TAB, IDC_BRIGHTNESS_TB, IDC_BRIGHTNESS_ED, IDC_CONTRAST_TB, IDC_CONTRAST_ED,
        IDC_HUE_TB, IDC_HUE_ED, IDC_SATURATION_TB, IDC_SATURATION_ED, IDC_SHARPNESS_TB,
        IDC_SHARPNESS_ED, IDC_RGAIN_TB, IDC_RGAIN_ED, IDC_GGAIN_TB, IDC_GGAIN_ED, IDC_BGAIN_TB,
        IDC_BGAIN_ED, IDC_GAMMA_TB, IDC_GAMMA_ED, IDC_BALANCE_ONCE, IDC_BALANCE_ALL, IDC_BAYER2,
        IDOK, IDCANCEL, IDC_DEFAULT}},
      {"image, gray page", Dialog::kImage, 8, true, gray},
  };
  // clang-format on
  const QelvanHandle h = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, c.colorBits), 1);
    const int bayerMode = Filter(h, 12);
    DialogRun run(c.kind, h);
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    if (c.secondPage) {
      HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);
      FocusOn(dialog, Item(dialog, IDC_TAB));
      PostMessageA(Item(dialog, IDC_TAB), WM_KEYDOWN, VK_RIGHT, 1);
      ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(page2) != 0; }))
          << "Right did not show the page";
      EXPECT_FALSE(IsWindowVisible(PageWith(dialog, IDC_BRIGHTNESS_TB)));
    }
    EXPECT_EQ(TabCycle(dialog, run.threadId(), false), c.cycle);
    std::vector<int> reversed(c.cycle.rbegin(), c.cycle.rend() - 1);
    reversed.insert(reversed.begin(), IDC_TAB);
    EXPECT_EQ(TabCycle(dialog, run.threadId(), true), reversed);
    EXPECT_EQ(Filter(h, 12), bayerMode) << "passing over the Bayer mode chose one";
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitDone());
  }
}

// Refreshes reach the dialog between the keys typed into a focused edit, as they do while a
// balance or automatic exposure runs on every frame: the typed text stays as typed, reaches the
// camera, and the rows the refresh changed elsewhere show the new values.
TEST_F(DialogKeyboard, TypingIsNeverOverwrittenByARefresh) {
  struct Case {
    const char* name;
    Dialog kind;
    int colorBits;
    int edit;
    const char* typed;
    // Changes a value behind the dialog's back and posts the refresh that reports it.
    std::function<void(QelvanHandle, HWND, int)> refresh;
    int markerEdit;  // a row a last refresh sets to a new value (on page 1 or the analog page)
    std::function<int(QelvanHandle)> value;  // what the camera has for the typed row
    int expected;
  };
  auto imageRefresh = [](int (*set)(QelvanHandle, int)) {
    return [set](QelvanHandle h, HWND dialog, int value) {
      ASSERT_EQ(set(h, value), 1);
      PostMessageA(dialog, dialogs::kRefreshImageDialogMessage, 0, 0);
    };
  };
  auto red = QELVAN(Qelvan_SetBayerGainRed);
  auto grayRed = QELVAN(Qelvan_SetGrayGainR);
  const Case cases[] = {
      {"brightness", Dialog::kImage, 24, IDC_BRIGHTNESS_ED, "-12", imageRefresh(red), IDC_BGAIN_ED,
       [](QelvanHandle h) { return Filter(h, 1); }, -12},
      {"a measured row", Dialog::kImage, 24, IDC_RGAIN_ED, "25", imageRefresh(red), IDC_BGAIN_ED,
       [](QelvanHandle h) { return Filter(h, 7); }, 25},
      {"gray offset", Dialog::kImage, 8, IDC_GRAY_FIRST + 13 /* red offset */, "35",
       imageRefresh(grayRed),
       IDC_BGAIN_ED, [](QelvanHandle h) { return Filter(h, 24); }, 35},
      {"analog gain", Dialog::kAnalog, 24, IDC_GAIN_ED, "40",
       [](QelvanHandle, HWND dialog, int value) {
         PostMessageA(dialog, dialogs::kSetAnalogControlMessage, dialogs::kAnalogGainControl,
                      value % 64);
       },
       IDC_EXPOSURE_ED, [](QelvanHandle h) { return QELVAN(Qelvan_GetGlobalGain)(h, nullptr); },
       40},
  };
  const QelvanHandle h = Open();
  int marker = 170;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++marker;
    ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, c.colorBits), 1);
    DialogRun run(c.kind, h);
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    HWND page = PageWith(dialog, c.edit);
    ASSERT_NE(page, nullptr);
    if (page != PageWith(dialog, c.markerEdit)) SelectTab(dialog, 1);
    FocusOn(dialog, Item(page, c.edit));  // selects the text, as Tab does
    ASSERT_EQ(Focused(run.threadId()), Item(page, c.edit));
    for (int i = 0; c.typed[i]; ++i) {
      c.refresh(h, dialog, 140 + i);
      const char key[2] = {c.typed[i], '\0'};
      Type(Item(page, c.edit), key);
    }
    // A last refresh, seen on a row that is not being typed into.
    HWND markerPage = PageWith(dialog, c.markerEdit);
    if (c.kind == Dialog::kImage) {
      ASSERT_EQ(QELVAN(Qelvan_SetBayerGainBlue)(h, marker), 1);
      PostMessageA(dialog, dialogs::kRefreshImageDialogMessage, 0, 0);
    } else {
      PostMessageA(dialog, dialogs::kSetAnalogControlMessage, dialogs::kAnalogExposureControl,
                   marker);
    }
    ASSERT_TRUE(WaitPosted(Item(page, c.edit)));
    EXPECT_EQ(Text(markerPage, c.markerEdit), std::to_string(marker))
        << "the last refresh showed nothing";
    EXPECT_EQ(Text(page, c.edit), c.typed);
    EXPECT_EQ(c.value(h), c.expected);
    Click(dialog, IDOK);
    ASSERT_TRUE(run.WaitDone());
  }
}

// Apply disables itself once it has saved; pressed from the keyboard it first hands the focus
// to OK, so Enter and Tab keep working.
TEST_F(DialogKeyboard, ApplyHandsTheFocusToOk) {
  WriteFirstRunValues(0);
  DialogRun run(Dialog::kCamera, Open());
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  SetText(dialog, IDC_WAIT_TIME, "7");
  HWND apply = Item(dialog, IDC_APPLY);
  ASSERT_TRUE(IsWindowEnabled(apply));
  FocusOn(dialog, apply);
  ASSERT_EQ(Focused(run.threadId()), apply);
  SendMessageA(apply, WM_KEYDOWN, VK_SPACE, 1);
  SendMessageA(apply, WM_KEYUP, VK_SPACE, 1);
  EXPECT_FALSE(IsWindowEnabled(apply));
  int32_t wait = 0;
  EXPECT_TRUE(ReadValue("Camera_00", "WaitTime", &wait));
  EXPECT_EQ(wait, 7) << "Apply did not save";
  EXPECT_EQ(Focused(run.threadId()), Item(dialog, IDOK));
  PressTab(dialog);
  EXPECT_EQ(Focused(run.threadId()), Item(dialog, IDCANCEL));
  Click(dialog, IDCANCEL);
  ASSERT_TRUE(run.WaitDone());
}

}  // namespace
