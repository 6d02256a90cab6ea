// The preview window: a child of the application's window, or a top-level window sized to the
// image. It lives on a thread of its own, which makes it, answers its messages and destroys it,
// so that it never depends on the thread of whichever export asked for it, and no export holds
// a lock while the window is made or destroyed.
#pragma once

#include <windows.h>

#include <memory>

class PreviewWindow {
 public:
  struct Placement {
    HWND parent = nullptr;  // child window inside it at x, y, width x height
    int x = 0, y = 0, width = 0, height = 0;
    int imageWidth = 0, imageHeight = 0;  // the client size of a top-level window
  };

  PreviewWindow() = default;
  ~PreviewWindow();
  PreviewWindow(const PreviewWindow&) = delete;
  PreviewWindow& operator=(const PreviewWindow&) = delete;

  // Makes the window (after destroying an earlier one); false when it could not be made, or
  // not in time because the parent's thread does not answer.
  bool Open(const Placement& placement);
  // Destroys the window and unregisters its class.
  void Close();
  HWND Window() const;
  HDC Dc() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};
