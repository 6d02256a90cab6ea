// The analog settings dialog.
#include "dialogs/analog_dialog.h"

#include <commctrl.h>

#include <cstdio>

#include "resources/dialog_ids.h"

using dialogs::Row;
using settings::AnalogField;

// Trackbar, edit, up-down and range; the colour gain minimums come from the sensor.
const Row CAnalogDialog::kRowTable[kRows] = {
    {IDC_GAIN_TB, IDC_GAIN_ED, IDC_GAIN_UD, settings::kGlobalGainMin, settings::kGlobalGainMax, 0},
    {IDC_G1_TB, IDC_G1_ED, IDC_G1_UD, 0, settings::kColorGainMax, 0},
    {IDC_R_TB, IDC_R_ED, IDC_R_UD, 0, settings::kColorGainMax, 0},
    {IDC_B_TB, IDC_B_ED, IDC_B_UD, 0, settings::kColorGainMax, 0},
    {IDC_G2_TB, IDC_G2_ED, IDC_G2_UD, 0, settings::kColorGainMax, 0},
    {IDC_EXPOSURE_TB, IDC_EXPOSURE_ED, IDC_EXPOSURE_UD, settings::kExposureLinesMin,
     settings::kExposureLinesMax, 0},
};

namespace {
// The value of each row.
const AnalogField kRowField[CAnalogDialog::kRows] = {
    settings::kAnalogGlobalGain, settings::kAnalogGreen1, settings::kAnalogRed,
    settings::kAnalogBlue,       settings::kAnalogGreen2, settings::kAnalogExposure};
constexpr int kExposureRow = 5;
bool IsColorRow(int row) { return row >= 1 && row <= 4; }
}  // namespace

bool CAnalogDialog::Run(HWND parent, bool* ok) { return RunTemplate(parent, IDD_ANALOG_JA, IDD_ANALOG_EN, ok); }

void CAnalogDialog::OnInit() {
  values_ = access_.Settings().analog;
  for (int row = 0; row < kRows; ++row) {
    rows_[row] = kRowTable[row];
    if (IsColorRow(row)) rows_[row].min = access_.ColorGainMinimum(settings::ColorGainRegister(kRowField[row]));
  }
  dialogs::InsertTabItem(window, 0, "Analog Gain");
  dialogs::CreatePage(window, dialogs::TemplateId(IDD_ANALOG_PAGE_JA, IDD_ANALOG_PAGE_EN), PageProc, this, true);
  // Automatic exposure posts what it sets here.
  access_.PublishAnalogDialog(window);
}

INT_PTR CAnalogDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == IDC_TAB && header->code == static_cast<UINT>(TCN_SELCHANGE) &&
          SendDlgItemMessageA(window, IDC_TAB, TCM_GETCURSEL, 0, 0) == 0 && page_)
        ShowWindow(page_, SW_SHOW);
      return TRUE;
    }
    case dialogs::kSetAnalogControlMessage: {
      // Gain or exposure as automatic exposure left them: the camera already has the value.
      const int row = dialogs::FindRow(kRowTable, kRows, static_cast<int>(wParam));
      if (row >= 0 && page_) {
        values_[kRowField[row]] = static_cast<int32_t>(lParam);
        ShowRow(row, true);
      }
      return TRUE;
    }
    case WM_DESTROY:
      access_.PublishAnalogDialog(nullptr);
      return FALSE;
  }
  return FALSE;
}

void CAnalogDialog::Change(AnalogField field, int32_t value) {
  values_[field] = value;
  access_.ShowAnalog(field, value);
}

void CAnalogDialog::OnDefaults() {
  Change(settings::kAnalogGlobalGain, settings::kGlobalGainDefault);
  for (int row = 0; row < kRows; ++row)
    if (IsColorRow(row)) Change(kRowField[row], access_.ColorGainDefault(settings::ColorGainRegister(kRowField[row])));
  Change(settings::kAnalogExposure, settings::kExposureLinesDefault);
  if (!page_) return;
  for (int row = 0; row < kRows; ++row) ShowRow(row, false);
}

