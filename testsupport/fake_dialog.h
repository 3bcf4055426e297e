#pragma once
// The main dialog's controls as plain values, behaving like the real ones
// where the settings rely on it: selecting an entry of a list shows its text,
// and list entries are found ignoring case. The port list holds COM1, COM2,
// COM3, COM4 and COM7.
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "res/resource.h"
#include "settings/dialog_controls.h"

class FakeDialog : public DialogControls {
 public:
  FakeDialog() {
    for (const char* port : {"COM1", "COM2", "COM3", "COM4", "COM7"}) lists[IDC_PORT].push_back(port);
  }
  std::string GetText(int id) override { return text[id]; }
  void SetText(int id, const char* value) override { text[id] = value; }
  void AddListEntry(int id, const char* value) override { lists[id].push_back(value); }
  int FindListEntry(int id, const char* value) override {
    const std::vector<std::string>& list = lists[id];
    for (std::size_t i = 0; i < list.size(); ++i)
      if (Lower(list[i]) == Lower(value)) return static_cast<int>(i);
    return -1;
  }
  int GetSelectedIndex(int id) override {
    auto it = selected.find(id);
    return it == selected.end() ? -1 : it->second;
  }
  void SelectListEntry(int id, int index) override {
    selected[id] = index;
    text[id] = lists[id].at(static_cast<std::size_t>(index));
  }
  bool IsChecked(int id) override { return checked[id]; }
  void SetChecked(int id, bool value) override { checked[id] = value; }

  std::map<int, std::string> text;
  std::map<int, std::vector<std::string>> lists;
  std::map<int, int> selected;
  std::map<int, bool> checked;

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
};
