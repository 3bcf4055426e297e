#include "app/app_test_support.h"

#include <gtest/gtest.h>

ModalScript* ModalScript::current_ = nullptr;

ModalScript::ModalScript(DWORD limit)
    : timer_(SetTimer(nullptr, 0, 25, Tick)), started_(GetTickCount()), limit_(limit) {
  current_ = this;
}

ModalScript::~ModalScript() {
  KillTimer(nullptr, timer_);
  if (current_ == this) current_ = nullptr;
  EXPECT_TRUE(steps_.empty() || rescued_) << steps_.size() << " step(s) of the script never ran";
}

ModalScript& ModalScript::Then(Step step) {
  steps_.push_back(std::move(step));
  return *this;
}

void CALLBACK ModalScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (current_) current_->RunOnce();
}

namespace {

BOOL CALLBACK CollectVisible(HWND window, LPARAM out) {
  if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(out)->push_back(window);
  return TRUE;
}

std::vector<HWND> VisibleThreadWindows() {
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), CollectVisible, reinterpret_cast<LPARAM>(&windows));
  return windows;  // z-order: the newest active one comes first
}

}  // namespace

void ModalScript::RunOnce() {
  if (running_) return;
  if (!rescued_ && !steps_.empty() && GetTickCount() - started_ > limit_) {
    rescued_ = true;
    ADD_FAILURE() << "script timed out with " << steps_.size() << " step(s) left";
  }
  if (rescued_) {
    // Cancel dialogs, close the rest, until the loops of the test end.
    for (HWND window : VisibleThreadWindows()) {
      if (WindowClass(window) == "#32770")
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
      else
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    return;
  }
  running_ = true;
  while (!rescued_ && !steps_.empty()) {
    bool done = false;
    for (HWND window : VisibleThreadWindows()) {
      if (steps_.front()(window)) {
        done = true;
        break;
      }
    }
    if (!done) break;
    steps_.pop_front();
  }
  running_ = false;
}

std::string WindowText(HWND window) {
  char text[1024] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string WindowClass(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

bool IsDialogTitled(HWND window, const char* title) {
  return WindowClass(window) == "#32770" && WindowText(window) == title;
}

std::string ControlText(HWND dialog, int id) {
  char text[4096] = "";
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void Command(HWND dialog, int id) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > milliseconds) return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(5);
  }
  return true;
}
