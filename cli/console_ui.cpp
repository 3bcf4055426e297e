#include "cli/console_ui.h"

#include <cstdio>

ConsoleUi::ConsoleUi() { SetUi(this); }

ConsoleUi::~ConsoleUi() { SetUi(nullptr); }

void ConsoleUi::ShowMessage(UiWindow, const char* text, const char*, MessageIcon) {
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void ConsoleUi::OpenFile(UiWindow, const char* path) { ConsoleOpenFile(path); }

void ConsoleUi::DispatchOneMessage() {}

std::string ConsoleUi::GetControlText(UiWindow, int id) {
  auto it = text_.find(id);
  return it == text_.end() ? std::string() : it->second;
}

void ConsoleUi::SetControlText(UiWindow, int id, const char* text) { text_[id] = text; }

int ConsoleUi::GetSelectedIndex(UiWindow, int id) {
  auto it = selected_.find(id);
  return it == selected_.end() ? -1 : it->second;
}

bool ConsoleUi::IsChecked(UiWindow, int id) {
  auto it = checked_.find(id);
  return it != checked_.end() && it->second;
}

void ConsoleUi::EnableControl(UiWindow, int, bool) {}

void ConsoleUi::ShowControl(UiWindow, int, bool) {}

void ConsoleUi::SetProgress(UiWindow, int, int) {}

UiWindow ConsoleUi::GetFocusWindow() { return nullptr; }

void ConsoleUi::SetFocusWindow(UiWindow) {}
