// The image filter dialog: rows, pages by colour type, live writes into the filter block,
// Default, Cancel and the refresh from the acquisition thread.
#include <cstring>

#include "api/dll.h"
#include "dialog_driver.h"

namespace {

class ImageDialog : public DialogTest {
 protected:
  // Neutral settings as a first open leaves them.
  static void Neutral(CQelvan& cam) {
    std::memset(cam.filterValues, 0, sizeof cam.filterValues);
    for (int f : {kFilterGainRed, kFilterGainGreen, kFilterGainBlue, kFilterGamma})
      cam.filterValues[f] = 100;
    cam.filterValues[kFilterBayerMode] = 2;
    for (int i = 0; i < 4; ++i) cam.filterValues[kFilterGrayGain + i] = 128;
  }
};

struct RowCase {
  int trackbar, edit, updown, min, max, frequency, field;
  bool colourOnly;
};
const RowCase kPage1Rows[] = {
    {2001, 2002, 2004, -255, 255, 64, 0, false}, {2011, 2012, 2014, -127, 127, 32, 1, false},
    {2021, 2022, 2024, -360, 360, 90, 2, true},  {2031, 2032, 2034, -255, 255, 64, 3, true},
    {2041, 2042, 2044, 0, 30, 4, 4, false},      {2051, 2052, 2054, 0, 400, 32, 5, true},
    {2061, 2062, 2063, 0, 400, 32, 6, true},     {2071, 2072, 2073, 0, 400, 32, 7, true},
    {2081, 2082, 2084, 0, 200, 32, 8, false},
};

// Tick marks an automatic-tick trackbar shows: both ends plus one per whole step inside.
int ExpectedTicks(int min, int max, int frequency) {
  int inner = 0;
  for (int p = min + frequency; p < max; p += frequency) ++inner;
  return inner + 2;
}

void CheckRows(HWND page, const RowCase* rows, int count, bool monochrome, const int* block) {
  for (int i = 0; i < count; ++i) {
    const RowCase& row = rows[i];
    SCOPED_TRACE(row.trackbar);
    HWND trackbar = Item(page, row.trackbar);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETRANGEMIN, 0, 0), row.min);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETRANGEMAX, 0, 0), row.max);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETNUMTICS, 0, 0), ExpectedTicks(row.min, row.max, row.frequency));
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETPOS, 0, 0), block[row.field]);
    EXPECT_EQ(Text(page, row.edit), std::to_string(block[row.field]));
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
  auto cam = MakeCamera();
  Neutral(*cam);
  cam->filterValues[kFilterBrightness] = -40;
  cam->filterValues[kFilterGrayOffset + 2] = 17;
  cam->colorType = 0;
  DialogRun run([&] { return cam->SetImageDlg(nullptr); });
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
  CheckRows(page1, kPage1Rows, 9, true, cam->filterValues);
  for (int id : {IDC_BALANCE_ONCE, IDC_BALANCE_ALL, IDC_BAYER0, IDC_BAYER1, IDC_BAYER2, IDC_BAYER3})
    EXPECT_FALSE(IsWindowEnabled(Item(page1, id))) << id;

  std::vector<RowCase> gray;
  for (int i = 0; i < 8; ++i)
    gray.push_back({2100 + 3 * i, 2101 + 3 * i, 2102 + 3 * i, 0, 400, 32, 12 + i, false});
  CheckRows(page2, gray.data(), 8, true, cam->filterValues);
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
  auto cam = MakeCamera();
  Neutral(*cam);
  cam->colorType = 2;
  DialogRun run([&] { return cam->SetImageDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(TabItems(dialog), std::vector<std::wstring>{L"Image Filter"});
  EXPECT_EQ(PageWith(dialog, IDC_GRAY_FIRST), nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  Screenshot(dialog, "image_colour_en");
  CheckRows(page1, kPage1Rows, 9, false, cam->filterValues);
  for (int id : {IDC_BALANCE_ONCE, IDC_BALANCE_ALL, IDC_BAYER0, IDC_BAYER3})
    EXPECT_TRUE(IsWindowEnabled(Item(page1, id))) << id;
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
}

TEST_F(ImageDialog, ControlsWriteTheBlockAndCancelRestoresAllOfIt) {
  auto cam = MakeCamera();
  Neutral(*cam);
  for (int i = 0; i < kFilterCount; ++i) cam->filterValues[i] += i;  // every word distinct
  cam->filterValues[kFilterWhiteBalance] = 0;
  cam->colorType = 1;
  int before[kFilterCount];
  std::memcpy(before, cam->filterValues, sizeof before);
  DialogRun run([&] { return cam->SetImageDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);

  MoveTrackbar(page1, IDC_BRIGHTNESS_TB, 100);
  EXPECT_EQ(cam->filterValues[kFilterBrightness], 100);
  EXPECT_EQ(Text(page1, IDC_BRIGHTNESS_ED), "100");
  SetText(page1, IDC_GAMMA_ED, "150");
  EXPECT_EQ(cam->filterValues[kFilterGamma], 150);
  EXPECT_EQ(SendMessageA(Item(page1, IDC_GAMMA_TB), TBM_GETPOS, 0, 0), 150);
  SetText(page1, IDC_SHARPNESS_ED, "99");
  EXPECT_EQ(cam->filterValues[kFilterSharpness], 30) << "held to 0..30";
  SelectTab(dialog, 1);
  MoveTrackbar(page2, IDC_GRAY_FIRST + 3, 300);  // green1 gain
  EXPECT_EQ(cam->filterValues[kFilterGrayGain + 1], 300);
  SetText(page2, IDC_GRAY_FIRST + 3 * 7 + 1, "55");  // blue offset
  EXPECT_EQ(cam->filterValues[kFilterGrayOffset + 3], 55);
  Click(page2, IDC_GRAY_MODE2);
  EXPECT_EQ(cam->filterValues[kFilterGrayMode], 2);
  Click(page2, IDC_BAYER0);
  EXPECT_EQ(cam->filterValues[kFilterBayerMode], 0);
  Click(page2, IDC_BALANCE_ONCE);
  EXPECT_EQ(cam->filterValues[kFilterGrayBalance], 1);

  Click(dialog, IDCANCEL);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(run.result(), 1);
  for (int i = 0; i < kFilterCount; ++i) EXPECT_EQ(cam->filterValues[i], before[i]) << "word " << i;
  EXPECT_EQ(cam->openImageDialog, nullptr);
}

TEST_F(ImageDialog, DefaultResetsBothPages) {
  auto cam = MakeCamera();
  for (int i = 0; i < kFilterCount; ++i) cam->filterValues[i] = 7;
  cam->filterValues[kFilterBayerMode] = 1;
  cam->colorType = 0;
  DialogRun run([&] { return cam->SetImageDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);
  Click(dialog, IDC_DEFAULT);
  const int* f = cam->filterValues;
  const int expected[20] = {0, 0, 0, 0, 0, 100, 100, 100, 100, 2, 7, 7, 128, 128, 128, 128, 0, 0, 0, 0};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(f[i], expected[i]) << "word " << i;
  EXPECT_EQ(Text(page1, IDC_RGAIN_ED), "100");
  EXPECT_EQ(Text(page1, IDC_GAMMA_ED), "100");
  EXPECT_TRUE(Checked(page1, IDC_BAYER2));
  EXPECT_FALSE(Checked(page1, IDC_BAYER1));
  EXPECT_EQ(Text(page2, IDC_GRAY_FIRST + 1), "128");
  EXPECT_EQ(SendMessageA(Item(page2, IDC_GRAY_FIRST + 12), TBM_GETPOS, 0, 0), 0);
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(f[kFilterGamma], 100);
}

TEST_F(ImageDialog, BalanceButtonsAndBoxes) {
  auto cam = MakeCamera();
  Neutral(*cam);
  cam->colorType = 0;
  // Every-frame balancing already runs: both boxes must start ticked.
  cam->filterValues[kFilterWhiteBalance] = 1;
  cam->filterValues[kFilterGrayBalance] = -1;
  DialogRun run([&] { return cam->SetImageDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);
  EXPECT_TRUE(Checked(page1, IDC_BALANCE_ALL));
  EXPECT_TRUE(Checked(page2, IDC_BALANCE_ALL));
  SelectTab(dialog, 1);
  Click(page2, IDC_BALANCE_ALL);
  EXPECT_EQ(cam->filterValues[kFilterGrayBalance], 0);
  EXPECT_FALSE(Checked(page2, IDC_BALANCE_ALL));
  Click(page2, IDC_BALANCE_ALL);
  EXPECT_EQ(cam->filterValues[kFilterGrayBalance], -1);
  Click(page2, IDC_BALANCE_ALL);
  EXPECT_EQ(cam->filterValues[kFilterGrayBalance], 0) << "twice returns to off";
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
}

TEST_F(ImageDialog, WhiteBalanceOnceAndEveryFrame) {
  auto cam = MakeCamera();
  Neutral(*cam);
  cam->colorType = 3;
  DialogRun run([&] { return cam->SetImageDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  int* wb = &cam->filterValues[kFilterWhiteBalance];
  Click(page1, IDC_BALANCE_ALL);
  EXPECT_EQ((std::vector<int>{wb[0], wb[1], wb[2]}), (std::vector<int>{1, 0, 0}));
  Click(page1, IDC_BALANCE_ONCE);
  EXPECT_EQ((std::vector<int>{wb[0], wb[1], wb[2]}), (std::vector<int>{1, 1, 1}));
  EXPECT_FALSE(Checked(page1, IDC_BALANCE_ALL));
  Click(page1, IDC_BAYER3);
  EXPECT_EQ(cam->filterValues[kFilterBayerMode], 3);
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
}

// OK keeps the live block: a Bayer mode chosen on page 2 stays although page 1's radio
// buttons still show the old one, and a stored offset outside 0..400 is not pulled in.
TEST_F(ImageDialog, OkKeepsTheLiveValues) {
  auto cam = MakeCamera();
  Neutral(*cam);
  cam->colorType = 0;
  cam->filterValues[kFilterGrayOffset] = -100;
  DialogRun run([&] { return cam->SetImageDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);
  SelectTab(dialog, 1);
  Click(page2, IDC_BAYER1);
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(cam->filterValues[kFilterBayerMode], 1);
  EXPECT_EQ(cam->filterValues[kFilterGrayOffset], -100);
}

TEST_F(ImageDialog, BalanceResultsArePostedToTheOpenPages) {
  auto cam = MakeCamera();
  Neutral(*cam);
  cam->colorType = 0;
  DialogRun run([&] { return cam->SetImageDlg(nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  HWND page1 = PageWith(dialog, IDC_BRIGHTNESS_TB);
  HWND page2 = PageWith(dialog, IDC_GRAY_FIRST);
  ASSERT_EQ(cam->imageDialogWindow, dialog);
  // As the conversion does, with the frame lock held.
  EnterCriticalSection(&cam->frameLock);
  cam->filterValues[kFilterGainRed] = 140;
  cam->filterValues[kFilterGrayGain + 3] = 200;
  cam->filterValues[kFilterBayerMode] = 0;
  PostMessageA(cam->imageDialogWindow, CQelvan::kRefreshImageDialogMessage, 0, 0);
  LeaveCriticalSection(&cam->frameLock);
  EXPECT_TRUE(WaitFor([&] { return Text(page2, IDC_GRAY_FIRST + 10) == "200"; }));
  EXPECT_EQ(Text(page1, IDC_RGAIN_ED), "140");
  EXPECT_TRUE(Checked(page1, IDC_BAYER0));
  Click(dialog, IDOK);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(cam->imageDialogWindow, nullptr) << "withdrawn when the dialog ends";
}

// Through the exports, with preview running on a still scene: the application sees a moved
// row at once and so does the next frame; Cancel takes both back.
TEST_F(ImageDialog, TheApplicationAndThePictureSeeLiveValues) {
  auto initialize = QelvanProc<QelvanHandle (*)(HWND)>("Qelvan_Initialize");
  auto release = QelvanProc<int (*)(QelvanHandle)>("Qelvan_Release");
  auto dialogExport = QelvanProc<int (*)(QelvanHandle, HWND)>("Qelvan_SetImageDlg");
  auto brightness = QelvanProc<int (*)(QelvanHandle, int*)>("Qelvan_GetBrightness");
  auto preview = QelvanProc<int (*)(QelvanHandle)>("Qelvan_Preview");
  auto getImage = QelvanProc<int (*)(QelvanHandle, void*, int, int)>("Qelvan_GetImage");
  ASSERT_TRUE(initialize && release && dialogExport && brightness && preview && getImage);
  ASSERT_EQ(vcamctl_scene(0, 0), 0u);
  const QelvanHandle h = initialize(nullptr);
  ASSERT_NE(h, 0);
  ASSERT_EQ(preview(h), 1);
  std::vector<uint8_t> frame(752 * 480 * 3);
  auto mean = [&] {
    if (!getImage(h, frame.data(), static_cast<int>(frame.size()), 1)) return -1.0;
    double sum = 0;
    for (uint8_t v : frame) sum += v;
    return sum / static_cast<double>(frame.size());
  };
  ASSERT_TRUE(WaitFor([&] { return mean() > 10; })) << "no picture";
  const double plain = mean();
  int ok = 0;
  const int before = brightness(h, &ok);
  ASSERT_EQ(ok, 1);
  DialogRun run([&] { return dialogExport(h, nullptr); });
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  MoveTrackbar(PageWith(dialog, IDC_BRIGHTNESS_TB), IDC_BRIGHTNESS_TB, 100);
  EXPECT_EQ(brightness(h, &ok), 100);
  EXPECT_TRUE(WaitFor([&] { return mean() > plain + 40; })) << "the picture did not brighten";
  Click(dialog, IDCANCEL);
  ASSERT_TRUE(run.WaitDone());
  EXPECT_EQ(brightness(h, &ok), before);
  EXPECT_TRUE(WaitFor([&] { return mean() < plain + 5; })) << "the picture kept the brightness";
  EXPECT_EQ(release(h), 1);
}

}  // namespace
