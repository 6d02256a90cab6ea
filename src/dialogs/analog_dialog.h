// The analog settings dialog: global and colour gains, exposure, mirrors and the automatic-iris
// mode, each change written to the camera at once.
#pragma once

#include <windows.h>

#include "dialogs/dialog_common.h"

class CQelvan;

class CAnalogDialog {
 public:
  explicit CAnalogDialog(CQelvan* camera);
  ~CAnalogDialog();
  CAnalogDialog(const CAnalogDialog&) = delete;
  CAnalogDialog& operator=(const CAnalogDialog&) = delete;

  // Runs the modal dialog. True when it was shown; *ok tells whether OK ended it.
  bool Run(HWND parent, bool* ok);

  HWND window = nullptr;
  HWND page = nullptr;

  static constexpr int kRows = 6;
  static const dialogs::Row kRowTable[kRows];

 private:
  static INT_PTR CALLBACK OuterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void InitPage(HWND page);
  void OnPageCommand(int id, int code);
  void OnRowValue(int row, int value);
  void WriteTimeLabel();
  void SetDefaults();
  int* Field(int row) const;
  dialogs::Row RowOf(int row) const;

  CQelvan* camera_;
  HBRUSH brush_;
  bool initialised_ = false;
  bool shown_ = false;
  bool ok_ = false;
};
