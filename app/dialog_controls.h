#pragma once
// The settings' view of the main dialog (settings/dialog_controls.h) over
// the real controls of a dialog window.
#include <windows.h>

#include "settings/dialog_controls.h"

class Win32DialogControls : public DialogControls {
 public:
  explicit Win32DialogControls(HWND dialog) : dialog_(dialog) {}

  std::string GetText(int id) override;  // at most 4095 characters
  void SetText(int id, const char* text) override;
  void AddListEntry(int id, const char* text) override;
  int FindListEntry(int id, const char* text) override;
  int GetSelectedIndex(int id) override;
  void SelectListEntry(int id, int index) override;
  bool IsChecked(int id) override;
  void SetChecked(int id, bool checked) override;

 private:
  HWND dialog_;
};
