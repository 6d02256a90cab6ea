// The library inside an application's threads and message loops: Release from a window
// procedure while a library dialog runs, a preview started on one thread into another thread's
// window, Close from a thread that did not start the preview, device selection and a second
// analog dialog while a dialog is open, and readers while a snapshot waits on a stalled camera.
// Where the library could hang, a watchdog ends the program with a message instead of leaving
// CTest to its time-out.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "reliability/reliability.h"
#include "resources/dialog_ids.h"

namespace {

// Ends the program when the guarded code has not finished in time: a hang fails the test
// program at once instead of holding CTest until its limit.
class Watchdog {
 public:
  Watchdog(DWORD timeoutMs, const char* what, std::function<std::string()> detail = {})
      : timeoutMs_(timeoutMs), what_(what), detail_(std::move(detail)) {
    thread_ = std::thread([this] {
      if (WaitForSingleObject(done_, timeoutMs_) == WAIT_OBJECT_0) return;
      std::fprintf(stderr, "FAILED (hang): %s; not done within %lu ms %s\n", what_,
                   static_cast<unsigned long>(timeoutMs_), detail_ ? detail_().c_str() : "");
      std::fflush(stderr);
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 1);
    });
  }
  ~Watchdog() {
    SetEvent(done_);
    thread_.join();
    CloseHandle(done_);
  }

 private:
  DWORD timeoutMs_;
  const char* what_;
  std::function<std::string()> detail_;
  HANDLE done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread thread_;
};

BOOL CALLBACK FindVisibleDialog(HWND w, LPARAM out) {
  char name[16] = {};
  GetClassNameA(w, name, sizeof name);
  if (std::strcmp(name, "#32770") != 0 || !IsWindowVisible(w)) return TRUE;
  *reinterpret_cast<HWND*>(out) = w;
  return FALSE;
}

