#include "app/win32_ui.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include "app/dialog_controls.h"
#include "link/run_state.h"

namespace {

HWND Hwnd(UiWindow window) { return static_cast<HWND>(window); }

}  // namespace

void Win32Ui::ShowMessage(UiWindow owner, const char* text, const char* caption,
                          MessageIcon icon) {
  UINT type = MB_OK;
  if (icon == MessageIconError) type |= MB_ICONERROR;
  if (icon == MessageIconInformation) type |= MB_ICONINFORMATION;
  MessageBoxA(Hwnd(owner), text, caption, type);
}

void Win32Ui::OpenFile(UiWindow owner, const char* path) {
  ShellExecuteA(Hwnd(owner), "open", path, nullptr, nullptr, SW_SHOWNORMAL);
}

void Win32Ui::DispatchOneMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return;
  if (msg.message == WM_QUIT) {
    // The program is to end (its window was closed): the quit is the main
    // loop's to see, so it goes back on the queue, as every modal loop does
    // with it; and the read winds down as after the dialog's Close.
    PostQuitMessage(static_cast<int>(msg.wParam));
    busyFlag = 0;
    return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

std::string Win32Ui::GetControlText(UiWindow dialog, int id) {
  return Win32DialogControls(Hwnd(dialog)).GetText(id);
}

void Win32Ui::SetControlText(UiWindow dialog, int id, const char* text) {
  SetDlgItemTextA(Hwnd(dialog), id, text);
}

int Win32Ui::GetSelectedIndex(UiWindow dialog, int id) {
  return Win32DialogControls(Hwnd(dialog)).GetSelectedIndex(id);
}

bool Win32Ui::IsChecked(UiWindow dialog, int id) {
  return IsDlgButtonChecked(Hwnd(dialog), id) == BST_CHECKED;
}

void Win32Ui::EnableControl(UiWindow dialog, int id, bool enable) {
  HWND control = GetDlgItem(Hwnd(dialog), id);
  EnableWindow(control, enable);
  UpdateWindow(control);  // the run keeps the thread busy: repaint now
}

void Win32Ui::ShowControl(UiWindow dialog, int id, bool show) {
  ShowWindow(GetDlgItem(Hwnd(dialog), id), show ? SW_SHOW : SW_HIDE);
}

void Win32Ui::SetProgress(UiWindow dialog, int id, int position) {
  SendDlgItemMessageA(Hwnd(dialog), id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

UiWindow Win32Ui::GetFocusWindow() { return GetFocus(); }

void Win32Ui::SetFocusWindow(UiWindow window) { SetFocus(Hwnd(window)); }
