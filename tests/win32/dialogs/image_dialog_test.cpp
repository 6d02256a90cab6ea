// The image filter dialog through the exports: rows, pages by colour type, live values the
// application reads at once, Default, Cancel and the refresh from the frame conversion.
#include "dialog_driver.h"

namespace {

class ImageDialog : public DialogTest {
 protected:
  // A distinct value, inside its range, for every filter number the dialog shows.
  static void SetDistinct(QelvanHandle h) {
    const int values[][2] = {{1, -30}, {2, 20},   {3, 45},   {4, -60},  {5, 7},   {7, 110},
                             {8, 120}, {9, 130},  {11, 90},  {12, 1},   {19, 1},  {20, 140},
                             {21, 150}, {22, 160}, {23, 170}, {24, -5}, {25, 6},  {26, -7},
                             {27, 8}};
    for (const auto& v : values) ASSERT_EQ(QELVAN(Qelvan_SetFilterValue)(h, v[0], v[1]), 1) << v[0];
  }
  static std::vector<int> AllFilters(QelvanHandle h) {
    std::vector<int> out;
    for (int number = 1; number <= 28; ++number)
      if (number != 6 && (number < 13 || number > 18)) out.push_back(Filter(h, number));
    return out;
  }
};

struct RowCase {
  int trackbar, edit, updown, min, max, frequency, filter;
  bool colourOnly;
};
const RowCase kPage1Rows[] = {
    {2001, 2002, 2004, -255, 255, 64, 1, false}, {2011, 2012, 2014, -127, 127, 32, 2, false},
    {2021, 2022, 2024, -360, 360, 90, 3, true},  {2031, 2032, 2034, -255, 255, 64, 4, true},
    {2041, 2042, 2044, 0, 30, 4, 5, false},      {2051, 2052, 2054, 0, 400, 32, 7, true},
    {2061, 2062, 2063, 0, 400, 32, 8, true},     {2071, 2072, 2073, 0, 400, 32, 9, true},
    {2081, 2082, 2084, 0, 200, 32, 11, false},
};

// Tick marks an automatic-tick trackbar shows: both ends plus one per whole step inside.
int ExpectedTicks(int min, int max, int frequency) {
  int inner = 0;
  for (int p = min + frequency; p < max; p += frequency) ++inner;
  return inner + 2;
}

void CheckRows(HWND page, const RowCase* rows, int count, bool monochrome, QelvanHandle h) {
  for (int i = 0; i < count; ++i) {
    const RowCase& row = rows[i];
    SCOPED_TRACE(row.trackbar);
    HWND trackbar = Item(page, row.trackbar);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETRANGEMIN, 0, 0), row.min);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETRANGEMAX, 0, 0), row.max);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETNUMTICS, 0, 0), ExpectedTicks(row.min, row.max, row.frequency));
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETPOS, 0, 0), Filter(h, row.filter));
    EXPECT_EQ(Text(page, row.edit), std::to_string(Filter(h, row.filter)));
    int low = 0, high = 0;
    SendMessageA(Item(page, row.updown), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                 reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, row.min);
    EXPECT_EQ(high, row.max);
    const bool enabled = !(monochrome && row.colourOnly);
    for (int id : {row.trackbar, row.edit, row.updown})
      EXPECT_EQ(IsWindowEnabled(Item(page, id)) != 0, enabled) << id;
  }
}

TEST_F(ImageDialog, MonochromeHasTwoPagesAndNoColourControls) {
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, 8), 1);
  ASSERT_EQ(QELVAN(Qelvan_SetBrightness)(h, -40), 1);
  ASSERT_EQ(QELVAN(Qelvan_SetGrayOffsetG2)(h, 17), 1);
  DialogRun run(Dialog::kImage, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(TabItems(dialog), (std::vector<std::wstring>{L"Image Filter", L"Gray Filter"}));
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);
  ASSERT_NE(page1, nullptr);
  ASSERT_NE(page2, nullptr);
  EXPECT_TRUE(IsWindowVisible(page1));
  EXPECT_FALSE(IsWindowVisible(page2));
  Screenshot(dialog, "image_mono_page1_en");
  CheckRows(page1, kPage1Rows, 9, true, h);
  EXPECT_EQ(Text(page1, IDC_BRIGHTNESS_ED), "-40");
  for (int id : {IDC_BALANCE_ONCE, IDC_BALANCE_ALL, IDC_BAYER0, IDC_BAYER1, IDC_BAYER2, IDC_BAYER3})
    EXPECT_FALSE(IsWindowEnabled(Item(page1, id))) << id;

  std::vector<RowCase> gray;
  for (int i = 0; i < 8; ++i)
    gray.push_back({2100 + 3 * i, 2101 + 3 * i, 2102 + 3 * i, 0, 400, 32, 20 + i, false});
  CheckRows(page2, gray.data(), 8, true, h);
  EXPECT_EQ(Text(page2, IDC_GRAY_FIRST + 3 * 6 + 1), "17");
  EXPECT_TRUE(Checked(page2, IDC_GRAY_MODE0));
  EXPECT_TRUE(Checked(page2, IDC_BAYER2));

  SelectTab(dialog, 1);
  EXPECT_FALSE(IsWindowVisible(page1));
  EXPECT_TRUE(IsWindowVisible(page2));
  Screenshot(dialog, "image_mono_page2_en");
  SelectTab(dialog, 0);
  EXPECT_TRUE(IsWindowVisible(page1));
  EXPECT_FALSE(IsWindowVisible(page2));
  Click(dialog, IDCANCEL);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
}

