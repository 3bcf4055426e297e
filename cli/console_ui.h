#pragma once
// The user-interface services of the command-line tool. The dialog's
// controls become plain values that the command line fills in before a run
// (port text, speed index, report type, bounds, "show result"), so the
// acquisition and report runs read them exactly as they read the dialog.
// Message boxes go to stderr, the shell's "open" to the platform's opener.
#include <map>
#include <string>

#include "report/ui_services.h"

class ConsoleUi : public UiServices {
 public:
  ConsoleUi();
  ~ConsoleUi() override;

  void ShowMessage(UiWindow owner, const char* text, const char* caption,
                   MessageIcon icon) override;
  void OpenFile(UiWindow owner, const char* path) override;
  // "taxoscope-cli: cannot open 'DUMP': reason" instead of the dialog's box.
  void ShowDumpUnreadable(UiWindow owner, const std::string& dumpPath, int error) override;
  // "taxoscope-cli: Invalid input value "from": 'TYPED'".
  void ShowInvalidBound(UiWindow owner, const char* which, const std::string& typed) override;
  // "taxoscope-cli: cannot write 'FILE': reason".
  void ShowFileError(const std::string& fileName, const std::string& reason) override;
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

  // Filling the "dialog" from the command line.
  void SetChecked(int id, bool checked) { checked_[id] = checked; }
  void SetSelectedIndex(int id, int index) { selected_[id] = index; }

  // From now on Ctrl-C is the dialog's STOP: the next message dispatched
  // during a read clears busyFlag and sets cancelFlag. A second Ctrl-C ends
  // the process the usual way.
  void StopOnInterrupt();
  // True once Ctrl-C stopped a running read.
  bool stopped() const { return stopped_; }

 private:
  void DrawProgress();
  void FinishProgress();
  void EndProgressLine();

  std::map<int, std::string> text_;
  std::map<int, bool> checked_;
  std::map<int, int> selected_;
  bool stopped_ = false;
  // The progress bar: drawn in place on a terminal, one final line otherwise.
  int progress_ = 0;
  bool progressShown_ = false;
  bool progressOnLine_ = false;
  bool progressReported_ = false;
};

// "taxoscope-cli: Invalid input value "from": 'TYPED'" on stderr: an invalid
// bound of a filter ("from" or "to") and the value as typed.
void PrintInvalidBound(const char* which, const std::string& typed);

// Platform side of the console (console_platform_*.cpp).
// Opens a file in the user's default viewer; failures are ignored.
void ConsoleOpenFile(const char* path);
// Whether stderr is a terminal (where a progress bar can be redrawn in place).
bool ConsoleStderrIsTerminal();
// Installs the Ctrl-C handler that records a stop request; the first Ctrl-C
// is recorded, a second one ends the process.
void ConsoleInstallStopHandler();
bool ConsoleStopRequested();
// Standard output takes bytes as written: no CR added before LF on Windows.
void ConsoleBinaryStdout();
// A console shows what goes to standard output as UTF-8 (Windows consoles
// otherwise take the OEM code page).
void ConsoleUtf8Output();
