// The analog settings dialog: global and colour gains, exposure, mirrors and the automatic-iris
// mode, each change written to the camera at once.
#pragma once

#include <windows.h>

#include "dialogs/dialog_common.h"

class CQelvan;

class CAnalogDialog : public dialogs::ModalDialog {
 public:
  explicit CAnalogDialog(CQelvan* camera) : camera_(camera) {}

  // Runs the modal dialog. True when it was shown; *ok tells whether OK ended it.
  bool Run(HWND parent, bool* ok);

  HWND page = nullptr;

  static constexpr int kRows = 6;
  static const dialogs::Row kRowTable[kRows];

 private:
  void OnInit() override;
  void OnDefaults() override { SetDefaults(); }
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void InitPage(HWND page);
  void OnPageCommand(int id, int code);
  void OnRowValue(int row, int value);
  void WriteTimeLabel();
  void SetDefaults();
  int* Field(int row) const;
  dialogs::Row RowOf(int row) const;

  CQelvan* camera_;
  bool initialised_ = false;
};
