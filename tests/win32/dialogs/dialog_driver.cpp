// Dialog driving helpers.
#include "dialog_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

bool WaitFor(const std::function<bool()>& cond, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!cond()) {
    if (GetTickCount() - start > timeoutMs) return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

DialogRun::DialogRun(std::function<int()> call) : call_(std::move(call)) {
  thread_ = CreateThread(nullptr, 0, Thread, this, 0, &threadId_);
}

static int RunDialogExport(Dialog kind, QelvanHandle camera) {
  switch (kind) {
    case Dialog::kCamera: return QELVAN(Qelvan_SetCameraDlg)(camera, nullptr);
    case Dialog::kAnalog: return QELVAN(Qelvan_SetAnalogDlg)(camera, nullptr);
    default: return QELVAN(Qelvan_SetImageDlg)(camera, nullptr);
  }
}

DialogRun::DialogRun(Dialog kind, QelvanHandle camera)
    : DialogRun([kind, camera] { return RunDialogExport(kind, camera); }) {}

DialogRun::~DialogRun() {
  if (!WaitDone(0)) {
    // A failed test left the dialog open: cancel it so the thread ends.
    HWND dialog = WaitDialog();
    if (dialog) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    WaitDone();
  }
  CloseHandle(thread_);
}

DWORD WINAPI DialogRun::Thread(LPVOID p) {
  auto* self = static_cast<DialogRun*>(p);
  self->result_ = self->call_();
  InterlockedExchange(&self->done_, 1);
  return 0;
}

bool DialogRun::WaitDone(DWORD timeoutMs) {
  return WaitFor([this] { return done_ != 0; }, timeoutMs);
}

static BOOL CALLBACK FindVisibleDialog(HWND w, LPARAM out) {
  char name[16] = {};
  GetClassNameA(w, name, sizeof name);
  if (strcmp(name, "#32770") != 0 || !IsWindowVisible(w)) return TRUE;
  *reinterpret_cast<HWND*>(out) = w;
  return FALSE;
}

HWND DialogRun::WaitDialog() {
  HWND found = nullptr;
  WaitFor([&] {
    EnumThreadWindows(threadId_, FindVisibleDialog, reinterpret_cast<LPARAM>(&found));
    return found != nullptr || done_ != 0;
  });
  return found;
}

HWND Item(HWND parent, int id) { return GetDlgItem(parent, id); }

void Click(HWND parent, int id) { SendMessageA(Item(parent, id), BM_CLICK, 0, 0); }

// A programmatic move does not notify: send the scroll message the user's drag would.
void MoveTrackbar(HWND page, int id, int position) {
  HWND trackbar = Item(page, id);
  SendMessageA(trackbar, TBM_SETPOS, TRUE, position);
  SendMessageA(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
               reinterpret_cast<LPARAM>(trackbar));
}

void SelectComboItem(HWND dialog, int id, int index) {
  SendMessageA(Item(dialog, id), CB_SETCURSEL, index, 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(Item(dialog, id)));
}

void SetText(HWND parent, int id, const char* text) {
  SendMessageA(Item(parent, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

std::string Text(HWND parent, int id) {
  char text[256] = {};
  GetWindowTextA(Item(parent, id), text, sizeof text);
  return text;
}

std::wstring TextW(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

std::vector<std::wstring> ComboItems(HWND dialog, int id) {
  std::vector<std::wstring> items;
  HWND combo = Item(dialog, id);
  const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    items.push_back(text);
  }
  return items;
}

int ComboSelection(HWND dialog, int id) {
  return static_cast<int>(SendMessageA(Item(dialog, id), CB_GETCURSEL, 0, 0));
}

std::vector<std::wstring> TabItems(HWND dialog) {
  std::vector<std::wstring> items;
  HWND tab = Item(dialog, IDC_TAB);
  const int count = static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 255;
    SendMessageW(tab, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    items.push_back(text);
  }
  return items;
}

// The programmatic selection does not notify: send what the user's click would.
void SelectTab(HWND dialog, int index) {
  HWND tab = Item(dialog, IDC_TAB);
  SendMessageA(tab, TCM_SETCURSEL, index, 0);
  NMHDR header = {tab, IDC_TAB, static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageA(dialog, WM_NOTIFY, IDC_TAB, reinterpret_cast<LPARAM>(&header));
}

HWND PageWith(HWND dialog, int controlId) {
  HWND tab = Item(dialog, IDC_TAB);
  for (HWND page = FindWindowExA(tab, nullptr, "#32770", nullptr); page;
       page = FindWindowExA(tab, page, "#32770", nullptr))
    if (GetDlgItem(page, controlId)) return page;
  return nullptr;
}

bool Checked(HWND parent, int id) {
  return SendMessageA(Item(parent, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void PressTab(HWND dialog, bool backward) { SendMessageA(dialog, WM_NEXTDLGCTL, backward, 0); }

void FocusOn(HWND dialog, HWND control) {
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void Type(HWND edit, const char* text) {
  for (const char* c = text; *c; ++c)
    PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(*c), 1);
}

bool WaitPosted(HWND edit) {
  static volatile LONG next = 20000;
  const LRESULT limit = InterlockedIncrement(&next);
  PostMessageA(edit, EM_SETLIMITTEXT, static_cast<WPARAM>(limit), 0);
  return WaitFor([&] { return SendMessageA(edit, EM_GETLIMITTEXT, 0, 0) == limit; });
}

HWND Focused(DWORD threadId) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(threadId, &info) ? info.hwndFocus : nullptr;
}

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

static const char kDpiChildVariable[] = "QELVAN_DIALOG_DPI_CHILD";

bool IsDpiChild() { return GetEnvironmentVariableA(kDpiChildVariable, nullptr, 0) > 0; }

int RunChildAtDpi(int dpi, const char* filter) {
  static const char kDesktop[] = "Control Panel\\Desktop";
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kDesktop, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return -1;
  DWORD old = 0, size = sizeof old;
  const bool had = RegQueryValueExA(key, "LogPixels", nullptr, nullptr,
                                    reinterpret_cast<BYTE*>(&old), &size) == ERROR_SUCCESS;
  const DWORD value = static_cast<DWORD>(dpi);
  RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                 sizeof value);

  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string command = std::string("\"") + program + "\" --gtest_filter=" + filter;
  SetEnvironmentVariableA(kDpiChildVariable, "1");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  DWORD code = static_cast<DWORD>(-1);
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    // A child that hangs fails the test instead of hanging it.
    if (WaitForSingleObject(process.hProcess, 5 * kWindowTimeoutMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(process.hProcess, &code);
    else
      TerminateProcess(process.hProcess, code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  SetEnvironmentVariableA(kDpiChildVariable, nullptr);

  if (had)
    RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old), sizeof old);
  else
    RegDeleteValueA(key, "LogPixels");
  RegCloseKey(key);
  return static_cast<int>(code);
}

// The window's pixels as they are on the screen now, bottom row first, 24 bits a pixel.
static std::vector<uint8_t> Grab(const RECT& r, BITMAPINFOHEADER* header) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  *header = info.bmiHeader;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~static_cast<size_t>(3);
  std::vector<uint8_t> pixels(static_cast<const uint8_t*>(bits),
                              static_cast<const uint8_t*>(bits) + stride * static_cast<size_t>(h));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

void Screenshot(HWND window, const char* name) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT r;
  GetWindowRect(window, &r);
  if (r.right <= r.left || r.bottom <= r.top) return;
  // The display catches up with the window's drawing a little later: take the picture once two
  // grabs in a row agree.
  BITMAPINFOHEADER header;
  std::vector<uint8_t> pixels = Grab(r, &header), previous;
  WaitFor(
      [&] {
        previous.swap(pixels);
        pixels = Grab(r, &header);
        return pixels == previous;
      },
      5000);
  // Beside the bin folder of the build tree, whatever the working directory.
  char folder[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, folder, MAX_PATH);
  if (char* slash = strrchr(folder, '\\')) *slash = '\0';
  char path[2 * MAX_PATH];
  snprintf(path, sizeof path, "%s\\..\\screenshots", folder);
  CreateDirectoryA(path, nullptr);
  snprintf(path, sizeof path, "%s\\..\\screenshots\\%s.bmp", folder, name);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
  if (FILE* f = fopen(path, "wb")) {
    fwrite(&file, sizeof file, 1, f);
    fwrite(&header, sizeof header, 1, f);
    fwrite(pixels.data(), 1, pixels.size(), f);
    fclose(f);
  }
}

void DeleteProductKey() { RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey); }

static std::string FullKey(const std::string& subkey) {
  return subkey.empty() ? kProductKey : std::string(kProductKey) + "\\" + subkey;
}

bool ReadValue(const std::string& subkey, const char* name, int32_t* value) {
  DWORD data = 0, size = sizeof data;
  if (RegGetValueA(HKEY_CURRENT_USER, FullKey(subkey).c_str(), name, RRF_RT_REG_DWORD, nullptr,
                   &data, &size) != ERROR_SUCCESS)
    return false;
  *value = static_cast<int32_t>(data);
  return true;
}

bool KeyExists(const std::string& subkey) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, FullKey(subkey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void WriteValue(const std::string& subkey, const char* name, int32_t value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, FullKey(subkey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD data = static_cast<DWORD>(value);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  RegCloseKey(key);
}

void WritePreset(int camera, int index, const int (&values)[7]) {
  static const char* const names[7] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};
  char key[64];
  snprintf(key, sizeof key, "Camera_%02d\\Size_%02d", camera, index);
  for (int v = 0; v < 7; ++v) {
    WriteValue(key, names[v], values[v]);
  }
}

void WriteFirstRunValues(int camera) {
  WritePreset(camera, 0, {752, 480, 752, 480, 0, 0, 4});
  char key[16];
  snprintf(key, sizeof key, "Camera_%02d", camera);
  WriteValue(key, "Size", 0);
  WriteValue(key, "Color", 2);
  WriteValue(key, "SubSample", 0);
  WriteValue(key, "WaitTime", 1);
  WriteValue(key, "Clock", 2);
}

void DialogTest::SetUp() {
  ASSERT_EQ(vcamctl_reset(), 0u) << "the virtual camera driver does not answer";
  DeleteProductKey();
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&controls));
  ASSERT_NE(LoadLibraryA("QelvanSdk_Z51QK2_RVN.dll"), nullptr);
}

void DialogTest::TearDown() {
  for (QelvanHandle camera : open_) EXPECT_EQ(QELVAN(Qelvan_Release)(camera), 1);
  open_.clear();
  DeleteProductKey();
}

QelvanHandle DialogTest::Open(int number) {
  const QelvanHandle camera = QELVAN(Qelvan_Initialize)(nullptr);
  EXPECT_NE(camera, 0);
  if (!camera) return 0;
  open_.push_back(camera);
  if (number != 0) {
    EXPECT_EQ(QELVAN(Qelvan_SetDeviceNumber)(camera, number), 1);
  }
  return camera;
}

int DialogTest::Release(QelvanHandle camera) {
  open_.erase(std::remove(open_.begin(), open_.end(), camera), open_.end());
  return QELVAN(Qelvan_Release)(camera);
}

int Filter(QelvanHandle camera, int number) {
  int ok = 0;
  const int value = QELVAN(Qelvan_GetFilterValue)(camera, number, &ok);
  EXPECT_EQ(ok, 1) << "filter " << number;
  return value;
}

vcam_regs DialogTest::Regs(int camera) {
  vcam_regs regs = {};
  EXPECT_EQ(vcamctl_regs(camera, &regs), 0u);
  return regs;
}
