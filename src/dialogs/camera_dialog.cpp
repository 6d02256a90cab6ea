// The camera settings dialog.
#include "dialogs/camera_dialog.h"

#include <commctrl.h>

#include <cstdio>

#include "dialogs/dialog_common.h"
#include "resources/dialog_ids.h"

namespace {

constexpr char kProductKey[] = "Software\\Dovira\\QelvanZ51QK2RVNSdk";
const char* const kSizeValueNames[7] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};
const CCameraDialog::SizeEntry kDefaultEntry = {{752, 480, 752, 480, 0, 0, 4}};
constexpr int kColorTypes = 6;
constexpr int kSubSamples = 3;
constexpr int kClocks = 3;

// Owns an open registry key.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  bool Open(HKEY parent, const char* name) {
    return parent && RegOpenKeyExA(parent, name, 0, KEY_READ, &key_) == ERROR_SUCCESS;
  }
  bool Create(HKEY parent, const char* name) {
    return parent && RegCreateKeyExA(parent, name, 0, const_cast<char*>(""), 0, KEY_ALL_ACCESS,
                                     nullptr, &key_, nullptr) == ERROR_SUCCESS;
  }
  void Read(const char* name, int32_t* value) const {
    DWORD data = 0, size = sizeof data;
    if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) ==
            ERROR_SUCCESS &&
        size == sizeof data)
      *value = static_cast<int32_t>(data);
  }
  void Write(const char* name, int32_t value) const {
    const DWORD data = static_cast<DWORD>(value);
    RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::string SizeText(const CCameraDialog::SizeEntry& entry) {
  char text[32];
  snprintf(text, sizeof text, "%d x %d", entry.values[2], entry.values[3]);
  return text;
}

std::string Format(const std::string& pattern, int value) {
  char text[64];
  snprintf(text, sizeof text, pattern.c_str(), value);
  return text;
}

}  // namespace

CCameraDialog::CCameraDialog(int cameraNumber)
    : cameraNumber_(cameraNumber), brush_(CreateSolidBrush(GetSysColor(COLOR_BTNFACE))) {
  for (SizeEntry& entry : sizes_) entry = kDefaultEntry;
}

CCameraDialog::~CCameraDialog() { DeleteObject(brush_); }

bool CCameraDialog::Run(HWND parent, bool* ok) {
  DialogBoxParamA(dialogs::TemplateModule(),
                  MAKEINTRESOURCEA(dialogs::TemplateId(IDD_CAMERA_JA, IDD_CAMERA_EN)), parent, Proc,
                  reinterpret_cast<LPARAM>(this));
  *ok = ok_;
  return shown_;
}

void CCameraDialog::Load() {
  char name[32];
  RegKey product, camera;
  if (!product.Open(HKEY_CURRENT_USER, kProductKey)) return;
  snprintf(name, sizeof name, "Camera_%02d", cameraNumber_);
  if (!camera.Open(product.get(), name)) return;
  for (sizeCount_ = 0; sizeCount_ < kMaxSizes; ++sizeCount_) {
    snprintf(name, sizeof name, "Size_%02d", sizeCount_);
    RegKey size;
    if (!size.Open(camera.get(), name)) break;
    for (int v = 0; v < 7; ++v) size.Read(kSizeValueNames[v], &sizes_[sizeCount_].values[v]);
  }
  camera.Read("Size", &sizeIndex_);
  camera.Read("Color", &colorType_);
  camera.Read("SubSample", &subSample_);
  camera.Read("WaitTime", &waitTime_);
  camera.Read("Clock", &clock_);
  // A preset number that names no preset would index past the table: offer "Custom".
  if (sizeIndex_ < 0 || sizeIndex_ > sizeCount_) sizeIndex_ = sizeCount_;
}

void CCameraDialog::Save() {
  char name[32];
  RegKey product, camera;
  if (!product.Create(HKEY_CURRENT_USER, kProductKey)) return;
  snprintf(name, sizeof name, "Camera_%02d", cameraNumber_);
  if (!camera.Create(product.get(), name)) return;
  for (int i = 0; i < sizeCount_; ++i) {
    snprintf(name, sizeof name, "Size_%02d", i);
    RegKey size;
    if (!size.Create(camera.get(), name)) continue;
    for (int v = 0; v < 7; ++v) size.Write(kSizeValueNames[v], sizes_[i].values[v]);
  }
  if (!keepStoredSize_) camera.Write("Size", sizeIndex_);
  camera.Write("Color", colorType_);
  camera.Write("SubSample", subSample_);
  camera.Write("WaitTime", waitTime_);
  camera.Write("Clock", clock_);
}

