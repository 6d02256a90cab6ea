// What the three setting dialogs share: language and template choice, the owner-drawn tab, the
// numeric rows (trackbar, signed edit, up-down) and the pages inside the tab control.
#pragma once

#include <windows.h>

#include <string>

namespace dialogs {

// True when the system's language is Japanese.
bool UseJapanese();
// The template of the system's language.
inline int TemplateId(int japanese, int english) { return UseJapanese() ? japanese : english; }
// The module that holds the templates: this library.
HINSTANCE TemplateModule();
// Text in the ANSI code page, Japanese or English by the system's language.
std::string Localized(const wchar_t* english, const wchar_t* japanese);
std::string ToAnsi(const wchar_t* text);

// The object behind a dialog or page window, stored by BindObject on WM_INITDIALOG.
void BindObject(HWND window, void* object);
template <class T>
T* ObjectOf(HWND window) {
  return reinterpret_cast<T*>(GetWindowLongPtrA(window, DWLP_USER));
}

// Owner-drawn tab item: button-face background, centred text.
void DrawTabItem(const DRAWITEMSTRUCT* item, HBRUSH brush);
void InsertTabItem(HWND dialog, int index, const std::string& text);

// A page template as a child of the dialog's tab control, placed inside the tab's display area.
// The tab becomes a control parent, so that Tab, Shift+Tab and mnemonics reach the pages.
HWND CreatePage(HWND dialog, int templateId, DLGPROC procedure, void* object, bool show);

// One numeric row of a page.
struct Row {
  int trackbar, edit, updown;
  int min, max;
  int tickFrequency;  // 0: an eighth of the range
};

// Range, ticks, position, buddy and text, in that order; all three enabled or disabled.
void SetupRow(HWND page, const Row& row, int value, bool enabled);
// Shows a value in the row's trackbar, up-down and edit.
void ShowRowValue(HWND page, const Row& row, int value);
// The same for a value the camera changed on its own; a row whose edit has the focus is left as
// it is, so that nothing the user is typing is overwritten (its focus loss shows the value).
void RefreshRowValue(HWND page, const Row& row, int value);
// The edit's text as a signed number held to the row's range; false when it is not a number.
bool ReadRowEdit(HWND page, const Row& row, int* value);
// Parses a whole signed decimal number; false for anything else or an overflow.
bool ParseSigned(const char* text, int* value);
// Parses a whole unsigned decimal number up to 2^31 - 1; false for anything else.
bool ParseNonNegative(const char* text, int* value);
int ClampToRow(const Row& row, int value);

// Index of the row whose control has this id, or -1.
int FindRow(const Row* rows, int count, int controlId);

// A failed dialog: the parent is not a window or the template is missing.
constexpr INT_PTR kDialogFailed = -1;

// The frame every setting dialog shares: it runs the modal template of the system's language,
// draws the owner-drawn tab and ends on OK and Cancel. Each dialog adds its pages in OnInit and
// handles its own controls in OnMessage.
class ModalDialog {
 public:
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  HWND window = nullptr;

 protected:
  ModalDialog();
  virtual ~ModalDialog();
  // True when the dialog was shown; *ok tells whether OK ended it.
  bool RunTemplate(HWND parent, int japaneseId, int englishId, bool* ok);
  virtual void OnInit() = 0;
  // OK pressed; the dialog ends unless this answers false.
  virtual bool OnOk() { return true; }
  // The "Default" button.
  virtual void OnDefaults() {}
  // Any message the frame does not handle; the answer of the dialog procedure.
  virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Tab and Shift+Tab when the pages live in the tab control; false leaves them to the dialog
  // manager.
  bool MoveFocus(bool backward);

  HBRUSH brush_;
  bool shown_ = false;
  bool ok_ = false;
};

}  // namespace dialogs
