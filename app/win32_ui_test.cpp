// The Win32 UI services on real windows: message boxes as the user sees them
// (owner, caption, icon), one message per dispatch, and the dialog controls
// the acquisition run drives.
#include "app/win32_ui.h"

#include <windows.h>

#include <commctrl.h>

#include <string>

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "link/run_state.h"
#include "res/resource.h"

namespace {

INT_PTR CALLBACK InertDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// A message box's text is control 0xFFFF; its icon, if any, is a static
// icon control showing an icon.
const int kMessageText = 0xFFFF;

BOOL CALLBACK FindShownIcon(HWND child, LPARAM found) {
  if (WindowClass(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
      IsWindowVisible(child)) {
    HICON icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    if (icon) *reinterpret_cast<HICON*>(found) = icon;
  }
  return TRUE;
}

// The system's shared icons, which a message box shows.
HICON SystemIcon(LPCSTR id) { return LoadIconA(nullptr, id); }

struct SeenBox {
  bool seen = false;
  std::string caption;
  std::string text;
  HWND owner = nullptr;
  HICON icon = nullptr;
};

ModalScript::Step Capture(SeenBox* box) {
  return [box](HWND window) {
    if (WindowClass(window) != "#32770" || ControlText(window, kMessageText).empty()) return false;
    box->seen = true;
    box->caption = WindowText(window);
    box->text = ControlText(window, kMessageText);
    box->owner = GetWindow(window, GW_OWNER);
    box->icon = nullptr;
    EnumChildWindows(window, FindShownIcon, reinterpret_cast<LPARAM>(&box->icon));
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return true;
  };
}

class Win32UiTest : public testing::Test {
 protected:
  Win32UiTest()
      : dialog(CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                  InertDialogProc, 0)) {
    ShowWindow(dialog, SW_SHOW);
  }
  ~Win32UiTest() override { DestroyWindow(dialog); }

  // Shows the box and gives what the user saw of it.
  SeenBox Show(UiWindow owner, const char* text, const char* caption, MessageIcon icon) {
    SeenBox box;
    ModalScript script;
    script.Then(Capture(&box));
    ui.ShowMessage(owner, text, caption, icon);
    return box;
  }

  Win32Ui ui;
  HWND dialog;
};

TEST_F(Win32UiTest, RunMessagesAreOwnedByTheDialogWithTheErrorIcon) {
  ASSERT_TRUE(dialog);
  SeenBox box = Show(dialog, "No communication.", nullptr, MessageIconError);
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.text, "No communication.");
  EXPECT_EQ(box.caption, "Error");  // the platform's default caption
  EXPECT_EQ(box.owner, dialog);
  EXPECT_EQ(box.icon, SystemIcon(IDI_ERROR));
}

TEST_F(Win32UiTest, PlainAndInformationMessages) {
  SeenBox plain = Show(dialog, "Invalid input value \"from\"", nullptr, MessageIconNone);
  ASSERT_TRUE(plain.seen);
  EXPECT_EQ(plain.icon, nullptr);
  // The success box names the program and carries the information icon.
  SeenBox success = Show(dialog, "Parse successfull", "Taxoscope", MessageIconInformation);
  ASSERT_TRUE(success.seen);
  EXPECT_EQ(success.text, "Parse successfull");
  EXPECT_EQ(success.caption, "Taxoscope");
  EXPECT_EQ(success.icon, SystemIcon(IDI_INFORMATION));
}

TEST_F(Win32UiTest, FileErrorsHaveTheirCaptionAndNoOwner) {
  SeenBox box = Show(nullptr, "Access denied.", "Error", MessageIconError);
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.icon, SystemIcon(IDI_ERROR));
  // Without an owner the dialog stays usable behind the box.
  EXPECT_TRUE(IsWindowEnabled(dialog));
}

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) ++*reinterpret_cast<int*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Win32UiTest, DispatchesAtMostOneMessagePerCall) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = CountingProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "TaxoscopeCounting";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA("TaxoscopeCounting", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(window);
  int received = 0;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));
  MSG stale;
  while (PeekMessageA(&stale, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&stale);

  PostMessageA(window, WM_APP, 0, 0);
  PostMessageA(window, WM_APP, 0, 0);
  ui.DispatchOneMessage();
  EXPECT_EQ(received, 1);
  ui.DispatchOneMessage();
  EXPECT_EQ(received, 2);
  ui.DispatchOneMessage();  // nothing waiting: returns at once
  EXPECT_EQ(received, 2);
  DestroyWindow(window);
}

// A quit taken off the queue inside a read goes back on it, for the main
// loop to end the program with its code; the read winds down meanwhile.
TEST_F(Win32UiTest, AQuitDuringAReadIsPostedAgainAndEndsTheRead) {
  MSG stale;
  while (PeekMessageA(&stale, nullptr, 0, 0, PM_REMOVE)) {
    if (stale.message != WM_QUIT) DispatchMessageA(&stale);
  }
  busyFlag = 1;
  PostQuitMessage(7);
  ui.DispatchOneMessage();
  EXPECT_EQ(busyFlag, 0);
  MSG quit = {};
  ASSERT_TRUE(PeekMessageA(&quit, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(quit.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(quit.wParam, 7u);
  EXPECT_FALSE(PeekMessageA(&quit, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Win32UiTest, DrivesTheRunControls) {
  ui.EnableControl(dialog, IDC_PORT, false);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_PORT)));
  ui.EnableControl(dialog, IDC_PORT, true);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_PORT)));

  ui.SetControlText(dialog, IDC_READ, "STOP");
  EXPECT_EQ(ui.GetControlText(dialog, IDC_READ), "STOP");

  ui.ShowControl(dialog, IDC_PROGRESS, true);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IDC_PROGRESS)));
  ui.SetProgress(dialog, IDC_PROGRESS, 42);
  EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0), 42);
  ui.ShowControl(dialog, IDC_PROGRESS, false);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_PROGRESS)));

  EXPECT_EQ(ui.GetSelectedIndex(dialog, IDC_SPEED), -1);
  SendDlgItemMessageA(dialog, IDC_SPEED, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("9600"));
  SendDlgItemMessageA(dialog, IDC_SPEED, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("19200"));
  SendDlgItemMessageA(dialog, IDC_SPEED, CB_SETCURSEL, 1, 0);
  EXPECT_EQ(ui.GetSelectedIndex(dialog, IDC_SPEED), 1);

  CheckDlgButton(dialog, IDC_SHOW_RESULT, BST_CHECKED);
  EXPECT_TRUE(ui.IsChecked(dialog, IDC_SHOW_RESULT));
  EXPECT_FALSE(ui.IsChecked(dialog, IDC_BY_DATE));

  std::string longName(5000, 'x');
  ui.SetControlText(dialog, IDC_FILE_NAME, longName.c_str());
  EXPECT_EQ(ui.GetControlText(dialog, IDC_FILE_NAME), std::string(4095, 'x'));

  HWND from = GetDlgItem(dialog, IDC_FROM);
  ui.SetFocusWindow(from);
  EXPECT_EQ(ui.GetFocusWindow(), from);
}

}  // namespace
