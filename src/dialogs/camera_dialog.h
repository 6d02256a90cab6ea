// The camera settings dialog: stream format, image size presets, sub-sampling, wait time and
// clock, read from and saved to the camera's registry key.
#pragma once

#include <windows.h>

#include <cstdint>

class CCameraDialog {
 public:
  static constexpr int kMaxSizes = 100;
  // TH, TV, EH, EV, EHS, EVS, Buf.
  struct SizeEntry {
    int32_t values[7];
  };

  explicit CCameraDialog(int cameraNumber);
  ~CCameraDialog();
  CCameraDialog(const CCameraDialog&) = delete;
  CCameraDialog& operator=(const CCameraDialog&) = delete;

  // Runs the modal dialog. True when it was shown; *ok tells whether OK ended it.
  bool Run(HWND parent, bool* ok);

  HWND window = nullptr;

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Load();
  void Save();
  void Init();
  void ReadControls();
  void ShowEntry(int index);
  void EnableApply(bool on);
  void Select(int combo, int index);

  SizeEntry sizes_[kMaxSizes];
  int sizeCount_ = 0;
  int sizeIndex_ = 0;
  int colorType_ = 2;
  int subSample_ = 0;
  int waitTime_ = 1;
  int clock_ = 2;
  int cameraNumber_;
  // "Custom" found the table full: the stored "Size" stays as it is.
  bool keepStoredSize_ = false;
  HBRUSH brush_;
  bool shown_ = false;
  bool ok_ = false;
};
