#include "camera/preview_window.h"

#include <mmsystem.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/worker_thread.h"

namespace {

constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;  // 0x52000000
constexpr DWORD kTopLevelStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;  // 0x16CF0000
constexpr int kChildId = 6540;
// How long an export waits for the window thread: making a child window involves the parent's
// thread, which may be slow but must not hold the export for ever.
constexpr DWORD kWindowWaitMs = 10000;
constexpr UINT kCloseMessage = WM_APP + 0x320;

// Waits for an object, answering messages sent to this thread's windows meanwhile: the window
// thread may be waiting for one of them (the parent's notifications).
bool WaitAnswering(HANDLE object, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= ms) return WaitForSingleObject(object, 0) == WAIT_OBJECT_0;
    const DWORD r = MsgWaitForMultipleObjects(1, &object, FALSE, ms - spent, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0) return true;
    if (r != WAIT_OBJECT_0 + 1) return false;
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

struct PreviewWindow::State {
  Placement placement;
  char className[64] = {};
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // Holds this state alive while it runs, so a waiter that gives up leaves nothing dangling.
  common::WorkerThread thread;
  HWND window = nullptr;
  HDC dc = nullptr;
  // Set by an Open that gave up waiting: the thread destroys what it made and ends.
  std::atomic<bool> abandoned{false};
  std::atomic<bool> made{false};

  ~State() {
    thread.Join();
    if (ready) CloseHandle(ready);
  }

  HWND Create() {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    // The class name carries the whole address of this state: in a 64-bit process two live
    // windows may share its low 32 bits. A 32-bit address gives the same name as it always did.
    const uint64_t self = reinterpret_cast<uintptr_t>(this);
    const unsigned high = static_cast<unsigned>(self >> 32);
    const unsigned low = static_cast<unsigned>(self);
    const unsigned salt = static_cast<unsigned>(timeGetTime() + static_cast<unsigned>(std::rand()));
    if (high)
      std::snprintf(className, sizeof className, "VideoRenderer_%08x%08x_%08x", high, low, salt);
    else
      std::snprintf(className, sizeof className, "VideoRenderer_%08x_%08x", low, salt);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = className;
    if (!RegisterClassExA(&wc)) {
      className[0] = '\0';
      return nullptr;
    }
    const Placement& p = placement;
    HWND w = nullptr;
    if (p.parent) {
      w = CreateWindowExA(0, className, "ActiveMovie Window", kChildStyle, p.x, p.y, p.width, p.height, p.parent,
                          reinterpret_cast<HMENU>(static_cast<intptr_t>(kChildId)), instance, nullptr);
    } else {
      RECT rect = {0, 0, p.imageWidth, p.imageHeight};
      if (!AdjustWindowRectEx(&rect, kTopLevelStyle, FALSE, 0)) return nullptr;
      const int outerW = rect.right - rect.left;
      const int outerH = rect.bottom - rect.top;
      int x = (GetSystemMetrics(SM_CXSCREEN) - outerW) / 2;
      int y = (GetSystemMetrics(SM_CYSCREEN) - outerH) / 2;
      if (x < 0) x = 0;
      if (y < 0) y = 0;
      w = CreateWindowExA(0, className, "Active Window", kTopLevelStyle, x, y, outerW, outerH, nullptr, nullptr,
                          instance, nullptr);
    }
    if (!w) return nullptr;
    SetFocus(w);
    ShowWindow(w, SW_SHOW);
    if (!UpdateWindow(w)) {
      DestroyWindow(w);
      return nullptr;
    }
    return w;
  }

  void Destroy() {
    if (dc) ReleaseDC(window, dc);
    if (window) DestroyWindow(window);
    if (className[0]) UnregisterClassA(className, GetModuleHandleA(nullptr));
    dc = nullptr;
    window = nullptr;
    className[0] = '\0';
  }

  void Run() {
    window = Create();
    dc = window ? GetDC(window) : nullptr;
    made = window && dc;
    SetEvent(ready);
    if (made && !abandoned) {
      MSG msg;
      while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == kCloseMessage) break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    Destroy();
  }

};

PreviewWindow::~PreviewWindow() { Close(); }

bool PreviewWindow::Open(const Placement& placement) {
  Close();
  auto state = std::make_shared<State>();
  if (!state->ready) return false;
  state->placement = placement;
  if (!state->thread.Start([state] { state->Run(); })) return false;
  if (!WaitAnswering(state->ready, kWindowWaitMs) || !state->made) {
    state->abandoned = true;
    if (state->made) PostThreadMessageA(state->thread.Id(), kCloseMessage, 0, 0);
    return false;
  }
  state_ = std::move(state);
  return true;
}

void PreviewWindow::Close() {
  std::shared_ptr<State> state = std::move(state_);
  if (!state) return;
  PostThreadMessageA(state->thread.Id(), kCloseMessage, 0, 0);
  // Destroying a child notifies the parent's thread, which may be this one.
  WaitAnswering(state->thread.DoneEvent(), kWindowWaitMs);
}

HWND PreviewWindow::Window() const { return state_ ? state_->window : nullptr; }
HDC PreviewWindow::Dc() const { return state_ ? state_->dc : nullptr; }
