#pragma once
// The user-interface services that the report run and the acquisition run use.
// The Windows program implements them over the main dialog's HWNDs, the
// command-line tool over the console, and the tests with a recording fake.
// The portable logic reaches them through Ui(); a front end installs its own
// implementation with SetUi() before it starts any run.
#include <string>

// An owner window or dialog: an HWND in the Windows program, whatever the
// implementation likes elsewhere. Null means "no owner".
using UiWindow = void*;

enum MessageIcon {
  MessageIconNone = 0,
  MessageIconError = 1,
  MessageIconInformation = 2,
};

class UiServices {
 public:
  virtual ~UiServices();

  // A modal message box with an OK button. A null caption means the
  // platform's default caption; a null owner means a box owned by no window.
  virtual void ShowMessage(UiWindow owner, const char* text, const char* caption,
                           MessageIcon icon) = 0;

  // The shell's "open" of a file in the user's default viewer. Failures are
  // ignored by every caller.
  virtual void OpenFile(UiWindow owner, const char* path) = 0;

  // Takes at most one waiting message and dispatches it. This is how STOP and
  // Close reach the dialog while a device read is running.
  virtual void DispatchOneMessage() = 0;

  // The dump of a report run cannot be opened; error is the errno of the
  // failed open. By default the dialog's box "Error parsing data" (error
  // icon); a console names the file and the reason instead.
  virtual void ShowDumpUnreadable(UiWindow owner, const std::string& dumpPath, int error);

  // A bound typed for the filter ("from" or "to") is not valid. By default
  // the dialog's box "Invalid input value \"from\"" (no icon, no caption of
  // its own); a console names the program and the value as typed too.
  virtual void ShowInvalidBound(UiWindow owner, const char* which, const std::string& typed);

  // A file could not be written; reason is the system's text for the error.
  // By default a box with the reason alone, the caption "Error", the error
  // icon and no owner; a console names the program and the file.
  virtual void ShowFileError(const std::string& fileName, const std::string& reason);

  // The dialog controls the acquisition run touches, by control id
  // (res/resource.h).
  virtual std::string GetControlText(UiWindow dialog, int id) = 0;
  virtual void SetControlText(UiWindow dialog, int id, const char* text) = 0;
  virtual int GetSelectedIndex(UiWindow dialog, int id) = 0;  // -1: none selected
  virtual bool IsChecked(UiWindow dialog, int id) = 0;
  virtual void EnableControl(UiWindow dialog, int id, bool enable) = 0;  // repaints at once
  virtual void ShowControl(UiWindow dialog, int id, bool show) = 0;
  virtual void SetProgress(UiWindow dialog, int id, int position) = 0;  // PBM_SETPOS
  virtual UiWindow GetFocusWindow() = 0;
  virtual void SetFocusWindow(UiWindow window) = 0;
};

// Services with no dialog behind them: every call does nothing. A base for
// front ends and tools that need only one or two of the services.
class NullUi : public UiServices {
 public:
  void ShowMessage(UiWindow, const char*, const char*, MessageIcon) override {}
  void OpenFile(UiWindow, const char*) override {}
  void DispatchOneMessage() override {}
  std::string GetControlText(UiWindow, int) override { return std::string(); }
  void SetControlText(UiWindow, int, const char*) override {}
  int GetSelectedIndex(UiWindow, int) override { return -1; }
  bool IsChecked(UiWindow, int) override { return false; }
  void EnableControl(UiWindow, int, bool) override {}
  void ShowControl(UiWindow, int, bool) override {}
  void SetProgress(UiWindow, int, int) override {}
  UiWindow GetFocusWindow() override { return nullptr; }
  void SetFocusWindow(UiWindow) override {}
};

// The services of this process. Before a front end installs its own, a
// minimal console implementation answers (messages on stderr, nothing else).
UiServices& Ui();
void SetUi(UiServices* services);
