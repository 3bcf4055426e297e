#include "app/dialog_controls.h"

std::string Win32DialogControls::GetText(int id) {
  char text[4096];
  UINT length = GetDlgItemTextA(dialog_, id, text, sizeof text);
  return std::string(text, length);
}

void Win32DialogControls::SetText(int id, const char* text) { SetDlgItemTextA(dialog_, id, text); }

void Win32DialogControls::AddListEntry(int id, const char* text) {
  SendDlgItemMessageA(dialog_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

int Win32DialogControls::FindListEntry(int id, const char* text) {
  // From the start of the list (-1), whole text, ignoring case.
  LRESULT index = SendDlgItemMessageA(dialog_, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>(text));
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

int Win32DialogControls::GetSelectedIndex(int id) {
  LRESULT index = SendDlgItemMessageA(dialog_, id, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

void Win32DialogControls::SelectListEntry(int id, int index) {
  SendDlgItemMessageA(dialog_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool Win32DialogControls::IsChecked(int id) {
  return IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

void Win32DialogControls::SetChecked(int id, bool checked) {
  CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}
