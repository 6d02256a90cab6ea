// The image filter dialog.
#include "dialogs/image_dialog.h"

#include <commctrl.h>

#include "resources/dialog_ids.h"

using dialogs::Row;
using namespace settings;

const Row CImageDialog::kPage1[kPage1Rows] = {
    {IDC_BRIGHTNESS_TB, IDC_BRIGHTNESS_ED, IDC_BRIGHTNESS_UD, -255, 255, 64},
    {IDC_CONTRAST_TB, IDC_CONTRAST_ED, IDC_CONTRAST_UD, -127, 127, 32},
    {IDC_HUE_TB, IDC_HUE_ED, IDC_HUE_UD, -360, 360, 90},
    {IDC_SATURATION_TB, IDC_SATURATION_ED, IDC_SATURATION_UD, -255, 255, 64},
    {IDC_SHARPNESS_TB, IDC_SHARPNESS_ED, IDC_SHARPNESS_UD, 0, 30, 4},
    {IDC_RGAIN_TB, IDC_RGAIN_ED, IDC_RGAIN_UD, 0, 400, 32},
    {IDC_GGAIN_TB, IDC_GGAIN_ED, IDC_GGAIN_UD, 0, 400, 32},
    {IDC_BGAIN_TB, IDC_BGAIN_ED, IDC_BGAIN_UD, 0, 400, 32},
    {IDC_GAMMA_TB, IDC_GAMMA_ED, IDC_GAMMA_UD, 0, 200, 32},
};

#define GRAY_ROW(first) {first, first + 1, first + 2, 0, 400, 32}
const Row CImageDialog::kPage2[kPage2Rows] = {
    GRAY_ROW(2100), GRAY_ROW(2103), GRAY_ROW(2106), GRAY_ROW(2109),
    GRAY_ROW(2112), GRAY_ROW(2115), GRAY_ROW(2118), GRAY_ROW(2121),
};
#undef GRAY_ROW

namespace {

// Block word of each row.
const int kPage1Field[CImageDialog::kPage1Rows] = {
    kFilterBrightness, kFilterContrast, kFilterHue,       kFilterSaturation, kFilterSharpness,
    kFilterGainRed,    kFilterGainGreen, kFilterGainBlue, kFilterGamma};
constexpr int kPage2FirstField = kFilterGrayGain;  // gains 12..15, offsets 16..19

constexpr int kBalanceEveryFrame = 1;
constexpr int kGrayBalanceOnce = 1;
constexpr int kGrayBalanceEveryFrame = -1;

void CheckRadio(HWND page, int first, int last, int index) {
  CheckRadioButton(page, first, last, index >= 0 && index <= last - first ? first + index : 0);
}

}  // namespace

CImageDialog::CImageDialog(dialogs::CameraAccess& access) : access_(access) {
  page1_.owner = page2_.owner = this;
  page1_.number = 1;
  page2_.number = 2;
}

bool CImageDialog::Run(HWND parent, bool* ok) { return RunTemplate(parent, IDD_IMAGE_JA, IDD_IMAGE_EN, ok); }

void CImageDialog::SelectTab(int item) {
  if (page1_.window) ShowWindow(page1_.window, item == 0 ? SW_SHOW : SW_HIDE);
  if (page2_.window) ShowWindow(page2_.window, item == 1 ? SW_SHOW : SW_HIDE);
}

void CImageDialog::OnInit() {
  const CameraSettings live = access_.Settings();
  block_ = live.filters;
  monochrome_ = live.stream.colorType == 0 || live.stream.colorType == 1;
  // Monochrome pictures have no colour to turn, saturate or balance.
  for (int row = 0; row < kPage1Rows; ++row)
    enabled_[row] = !monochrome_ || !(row == 2 || row == 3 || (row >= 5 && row <= 7));
  dialogs::InsertTabItem(window, 0, "Image Filter");
  dialogs::CreatePage(window, dialogs::TemplateId(IDD_IMAGE_PAGE1_JA, IDD_IMAGE_PAGE1_EN), PageProc, &page1_, true);
  if (monochrome_) {
    dialogs::InsertTabItem(window, 1, "Gray Filter");
    dialogs::CreatePage(window, dialogs::TemplateId(IDD_IMAGE_PAGE2_JA, IDD_IMAGE_PAGE2_EN), PageProc, &page2_,
                        false);
  }
  // The frame conversion posts its refresh here.
  access_.PublishImageDialog(window);
}

