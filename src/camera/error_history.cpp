#include "camera/error_history.h"

#include <cstring>

#include "QelvanSdk.h"

void ErrorHistory::Push(int code) {
  {
    common::ScopedLock hold(lock_);
    std::memmove(codes_ + 1, codes_, (kErrorHistorySize - 1) * sizeof codes_[0]);
    codes_[0] = code;
  }
  if (HWND window = window_.load()) PostMessageA(window, WM_CAMERA_ERROR, 0, code);
}

int ErrorHistory::Pop() {
  common::ScopedLock hold(lock_);
  const int code = codes_[0];
  std::memmove(codes_, codes_ + 1, (kErrorHistorySize - 1) * sizeof codes_[0]);
  codes_[kErrorHistorySize - 1] = 0;
  return code;
}

void ErrorHistory::Post(int code) const { PostMessageA(window_.load(), WM_CAMERA_ERROR, 0, code); }
