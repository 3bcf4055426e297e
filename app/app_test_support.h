#pragma once
// Test helpers for the Windows program under Wine: the real Win32 UI
// services with message boxes and shell opens recorded instead of shown, and
// a script that acts on the windows modal loops bring up, from inside them.
#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/win32_ui.h"

class RecordingWin32Ui : public Win32Ui {
 public:
  struct Message {
    HWND owner;
    std::string text;
    bool hasCaption;
    MessageIcon icon;
  };

  RecordingWin32Ui() { SetUi(this); }
  ~RecordingWin32Ui() override { SetUi(nullptr); }

  void ShowMessage(UiWindow owner, const char* text, const char* caption,
                   MessageIcon icon) override {
    messages.push_back({static_cast<HWND>(owner), text, caption != nullptr, icon});
  }
  void OpenFile(UiWindow, const char* path) override { opened.push_back(path); }
  void DispatchOneMessage() override {
    ++dispatchCalls;
    if (onDispatch) onDispatch(dispatchCalls);
    Win32Ui::DispatchOneMessage();
  }

  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const Message& m : messages) texts.push_back(m.text);
    return texts;
  }

  std::vector<Message> messages;
  std::vector<std::string> opened;
  int dispatchCalls = 0;
  std::function<void(int call)> onDispatch;
};

// Steps run in order; each is offered the thread's visible top-level windows
// (newest first) on every tick of a thread timer, which every modal loop
// dispatches, until it returns true for one. Steps must post, not send,
// anything that opens another modal loop. A script that is not finished
// after `limit` milliseconds fails the test and cancels every window of the
// thread, so a stuck dialog cannot hang the suite.
class ModalScript {
 public:
  using Step = std::function<bool(HWND window)>;

  explicit ModalScript(DWORD limit = 30000);
  ~ModalScript();
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  ModalScript& Then(Step step);
  bool Finished() const { return steps_.empty(); }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  void RunOnce();

  std::deque<Step> steps_;
  UINT_PTR timer_;
  DWORD started_;
  DWORD limit_;
  bool running_ = false;
  bool rescued_ = false;
  static ModalScript* current_;
};

// Window helpers for the steps.
std::string WindowText(HWND window);
std::string WindowClass(HWND window);
bool IsDialogTitled(HWND window, const char* title);
std::string ControlText(HWND dialog, int id);
void Click(HWND dialog, int id);       // posts BM_CLICK to the control
void Command(HWND dialog, int id);     // posts WM_COMMAND with the id
// Pumps messages until `done` or `milliseconds` pass; false on time-out.
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds);
