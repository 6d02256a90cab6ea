// The camera settings dialog.
#include "dialogs/camera_dialog.h"

#include <commctrl.h>

#include <cstdio>

#include "dialogs/dialog_common.h"
#include "resources/dialog_ids.h"

namespace {

constexpr int kColorTypes = 6;
constexpr int kSubSamples = 3;
constexpr int kClocks = 3;

std::string SizeText(const settings::SizePreset& preset) {
  char text[32];
  snprintf(text, sizeof text, "%d x %d", preset.width, preset.height);
  return text;
}

std::string Format(const std::string& pattern, int value) {
  char text[64];
  snprintf(text, sizeof text, pattern.c_str(), value);
  return text;
}

}  // namespace

bool CCameraDialog::Run(HWND parent, bool* ok) { return RunTemplate(parent, IDD_CAMERA_JA, IDD_CAMERA_EN, ok); }

void CCameraDialog::Load() {
  settings::LoadPresetList(cameraNumber_, &list_);
  // A preset number that names no preset would index past the table: offer "Custom".
  if (list_.values.size < 0 || list_.values.size > SizeCount()) list_.values.size = SizeCount();
}

void CCameraDialog::Save() { settings::SavePresetList(cameraNumber_, list_); }

void CCameraDialog::Select(int combo, int index) {
  SendDlgItemMessageA(window, combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CCameraDialog::ShowEntry(int index) {
  const settings::SizePreset shown =
      index >= 0 && index < SizeCount() ? list_.presets[index] : settings::SizePreset();
  const int32_t values[6] = {shown.totalWidth, shown.totalHeight, shown.width,
                             shown.height,     shown.startX,      shown.startY};
  for (int v = 0; v < 6; ++v)
    SetDlgItemInt(window, IDC_TOTAL_H + v, static_cast<UINT>(values[v]), FALSE);
}

void CCameraDialog::ShowSizeText(int index, bool insert) {
  if (!insert) SendDlgItemMessageA(window, IDC_SIZES, CB_DELETESTRING, index, 0);
  SendDlgItemMessageA(window, IDC_SIZES, CB_INSERTSTRING, index,
                      reinterpret_cast<LPARAM>(SizeText(list_.presets[index]).c_str()));
}

void CCameraDialog::EnableApply(bool on) {
  HWND apply = GetDlgItem(window, IDC_APPLY);
  // A disabled button drops the focus and leaves the keyboard with nothing: hand it to OK first.
  if (!on && GetFocus() == apply)
    SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window, IDOK)), TRUE);
  EnableWindow(apply, on);
}

bool CCameraDialog::CustomHasNoRoom() const {
  return SendDlgItemMessageA(window, IDC_SIZES, CB_GETCURSEL, 0, 0) == SizeCount() &&
         SizeCount() >= settings::kMaxPresets;
}

void CCameraDialog::ShowSizeNote() {
  ShowWindow(GetDlgItem(window, IDC_SIZE_FULL), CustomHasNoRoom() ? SW_SHOW : SW_HIDE);
}

// Apply or OK with "Custom" and a full table: nothing is saved and the dialog stays, with the
// typed size and the note saying why, and the focus on the size list to choose one to change.
bool CCameraDialog::SaveIfRoom() {
  if (CustomHasNoRoom()) {
    ShowSizeNote();
    MessageBeep(MB_ICONWARNING);
    HWND sizes = GetDlgItem(window, IDC_SIZES);
    SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(sizes), TRUE);
    return false;
  }
  ReadControls();
  Save();
  return true;
}

