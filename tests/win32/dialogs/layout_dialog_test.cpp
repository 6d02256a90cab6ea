// Where the pages sit: inside the tab control's display area, below the strip, at 96 DPI and at
// 144 DPI (a child run of this program, started with the display at 144 DPI).
#include "dialog_driver.h"

namespace {

// Every page of the analog and the monochrome image dialog lies inside the tab's display area;
// at 96 DPI the pages are where they always were, at (30, 25) in the tab, whatever the font.
void CheckPagesInsideTheTab(QelvanHandle h, const char* shot) {
  ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, 8), 1);
  const bool classic = SystemDpi() == 96;
  struct Kind {
    Dialog kind;
    std::vector<int> pageControls;
  } kinds[] = {{Dialog::kAnalog, {IDC_GAIN_TB}},
               {Dialog::kImage, {IDC_BRIGHTNESS_TB, IDC_GRAY_FIRST}}};
  for (const Kind& k : kinds) {
    DialogRun run(k.kind, h);
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    HWND tab = Item(dialog, IDC_TAB);
    RECT area;
    GetClientRect(tab, &area);
    SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    RECT strip;
    SendMessageA(tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&strip));
    for (int control : k.pageControls) {
      SCOPED_TRACE(control);
      RECT page;
      GetWindowRect(PageWith(dialog, control), &page);
      MapWindowPoints(nullptr, tab, reinterpret_cast<POINT*>(&page), 2);
      EXPECT_GE(page.top, strip.bottom) << "the page covers the tab strip";
      EXPECT_GE(page.left, area.left);
      EXPECT_GE(page.top, area.top);
      EXPECT_LE(page.right, area.right);
      EXPECT_LE(page.bottom, area.bottom);
      if (classic) {
        EXPECT_EQ(page.left, 30);
        EXPECT_EQ(page.top, 25);
      }
    }
    if (k.kind == Dialog::kImage) Screenshot(dialog, shot);
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitDone());
  }
}

// Runs the same test at 144 DPI in a child first (before this process opens the camera), then
// goes on here at 96 DPI; in the child, goes on at 144 DPI. The answer: the shot's name suffix.
std::string RunAlsoAt144Dpi(const char* test) {
  if (IsDpiChild()) {
    EXPECT_EQ(SystemDpi(), 144) << "the child did not start at 144 DPI";
    return "_144dpi";
  }
  EXPECT_EQ(SystemDpi(), 96);
  EXPECT_EQ(RunChildAtDpi(144, test), 0) << "the run at 144 DPI failed";
  return "";
}

class DialogLayout : public DialogTest {};

TEST_F(DialogLayout, PagesSitInsideTheTabAtEveryDpi) {
  const std::string suffix = RunAlsoAt144Dpi("DialogLayout.PagesSitInsideTheTabAtEveryDpi");
  CheckPagesInsideTheTab(Open(), ("image_mono_en" + suffix).c_str());
}

// In the test entry that sets a Japanese locale: the Japanese templates' larger font.
class JapaneseLayout : public DialogTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetSystemDefaultLangID(), 1041) << "the Japanese run did not get a Japanese system";
    DialogTest::SetUp();
  }
};

TEST_F(JapaneseLayout, PagesSitInsideTheTabAtEveryDpi) {
  const std::string suffix = RunAlsoAt144Dpi("JapaneseLayout.PagesSitInsideTheTabAtEveryDpi");
  CheckPagesInsideTheTab(Open(), ("image_mono_ja" + suffix).c_str());
}

}  // namespace