TEST_F(ImageDialog, ColourHasOnePageWithEverythingEnabled) {
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, 24), 1);
  DialogRun run(Dialog::kImage, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(TabItems(dialog), std::vector<std::wstring>{L"Image Filter"});
  EXPECT_EQ(PageWith(dialog, IDC_GRAY_FIRST), nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  Screenshot(dialog, "image_colour_en");
  CheckRows(page1, kPage1Rows, 9, false, h);
  for (int id : {IDC_BALANCE_ONCE, IDC_BALANCE_ALL, IDC_BAYER0, IDC_BAYER3})
    EXPECT_TRUE(IsWindowEnabled(Item(page1, id))) << id;
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
}

TEST_F(ImageDialog, ControlsReachTheCameraAtOnceAndCancelRestoresAll) {
  const QelvanHandle h = Open();
  SetDistinct(h);
  ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, 16), 1);
  const std::vector<int> before = AllFilters(h);
  DialogRun run(Dialog::kImage, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);

  MoveTrackbar(page1, IDC_BRIGHTNESS_TB, 100);
  EXPECT_EQ(Filter(h, 1), 100);
  EXPECT_EQ(Text(page1, IDC_BRIGHTNESS_ED), "100");
  SetText(page1, IDC_GAMMA_ED, "150");
  EXPECT_EQ(Filter(h, 11), 150);
  EXPECT_EQ(SendMessageA(Item(page1, IDC_GAMMA_TB), TBM_GETPOS, 0, 0), 150);
  SetText(page1, IDC_SHARPNESS_ED, "99");
  EXPECT_EQ(Filter(h, 5), 30) << "held to 0..30";
  SelectTab(dialog, 1);
  MoveTrackbar(page2, IDC_GRAY_FIRST + 3, 300);  // green1 gain
  EXPECT_EQ(Filter(h, 21), 300);
  SetText(page2, IDC_GRAY_FIRST + 3 * 7 + 1, "55");  // blue offset
  EXPECT_EQ(Filter(h, 27), 55);
  Click(page2, IDC_GRAY_MODE2);
  EXPECT_EQ(Filter(h, 19), 2);
  Click(page2, IDC_BAYER0);
  EXPECT_EQ(Filter(h, 12), 0);
  Click(page2, IDC_BALANCE_ONCE);
  EXPECT_EQ(Filter(h, 28), 1);

  Click(dialog, IDCANCEL);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
  EXPECT_EQ(AllFilters(h), before);
}

// Default resets the rows of both pages and the Bayer mode; the gray mode stays. OK keeps it.
TEST_F(ImageDialog, DefaultResetsBothPages) {
  const QelvanHandle h = Open();
  SetDistinct(h);
  ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, 8), 1);
  DialogRun run(Dialog::kImage, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);
  Click(dialog, IDC_DEFAULT);
  EXPECT_EQ(Text(page1, IDC_RGAIN_ED), "100");
  EXPECT_EQ(Text(page1, IDC_GAMMA_ED), "100");
  EXPECT_TRUE(Checked(page1, IDC_BAYER2));
  EXPECT_FALSE(Checked(page1, IDC_BAYER1));
  EXPECT_EQ(Text(page2, IDC_GRAY_FIRST + 1), "128");
  EXPECT_EQ(SendMessageA(Item(page2, IDC_GRAY_FIRST + 12), TBM_GETPOS, 0, 0), 0);
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  // Numbers 1..5, 7..12, 19..28.
  const std::vector<int> expected = {0, 0, 0, 0, 0, 100, 100, 100, 0, 100, 2,
                                     1, 128, 128, 128, 128, 0, 0, 0, 0, 0};
  EXPECT_EQ(AllFilters(h), expected);
}

// Automatic gray gain: "All frames" toggles between every frame and off, and a dialog opened
// while it runs shows the box ticked.
TEST_F(ImageDialog, GrayBalanceBoxToggles) {
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, 8), 1);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    DialogRun run(Dialog::kImage, h);
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);
    SelectTab(dialog, 1);
    EXPECT_EQ(Checked(page2, IDC_BALANCE_ALL), round == 1);
    if (round == 1) {
      Click(page2, IDC_BALANCE_ALL);
      EXPECT_EQ(Filter(h, 28), 0);
      EXPECT_FALSE(Checked(page2, IDC_BALANCE_ALL));
    }
    Click(page2, IDC_BALANCE_ALL);
    EXPECT_EQ(Filter(h, 28), -1);
    EXPECT_TRUE(Checked(page2, IDC_BALANCE_ALL));
    Click(dialog, IDOK);
    ASSERT_TRUE(run.WaitDone());
  }
}

