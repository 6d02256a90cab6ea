// The image filter dialog: the camera instance's software filters, and for monochrome colour
// types the gray gains and offsets, written straight into the filter block.
#pragma once

#include <windows.h>

#include "dialogs/dialog_common.h"

class CImageDialog : public dialogs::ModalDialog {
 public:
  // block: the camera instance's 30 filter words; colorType selects the rows and pages;
  // published receives the dialog's window while it is open, for the frame conversion's
  // refresh message.
  CImageDialog(int* block, int colorType, HWND* published);

  // Runs the modal dialog. True when it was shown; *ok tells whether OK ended it.
  bool Run(HWND parent, bool* ok);

  static constexpr int kPage1Rows = 9;
  static constexpr int kPage2Rows = 8;
  static const dialogs::Row kPage1[kPage1Rows];
  static const dialogs::Row kPage2[kPage2Rows];

 private:
  struct Page {
    CImageDialog* owner = nullptr;
    HWND window = nullptr;
    int number = 0;  // 1 or 2
    bool initialised = false;
  };

  void OnInit() override;
  void OnDefaults() override { SetDefaults(); }
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void InitPage(Page* page);
  void ShowPage(Page* page);
  void OnPageCommand(Page* page, int id, int code);
  void OnTrackbar(Page* page, HWND trackbar);
  void SetDefaults();
  void SelectTab(int item);

  int* block_;
  HWND* published_;
  bool monochrome_;
  bool enabled_[kPage1Rows];
  Page page1_, page2_;
};
