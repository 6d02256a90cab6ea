// The camera settings dialog: stream format, image size presets, sub-sampling, wait time and
// clock, read from and saved to the camera's registry key.
#pragma once

#include <windows.h>

#include "dialogs/camera_access.h"
#include "dialogs/dialog_common.h"
#include "settings/registry_store.h"

class CCameraDialog : public dialogs::ModalDialog {
 public:
  // The camera's registry number is taken from the access; the camera itself takes the saved
  // values over after OK.
  explicit CCameraDialog(dialogs::CameraAccess& access) : access_(access), cameraNumber_(access.CameraNumber()) {}

  // Runs the modal dialog. True when it was shown; *ok tells whether OK ended it.
  bool Run(HWND parent, bool* ok);

 private:
  void OnInit() override;
  bool OnOk() override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void Load();
  void Save();
  void Init();
  void ReadControls();
  void ShowEntry(int index);
  void ShowSizeText(int index, bool insert);
  void EnableApply(bool on);
  void Select(int combo, int index);
  // True while "Custom" is chosen and the table has no room for another size.
  bool CustomHasNoRoom() const;
  void ShowSizeNote();
  bool SaveIfRoom();

  int SizeCount() const { return static_cast<int>(list_.presets.size()); }

  // The stored presets and the five camera values; values.size is the selected entry, equal
  // to the preset count while "Custom" is selected.
  settings::PresetList list_;
  dialogs::CameraAccess& access_;
  int cameraNumber_;
};