void CCameraDialog::Select(int combo, int index) {
  SendDlgItemMessageA(window, combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CCameraDialog::ShowEntry(int index) {
  const SizeEntry& entry = index >= 0 && index < kMaxSizes ? sizes_[index] : kDefaultEntry;
  for (int v = 0; v < 6; ++v)
    SetDlgItemInt(window, IDC_TOTAL_H + v, static_cast<UINT>(entry.values[v]), FALSE);
}

void CCameraDialog::EnableApply(bool on) { EnableWindow(GetDlgItem(window, IDC_APPLY), on); }

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
  for (int i = 0; i < sizeCount_; ++i) add(IDC_SIZES, SizeText(sizes_[i]));
  add(IDC_SIZES, dialogs::Localized(L"Custom", L"カスタム"));

  // A stored value outside a list leaves that list without a selection.
  Select(IDC_COLOR, colorType_ >= 0 && colorType_ < kColorTypes ? colorType_ : -1);
  int subItem = 0;
  for (int i = 0; i < kSubSamples; ++i)
    if (SendDlgItemMessageA(window, IDC_SUBSAMPLE, CB_GETITEMDATA, i, 0) == subSample_) {
      subItem = i;
      break;
    }
  Select(IDC_SUBSAMPLE, subItem);
  Select(IDC_CLOCK, clock_ >= 0 && clock_ < kClocks ? clock_ : -1);
  Select(IDC_SIZES, sizeIndex_);
  ShowEntry(sizeIndex_);
  SetDlgItemInt(window, IDC_WAIT_TIME, static_cast<UINT>(waitTime_), FALSE);
  EnableApply(false);
}

void CCameraDialog::ReadControls() {
  auto selection = [this](int combo) {
    return static_cast<int>(SendDlgItemMessageA(window, combo, CB_GETCURSEL, 0, 0));
  };
  // A list without a selection keeps the stored value.
  if (selection(IDC_COLOR) >= 0) colorType_ = selection(IDC_COLOR);
  if (selection(IDC_SIZES) >= 0) sizeIndex_ = selection(IDC_SIZES);
  if (selection(IDC_SUBSAMPLE) >= 0)
    subSample_ = static_cast<int>(
        SendDlgItemMessageA(window, IDC_SUBSAMPLE, CB_GETITEMDATA, selection(IDC_SUBSAMPLE), 0));
  if (selection(IDC_CLOCK) >= 0) clock_ = selection(IDC_CLOCK);
  // A wait time of 2^31 ms or more, or no number at all, keeps the stored one.
  char text[32] = {};
  GetDlgItemTextA(window, IDC_WAIT_TIME, text, sizeof text);
  dialogs::ParseNonNegative(text, &waitTime_);

  SizeEntry edited = sizeIndex_ < sizeCount_ ? sizes_[sizeIndex_] : kDefaultEntry;
  for (int v = 0; v < 6; ++v)
    edited.values[v] = static_cast<int32_t>(GetDlgItemInt(window, IDC_TOTAL_H + v, nullptr, FALSE));

  keepStoredSize_ = false;
  if (sizeIndex_ >= sizeCount_) {
    if (sizeCount_ == kMaxSizes) {
      // No room for another preset: nothing is added and the stored choice stays.
      keepStoredSize_ = true;
    } else {
      sizes_[sizeCount_] = edited;
      SendDlgItemMessageA(window, IDC_SIZES, CB_INSERTSTRING, sizeCount_,
                          reinterpret_cast<LPARAM>(SizeText(edited).c_str()));
      sizeIndex_ = sizeCount_++;
    }
  } else {
    sizes_[sizeIndex_] = edited;
    SendDlgItemMessageA(window, IDC_SIZES, CB_DELETESTRING, sizeIndex_, 0);
    SendDlgItemMessageA(window, IDC_SIZES, CB_INSERTSTRING, sizeIndex_,
                        reinterpret_cast<LPARAM>(SizeText(edited).c_str()));
  }
  // The new or renamed entry stays selected, so a second Apply or OK does not add it again.
  if (!keepStoredSize_) Select(IDC_SIZES, sizeIndex_);
  EnableApply(false);
}

INT_PTR CALLBACK CCameraDialog::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CCameraDialog*>(lParam);
    dialogs::BindObject(window, self);
    self->window = window;
    self->shown_ = true;
    self->Load();
    self->Init();
    return TRUE;
  }
  auto* self = dialogs::ObjectOf<CCameraDialog>(window);
  if (!self) return FALSE;
  switch (message) {
    case WM_DRAWITEM:
      if (wParam == IDC_TAB) {
        dialogs::DrawTabItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), self->brush_);
        return TRUE;
      }
      return FALSE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam), code = HIWORD(wParam);
      switch (id) {
        case IDOK:
          self->ReadControls();
          self->Save();
          self->ok_ = true;
          EndDialog(window, IDOK);
          return TRUE;
        case IDC_APPLY:
          self->ReadControls();
          self->Save();
          return TRUE;
        case IDCANCEL:
          EndDialog(window, IDCANCEL);
          return TRUE;
      }
      if (id == IDC_SIZES && code == CBN_SELCHANGE) {
        const int index = static_cast<int>(SendDlgItemMessageA(window, IDC_SIZES, CB_GETCURSEL, 0, 0));
        if (index >= 0) {
          self->sizeIndex_ = index;
          if (index < self->sizeCount_) self->ShowEntry(index);
        }
      }
      if (code == CBN_SELCHANGE || code == EN_CHANGE) self->EnableApply(true);
      return TRUE;
    }
  }
  return FALSE;
}
