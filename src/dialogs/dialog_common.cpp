// Shared pieces of the setting dialogs.
#include "dialogs/dialog_common.h"

#include <commctrl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "resources/dialog_ids.h"

namespace dialogs {

namespace {
// Where a page sits in the tab control at 96 DPI, in pixels; scaled with the display's DPI.
constexpr int kPageLeft = 30;
constexpr int kPageTop = 25;
}  // namespace

ModalDialog::ModalDialog() : brush_(CreateSolidBrush(GetSysColor(COLOR_BTNFACE))) {}

ModalDialog::~ModalDialog() { DeleteObject(brush_); }

bool ModalDialog::RunTemplate(HWND parent, int japaneseId, int englishId, bool* ok) {
  DialogBoxParamA(TemplateModule(), MAKEINTRESOURCEA(TemplateId(japaneseId, englishId)), parent, Proc,
                  reinterpret_cast<LPARAM>(this));
  *ok = ok_;
  return shown_;
}

INT_PTR ModalDialog::OnMessage(UINT, WPARAM, LPARAM) { return FALSE; }

INT_PTR CALLBACK ModalDialog::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<ModalDialog*>(lParam);
    BindObject(window, self);
    self->window = window;
    self->shown_ = true;
    self->OnInit();
    return TRUE;
  }
  auto* self = ObjectOf<ModalDialog>(window);
  if (!self) return FALSE;
  if (message == WM_DRAWITEM && wParam == IDC_TAB) {
    DrawTabItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), self->brush_);
    return TRUE;
  }
  // Keyboard moves (lParam 0) only; a move to a given control is the dialog manager's.
  if (message == WM_NEXTDLGCTL && !LOWORD(lParam) && self->MoveFocus(wParam != 0)) {
    SetWindowLongPtrA(window, DWLP_MSGRESULT, 0);
    return TRUE;
  }
  if (message == WM_COMMAND) {
    switch (LOWORD(wParam)) {
      case IDOK:
        if (!self->OnOk()) return TRUE;
        self->ok_ = true;
        EndDialog(window, IDOK);
        return TRUE;
      case IDCANCEL:
        EndDialog(window, IDCANCEL);
        return TRUE;
      case IDC_DEFAULT:
        self->OnDefaults();
        return TRUE;
    }
  }
  return self->OnMessage(message, wParam, lParam);
}

// The dialog manager only walks into the tab control's pages, so the tab strip itself is no
// longer a stop of its own; it is put back into the cycle just before the shown page's first
// control, where the arrow keys switch pages.
bool ModalDialog::MoveFocus(bool backward) {
  HWND tab = GetDlgItem(window, IDC_TAB);
  if (!tab || !(GetWindowLongPtrA(tab, GWL_EXSTYLE) & WS_EX_CONTROLPARENT)) return false;
  if (!IsWindowVisible(tab) || !IsWindowEnabled(tab)) return false;
  HWND focus = GetFocus();
  if (!focus || !IsChild(window, focus)) return false;
  auto inTab = [tab](HWND w) { return w == tab || IsChild(tab, w); };
  HWND target = nullptr;
  if (focus == tab && !backward) {
    for (HWND page = GetWindow(tab, GW_CHILD); page && !target; page = GetWindow(page, GW_HWNDNEXT))
      if (IsWindowVisible(page) && IsWindowEnabled(page))
        target = GetNextDlgTabItem(page, nullptr, FALSE);
    if (!target) target = GetNextDlgTabItem(window, tab, FALSE);
  } else {
    target = GetNextDlgTabItem(window, focus, backward);
    if (target && focus != tab && inTab(focus) != inTab(target) &&
        (backward ? inTab(focus) : inTab(target)))
      target = tab;
  }
  if (!target) return false;
  SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
  return true;
}

bool UseJapanese() { return GetSystemDefaultLangID() == 1041; }

HINSTANCE TemplateModule() { return GetModuleHandleA("QelvanSdk_Z51QK2_RVN.dll"); }

std::string ToAnsi(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], bytes, nullptr, nullptr);
  out.resize(static_cast<size_t>(bytes - 1));
  return out;
}

std::string Localized(const wchar_t* english, const wchar_t* japanese) {
  return ToAnsi(UseJapanese() ? japanese : english);
}

void BindObject(HWND window, void* object) {
  SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(object));
}

void DrawTabItem(const DRAWITEMSTRUCT* item, HBRUSH brush) {
  FillRect(item->hDC, &item->rcItem, brush);
  SetBkColor(item->hDC, GetSysColor(COLOR_BTNFACE));
  char text[256] = {};
  TCITEMA tab = {};
  tab.mask = TCIF_TEXT;
  tab.pszText = text;
  tab.cchTextMax = 255;
  SendMessageA(item->hwndItem, TCM_GETITEMA, item->itemID, reinterpret_cast<LPARAM>(&tab));
  const int length = static_cast<int>(strlen(text));
  SIZE extent = {};
  GetTextExtentPoint32A(item->hDC, text, length, &extent);
  const int x = (item->rcItem.left + item->rcItem.right - extent.cx) / 2;
  const int y = (item->rcItem.top + item->rcItem.bottom - extent.cy) / 2;
  TextOutA(item->hDC, x, y, text, length);
}