// A row from the copy, without reacting to its own change notifications. A refresh leaves alone
// the edit being typed into.
void CAnalogDialog::ShowRow(int row, bool refresh) {
  const bool was = initialised_;
  initialised_ = false;
  if (refresh)
    dialogs::RefreshRowValue(page_, rows_[row], values_[kRowField[row]]);
  else
    dialogs::ShowRowValue(page_, rows_[row], values_[kRowField[row]]);
  if (row == kExposureRow) WriteTimeLabel();
  initialised_ = was;
}

void CAnalogDialog::WriteTimeLabel() {
  char text[64];
  snprintf(text, sizeof text, "=%.2fms", access_.ExposureMilliseconds(values_.exposureLines));
  SetDlgItemTextA(page_, IDC_EXPOSURE_TIME, text);
}

void CAnalogDialog::InitPage(HWND pageWindow) {
  page_ = pageWindow;
  for (int row = 0; row < kRows; ++row)
    dialogs::SetupRow(page_, rows_[row], values_[kRowField[row]], !IsColorRow(row));
  CheckDlgButton(page_, IDC_MIRROR_V, values_.mirrorV ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(page_, IDC_MIRROR_H, values_.mirrorH ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(page_, IDC_IRIS_EXPOSURE, values_.autoIris == 1 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(page_, IDC_IRIS_GAIN, values_.autoIris == 2 ? BST_CHECKED : BST_UNCHECKED);
  WriteTimeLabel();
  initialised_ = true;
}

void CAnalogDialog::OnRowValue(int row, int value) {
  Change(kRowField[row], value);
  SendDlgItemMessageA(page_, kRowTable[row].trackbar, TBM_SETPOS, TRUE, value);
  if (row == kExposureRow) WriteTimeLabel();
}

void CAnalogDialog::OnPageCommand(int id, int code) {
  const bool checked = IsDlgButtonChecked(page_, id) == BST_CHECKED;
  switch (id) {
    case IDC_MIRROR_V:
      Change(settings::kAnalogMirrorV, checked ? 1 : 0);
      return;
    case IDC_MIRROR_H:
      Change(settings::kAnalogMirrorH, checked ? 1 : 0);
      return;
    case IDC_IRIS_GAIN:
      if (checked) CheckDlgButton(page_, IDC_IRIS_EXPOSURE, BST_UNCHECKED);
      Change(settings::kAnalogAutoIris, checked ? 2 : 0);
      return;
    case IDC_IRIS_EXPOSURE:
      if (checked) CheckDlgButton(page_, IDC_IRIS_GAIN, BST_UNCHECKED);
      Change(settings::kAnalogAutoIris, checked ? 1 : 0);
      return;
  }
  if (!initialised_) return;
  for (int row = 0; row < kRows; ++row) {
    if (kRowTable[row].edit != id) continue;
    int value = 0;
    if (code == EN_CHANGE && dialogs::ReadRowEdit(page_, rows_[row], &value))
      OnRowValue(row, value);
    else if (code == EN_KILLFOCUS)  // show what the camera really got
      ShowRow(row, false);
    return;
  }
}

INT_PTR CALLBACK CAnalogDialog::PageProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CAnalogDialog*>(lParam);
    dialogs::BindObject(window, self);
    self->InitPage(window);
    return TRUE;
  }
  auto* self = dialogs::ObjectOf<CAnalogDialog>(window);
  if (!self) return FALSE;
  switch (message) {
    case WM_COMMAND:
      self->OnPageCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_HSCROLL: {
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      for (int row = 0; row < kRows; ++row) {
        if (kRowTable[row].trackbar != id) continue;
        const int position = static_cast<int>(SendMessageA(reinterpret_cast<HWND>(lParam), TBM_GETPOS, 0, 0));
        // The edit's change notification carries the value on to the camera.
        SetDlgItemInt(window, kRowTable[row].edit, static_cast<UINT>(position), TRUE);
      }
      return TRUE;
    }
  }
  return FALSE;
}
