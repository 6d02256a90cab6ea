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
      // Monochrome: the colour rows, the balance buttons and the Bayer mode are disabled.
      {"image, monochrome", Dialog::kImage, 8, false,
       {IDC_TAB, IDC_BRIGHTNESS_TB, IDC_BRIGHTNESS_ED, IDC_CONTRAST_TB, IDC_CONTRAST_ED,
        IDC_SHARPNESS_TB, IDC_SHARPNESS_ED, IDC_GAMMA_TB, IDC_GAMMA_ED, IDOK, IDCANCEL,
        IDC_DEFAULT}},
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

}  // namespace
