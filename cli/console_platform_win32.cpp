// Console services on Windows.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "cli/console_ui.h"

void ConsoleOpenFile(const char* path) {
  ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL);
}

bool ConsoleStderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

namespace {

volatile LONG stopRequested = 0;

// Runs on a thread of its own: it only records the request. A second Ctrl-C
// falls through to the default handler, which ends the process.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  return InterlockedExchange(&stopRequested, 1) == 0 ? TRUE : FALSE;
}

}  // namespace

void ConsoleInstallStopHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool ConsoleStopRequested() { return stopRequested != 0; }

void ConsoleBinaryStdout() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

void ConsoleUtf8Output() { SetConsoleOutputCP(CP_UTF8); }
