// The image filter dialog: the camera instance's software filters, and for monochrome colour
// types the gray gains and offsets, written straight into the filter block.
#pragma once

#include <windows.h>

#include "dialogs/dialog_common.h"

class CImageDialog {
 public:
  // block: the camera instance's 30 filter words; colorType selects the rows and pages;
  // published receives the dialog's window while it is open, for the frame conversion's
  // refresh message.
  CImageDialog(int* block, int colorType, HWND* published);
  ~CImageDialog();
  CImageDialog(const CImageDialog&) = delete;
  CImageDialog& operator=(const CImageDialog&) = delete;

  // Runs the modal dialog. True when it was shown; *ok tells whether OK ended it.
  bool Run(HWND parent, bool* ok);

  HWND window = nullptr;

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

  static INT_PTR CALLBACK OuterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
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
  HBRUSH brush_;
  bool shown_ = false;
  bool ok_ = false;
};
