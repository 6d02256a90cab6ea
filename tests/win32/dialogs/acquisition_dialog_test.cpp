// The camera settings dialog while the camera runs: acquisition stops (or a trigger loop
// pauses) during the dialog and comes back afterwards, in the new format after OK.
#include "dialog_driver.h"

namespace {

class DialogAcquisition : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    WriteFirstRunValues(0);
    handle_ = Open();
    ASSERT_NE(handle_, 0);
  }

  static vcam_camera_info Info() {
    vcam_camera_info info = {};
    EXPECT_EQ(vcamctl_camera_info(0, &info), 0u);
    return info;
  }
  static uint32_t Frames() { return Info().frames_delivered; }

  // Opens the dialog, chooses a 640 x 400 custom size in 8-bit monochrome and ends it with
  // OK or Cancel. Checks that no frame arrives while it is open.
  void RunDialog(bool ok) {
    DialogRun run(Dialog::kCamera, handle_);
    HWND dialog = run.WaitDialog();
    ASSERT_NE(dialog, nullptr);
    const uint32_t frames = Frames();
    SelectComboItem(dialog, IDC_SIZES, 1);
    SetText(dialog, IDC_EFFECTIVE_H, "640");
    SetText(dialog, IDC_EFFECTIVE_V, "400");
    SelectComboItem(dialog, IDC_COLOR, 0);
    Screenshot(dialog, "camera_during_acquisition");
    EXPECT_EQ(Frames(), frames) << "frames arrived while the dialog was open";
    Click(dialog, ok ? IDOK : IDCANCEL);
    ASSERT_TRUE(run.WaitDone());
    EXPECT_EQ(run.result(), 1);
  }

  QelvanHandle handle_ = 0;
};

TEST_F(DialogAcquisition, PreviewStopsAndResumesInTheNewFormat) {
  ASSERT_EQ(QELVAN(Qelvan_Preview)(handle_), 1);
  const uint32_t start = Frames();
  ASSERT_TRUE(WaitFor([&] { return Frames() > start + 2; }));
  RunDialog(true);
  const uint32_t after = Frames();
  EXPECT_TRUE(WaitFor([&] { return Frames() > after + 2; })) << "preview did not resume";
  const vcam_camera_info info = Info();
  EXPECT_EQ(info.width, 640u);
  EXPECT_EQ(info.height, 400u);
}

TEST_F(DialogAcquisition, TriggerModeTakesTheNewFormatAfterOkAndResumesAfterCancel) {
  ASSERT_EQ(QELVAN(Qelvan_Trigger)(handle_, nullptr, nullptr, 0, 0), 1);
  for (bool ok : {false, true}) {
    SCOPED_TRACE(ok ? "ok" : "cancel");
    RunDialog(ok);
    EXPECT_EQ(Info().trigger_mode, 1u) << "trigger mode came back";
    const uint32_t before = Frames();
    ASSERT_EQ(vcamctl_trigger(0, 1), 0u);
    EXPECT_TRUE(WaitFor([&] { return Frames() > before; })) << "a trigger gave no frame";
    const vcam_camera_info info = Info();
    EXPECT_EQ(info.width, ok ? 640u : 752u);
    EXPECT_EQ(info.height, ok ? 400u : 480u);
  }
}

}  // namespace
