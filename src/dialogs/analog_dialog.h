// The analog settings dialog: global and colour gains, exposure, mirrors and the automatic-iris
// mode, each change shown on the camera at once.
#pragma once

#include <windows.h>

#include "dialogs/camera_access.h"
#include "dialogs/dialog_common.h"
#include "settings/camera_settings.h"

class CAnalogDialog : public dialogs::ModalDialog {
 public:
  explicit CAnalogDialog(dialogs::CameraAccess& access) : access_(access) {}

  // Runs the modal dialog. True when it was shown; *ok tells whether OK ended it.
  bool Run(HWND parent, bool* ok);

  static constexpr int kRows = 6;
  static const dialogs::Row kRowTable[kRows];

 private:
  void OnInit() override;
  void OnDefaults() override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void InitPage(HWND page);
  void OnPageCommand(int id, int code);
  void OnRowValue(int row, int value);
  void ShowRow(int row, bool refresh);
  void WriteTimeLabel();
  void Change(settings::AnalogField field, int32_t value);

  dialogs::CameraAccess& access_;
  settings::AnalogValues values_;
  // The row table with the colour gain minimums the sensor reports.
  dialogs::Row rows_[kRows] = {};
  HWND page_ = nullptr;
  bool initialised_ = false;
};
