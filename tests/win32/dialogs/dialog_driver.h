// Drives the setting dialogs as an application does: cameras through the library's exports, each
// dialog export on its own thread; the test waits until the dialog is visible and then works its
// controls by messages, as a user would.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "api/dll.h"
#include "dialogs/camera_access.h"
#include "resources/dialog_ids.h"
#include "vcamctl.h"

constexpr char kProductKey[] = "Software\\Dovira\\QelvanZ51QK2RVNSdk";
constexpr DWORD kWindowTimeoutMs = 60000;  // a loaded machine may take long to show a window

// An export of the library, by its declaration in the public header.
#define QELVAN(name) (QelvanProc<decltype(&name)>(#name))

// Polls cond (pumping this thread's messages) until it holds or the time-out passes.
bool WaitFor(const std::function<bool()>& cond, DWORD timeoutMs = kWindowTimeoutMs);

enum class Dialog { kCamera, kAnalog, kImage };

// One dialog call on its own thread.
class DialogRun {
 public:
  explicit DialogRun(std::function<int()> call);
  // Qelvan_SetCameraDlg, Qelvan_SetAnalogDlg or Qelvan_SetImageDlg on the camera, without a parent.
  DialogRun(Dialog kind, QelvanHandle camera);
  ~DialogRun();
  DialogRun(const DialogRun&) = delete;
  DialogRun& operator=(const DialogRun&) = delete;

  // The visible dialog of the call's thread, or null after the time-out.
  HWND WaitDialog();
  // True once the call returned; result() is its return value then.
  bool WaitDone(DWORD timeoutMs = kWindowTimeoutMs);
  int result() const { return result_; }
  DWORD threadId() const { return threadId_; }

 private:
  static DWORD WINAPI Thread(LPVOID self);
  std::function<int()> call_;
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  volatile LONG done_ = 0;
  int result_ = -1;
};

// Controls.
HWND Item(HWND parent, int id);
void Click(HWND parent, int id);
void MoveTrackbar(HWND page, int id, int position);
void SelectComboItem(HWND dialog, int id, int index);
void SetText(HWND parent, int id, const char* text);
std::string Text(HWND parent, int id);
std::wstring TextW(HWND window);
std::vector<std::wstring> ComboItems(HWND dialog, int id);
int ComboSelection(HWND dialog, int id);
std::vector<std::wstring> TabItems(HWND dialog);
void SelectTab(HWND dialog, int index);
// The page (child dialog of the tab control) that holds a control with this id.
HWND PageWith(HWND dialog, int controlId);
bool Checked(HWND parent, int id);
// Keyboard, as the dialog manager gets it: Tab or Shift+Tab, the focus put on a control, and
// characters typed at the caret (posted, so that they queue behind what was posted before).
void PressTab(HWND dialog, bool backward = false);
void FocusOn(HWND dialog, HWND control);
void Type(HWND edit, const char* text);
// Waits until the edit's thread has handled everything posted to it so far: a text limit, set by
// a posted message, queues behind the rest.
bool WaitPosted(HWND edit);
// The window with the keyboard focus on a thread, or null.
HWND Focused(DWORD threadId);
// Saves the window as a bitmap in the build tree's screenshots folder.
void Screenshot(HWND window, const char* name);

// Display DPI: the system DPI of this process, and a run of this program's tests matching filter
// in a child process started with the display at dpi (Wine reads it when a process starts); the
// exit code of the child, or -1 when it could not run.
int SystemDpi();
int RunChildAtDpi(int dpi, const char* filter);
// True in such a child.
bool IsDpiChild();

// Registry.
void DeleteProductKey();
bool ReadValue(const std::string& subkey, const char* name, int32_t* value);
bool KeyExists(const std::string& subkey);
void WriteValue(const std::string& subkey, const char* name, int32_t value);
// What opening a camera writes on a machine that has never seen one.
void WriteFirstRunValues(int camera);
void WritePreset(int camera, int index, const int (&values)[7]);

// A filter value as Qelvan_GetFilterValue reads it; a failed read fails the test.
int Filter(QelvanHandle camera, int number);

// Fresh registry and virtual camera for each test; the host registers the common controls and
// has the library (and so its templates) loaded.
class DialogTest : public ::testing::Test {
 public:
  static vcam_regs Regs(int camera = 0);

 protected:
  void SetUp() override;
  void TearDown() override;
  // A camera instance through Qelvan_Initialize, on camera 0 or a given one; released at the
  // end of the test unless Release ran first.
  QelvanHandle Open(int number = 0);
  int Release(QelvanHandle camera);

 private:
  std::vector<QelvanHandle> open_;
};
