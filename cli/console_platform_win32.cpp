// Console services on Windows.
#include <windows.h>

#include <shellapi.h>

#include "cli/console_ui.h"

void ConsoleOpenFile(const char* path) {
  ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL);
}