// OK needs nothing of its own: the camera already has every value, each held to its row's range;
// reading the controls again could only bring back stale ones.
INT_PTR CImageDialog::OnMessage(UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == IDC_TAB && header->code == static_cast<UINT>(TCN_SELCHANGE))
        SelectTab(static_cast<int>(SendDlgItemMessageA(window, IDC_TAB, TCM_GETCURSEL, 0, 0)));
      return TRUE;
    }
    case dialogs::kRefreshImageDialogMessage: {
      // Automatic balancing changed gains: take what it measured, keep what the user set.
      const FilterBlock before = block_;
      block_.TakeMeasured(access_.Settings().filters);
      ShowMeasured(before);
      return TRUE;
    }
    case WM_DESTROY:
      access_.PublishImageDialog(nullptr);
      return FALSE;
  }
  return FALSE;
}

void CImageDialog::Change(int slot, int32_t value) {
  block_[slot] = value;
  access_.ShowFilter(slot, value);
}

// The first page's rows and the Bayer mode, and with the second page the gray gains and offsets;
// the gray mode and the automatic balancing stay.
void CImageDialog::OnDefaults() {
  const FilterBlock defaults = FilterBlock::Defaults();
  for (int slot = kFilterBrightness; slot <= kFilterBayerMode; ++slot) Change(slot, defaults[slot]);
  ShowPage(&page1_);
  if (page2_.window) {
    for (int slot = kFilterGrayGain; slot < kFilterGrayOffset + 4; ++slot) Change(slot, defaults[slot]);
    ShowPage(&page2_);
  }
}

// Rows, radio buttons and the automatic balance box from the block, without reacting to it.
void CImageDialog::ShowPage(Page* page) {
  HWND w = page->window;
  if (!w) return;
  const bool was = page->initialised;
  page->initialised = false;
  if (page->number == 1) {
    for (int row = 0; row < kPage1Rows; ++row)
      dialogs::ShowRowValue(w, kPage1[row], block_[kPage1Field[row]]);
    CheckDlgButton(w, IDC_BALANCE_ALL, WhiteBalanceEveryFrame() ? BST_CHECKED : BST_UNCHECKED);
  } else {
    for (int row = 0; row < kPage2Rows; ++row)
      dialogs::ShowRowValue(w, kPage2[row], block_[kPage2FirstField + row]);
    CheckRadio(w, IDC_GRAY_MODE0, IDC_GRAY_MODE2, block_[kFilterGrayMode]);
    CheckDlgButton(w, IDC_BALANCE_ALL,
                   block_[kFilterGrayBalance] == kGrayBalanceEveryFrame ? BST_CHECKED
                                                                        : BST_UNCHECKED);
  }
  CheckRadio(w, IDC_BAYER0, IDC_BAYER3, block_[kFilterBayerMode]);
  page->initialised = was;
}

// Only the rows a balance changed, and never the edit being typed into: the refresh comes with
// every frame while a balance runs on every frame.
void CImageDialog::ShowMeasured(const FilterBlock& before) {
  const struct {
    Page* page;
    const Row* rows;
    int firstRow, count, firstSlot;
  } measured[] = {
      {&page1_, kPage1, 5, 3, kFilterGainRed},     // red, green and blue gain
      {&page2_, kPage2, 0, 4, kPage2FirstField},  // the gray gains
  };
  for (const auto& m : measured) {
    if (!m.page->window) continue;
    const bool was = m.page->initialised;
    m.page->initialised = false;
    for (int i = 0; i < m.count; ++i) {
      const int slot = m.firstSlot + i;
      if (block_[slot] != before[slot])
        dialogs::RefreshRowValue(m.page->window, m.rows[m.firstRow + i], block_[slot]);
    }
    m.page->initialised = was;
  }
  if (page1_.window)
    CheckDlgButton(page1_.window, IDC_BALANCE_ALL,
                   WhiteBalanceEveryFrame() ? BST_CHECKED : BST_UNCHECKED);
  if (page2_.window)
    CheckDlgButton(page2_.window, IDC_BALANCE_ALL,
                   block_[kFilterGrayBalance] == kGrayBalanceEveryFrame ? BST_CHECKED
                                                                        : BST_UNCHECKED);
}

bool CImageDialog::WhiteBalanceEveryFrame() const {
  return block_[kFilterWhiteBalance] == kBalanceEveryFrame &&
         block_[kFilterWhiteBalance + 1] == 0 && block_[kFilterWhiteBalance + 2] == 0;
}

// A row as the block has it, without reacting to its own change notification.
void CImageDialog::ShowRow(Page* page, int row) {
  const bool was = page->initialised;
  page->initialised = false;
  if (page->number == 1)
    dialogs::ShowRowValue(page->window, kPage1[row], block_[kPage1Field[row]]);
  else
    dialogs::ShowRowValue(page->window, kPage2[row], block_[kPage2FirstField + row]);
  page->initialised = was;
}

