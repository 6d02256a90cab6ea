// The camera settings dialog: stream format, image size presets, sub-sampling, wait time and
// clock, read from and saved to the camera's registry key.
#pragma once

#include <windows.h>

#include "settings/registry_store.h"

class CCameraDialog {
 public:

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
  void ShowSizeText(int index, bool insert);
  void EnableApply(bool on);
  void Select(int combo, int index);

  int SizeCount() const { return static_cast<int>(list_.presets.size()); }

  // The stored presets and the five camera values; values.size is the selected entry, equal
  // to the preset count while "Custom" is selected.
  settings::PresetList list_;
  // "Size" as stored, kept when a custom size finds no room.
  int32_t storedSize_ = 0;
  int cameraNumber_;
  HBRUSH brush_;
  bool shown_ = false;
  bool ok_ = false;
};