void InsertTabItem(HWND dialog, int index, const std::string& text) {
  TCITEMA tab = {};
  tab.mask = TCIF_TEXT;
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  tab.pszText = buffer.data();
  SendDlgItemMessageA(dialog, 1001, TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&tab));
}

HWND CreatePage(HWND dialog, int templateId, DLGPROC procedure, void* object, bool show) {
  HWND tab = GetDlgItem(dialog, IDC_TAB);
  SetWindowLongPtrA(tab, GWL_EXSTYLE, GetWindowLongPtrA(tab, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  HWND page = CreateDialogParamA(TemplateModule(), MAKEINTRESOURCEA(templateId), tab, procedure,
                                 reinterpret_cast<LPARAM>(object));
  if (!page) return nullptr;
  // At (30, 25) pixels at 96 DPI, scaled with the DPI, and never over the strip or the border:
  // the place is kept inside the tab's display area, which a page too large for it gives up.
  RECT area;
  GetClientRect(tab, &area);
  SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  HDC screen = GetDC(dialog);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(dialog, screen);
  RECT size;
  GetWindowRect(page, &size);
  const LONG width = size.right - size.left, height = size.bottom - size.top;
  const LONG x = std::max(area.left, std::min<LONG>(MulDiv(kPageLeft, dpi, 96), area.right - width));
  const LONG y = std::max(area.top, std::min<LONG>(MulDiv(kPageTop, dpi, 96), area.bottom - height));
  SetWindowPos(page, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | (show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  return page;
}

int ClampToRow(const Row& row, int value) {
  return value < row.min ? row.min : value > row.max ? row.max : value;
}

void SetupRow(HWND page, const Row& row, int value, bool enabled) {
  HWND trackbar = GetDlgItem(page, row.trackbar);
  HWND edit = GetDlgItem(page, row.edit);
  HWND updown = GetDlgItem(page, row.updown);
  const int frequency = row.tickFrequency ? row.tickFrequency : (row.max - row.min) / 8;
  SendMessageA(trackbar, TBM_SETRANGEMAX, TRUE, row.max);
  SendMessageA(trackbar, TBM_SETRANGEMIN, TRUE, row.min);
  SendMessageA(trackbar, TBM_SETPOS, TRUE, value);
  SendMessageA(trackbar, TBM_SETTICFREQ, frequency, 0);
  SendMessageA(updown, UDM_SETRANGE32, row.min, row.max);
  SendMessageA(updown, UDM_SETPOS32, 0, value);
  SendMessageA(updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
  SetDlgItemInt(page, row.edit, static_cast<UINT>(value), TRUE);
  EnableWindow(trackbar, enabled);
  EnableWindow(edit, enabled);
  EnableWindow(updown, enabled);
}

void ShowRowValue(HWND page, const Row& row, int value) {
  SendDlgItemMessageA(page, row.trackbar, TBM_SETPOS, TRUE, value);
  SendDlgItemMessageA(page, row.updown, UDM_SETPOS32, 0, value);
  SetDlgItemInt(page, row.edit, static_cast<UINT>(value), TRUE);
}

void RefreshRowValue(HWND page, const Row& row, int value) {
  if (GetFocus() == GetDlgItem(page, row.edit)) return;
  ShowRowValue(page, row, value);
}

bool ParseSigned(const char* text, int* value) {
  while (*text == ' ') ++text;
  const char* digits = (*text == '-' || *text == '+') ? text + 1 : text;
  if (*digits < '0' || *digits > '9') return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = strtoll(text, &end, 10);
  while (*end == ' ') ++end;
  if (*end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
  *value = static_cast<int>(parsed);
  return true;
}

bool ParseNonNegative(const char* text, int* value) {
  int parsed = 0;
  if (!ParseSigned(text, &parsed) || parsed < 0) return false;
  *value = parsed;
  return true;
}

bool ReadRowEdit(HWND page, const Row& row, int* value) {
  char text[64] = {};
  GetDlgItemTextA(page, row.edit, text, sizeof text);
  int parsed = 0;
  if (!ParseSigned(text, &parsed)) return false;
  *value = ClampToRow(row, parsed);
  return true;
}

int FindRow(const Row* rows, int count, int controlId) {
  for (int i = 0; i < count; ++i)
    if (rows[i].trackbar == controlId || rows[i].edit == controlId) return i;
  return -1;
}

}  // namespace dialogs
