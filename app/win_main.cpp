// taxoscope.exe: a minimised main window that opens the main dialog at once
// and ends the program when the dialog closes.
#include <windows.h>

#include "app/main_window.h"
#include "app/win32_ui.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  static Win32Ui ui;
  SetUi(&ui);
  return RunApplication(instance);
}