void CCameraDialog::Init() {
  dialogs::InsertTabItem(window, 0, dialogs::Localized(L"Stream Format", L"ストリーム形式"));
  auto add = [this](int combo, const std::string& text) {
    return static_cast<int>(
        SendDlgItemMessageA(window, combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
  };
  add(IDC_COLOR, dialogs::Localized(L"Monochrome 8bit", L"白黒 8bit"));
  add(IDC_COLOR, Format(dialogs::Localized(L"Monochrome %dbit *", L"白黒 %dbit ※"), 10));
  add(IDC_COLOR, dialogs::Localized(L"Color 24bit", L"カラー 24bit"));
  add(IDC_COLOR, dialogs::Localized(L"Color 32bit", L"カラー 32bit"));
  add(IDC_COLOR, dialogs::Localized(L"Color 48bit *", L"カラー 48bit ※"));
  add(IDC_COLOR, dialogs::Localized(L"Color 64bit *", L"カラー 64bit ※"));
  const char* const subSamples[kSubSamples] = {"1/1", "1/2 Skip", "1/4 Skip"};
  for (int i = 0; i < kSubSamples; ++i) {
    const int item = add(IDC_SUBSAMPLE, subSamples[i]);
    SendDlgItemMessageA(window, IDC_SUBSAMPLE, CB_SETITEMDATA, item, i);
  }
  add(IDC_CLOCK, dialogs::Localized(L"Nomal(24MHz)", L"標準(24MHz)"));
  add(IDC_CLOCK, dialogs::Localized(L"Half(12MHz)", L"ハーフ(12MHz)"));
  add(IDC_CLOCK, Format(dialogs::Localized(L"High(%dMHz)", L"高速(%dMHz)"), 40));
  for (const settings::SizePreset& preset : list_.presets) add(IDC_SIZES, SizeText(preset));
  add(IDC_SIZES, dialogs::Localized(L"Custom", L"カスタム"));

  // A stored value outside a list leaves that list without a selection.
  const settings::CameraValues& v = list_.values;
  Select(IDC_COLOR, v.color >= 0 && v.color < kColorTypes ? v.color : -1);
  int subItem = 0;
  for (int i = 0; i < kSubSamples; ++i)
    if (SendDlgItemMessageA(window, IDC_SUBSAMPLE, CB_GETITEMDATA, i, 0) == v.subSample) {
      subItem = i;
      break;
    }
  Select(IDC_SUBSAMPLE, subItem);
  Select(IDC_CLOCK, v.clock >= 0 && v.clock < kClocks ? v.clock : -1);
  Select(IDC_SIZES, v.size);
  ShowEntry(v.size);
  ShowSizeNote();
  SetDlgItemInt(window, IDC_WAIT_TIME, static_cast<UINT>(v.waitTime), FALSE);
  EnableApply(false);
}

void CCameraDialog::ReadControls() {
  settings::CameraValues& v = list_.values;
  auto selection = [this](int combo) {
    return static_cast<int>(SendDlgItemMessageA(window, combo, CB_GETCURSEL, 0, 0));
  };
  // A list without a selection keeps the stored value.
  if (selection(IDC_COLOR) >= 0) v.color = selection(IDC_COLOR);
  if (selection(IDC_SIZES) >= 0) v.size = selection(IDC_SIZES);
  if (selection(IDC_SUBSAMPLE) >= 0)
    v.subSample = static_cast<int32_t>(
        SendDlgItemMessageA(window, IDC_SUBSAMPLE, CB_GETITEMDATA, selection(IDC_SUBSAMPLE), 0));
  if (selection(IDC_CLOCK) >= 0) v.clock = selection(IDC_CLOCK);
  // A wait time of 2^31 ms or more, or no number at all, keeps the stored one.
  char text[32] = {};
  GetDlgItemTextA(window, IDC_WAIT_TIME, text, sizeof text);
  dialogs::ParseNonNegative(text, &v.waitTime);

  // Typed sizes are taken as they are: the camera instance checks them when it loads them.
  settings::SizePreset edited =
      v.size < SizeCount() ? list_.presets[v.size] : settings::SizePreset();
  int32_t* const fields[6] = {&edited.totalWidth, &edited.totalHeight, &edited.width,
                              &edited.height,     &edited.startX,      &edited.startY};
  for (int f = 0; f < 6; ++f)
    *fields[f] = static_cast<int32_t>(GetDlgItemInt(window, IDC_TOTAL_H + f, nullptr, FALSE));

  if (v.size >= SizeCount()) {
    list_.presets.push_back(edited);
    v.size = SizeCount() - 1;
    ShowSizeText(v.size, true);
  } else {
    list_.presets[v.size] = edited;
    ShowSizeText(v.size, false);
  }
  // The new or renamed entry stays selected, so a second Apply or OK does not add it again.
  Select(IDC_SIZES, v.size);
  EnableApply(false);
}

void CCameraDialog::OnInit() {
  Load();
  Init();
  access_.PublishCameraDialog(window);
}

bool CCameraDialog::OnOk() { return SaveIfRoom(); }

INT_PTR CCameraDialog::OnMessage(UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_DESTROY) access_.PublishCameraDialog(nullptr);
  if (message != WM_COMMAND) return FALSE;
  const int id = LOWORD(wParam), code = HIWORD(wParam);
  if (id == IDC_APPLY) {
    SaveIfRoom();
    return TRUE;
  }
  if (id == IDC_SIZES && code == CBN_SELCHANGE) {
    const int index = static_cast<int>(SendDlgItemMessageA(window, IDC_SIZES, CB_GETCURSEL, 0, 0));
    if (index >= 0) {
      list_.values.size = index;
      if (index < SizeCount()) ShowEntry(index);
    }
    ShowSizeNote();
  }
  if (code == CBN_SELCHANGE || code == EN_CHANGE) EnableApply(true);
  return TRUE;
}
