// The dialogs under a Japanese system: Japanese templates and Japanese texts from the code.
// Runs only in the test entry that sets a Japanese locale.
#include "dialog_driver.h"

namespace {

class Japanese : public DialogTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetSystemDefaultLangID(), 1041) << "the Japanese run did not get a Japanese system";
    DialogTest::SetUp();
  }
};

TEST_F(Japanese, CameraDialogTexts) {
  WriteFirstRunValues(0);
  DialogRun run(Dialog::kCamera, Open());
  HWND dialog = run.WaitDialog();
  ASSERT_NE(dialog, nullptr);
  Screenshot(dialog, "camera_ja");
  EXPECT_EQ(TextW(dialog), L"プロパティ");
  EXPECT_EQ(TabItems(dialog), std::vector<std::wstring>{L"ストリーム形式"});
  EXPECT_EQ(ComboItems(dialog, IDC_COLOR),
            (std::vector<std::wstring>{L"白黒 8bit", L"白黒 10bit ※", L"カラー 24bit", L"カラー 32bit",
                                       L"カラー 48bit ※", L"カラー 64bit ※"}));
  EXPECT_EQ(ComboItems(dialog, IDC_CLOCK),
            (std::vector<std::wstring>{L"標準(24MHz)", L"ハーフ(12MHz)", L"高速(40MHz)"}));
  EXPECT_EQ(ComboItems(dialog, IDC_SIZES), (std::vector<std::wstring>{L"752 x 480", L"カスタム"}));
  EXPECT_EQ(TextW(Item(dialog, IDCANCEL)), L"キャンセル");
  EXPECT_EQ(TextW(Item(dialog, IDC_APPLY)), L"適用(&A)");
  // Custom with the Japanese list: the new entry goes before "カスタム".
  SelectComboItem(dialog, IDC_SIZES, 1);
  SetText(dialog, IDC_EFFECTIVE_H, "320");
  Click(dialog, IDC_APPLY);
  EXPECT_EQ(ComboItems(dialog, IDC_SIZES),
            (std::vector<std::wstring>{L"752 x 480", L"320 x 480", L"カスタム"}));
  Click(dialog, IDCANCEL);
  ASSERT_TRUE(run.WaitDone());
}

TEST_F(Japanese, AnalogAndImageDialogTexts) {
  const QelvanHandle h = Open();
  ASSERT_EQ(QELVAN(Qelvan_SetColorMode)(h, 8), 1);
  struct Kind {
    const char* name;
    Dialog dialog;
    std::vector<std::wstring> tabs;
    int height;  // dialog units: the Japanese analog dialog is the taller one
  } kinds[] = {
      {"analog_ja", Dialog::kAnalog, {L"Analog Gain"}, 199},
      {"image_ja", Dialog::kImage, {L"Image Filter", L"Gray Filter"}, 194},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    DialogRun run(kind.dialog, h);
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    Screenshot(dialog, kind.name);
    EXPECT_EQ(TextW(dialog), L"プロパティ");
    EXPECT_EQ(TabItems(dialog), kind.tabs);
    EXPECT_EQ(TextW(Item(dialog, IDCANCEL)), L"キャンセル");
    EXPECT_EQ(TextW(Item(dialog, IDC_DEFAULT)), L"規定値(&D)");
    RECT units = {0, 0, 4, kind.height}, client;
    MapDialogRect(dialog, &units);
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.bottom, units.bottom);
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitDone());
  }
}

}  // namespace
