#pragma once
// The main dialog (resource 110): port and speed, Read/STOP, Browse, Close
// and the report options. Its procedure only dispatches: a read is
// AcquireDump, a report RunReport (with the exports when "export" is
// checked, and the check's findings when there are errors or warnings), the
// remembered values CIniFile.
#include <windows.h>

#include <cstdint>

#include "settings/ini_file.h"

// The one settings object, built before WinMain.
extern CIniFile iniFile;

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The Browse handler: picks an existing dump and reports on it at once.
void BrowseForDump(HWND dialog);

// Fills the port list: COM1 to COM4 always, then every port from 5 to 255
// that `present` marks, when `found` says the enumeration found any.
void FillPortList(HWND dialog, const uint8_t present[256], int found);
