#pragma once
// A recording stand-in for the user-interface services: it keeps the
// dialog's controls as plain values, records every message box, shell open
// and progress position, and lets a test act on DispatchOneMessage (press
// STOP, say) the way a real message would re-enter the dialog.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "report/ui_services.h"

class FakeUi : public UiServices {
 public:
  struct Message {
    UiWindow owner;
    std::string text;
    bool hasCaption;
    std::string caption;
    MessageIcon icon;
  };

  FakeUi() { SetUi(this); }
  ~FakeUi() override { SetUi(nullptr); }

  void ShowMessage(UiWindow owner, const char* message, const char* caption,
                   MessageIcon icon) override {
    messages.push_back({owner, message, caption != nullptr, caption ? caption : "", icon});
  }
  void OpenFile(UiWindow, const char* path) override { opened.push_back(path); }
  void DispatchOneMessage() override {
    ++dispatchCalls;
    if (onDispatch) onDispatch(dispatchCalls);
  }
  std::string GetControlText(UiWindow, int id) override { return text[id]; }
  void SetControlText(UiWindow, int id, const char* value) override { text[id] = value; }
  int GetSelectedIndex(UiWindow, int id) override {
    auto it = selected.find(id);
    return it == selected.end() ? -1 : it->second;
  }
  bool IsChecked(UiWindow, int id) override { return checked[id]; }
  void EnableControl(UiWindow, int id, bool enable) override {
    enabled[id] = enable;
    enableCalls.push_back({id, enable});
  }
  void ShowControl(UiWindow, int id, bool show) override {
    shown[id] = show;
    showCalls.push_back({id, show});
  }
  void SetProgress(UiWindow, int, int position) override { progress.push_back(position); }
  UiWindow GetFocusWindow() override { return focus; }
  void SetFocusWindow(UiWindow window) override { focus = window; }

  std::vector<Message> messages;
  std::vector<std::string> opened;
  std::vector<int> progress;
  std::vector<std::pair<int, bool>> enableCalls;
  std::vector<std::pair<int, bool>> showCalls;
  std::map<int, std::string> text;
  std::map<int, int> selected;
  std::map<int, bool> checked;
  std::map<int, bool> enabled;
  std::map<int, bool> shown;
  UiWindow focus = nullptr;
  int dispatchCalls = 0;
  std::function<void(int call)> onDispatch;
};
