// qelvan-viewer driven from outside as a user would: it starts, its preview changes between two
// captures of the screen, each settings dialog opens from the menu and closes, and the program
// exits cleanly leaving no handle open on the virtual camera. With QELVAN_SHOTS=DIR set, the
// windows are also saved as DIR/<name>.bmp for the README's screenshots.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "vcamctl.h"

namespace {

const DWORD kTimeoutMs = 60000;

// Polls until pred() holds or the time-out passes.
template <typename Pred>
bool WaitFor(Pred pred, DWORD timeoutMs = kTimeoutMs) {
  const DWORD start = GetTickCount();
  while (!pred()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(100);
  }
  return true;
}

std::string ExeDir() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir = path;
  return dir.substr(0, dir.find_last_of("\\/") + 1);
}

// Copies a rectangle of the screen as 24-bit rows (bottom-up, padded to 4 bytes).
std::vector<unsigned char> Grab(const RECT& r, BITMAPINFOHEADER* header) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  const int stride = (w * 3 + 3) & ~3;
  std::vector<unsigned char> pixels(static_cast<size_t>(stride) * (h > 0 ? h : 0));
  if (w <= 0 || h <= 0) return pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  GetDIBits(memory, bitmap, 0, h, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (header) *header = info.bmiHeader;
  return pixels;
}

RECT ScreenRect(HWND window, bool clientOnly) {
  RECT r;
  if (clientOnly) {
    GetClientRect(window, &r);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  } else {
    GetWindowRect(window, &r);
  }
  return r;
}

// Saves a window as it appears on screen when QELVAN_SHOTS names a folder.
void Shot(HWND window, const char* name) {
  const char* dir = std::getenv("QELVAN_SHOTS");
  if (!dir || !*dir) return;
  BITMAPINFOHEADER header = {};
  const std::vector<unsigned char> pixels = Grab(ScreenRect(window, false), &header);
  const std::string path = std::string(dir) + "\\" + name + ".bmp";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
  header.biSizeImage = static_cast<DWORD>(pixels.size());
  std::fwrite(&file, sizeof file, 1, f);
  std::fwrite(&header, sizeof header, 1, f);
  std::fwrite(pixels.data(), 1, pixels.size(), f);
  std::fclose(f);
}

std::wstring Text(HWND window) {
  wchar_t text[512] = L"";
  SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
  return text;
}

