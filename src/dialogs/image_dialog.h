// The image filter dialog: the software filters, and for monochrome colour types the gray gains
// and offsets, each change shown on the camera at once.
#pragma once

#include <windows.h>

#include "dialogs/camera_access.h"
#include "dialogs/dialog_common.h"
#include "settings/camera_settings.h"

class CImageDialog : public dialogs::ModalDialog {
 public:
  // The colour type, which selects the rows and pages, is the camera's when the dialog opens.
  explicit CImageDialog(dialogs::CameraAccess& access);

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
  void OnDefaults() override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void InitPage(Page* page);
  void ShowPage(Page* page);
  void ShowRow(Page* page, int row);
  void ShowMeasured(const settings::FilterBlock& before);
  bool WhiteBalanceEveryFrame() const;
  void OnPageCommand(Page* page, int id, int code);
  void OnTrackbar(Page* page, HWND trackbar);
  void Change(int slot, int32_t value);
  void SelectTab(int item);

  dialogs::CameraAccess& access_;
  settings::FilterBlock block_;
  bool monochrome_ = false;
  bool enabled_[kPage1Rows] = {};
  Page page1_, page2_;
};
