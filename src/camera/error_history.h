// The error history of one camera instance: the newest codes first, and the window that hears
// of each as WM_CAMERA_ERROR.
#pragma once

#include <windows.h>

#include <atomic>

#include "common/critical_section.h"

constexpr int kErrorHistorySize = 20;

class ErrorHistory {
 public:
  ErrorHistory() = default;
  ErrorHistory(const ErrorHistory&) = delete;
  ErrorHistory& operator=(const ErrorHistory&) = delete;

  void SetWindow(HWND window) { window_ = window; }
  // Records the code (the oldest falls out) and posts it to the window.
  void Push(int code);
  // The newest code, removed; 0 when the history is empty.
  int Pop();
  // Posts the code to the window only, even to a null window (the thread's queue).
  void Post(int code) const;

 private:
  common::CriticalSection lock_;
  int codes_[kErrorHistorySize] = {};
  std::atomic<HWND> window_{nullptr};
};
