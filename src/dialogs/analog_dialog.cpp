// The analog settings dialog.
#include "dialogs/analog_dialog.h"

#include <commctrl.h>

#include <cstdio>

#include "camera/camera.h"
#include "device/qelvan_device.h"
#include "resources/dialog_ids.h"

using dialogs::Row;

// Trackbar, edit, up-down and range; the colour gain and exposure limits come from the device.
const Row CAnalogDialog::kRowTable[kRows] = {
    {IDC_GAIN_TB, IDC_GAIN_ED, IDC_GAIN_UD, GLOBAL_GAIN_MIN, 63, 0},
    {IDC_G1_TB, IDC_G1_ED, IDC_G1_UD, 0, 63, 0},
    {IDC_R_TB, IDC_R_ED, IDC_R_UD, 0, 63, 0},
    {IDC_B_TB, IDC_B_ED, IDC_B_UD, 0, 63, 0},
    {IDC_G2_TB, IDC_G2_ED, IDC_G2_UD, 0, 63, 0},
    {IDC_EXPOSURE_TB, IDC_EXPOSURE_ED, IDC_EXPOSURE_UD, 1, EXPOSURE_LINES_MAX, 0},
};

namespace {
// Colour gain register of each colour row.
const int kColorGainRegister[] = {0, 43, 45, 44, 46, 0};
constexpr int kExposureRow = 5;
}  // namespace

Row CAnalogDialog::RowOf(int row) const {
  Row r = kRowTable[row];
  if (row >= 1 && row <= 4) {
    int lowest = 0;
    camera_->device->QueryColorGain(kColorGainRegister[row], &lowest);
    r.min = lowest;
  }
  return r;
}

int* CAnalogDialog::Field(int row) const {
  int* const fields[kRows] = {&camera_->globalGain,    &camera_->colorGainGreen1,
                              &camera_->colorGainRed,  &camera_->colorGainBlue,
                              &camera_->colorGainGreen2, &camera_->exposureLines};
  return fields[row];
}

bool CAnalogDialog::Run(HWND parent, bool* ok) { return RunTemplate(parent, IDD_ANALOG_JA, IDD_ANALOG_EN, ok); }

void CAnalogDialog::OnInit() {
  dialogs::InsertTabItem(window, 0, "Analog Gain");
  page = dialogs::CreatePage(window, dialogs::TemplateId(IDD_ANALOG_PAGE_JA, IDD_ANALOG_PAGE_EN), PageProc, this,
                             true);
}

INT_PTR CAnalogDialog::OnMessage(UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_NOTIFY) return FALSE;
  const auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header->idFrom == IDC_TAB && header->code == static_cast<UINT>(TCN_SELCHANGE) &&
      SendDlgItemMessageA(window, IDC_TAB, TCM_GETCURSEL, 0, 0) == 0 && page)
    ShowWindow(page, SW_SHOW);
  return TRUE;
}

void CAnalogDialog::SetDefaults() {
  CQLVSdkLib* device = camera_->device;
  camera_->globalGain = GLOBAL_GAIN_DEFAULT;
  for (int row = 1; row <= 4; ++row) {
    int value = 0;
    device->QueryColorGainParam(kColorGainRegister[row], &value);
    *Field(row) = value;
  }
  camera_->exposureLines = EXPOSURE_LINES_DEFAULT;
  device->SetGlobalGain(camera_->globalGain);
  for (int row = 1; row <= 4; ++row) device->SetColorGain(kColorGainRegister[row], *Field(row));
  device->SetExposureLines(camera_->exposureLines);
  if (!page) return;
  initialised_ = false;
  for (int row = 0; row < kRows; ++row) dialogs::ShowRowValue(page, RowOf(row), *Field(row));
  WriteTimeLabel();
  initialised_ = true;
}

void CAnalogDialog::WriteTimeLabel() {
  char text[64];
  double ms = 0.0;
  if (camera_->lineClocks > 0 && camera_->msPerClock > 0.0)
    ms = static_cast<double>(camera_->exposureLines) * camera_->lineClocks * camera_->msPerClock;
  snprintf(text, sizeof text, "=%.2fms", ms);
  SetDlgItemTextA(page, IDC_EXPOSURE_TIME, text);
}

void CAnalogDialog::InitPage(HWND pageWindow) {
  page = pageWindow;
  for (int row = 0; row < kRows; ++row)
    dialogs::SetupRow(page, RowOf(row), *Field(row), row == 0 || row == kExposureRow);
  CheckDlgButton(page, IDC_MIRROR_V, camera_->mirrorV ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(page, IDC_MIRROR_H, camera_->mirrorH ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(page, IDC_IRIS_EXPOSURE, camera_->autoIris == 1 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(page, IDC_IRIS_GAIN, camera_->autoIris == 2 ? BST_CHECKED : BST_UNCHECKED);
  WriteTimeLabel();
  initialised_ = true;
  // The frame conversion posts automatic exposure results here.
  camera_->analogDialogWindow = page;
}

void CAnalogDialog::OnRowValue(int row, int value) {
  *Field(row) = value;
  SendDlgItemMessageA(page, kRowTable[row].trackbar, TBM_SETPOS, TRUE, value);
  CQLVSdkLib* device = camera_->device;
  if (row == 0)
    device->SetGlobalGain(value);
  else if (row == kExposureRow)
    device->SetExposureLines(value);
  else
    device->SetColorGain(kColorGainRegister[row], value);
  if (row == kExposureRow) WriteTimeLabel();
}

void CAnalogDialog::OnPageCommand(int id, int code) {
  const bool checked = IsDlgButtonChecked(page, id) == BST_CHECKED;
  switch (id) {
    case IDC_MIRROR_V:
      camera_->device->SetMirrorV(checked ? 1 : 0);
      camera_->mirrorV = checked ? 1 : 0;
      return;
    case IDC_MIRROR_H:
      camera_->device->SetMirrorH(checked ? 1 : 0);
      camera_->mirrorH = checked ? 1 : 0;
      return;
    case IDC_IRIS_GAIN:
      if (checked) CheckDlgButton(page, IDC_IRIS_EXPOSURE, BST_UNCHECKED);
      camera_->autoIris = checked ? 2 : 0;
      return;
    case IDC_IRIS_EXPOSURE:
      if (checked) CheckDlgButton(page, IDC_IRIS_GAIN, BST_UNCHECKED);
      camera_->autoIris = checked ? 1 : 0;
      return;
  }
  if (!initialised_) return;
  for (int row = 0; row < kRows; ++row) {
    if (kRowTable[row].edit != id) continue;
    int value = 0;
    if (code == EN_CHANGE && dialogs::ReadRowEdit(page, RowOf(row), &value))
      OnRowValue(row, value);
    else if (code == EN_KILLFOCUS)  // show what the camera really got
      SetDlgItemInt(page, id, static_cast<UINT>(*Field(row)), TRUE);
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
    case CQelvan::kSetAnalogControlMessage: {
      // Gain or exposure as automatic exposure left them: the camera already has the value.
      const int row = dialogs::FindRow(kRowTable, kRows, static_cast<int>(wParam));
      if (row < 0) return TRUE;
      self->initialised_ = false;
      dialogs::ShowRowValue(window, self->RowOf(row), static_cast<int>(lParam));
      if (row == kExposureRow) self->WriteTimeLabel();
      self->initialised_ = true;
      return TRUE;
    }
  }
  return FALSE;
}