void CImageDialog::InitPage(Page* page) {
  HWND w = page->window;
  if (page->number == 1) {
    for (int row = 0; row < kPage1Rows; ++row)
      dialogs::SetupRow(w, kPage1[row], block_[kPage1Field[row]], enabled_[row]);
    const int colourOnly[] = {IDC_BALANCE_ONCE, IDC_BALANCE_ALL, IDC_BAYER0,
                              IDC_BAYER1,       IDC_BAYER2,      IDC_BAYER3};
    for (int id : colourOnly) EnableWindow(GetDlgItem(w, id), !monochrome_);
  } else {
    for (int row = 0; row < kPage2Rows; ++row)
      dialogs::SetupRow(w, kPage2[row], block_[kPage2FirstField + row], true);
  }
  ShowPage(page);
  page->initialised = true;
}

void CImageDialog::OnPageCommand(Page* page, int id, int code) {
  HWND w = page->window;
  const bool checked = IsDlgButtonChecked(w, id) == BST_CHECKED;
  if (id >= IDC_BAYER0 && id <= IDC_BAYER3) {
    if (!checked) return;
    Change(kFilterBayerMode, id - IDC_BAYER0);
    // Both pages choose the Bayer mode: the other one shows the choice too.
    Page* other = page->number == 1 ? &page2_ : &page1_;
    if (other->window) CheckRadio(other->window, IDC_BAYER0, IDC_BAYER3, block_[kFilterBayerMode]);
    return;
  }
  if (page->number == 2 && id >= IDC_GRAY_MODE0 && id <= IDC_GRAY_MODE2) {
    if (checked) Change(kFilterGrayMode, id - IDC_GRAY_MODE0);
    return;
  }
  if (id == IDC_BALANCE_ALL && code == BN_CLICKED) {
    if (page->number == 1) {
      Change(kFilterWhiteBalance, checked ? kBalanceEveryFrame : 0);
      Change(kFilterWhiteBalance + 1, 0);
      Change(kFilterWhiteBalance + 2, 0);
    } else {
      // The toggle starts from the live word: a single balance may have ended meanwhile.
      const int32_t now = access_.Settings().filters[kFilterGrayBalance];
      Change(kFilterGrayBalance, now == 0 ? kGrayBalanceEveryFrame : 0);
      CheckDlgButton(w, id,
                     block_[kFilterGrayBalance] == kGrayBalanceEveryFrame ? BST_CHECKED
                                                                          : BST_UNCHECKED);
    }
    return;
  }
  if (id == IDC_BALANCE_ONCE && code == BN_CLICKED) {
    if (page->number == 1) {
      Change(kFilterWhiteBalance + 1, 1);
      Change(kFilterWhiteBalance + 2, 1);
      Change(kFilterWhiteBalance, 1);
    } else {
      Change(kFilterGrayBalance, kGrayBalanceOnce);
    }
    CheckDlgButton(w, IDC_BALANCE_ALL, BST_UNCHECKED);
    return;
  }
  if (!page->initialised) return;
  const Row* rows = page->number == 1 ? kPage1 : kPage2;
  const int count = page->number == 1 ? kPage1Rows : kPage2Rows;
  const int row = dialogs::FindRow(rows, count, id);
  if (row < 0 || rows[row].edit != id) return;
  const int slot = page->number == 1 ? kPage1Field[row] : kPage2FirstField + row;
  int value = 0;
  if (code == EN_CHANGE && dialogs::ReadRowEdit(w, rows[row], &value)) {
    Change(slot, value);
    SendDlgItemMessageA(w, rows[row].trackbar, TBM_SETPOS, TRUE, value);
  } else if (code == EN_KILLFOCUS) {
    // What the camera has now, which a refresh may have changed while the user typed.
    ShowRow(page, row);
  }
}

void CImageDialog::OnTrackbar(Page* page, HWND trackbar) {
  const Row* rows = page->number == 1 ? kPage1 : kPage2;
  const int count = page->number == 1 ? kPage1Rows : kPage2Rows;
  const int row = dialogs::FindRow(rows, count, GetDlgCtrlID(trackbar));
  if (row < 0) return;
  const int position = static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
  // The edit's change notification stores the value.
  SetDlgItemInt(page->window, rows[row].edit, static_cast<UINT>(position), TRUE);
}

INT_PTR CALLBACK CImageDialog::PageProc(HWND window, UINT message, WPARAM wParam,
                                        LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* page = reinterpret_cast<Page*>(lParam);
    dialogs::BindObject(window, page);
    page->window = window;
    page->owner->InitPage(page);
    return TRUE;
  }
  auto* page = dialogs::ObjectOf<Page>(window);
  if (!page) return FALSE;
  switch (message) {
    case WM_COMMAND:
      page->owner->OnPageCommand(page, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_HSCROLL:
      if (lParam) page->owner->OnTrackbar(page, reinterpret_cast<HWND>(lParam));
      return TRUE;
  }
  return FALSE;
}
