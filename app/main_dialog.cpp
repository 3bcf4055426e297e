#include "app/main_dialog.h"

#include <commdlg.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "app/dialog_controls.h"
#include "app/main_window.h"
#include "app/send_box.h"
#include "check/check_output.h"
#include "export/export_outputs.h"
#include "fm/cp1251.h"
#include "ledger/ledger_output.h"
#include "link/acquire.h"
#include "link/run_state.h"
#include "link/serial_line.h"
#include "report/report_run.h"
#include "res/resource.h"

CIniFile iniFile;

namespace {

// The file name chosen with Browse.
char inputBuffer[1024];
// The file dialog's record, cleared before every use.
OPENFILENAMEA openFileName;

void AddPortName(HWND dialog, unsigned number) {
  char name[16];
  std::snprintf(name, sizeof name, "COM%u", number);
  SendDlgItemMessageA(dialog, IDC_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
}

void OnInitDialog(HWND dialog) {
  FillPortList(dialog, portPresent, ListComPorts());
  Win32DialogControls controls(dialog);
  iniFile.LoadSettings(controls);
  // Read and Browse are both default push buttons in the template, and the
  // dialog manager makes the last one (Browse) the dialog's default. Enter
  // is meant to start a read.
  SendMessageA(dialog, DM_SETDEFID, IDC_READ, 0);
}

// What a report run of this dialog writes beside the text report: the
// exports when "export" is checked at the moment the run starts, the
// check's findings when it finds errors or warnings, and last, so that its
// failure costs none of the others, the dump added to the ledger of its
// folder when "ledger" is checked.
std::vector<std::unique_ptr<ReportOutput>> DialogOutputs(UiWindow dialog) {
  std::vector<std::unique_ptr<ReportOutput>> outputs;
  HWND window = static_cast<HWND>(dialog);
  if (IsDlgButtonChecked(window, IDC_EXPORT) == BST_CHECKED) outputs = MakeDialogExports();
  outputs.push_back(std::make_unique<CheckOutput>());
  if (IsDlgButtonChecked(window, IDC_LEDGER) == BST_CHECKED) outputs.push_back(std::make_unique<LedgerOutput>());
  // Sent last: nothing written here waits on the network.
  if (IsDlgButtonChecked(window, IDC_SEND) == BST_CHECKED) outputs.push_back(MakeSendOutput(iniFile.iniPath));
  return outputs;
}

// "send" checked without a server and a token kept: they are asked for now;
// cancelled, the box goes back off.
void OnSendClicked(HWND dialog) {
  if (IsDlgButtonChecked(dialog, IDC_SEND) != BST_CHECKED || HasServerAndToken(iniFile.iniPath)) return;
  if (!AskForServerAndToken(dialog, iniFile.iniPath)) CheckDlgButton(dialog, IDC_SEND, BST_UNCHECKED);
}

void SaveSettings(HWND dialog) {
  Win32DialogControls controls(dialog);
  iniFile.SaveSettings(controls);
}

void OnRead(HWND dialog) {
  if (busyFlag) {
    // Button 1 reads "STOP": the running read sees the flags at its next
    // test and winds down (we are inside its message pumping right now).
    busyFlag = 0;
    cancelFlag = 1;
    return;
  }
  busyFlag = 1;
  SaveSettings(dialog);
  AcquireDump(dialog, DialogOutputs);
  busyFlag = 0;
}

void OnClose(HWND dialog) {
  // During a read this ends the dialog only once the read has wound down
  // and control is back in the dialog's own loop.
  busyFlag = 0;
  SaveSettings(dialog);
  EndDialog(dialog, 0);
}

// "BIN файлове" (*.bin), "Всички файлове" (*.*), as one double-NUL-ended list.
const char* DumpFilters() {
  static char filters[128];
  if (filters[0] == '\0') {
    const char* parts[] = {CP1251("BIN файлове"), "*.bin", CP1251("Всички файлове"), "*.*"};
    std::size_t at = 0;
    for (const char* part : parts) {
      std::size_t length = std::strlen(part) + 1;
      std::memcpy(filters + at, part, length);
      at += length;
    }
    filters[at] = '\0';
  }
  return filters;
}

// The file dialog changes the current directory only as the user navigates;
// a path typed in whole leaves it. The next read stores its dump in the
// current directory, which is to be the chosen file's folder either way.
void MakeFolderCurrent(const char* path, WORD fileOffset) {
  if (fileOffset == 0 || fileOffset >= sizeof inputBuffer) return;
  char folder[sizeof inputBuffer];
  std::memcpy(folder, path, fileOffset);  // the folder with its last backslash
  folder[fileOffset] = '\0';
  SetCurrentDirectoryA(folder);
}

}  // namespace

void FillPortList(HWND dialog, const uint8_t present[256], int found) {
  for (unsigned number = 1; number <= 4; ++number) AddPortName(dialog, number);
  if (found <= 0) return;
  for (unsigned number = 5; number <= 255; ++number)
    if (present[number]) AddPortName(dialog, number);
}

void BrowseForDump(HWND dialog) {
  inputBuffer[0] = '\0';
  std::memset(&openFileName, 0, sizeof openFileName);
  openFileName.lStructSize = sizeof openFileName;
  openFileName.hwndOwner = dialog;
  openFileName.hInstance = appInstance;
  openFileName.lpstrFilter = DumpFilters();
  openFileName.nFilterIndex = 1;
  openFileName.lpstrFile = inputBuffer;
  openFileName.nMaxFile = sizeof inputBuffer;
  openFileName.lpstrTitle = CP1251("Четене на файл ФМ");
  openFileName.lpstrDefExt = "bin";
  // A picker for an existing dump in a save dialog's form. Without
  // OFN_NOCHANGEDIR the chosen folder becomes the current directory, which
  // is where the next read stores its dump.
  openFileName.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_ENABLESIZING;
  // The dialog may wander the current directory while the user browses;
  // a cancelled Browse must leave it where it was.
  char before[MAX_PATH];
  DWORD beforeLength = GetCurrentDirectoryA(sizeof before, before);
  if (!GetSaveFileNameA(&openFileName)) {  // cancelled or failed: nothing changes
    if (beforeLength > 0 && beforeLength < sizeof before) SetCurrentDirectoryA(before);
    return;
  }
  MakeFolderCurrent(inputBuffer, openFileName.nFileOffset);

  SetDlgItemTextA(dialog, IDC_FILE_NAME, inputBuffer);
  RunReportFromDialog(dialog, inputBuffer, DialogOutputs);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return TRUE;  // the focus goes to the first tab stop
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_READ:
          OnRead(dialog);
          return TRUE;
        case IDC_CLOSE:
          OnClose(dialog);
          return TRUE;
        case IDC_SEND:
          if (HIWORD(wParam) == BN_CLICKED) OnSendClicked(dialog);
          return TRUE;
        case IDC_BROWSE:
          // Disabled during a read; a command that comes all the same must
          // not open a file dialog and run a report inside the transfer.
          if (!busyFlag) BrowseForDump(dialog);
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}