// The text of one part of the viewer's status bar. SB_GETTEXTW is not carried between processes,
// so the text is written into memory of the viewer's process and read from there.
std::wstring StatusPart(HWND status, int part) {
  DWORD pid = 0;
  GetWindowThreadProcessId(status, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return L"";
  wchar_t text[256] = L"";
  void* remote = VirtualAllocEx(process, nullptr, sizeof text, MEM_COMMIT, PAGE_READWRITE);
  if (remote) {
    const DWORD_PTR length = SendMessageW(status, SB_GETTEXTLENGTHW, part, 0);
    if (LOWORD(length) < 255) {
      DWORD_PTR result = 0;
      SendMessageTimeoutW(status, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 5000, &result);
      ReadProcessMemory(process, remote, text, sizeof text - sizeof(wchar_t), nullptr);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return text;
}

// The status bar's rate, "SHOWN of MADE fps" ("SHOWN / MADE fps" in Japanese): frames shown per
// second and frames the camera makes per second. False until it reads so.
bool ShownAndMade(HWND status, double* shown, double* made) {
  return std::swscanf(StatusPart(status, 2).c_str(), L"%lf %*ls %lf fps", shown, made) == 2;
}

// A visible dialog-class window owned by the viewer: a settings dialog or a message box.
struct OwnedDialog {
  HWND owner;
  HWND found;
};
BOOL CALLBACK FindOwned(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<OwnedDialog*>(param);
  char cls[64] = "";
  GetClassNameA(window, cls, sizeof cls);
  if (std::strcmp(cls, "#32770") == 0 && IsWindowVisible(window) && GetWindow(window, GW_OWNER) == search->owner) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
HWND OwnedDialogOf(HWND owner) {
  OwnedDialog search = {owner, nullptr};
  EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vcamctl_reset(), 0u) << "the virtual camera does not answer";
    std::string command = "\"" + ExeDir() + "qelvan-viewer.exe\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    // Files the viewer names itself land in the temporary folder.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, temp, &si, &process_))
        << "cannot start " << command;
    CloseHandle(process_.hThread);
    ASSERT_TRUE(WaitFor([&] { return (main_ = FindWindowW(L"QelvanViewer", nullptr)) != nullptr; }))
        << "the viewer's main window never appeared";
  }

  void TearDown() override {
    if (!process_.hProcess) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      if (HWND box = OwnedDialogOf(main_)) PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
      PostMessageW(main_, WM_CLOSE, 0, 0);
      if (WaitForSingleObject(process_.hProcess, kTimeoutMs) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
    }
    CloseHandle(process_.hProcess);
  }

  PROCESS_INFORMATION process_ = {};
  HWND main_ = nullptr;
};

// The text of a message box: its static controls.
std::wstring BoxText(HWND box) {
  std::wstring text;
  for (HWND child = nullptr; (child = FindWindowExW(box, child, L"Static", nullptr)) != nullptr;) text += Text(child);
  return text;
}

// A part of the library that is not there yet fails with ERR_NOT_READY or without any error code.
bool NotReady(const std::wstring& report) {
  return report.find(L"ERR_NOT_READY") != std::wstring::npos || report.find(L"no error code") != std::wstring::npos;
}

TEST_F(ViewerTest, PreviewsOpensEachDialogAndExitsCleanly) {
  // Parts the library cannot do yet are skipped, the rest still runs.
  std::string notReady;
  HWND status = FindWindowExW(main_, nullptr, L"msctls_statusbar32", nullptr);
  ASSERT_NE(status, nullptr) << "no status bar";
  HWND preview = nullptr;
  const bool started = WaitFor([&] {
    preview = FindWindowExA(main_, nullptr, nullptr, "ActiveMovie Window");
    const std::wstring text = Text(status);
    return preview != nullptr || text.find(L"ERR_") != std::wstring::npos ||
           text.find(L"no error code") != std::wstring::npos;
  });
  ASSERT_TRUE(started) << "neither a preview nor an error within the time-out";
  if (!preview) {
    const std::wstring why = Text(status);
    ASSERT_TRUE(NotReady(why)) << "no preview: " << std::string(why.begin(), why.end());
    notReady += "preview: " + std::string(why.begin(), why.end()) + "; ";
  } else {
    // Two captures of the preview's client area differ: the scene moves.
    const RECT area = ScreenRect(preview, true);
    ASSERT_GT(area.right - area.left, 100);
    ASSERT_GT(area.bottom - area.top, 100);
    std::vector<unsigned char> first;
    ASSERT_TRUE(WaitFor([&] {
      first = Grab(area, nullptr);
      for (unsigned char b : first)
        if (b > 16) return true;
      return false;
    })) << "the preview stays black";
    ASSERT_TRUE(WaitFor([&] { return Grab(area, nullptr) != first; }, 20000)) << "the preview does not change";
    // The rate: frames shown of frames made, never more shown than made. The picture is taken
    // once two measurements in a row agree within a tenth (the preview runs steadily).
    double shown = 0, made = 0, before = -1;
    const bool steady = WaitFor([&] {
      if (!ShownAndMade(status, &shown, &made) || shown <= 0) return false;
      const bool agree = before > 0 && shown > before * 0.9 && shown < before * 1.1;
      before = shown;
      if (!agree) Sleep(1000);  // the viewer measures over a second
      return agree;
    });
    const std::wstring rate = StatusPart(status, 2);
    EXPECT_TRUE(steady) << "no steady rate: " << std::string(rate.begin(), rate.end());
    EXPECT_GT(made, 0.0);
    EXPECT_LE(shown, made * 1.1 + 1) << "more frames shown than the camera made";
    Shot(main_, "viewer");
  }

  struct {
    int command;
    const char* shot;
  } dialogs[] = {{300, "camera-dialog"}, {301, "analog-dialog"}, {302, "image-dialog"}};
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.shot);
    PostMessageW(main_, WM_COMMAND, d.command, 0);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (dialog = OwnedDialogOf(main_)) != nullptr; })) << "no dialog opened";
    // The viewer reports a failed dialog export in a message box titled like itself.
    if (Text(dialog) == Text(main_)) {
      const std::wstring box = BoxText(dialog);
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
      ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); })) << "the message box did not close";
      ASSERT_TRUE(NotReady(box)) << "the dialog failed: " << std::string(box.begin(), box.end());
      notReady += std::string(d.shot) + "; ";
      continue;
    }
    Sleep(500);
    Shot(dialog, d.shot);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); })) << "the dialog did not close";
  }

  PostMessageW(main_, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(process_.hProcess, kTimeoutMs), WAIT_OBJECT_0) << "the viewer did not exit";
  DWORD code = 1;
  GetExitCodeProcess(process_.hProcess, &code);
  EXPECT_EQ(code, 0u);

  vcam_camera_info info = {};
  const bool released = WaitFor(
      [&] { return vcamctl_camera_info(0, &info) == 0 && info.handles_open == 0 && info.reads_pending == 0; }, 10000);
  EXPECT_TRUE(released) << info.handles_open << " handles and " << info.reads_pending
                        << " reads still open on camera 0";
  if (preview) {
    EXPECT_GT(info.frames_delivered, 0u);
  }
  if (!notReady.empty()) {
    GTEST_SKIP() << "the library cannot do these yet: " << notReady;
  }
}