// The visible dialog window of a thread, or null.
HWND ThreadDialog(DWORD threadId) {
  HWND found = nullptr;
  EnumThreadWindows(threadId, FindVisibleDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

// One call on its own thread; `order` numbers the calls in the order they returned.
std::atomic<int> g_returns{0};
class AsyncCall {
 public:
  explicit AsyncCall(std::function<int()> call) : call_(std::move(call)) {
    thread_ = CreateThread(nullptr, 0, Main, this, 0, &threadId_);
  }
  ~AsyncCall() {
    if (!Done(0)) {
      // A failed test left a dialog open on this thread: cancel it so the thread ends.
      if (HWND dialog = ThreadDialog(threadId_)) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    WaitForSingleObject(thread_, 60000);
    CloseHandle(thread_);
  }
  bool Done(DWORD ms = 30000) const { return WaitForSingleObject(thread_, ms) == WAIT_OBJECT_0; }
  int result() const { return result_.load(); }
  int order() const { return order_.load(); }
  // The visible dialog this call opened, or null when none showed in time.
  HWND Dialog(DWORD timeoutMs = 60000) const {
    HWND dialog = nullptr;
    const DWORD start = GetTickCount();
    while ((dialog = ThreadDialog(threadId_)) == nullptr && !Done(0) && GetTickCount() - start < timeoutMs) Sleep(5);
    return dialog;
  }

 private:
  static DWORD WINAPI Main(LPVOID p) {
    auto* self = static_cast<AsyncCall*>(p);
    self->result_ = self->call_();
    self->order_ = ++g_returns;
    return 0;
  }
  std::function<int()> call_;
  std::atomic<int> result_{-1};
  std::atomic<int> order_{0};
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
};

// An application's window whose procedure the test supplies.
class AppWindow {
 public:
  using Handler = std::function<bool(UINT, WPARAM, LPARAM)>;  // true: handled
  AppWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QelvanAppThreadsWindow";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowExA(0, wc.lpszClassName, "application", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr, nullptr,
                            wc.hInstance, nullptr);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~AppWindow() {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  HWND hwnd() const { return hwnd_; }
  Handler handler;

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<AppWindow*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    if (self && self->handler && self->handler(m, wp, lp)) return 0;
    return DefWindowProcA(w, m, wp, lp);
  }
  HWND hwnd_ = nullptr;
};

// Dispatches every message waiting for this thread.
void PumpPending() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Pumps this thread's messages until cond holds or the time-out passes.
bool PumpUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    PumpPending();
    if (cond()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

HWND PageWith(HWND dialog, int controlId) {
  HWND tab = GetDlgItem(dialog, IDC_TAB);
  for (HWND page = FindWindowExA(tab, nullptr, "#32770", nullptr); page;
       page = FindWindowExA(tab, page, "#32770", nullptr))
    if (GetDlgItem(page, controlId)) return page;
  return nullptr;
}

// A programmatic move does not notify: send the scroll message the user's drag would.
void MoveTrackbar(HWND page, int id, int position) {
  HWND trackbar = GetDlgItem(page, id);
  SendMessageA(trackbar, TBM_SETPOS, TRUE, position);
  SendMessageA(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(trackbar));
}

BOOL CALLBACK FindRenderer(HWND w, LPARAM out) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  char name[64] = {};
  GetClassNameA(w, name, sizeof name);
  if (pid != GetCurrentProcessId() || std::strncmp(name, "VideoRenderer_", 14) != 0) return TRUE;
  *reinterpret_cast<HWND*>(out) = w;
  return FALSE;
}

// A window of this process whose class starts with the preview window's prefix: a top-level one,
// or a child of `parent`.
HWND RendererWindow(HWND parent) {
  HWND found = nullptr;
  if (parent)
    EnumChildWindows(parent, FindRenderer, reinterpret_cast<LPARAM>(&found));
  else
    EnumWindows(FindRenderer, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Whether a window class of this name is registered for this program or the library.
bool ClassKnown(const char* name) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  for (HINSTANCE module : {GetModuleHandleA(nullptr), static_cast<HINSTANCE>(QelvanDll()), HINSTANCE{}})
    if (GetClassInfoExA(module, name, &wc)) return true;
  return false;
}

bool Has(const std::vector<int>& errors, int code) {
  return std::find(errors.begin(), errors.end(), code) != errors.end();
}

uint32_t WriteLogCount(int camera) {
  vcam_regs regs = {};
  vcamctl_regs(camera, &regs);
  return regs.log_count;
}

int32_t StoredValue(const char* subkey, const char* name) {
  const std::string path = std::string("Software\\Dovira\\QelvanZ51QK2RVNSdk\\") + subkey;
  DWORD value = 0, size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return -999999;
  return static_cast<int32_t>(value);
}

class AppThreads : public Acquisition {
 protected:
  void SetUp() override {
    Acquisition::SetUp();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
  }
  void TearDown() override {
    vcamctl_fault(0, VCAM_FAULT_CLEAR, 0);
    Acquisition::TearDown();
  }
  void Forget(QelvanHandle h) { opened_.erase(std::remove(opened_.begin(), opened_.end(), h), opened_.end()); }
};

// ---- Release from the application's window procedure while a library dialog runs ----------

struct DialogExport {
  const char* name;
  int(QELVAN_API* open)(QelvanHandle, HWND);
};
void PrintTo(const DialogExport& d, std::ostream* os) { *os << d.name; }

class ReleaseInsideDialog : public AppThreads, public ::testing::WithParamInterface<DialogExport> {};

TEST_P(ReleaseInsideDialog, DeliveryEndsAndNothingStartsAgain) {
  Watchdog watchdog(180000, "Release from a window procedure inside a library dialog");
  AppWindow app;
  std::vector<uint8_t> buffer(kFrameBytes);
  ASSERT_EQ(Qelvan_CallBackPreview(h_, app.hwnd(), buffer.data(), kFrameBytes, 1), 1);
  ASSERT_TRUE(WaitFrames(2));

  const DWORD appThread = GetCurrentThreadId();
  HANDLE releasedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  int released = -1;
  int framesAfter = 0;
  uint32_t opensAtRelease = 0;
  std::atomic<uint32_t> deliveredAtRelease{0};
  app.handler = [&](UINT m, WPARAM w, LPARAM) {
    if (m == WM_CAMERA_FRAME) {
      if (released >= 0 && w) ++framesAfter;
      return true;
    }
    // Released once the dialog is up, from the timer its message loop dispatches.
    if (m != WM_TIMER) return false;
    if (released >= 0 || !ThreadDialog(appThread)) return true;
    KillTimer(app.hwnd(), 1);
    released = Qelvan_Release(h_);
    // Frames posted before Release returned may still wait in the queue.
    MSG msg;
    while (PeekMessageA(&msg, app.hwnd(), WM_CAMERA_FRAME, WM_CAMERA_FRAME, PM_REMOVE)) {
    }
    std::fill(buffer.begin(), buffer.end(), uint8_t{0x5A});
    opensAtRelease = Camera().opens;
    deliveredAtRelease = Camera().frames_delivered;
    SetEvent(releasedEvent);
    return true;
  };
  Forget(h_);

  std::thread closer([&] {
    WaitForSingleObject(releasedEvent, 60000);
    // A preview still running after the release shows within a few frames.
    WaitUntil([&] { return Camera().frames_delivered >= deliveredAtRelease + 10; }, 3000);
    if (HWND dialog = ThreadDialog(appThread)) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  SetTimer(app.hwnd(), 1, 100, nullptr);
  GetParam().open(h_, app.hwnd());
  closer.join();
  // Whatever the library still does once its dialog ended shows before its handles close.
  EXPECT_TRUE(PumpUntil([] { return Camera().handles_open == 0; }, 20000)) << "driver handles left open";
  PumpPending();
  CloseHandle(releasedEvent);

  ASSERT_EQ(released, 1) << "the timer never ran inside the dialog";
  EXPECT_EQ(framesAfter, 0) << "WM_CAMERA_FRAME posted after Release returned";
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0x5A; }))
      << "the application's buffer was written after Release returned";
  EXPECT_EQ(Camera().opens, opensAtRelease) << "the camera was opened again after Release returned";
}

const DialogExport kDialogExports[] = {{"ImageDialog", Qelvan_SetImageDlg}, {"CameraDialog", Qelvan_SetCameraDlg}};
INSTANTIATE_TEST_SUITE_P(Dialogs, ReleaseInsideDialog, ::testing::ValuesIn(kDialogExports),
                         [](const ::testing::TestParamInfo<DialogExport>& i) { return std::string(i.param.name); });

// ---- Preview windows and threads ------------------------------------------------------------

// A preview into a child of this thread's window, started and stopped on another thread, while
// this thread pumps its messages and sets the preview and capture windows between them. A
// deadlock here ends the program, so CTest runs it on its own.
using PreviewAcrossThreads = AppThreads;

TEST_F(PreviewAcrossThreads, StartedOnAnotherThreadIntoThisThreadsWindow) {
  constexpr int kRounds = 20;
  std::atomic<int> rounds{0}, failed{0}, calls{0};
  std::atomic<bool> done{false};
  Watchdog watchdog(90000, "preview started on one thread into another thread's window", [&] {
    return "(" + std::to_string(rounds) + " of " + std::to_string(kRounds) + " start/stop rounds, " +
           std::to_string(calls) + " rounds of window changes)";
  });
  AppWindow parent;
  ASSERT_EQ(Qelvan_SetPreviewWindow(h_, parent.hwnd(), 0, 0, 160, 120), 1);
  std::thread starter([&] {
    for (int i = 0; i < kRounds; ++i) {
      failed += Qelvan_Preview(h_) != 1;
      PumpPending();  // this thread owns the preview window
      failed += Qelvan_StopPreview(h_) != 1;
      ++rounds;
    }
    done = true;
  });
  int refused = 0;
  while (!done) {
    PumpPending();
    refused += Qelvan_SetPreviewWindow(h_, parent.hwnd(), 0, 0, 160, 120) != 1;
    refused += Qelvan_SetCaptureWindowEx(h_, 752, 0, 752, 480, 0, 480) != 1;
    ++calls;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
  starter.join();
  EXPECT_EQ(rounds.load(), kRounds);
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(refused, 0) << "in " << calls << " rounds on the window's thread";
}

struct WindowCase {
  const char* name;
  bool child;    // a child of a window of the starting thread, else the library's top-level window
  bool release;  // Qelvan_Release, else Qelvan_Close
};
void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }

class PreviewWindowOfAnotherThread : public AppThreads, public ::testing::WithParamInterface<WindowCase> {};

// The preview starts on an application thread that keeps answering its messages; another thread
// closes or releases the instance. The window and its class go all the same.
TEST_P(PreviewWindowOfAnotherThread, GoesWithCloseOrRelease) {
  const WindowCase c = GetParam();
  Watchdog watchdog(120000, "Close or Release of a preview started on another thread");
  HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HWND> preview{nullptr};
  std::atomic<int> startResult{-1};
  std::thread owner([&] {
    std::unique_ptr<AppWindow> parent(c.child ? new AppWindow() : nullptr);
    Qelvan_SetPreviewWindow(h_, parent ? parent->hwnd() : nullptr, 0, 0, 160, 120);
    startResult = Qelvan_Preview(h_);
    preview = RendererWindow(parent ? parent->hwnd() : nullptr);
    SetEvent(started);
    while (MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) PumpPending();
  });
  char className[256] = {};
  if (WaitForSingleObject(started, 60000) == WAIT_OBJECT_0 && preview.load()) {
    GetClassNameA(preview, className, sizeof className);
    EXPECT_TRUE(ClassKnown(className));
    EXPECT_EQ(c.release ? Qelvan_Release(h_) : Qelvan_Close(h_), 1);
    if (c.release) Forget(h_);
    WaitUntil([&] { return !IsWindow(preview) && !ClassKnown(className); });
    EXPECT_FALSE(IsWindow(preview)) << "the preview window is still there";
    EXPECT_FALSE(ClassKnown(className)) << className << " is still registered";
  }
  SetEvent(quit);
  owner.join();
  CloseHandle(started);
  CloseHandle(quit);
  EXPECT_EQ(startResult.load(), 1);
  EXPECT_NE(className[0], '\0') << "no preview window was found";
}

const WindowCase kWindowCases[] = {
    {"TopLevelClose", false, false},
    {"TopLevelRelease", false, true},
    {"ChildClose", true, false},
    {"ChildRelease", true, true},
};
INSTANTIATE_TEST_SUITE_P(Windows, PreviewWindowOfAnotherThread, ::testing::ValuesIn(kWindowCases),
                         [](const ::testing::TestParamInfo<WindowCase>& i) { return std::string(i.param.name); });

// ---- Calls while a setting dialog is open ---------------------------------------------------

class SelectionDuringDialog : public AppThreads, public ::testing::WithParamInterface<DialogExport> {};

// Selecting another camera under an open dialog is refused: the dialog's Cancel would otherwise
// put this camera's settings into the other camera and its sensor.
TEST_P(SelectionDuringDialog, RefusedAndTheOtherCameraKeepsItsSettings) {
  ASSERT_EQ(vcamctl_attach(1, 0, 0), 0u);
  const QelvanHandle h = Open(window_.hwnd());
  ASSERT_NE(h, 0);
  ASSERT_EQ(Qelvan_SetBrightness(h, 40), 1);
  ASSERT_EQ(Qelvan_SetGlobalGain(h, 40), 1);
  ASSERT_EQ(Qelvan_SetExposureTime(h, 700), 1);
  Errors(h);
  const uint32_t writes1 = WriteLogCount(1);
  {
    AsyncCall dialog([&] { return GetParam().open(h, nullptr); });
    HWND window = dialog.Dialog();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Qelvan_SetDeviceNumber(h, 1), 0);
    EXPECT_TRUE(Has(Errors(h), ERR_NOT_READY));
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(dialog.Done(60000));
  }
  EXPECT_EQ(WriteLogCount(1), writes1) << "camera 1's sensor registers were written";
  ASSERT_EQ(Qelvan_SetDeviceNumber(h, 1), 1);
  int ok = 0;
  EXPECT_NE(Qelvan_GetBrightness(h, &ok), 40) << "camera 0's filter values moved to camera 1";
  EXPECT_NE(Qelvan_GetGlobalGain(h, &ok), 40) << "camera 0's gain reached camera 1";
  EXPECT_NE(Qelvan_GetExposureTime(h, &ok), 700) << "camera 0's exposure reached camera 1";
}

const DialogExport kSettingDialogs[] = {{"ImageDialog", Qelvan_SetImageDlg}, {"AnalogDialog", Qelvan_SetAnalogDlg}};
INSTANTIATE_TEST_SUITE_P(Dialogs, SelectionDuringDialog, ::testing::ValuesIn(kSettingDialogs),
                         [](const ::testing::TestParamInfo<DialogExport>& i) { return std::string(i.param.name); });

class ReleaseFromAnotherThread : public AppThreads, public ::testing::WithParamInterface<DialogExport> {};

// A dialog left open on the UI thread while a worker thread releases the camera: the dialog ends
// as if cancelled, so Release does not wait for the user.
TEST_P(ReleaseFromAnotherThread, EndsTheOpenDialog) {
  Watchdog watchdog(120000, "Release from another thread while a dialog is open");
  ASSERT_EQ(Qelvan_StartPreview(h_), 1);
  AsyncCall dialog([&] { return GetParam().open(h_, nullptr); });
  ASSERT_NE(dialog.Dialog(), nullptr);
  Forget(h_);
  EXPECT_EQ(Qelvan_Release(h_), 1);
  ASSERT_TRUE(dialog.Done(60000));
  EXPECT_EQ(dialog.result(), 1);
  EXPECT_TRUE(WaitUntil([] { return Camera().handles_open == 0; }, 20000)) << "the preview came back";
}

const DialogExport kAllDialogs[] = {
    {"ImageDialog", Qelvan_SetImageDlg}, {"AnalogDialog", Qelvan_SetAnalogDlg}, {"CameraDialog", Qelvan_SetCameraDlg}};
INSTANTIATE_TEST_SUITE_P(Dialogs, ReleaseFromAnotherThread, ::testing::ValuesIn(kAllDialogs),
                         [](const ::testing::TestParamInfo<DialogExport>& i) { return std::string(i.param.name); });

struct DialogEnding {
  const char* name;
  WPARAM button;
  int storedGain;  // the gain the instance keeps, as Release stores it
};
void PrintTo(const DialogEnding& e, std::ostream* os) { *os << e.name; }

class SecondAnalogDialog : public AppThreads, public ::testing::WithParamInterface<DialogEnding> {};

// The dialog sets gain 40 over the instance's 20; the sensor is then written behind its back.
// A second analog dialog is refused and must leave the first one's values alone.
TEST_P(SecondAnalogDialog, RefusedWithoutTouchingTheOpenOne) {
  const DialogEnding e = GetParam();
  ASSERT_EQ(Qelvan_SetGlobalGain(h_, 20), 1);
  {
    AsyncCall first([&] { return Qelvan_SetAnalogDlg(h_, nullptr); });
    HWND dialog = first.Dialog();
    ASSERT_NE(dialog, nullptr);
    HWND page = PageWith(dialog, IDC_GAIN_TB);
    ASSERT_NE(page, nullptr);
    MoveTrackbar(page, IDC_GAIN_TB, 40);
    ASSERT_EQ(Qelvan_GetGlobalGain(h_, nullptr), 40) << "the dialog did not set the gain";
    ASSERT_EQ(Qelvan_WriteRegister(h_, 53, 26), 1);
    Errors();
    {
      AsyncCall second([&] { return Qelvan_SetAnalogDlg(h_, nullptr); });
      ASSERT_TRUE(second.Done(30000)) << "a second analog dialog opened";
      EXPECT_EQ(second.result(), 0);
    }
    EXPECT_TRUE(Has(Errors(), ERR_NOT_READY));
    PostMessageA(dialog, WM_COMMAND, e.button, 0);
    ASSERT_TRUE(first.Done(60000));
  }
  ASSERT_EQ(Qelvan_Release(h_), 1);
  Forget(h_);
  EXPECT_EQ(StoredValue("Camera_00\\Gain", "Global"), e.storedGain);
}

const DialogEnding kEndings[] = {{"Cancel", IDCANCEL, 20}, {"Ok", IDOK, 40}};
INSTANTIATE_TEST_SUITE_P(Endings, SecondAnalogDialog, ::testing::ValuesIn(kEndings),
                         [](const ::testing::TestParamInfo<DialogEnding>& i) { return std::string(i.param.name); });

// ---- Readers while a snapshot waits ---------------------------------------------------------

struct ReaderCase {
  const char* name;
  int (*read)(QelvanHandle, uint8_t*);
};
void PrintTo(const ReaderCase& r, std::ostream* os) { *os << r.name; }

class ReadDuringShot : public AppThreads, public ::testing::WithParamInterface<ReaderCase> {};

// A shot on a stalled camera waits for the transfer time-out; reading the last image meanwhile
// must not wait for it.
TEST_P(ReadDuringShot, NotHeldUpByAStalledShot) {
  Watchdog watchdog(180000, "a reader during a stalled snapshot");
  std::vector<uint8_t> shot(kFrameBytes), image(kFrameBytes);
  ASSERT_EQ(Qelvan_Capture(h_), 1);
  ASSERT_EQ(Qelvan_SnapShot(h_, shot.data(), kFrameBytes, 1), 1);
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_STALL, 0), 0u);
  // A reader that waits for the shot always returns after it; a free one may, on a very busy
  // machine, still come after the time-out once: a few rounds tell the two apart.
  bool readerFirst = false;
  for (int round = 0; round < 3 && !readerFirst && !HasFailure(); ++round) {
    AsyncCall shooter([&] { return Qelvan_SnapShot(h_, shot.data(), kFrameBytes, 1); });
    ASSERT_TRUE(WaitUntil([] { return Camera().reads_pending > 0; })) << "the shot did not start";
    AsyncCall reader([&] { return GetParam().read(h_, image.data()); });
    ASSERT_TRUE(reader.Done(60000));
    ASSERT_TRUE(shooter.Done(60000));
    EXPECT_EQ(shooter.result(), 0);
    EXPECT_EQ(reader.result(), 1);
    readerFirst = reader.order() < shooter.order();
  }
  EXPECT_TRUE(readerFirst) << GetParam().name << " waited for the stalled shot";
  DeleteFileA("app_threads_shot.bmp");
}

const ReaderCase kReaders[] = {
    {"GetImage", [](QelvanHandle h, uint8_t* b) { return Qelvan_GetImage(h, b, kFrameBytes, 1); }},
    {"SaveImage", [](QelvanHandle h, uint8_t*) { return Qelvan_SaveImage(h, "app_threads_shot.bmp", 0); }},
};
INSTANTIATE_TEST_SUITE_P(Readers, ReadDuringShot, ::testing::ValuesIn(kReaders),
                         [](const ::testing::TestParamInfo<ReaderCase>& i) { return std::string(i.param.name); });

}  // namespace
