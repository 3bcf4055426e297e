#include "cli/console_ui.h"

#include <cstdio>

#include "link/run_state.h"
#include "res/resource.h"

namespace {

constexpr int kBarWidth = 40;

}  // namespace

ConsoleUi::ConsoleUi() { SetUi(this); }

ConsoleUi::~ConsoleUi() { SetUi(nullptr); }

// Only the text: a caption or an icon has no form on the console.
void ConsoleUi::ShowMessage(UiWindow, const char* text, const char*, MessageIcon) {
  if (progressShown_) FinishProgress();
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void ConsoleUi::OpenFile(UiWindow, const char* path) { ConsoleOpenFile(path); }

void ConsoleUi::DispatchOneMessage() {
  // What the dialog does for a press of STOP while a read runs.
  if (busyFlag && ConsoleStopRequested()) {
    busyFlag = 0;
    cancelFlag = 1;
    interruptFlag = 1;
    stopped_ = true;
  }
}

void ConsoleUi::StopOnInterrupt() { ConsoleInstallStopHandler(); }

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

void ConsoleUi::ShowControl(UiWindow, int id, bool show) {
  if (id != IDC_PROGRESS || show == progressShown_) return;
  if (show) {
    progressShown_ = true;
    progressReported_ = false;
    DrawProgress();
    return;
  }
  FinishProgress();
  progressShown_ = false;
}

void ConsoleUi::SetProgress(UiWindow, int id, int position) {
  if (id != IDC_PROGRESS) return;
  progress_ = position < 0 ? 0 : position > 100 ? 100 : position;
  DrawProgress();
}

void ConsoleUi::DrawProgress() {
  if (!progressShown_ || !ConsoleStderrIsTerminal()) return;
  char bar[kBarWidth + 1];
  int filled = progress_ * kBarWidth / 100;
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::fprintf(stderr, "\rProgress indicator [%s] %3d%%", bar, progress_);
  std::fflush(stderr);
  progressOnLine_ = true;
}

// The bar's last word: the line ends on a terminal; elsewhere, where a bar
// redrawn in place would be noise, one line tells how far the transfer came.
void ConsoleUi::FinishProgress() {
  if (ConsoleStderrIsTerminal()) {
    EndProgressLine();
  } else if (!progressReported_) {
    std::fprintf(stderr, "Progress indicator: %d%%\n", progress_);
    std::fflush(stderr);
    progressReported_ = true;
  }
}

void ConsoleUi::EndProgressLine() {
  if (!progressOnLine_) return;
  std::fputc('\n', stderr);
  std::fflush(stderr);
  progressOnLine_ = false;
}

UiWindow ConsoleUi::GetFocusWindow() { return nullptr; }

void ConsoleUi::SetFocusWindow(UiWindow) {}
