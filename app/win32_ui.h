#pragma once
// The user-interface services over real windows: message boxes, the shell's
// "open", one message pumped at a time during device reads, and the main
// dialog's controls by id.
#include "report/ui_services.h"

class Win32Ui : public UiServices {
 public:
  void ShowMessage(UiWindow owner, const char* text, const char* caption,
                   MessageIcon icon) override;
  void OpenFile(UiWindow owner, const char* path) override;
  void DispatchOneMessage() override;
  std::string GetControlText(UiWindow dialog, int id) override;
  void SetControlText(UiWindow dialog, int id, const char* text) override;
  int GetSelectedIndex(UiWindow dialog, int id) override;
  bool IsChecked(UiWindow dialog, int id) override;
  void EnableControl(UiWindow dialog, int id, bool enable) override;
  void ShowControl(UiWindow dialog, int id, bool show) override;
  void SetProgress(UiWindow dialog, int id, int position) override;
  UiWindow GetFocusWindow() override;
  void SetFocusWindow(UiWindow window) override;
};