// White balance on every frame and once, on a colour picture.
TEST_F(ImageDialog, WhiteBalanceButtons) {
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, 32), 1);
  DialogRun run(Dialog::kImage, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  Click(page1, IDC_BALANCE_ALL);
  EXPECT_EQ(Filter(h, 10), 1);
  Click(page1, IDC_BALANCE_ALL);
  EXPECT_EQ(Filter(h, 10), 0);
  Click(page1, IDC_BALANCE_ALL);
  Click(page1, IDC_BALANCE_ONCE);
  EXPECT_EQ(Filter(h, 10), 1);
  EXPECT_FALSE(Checked(page1, IDC_BALANCE_ALL));
  Click(page1, IDC_BAYER3);
  EXPECT_EQ(Filter(h, 12), 3);
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
}

// OK keeps the live values: a Bayer mode chosen on page 2 stays, and page 1 shows it too; a
// stored offset outside the rows' 0..400 is not pulled in.
TEST_F(ImageDialog, OkKeepsTheLiveValues) {
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, 8), 1);
  ASSERT_EQ(QELVAN(Qelvan_SetGrayOffsetR)(h, -100), 1);
  DialogRun run(Dialog::kImage, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);
  SelectTab(dialog, 1);
  Click(page2, IDC_BAYER1);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  EXPECT_TRUE(Checked(page1, IDC_BAYER1)) << "page 1 shows a stale Bayer mode";
  EXPECT_FALSE(Checked(page1, IDC_BAYER2));
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(Filter(h, 12), 1);
  EXPECT_EQ(Filter(h, 24), -100);
}

// The refresh the frame conversion posts after automatic balancing: both pages show the measured
// gains.
TEST_F(ImageDialog, RefreshShowsMeasuredGains) {
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, 8), 1);
  DialogRun run(Dialog::kImage, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);
  // What a balance measures, as the conversion stores it.
  ASSERT_EQ(QELVAN(Qelvan_SetBayerGainRed)(h, 140), 1);
  ASSERT_EQ(QELVAN(Qelvan_SetGrayGainB)(h, 200), 1);
  PostMessageA(dialog, dialogs::kRefreshImageDialogMessage, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return Text(page2, IDC_GRAY_FIRST + 10) == "200"; }));
  EXPECT_EQ(Text(page1, IDC_RGAIN_ED), "140");
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
}

// White balance once during a colour preview: the conversion measures the gains, clears the
// request and has the open dialog show what it measured.
TEST_F(ImageDialog, WhiteBalanceDuringPreviewReachesTheOpenDialog) {
  ASSERT_EQ(vcamctl_scene(0, 0), 0u);
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_SetBayerGainRGB)(h, 0xFAFAFA), 1);  // 250 each: far from balanced
  ASSERT_EQ(QELVAN(Qelvan_Preview)(h), 1);
  DialogRun run(Dialog::kImage, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  Click(page1, IDC_BALANCE_ONCE);
  const int gainEdits[] = {IDC_RGAIN_ED, IDC_GGAIN_ED, IDC_BGAIN_ED};
  EXPECT_TRUE(WaitFor([&] {
    if (Filter(h, 10) != 0) return false;
    for (int i = 0; i < 3; ++i)
      if (Text(page1, gainEdits[i]) != std::to_string(Filter(h, 7 + i))) return false;
    return true;
  })) << "the measured gains did not reach the dialog";
  EXPECT_NE(Filter(h, 7), 250) << "the balance measured nothing";
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
}

// With preview running on a still scene: the application sees a moved row at once and so does
// the next frame; Cancel takes both back.
TEST_F(ImageDialog, TheApplicationAndThePictureSeeLiveValues) {
  ASSERT_EQ(vcamctl_scene(0, 0), 0u);
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_Preview)(h), 1);
  std::vector<uint8_t> frame(752 * 480 * 3);
  auto mean = [&] {
    if (!QELVAN(Qelvan_GetImage)(h, frame.data(), static_cast<int>(frame.size()), 1)) return -1.0;
    double sum = 0;
    for (uint8_t v : frame) sum += v;
    return sum / static_cast<double>(frame.size());
  };
  ASSERT_TRUE(WaitFor([&] { return mean() > 10; })) << "no picture";
  const double plain = mean();
  const int before = Filter(h, 1);
  DialogRun run(Dialog::kImage, h);
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  MoveTrackbar(PageWith(dialog, IDC_BRIGHTNESS_TB), IDC_BRIGHTNESS_TB, 100);
  EXPECT_EQ(Filter(h, 1), 100);
  EXPECT_TRUE(WaitFor([&] { return mean() > plain + 40; })) << "the picture did not brighten";
  Click(dialog, IDCANCEL);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(Filter(h, 1), before);
  EXPECT_TRUE(WaitFor([&] { return mean() < plain + 5; })) << "the picture kept the brightness";
}

}  // namespace