// Answers the viewer's file dialog (opened by a menu command) with a file name, typed into the
// name box (an edit inside the combo box with id 1148).
bool SaveAs(HWND main, int command, const std::string& file) {
  PostMessageW(main, WM_COMMAND, command, 0);
  HWND dialog = nullptr, name = nullptr;
  if (!WaitFor([&] {
        if (!(dialog = OwnedDialogOf(main))) return false;
        HWND combo = GetDlgItem(dialog, 1148);
        HWND inner = combo ? FindWindowExA(combo, nullptr, "ComboBox", nullptr) : nullptr;
        name = FindWindowExA(inner ? inner : combo, nullptr, "Edit", nullptr);
        return name != nullptr;
      }))
    return false;
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.c_str()));
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  return WaitFor([&] { return !IsWindow(dialog); });
}

// A message box the viewer opens; returns its text and closes it.
std::wstring TakeBox(HWND main) {
  HWND box = nullptr;
  if (!WaitFor([&] { return (box = OwnedDialogOf(main)) != nullptr && Text(box) == Text(main); })) return L"";
  const std::wstring text = BoxText(box);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  WaitFor([&] { return !IsWindow(box); });
  return text;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

bool Previewing(HWND main) { return FindWindowExA(main, nullptr, nullptr, "ActiveMovie Window") != nullptr; }

// What a recording or snapshot gave is said, also when it went wrong: a recording cut short by
// the camera's loss keeps its frames and says so; a snapshot without a frame saves nothing.
TEST_F(ViewerTest, RecordingAndSnapshotSayWhatHappened) {
  if (!WaitFor([&] { return Previewing(main_); }, 20000)) GTEST_SKIP() << "no preview";
  HWND status = FindWindowExW(main_, nullptr, L"msctls_statusbar32", nullptr);
  const bool english = PRIMARYLANGID(GetSystemDefaultLangID()) != LANG_JAPANESE;
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string clip = std::string(dir) + "viewer-cut.avi", still = std::string(dir) + "viewer-none.png";
  DeleteFileA(clip.c_str());
  DeleteFileA(still.c_str());

  // Recording 30 s, unplugged after a few frames.
  ASSERT_TRUE(SaveAs(main_, 213, clip)) << "no file dialog for the recording";
  ASSERT_TRUE(WaitFor([&] {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(clip.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > 200000;
  })) << "the recording never grew";
  ASSERT_EQ(vcamctl_detach(0), 0u);
  // The texts are in the system language; the error names and figures are the same in both.
  const std::wstring lost = TakeBox(main_);
  EXPECT_NE(lost.find(L"ERR_DEVICE_LOST"), std::wstring::npos) << Narrow(lost);
  EXPECT_NE(lost.find(L"30 s asked"), std::wstring::npos) << Narrow(lost);
  if (english) {
    EXPECT_NE(lost.find(L"camera was lost"), std::wstring::npos) << Narrow(lost);
  }
  EXPECT_TRUE(WaitFor([&] { return Text(status).find(L" frames, ") != std::wstring::npos; }, 5000))
      << Narrow(Text(status));
  HANDLE f = CreateFileA(clip.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD riff[2] = {}, got = 0;
  ReadFile(f, riff, sizeof riff, &got, nullptr);
  EXPECT_EQ(riff[0], 0x46464952u);
  EXPECT_NE(riff[1], 0u) << "the file was not finished";
  CloseHandle(f);
  DeleteFileA(clip.c_str());

  // A snapshot while stopped takes its own frame; a failed one saves nothing.
  ASSERT_EQ(vcamctl_attach(0, 0, 0), 0u);
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_FAIL_READ, 0), 0u);
  ASSERT_TRUE(SaveAs(main_, 202, still)) << "no file dialog for the snapshot";
  const std::wstring failed = TakeBox(main_);
  EXPECT_NE(failed.find(L"ERR_"), std::wstring::npos) << Narrow(failed);
  if (english) {
    EXPECT_NE(failed.find(L"No frame could be taken"), std::wstring::npos) << Narrow(failed);
  }
  EXPECT_EQ(GetFileAttributesA(still.c_str()), INVALID_FILE_ATTRIBUTES) << "a file was saved";
  const std::wstring wideStill(still.begin(), still.end());
  EXPECT_EQ(Text(status).find(wideStill), std::wstring::npos) << "said saved";
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_CLEAR, 0), 0u);
  ASSERT_TRUE(SaveAs(main_, 202, still));
  EXPECT_TRUE(WaitFor([&] { return Text(status).find(wideStill) != std::wstring::npos; })) << Narrow(Text(status));
  EXPECT_NE(GetFileAttributesA(still.c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileA(still.c_str());
}

// A recording stopped from the menu keeps a finished file and says what it holds without calling
// it cut short; a quick snapshot needs no dialog and names its file from the time.
TEST_F(ViewerTest, StopRecordingAndQuickSnapshot) {
  if (!WaitFor([&] { return Previewing(main_); }, 20000)) GTEST_SKIP() << "no preview";
  HWND status = FindWindowExW(main_, nullptr, L"msctls_statusbar32", nullptr);
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string clip = std::string(dir) + "viewer-stopped.avi";
  DeleteFileA(clip.c_str());
  ASSERT_TRUE(SaveAs(main_, 213, clip)) << "no file dialog for the recording";
  ASSERT_TRUE(WaitFor([&] {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(clip.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > 200000;
  })) << "the recording never grew";
  PostMessageW(main_, WM_COMMAND, 204, 0);
  EXPECT_TRUE(WaitFor([&] { return Text(status).find(L" frames, ") != std::wstring::npos; })) << Narrow(Text(status));
  EXPECT_EQ(OwnedDialogOf(main_), nullptr) << "a deliberate stop was reported as a problem";
  HANDLE f = CreateFileA(clip.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD riff[2] = {}, got = 0;
  ReadFile(f, riff, sizeof riff, &got, nullptr);
  EXPECT_EQ(riff[1] + 8, GetFileSize(f, nullptr)) << "the file was not finished";
  CloseHandle(f);
  DeleteFileA(clip.c_str());
  EXPECT_TRUE(WaitFor([&] { return Previewing(main_); })) << "the preview did not go on";

  PostMessageW(main_, WM_COMMAND, 203, 0);
  std::wstring said;
  ASSERT_TRUE(WaitFor([&] { return (said = Text(status)).find(L"snapshot-") != std::wstring::npos; })) << Narrow(Text(status));
  const size_t at = said.find(L"snapshot-");
  const std::string name = Narrow(said.substr(at, said.find(L".png", at) + 4 - at));
  const std::string path = std::string(dir) + name;
  EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
  DeleteFileA(path.c_str());
}

}  // namespace

// Exits 77 (skipped, for CTest) when the library could not preview yet.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  const auto* unit = ::testing::UnitTest::GetInstance();
  if (rc == 0 && unit->skipped_test_count() > 0 && unit->successful_test_count() == 0)
    return 77;
  return rc;
}
