// Start-up as WinMain runs it: the minimised main window, the main dialog
// opened at once, exit code 0 when it closes; the menu, the accelerators and
// the About box when the dialog is not there.
#include "app/main_window.h"

#include <windows.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "app/main_dialog.h"
#include "res/resource.h"
#include "testsupport/temp_dir.h"

namespace {

bool IsMainDialog(HWND window) { return IsDialogTitled(window, "Taxoscope"); }
bool IsAboutBox(HWND window) { return IsDialogTitled(window, "About Taxoscope"); }
bool IsMainWindow(HWND window) { return WindowClass(window) == "Taxoscope"; }

class StartUpTest : public testing::Test {
 protected:
  StartUpTest() {
    std::strcpy(savedIniPath_, iniFile.iniPath);
    std::strcpy(iniFile.iniPath, dir.File("taxoscope.ini").c_str());
  }
  ~StartUpTest() override { std::strcpy(iniFile.iniPath, savedIniPath_); }

  TempDir dir;
  RecordingWin32Ui ui;

 private:
  char savedIniPath_[kIniPathSize];
};

TEST_F(StartUpTest, MainDialogOpensAtOnceAndClosingItEndsTheProgram) {
  HWND mainWindow = nullptr;
  ModalScript script;
  script.Then([&](HWND dialog) {
    if (!IsMainDialog(dialog)) return false;
    mainWindow = GetWindow(dialog, GW_OWNER);
    EXPECT_TRUE(IsMainWindow(mainWindow));
    EXPECT_TRUE(IsIconic(mainWindow));
    EXPECT_EQ(WindowText(mainWindow), "Taxoscope");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(mainWindow, GWL_STYLE)) & WS_OVERLAPPEDWINDOW,
              static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
    EXPECT_TRUE(GetMenu(mainWindow)) << "the class menu";
    // The dialog disables its owner: the menu and accelerators are out of reach.
    EXPECT_FALSE(IsWindowEnabled(mainWindow));
    EXPECT_EQ(appInstance, GetModuleHandleA(nullptr));
    Click(dialog, IDC_CLOSE);
    return true;
  });
  EXPECT_EQ(RunApplication(GetModuleHandleA(nullptr)), 0);
  EXPECT_FALSE(IsWindow(mainWindow));
  EXPECT_TRUE(script.Finished());
}

// Makes the main dialog fail to be created, as a broken template would.
HHOOK blockHook;
LRESULT CALLBACK BlockMainDialog(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
    if (create->lpszName && !IS_INTRESOURCE(create->lpszName) &&
        std::strcmp(create->lpszName, "Taxoscope") == 0 && IS_INTRESOURCE(create->lpszClass))
      return 1;  // the dialog class is an atom; the main window's class is a name
  }
  return CallNextHookEx(blockHook, code, wParam, lParam);
}

// Alt held down, as far as this thread's keyboard state tells.
void HoldAlt(bool down) {
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_MENU] = down ? 0x80 : 0;
  keys[VK_LMENU] = keys[VK_MENU];
  SetKeyboardState(keys);
}

void PostAltCharacter(HWND window, char character) {
  // What the keyboard gives for Alt held with a character key.
  HoldAlt(true);
  PostMessageA(window, WM_SYSCHAR, static_cast<unsigned char>(character), 1 << 29);
}

TEST_F(StartUpTest, WithoutTheDialogTheMenuAndAcceleratorsShowTheAboutBox) {
  blockHook = SetWindowsHookExA(WH_CBT, BlockMainDialog, nullptr, GetCurrentThreadId());
  ASSERT_TRUE(blockHook);
  HWND mainWindow = nullptr;
  int aboutShown = 0;
  auto aboutBox = [&](void (*dismiss)(HWND)) {
    return [&, dismiss](HWND about) {
      if (!IsAboutBox(about)) return false;
      HoldAlt(false);
      ++aboutShown;
      EXPECT_EQ(GetWindow(about, GW_OWNER), mainWindow);
      EXPECT_EQ(ControlText(about, IDOK), "OK");
      dismiss(about);
      return true;
    };
  };
  ModalScript script;
  script
      .Then([&](HWND window) {
        if (!IsMainWindow(window)) return false;
        mainWindow = window;  // still there: the dialog could not be made
        EXPECT_TRUE(IsWindowEnabled(window));
        EXPECT_TRUE(IsIconic(window));
        // The system translates no menu accelerator for a minimised window;
        // the user brings it up first.
        ShowWindow(window, SW_RESTORE);
        PostAltCharacter(window, '?');
        return true;
      })
      .Then(aboutBox([](HWND about) { Click(about, IDOK); }))
      .Then([&](HWND window) {
        if (window != mainWindow || !IsWindowEnabled(window)) return false;
        PostAltCharacter(window, '/');
        return true;
      })
      .Then(aboutBox([](HWND) { PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0); }))
      .Then([&](HWND window) {
        if (window != mainWindow || !IsWindowEnabled(window)) return false;
        PostMessageA(window, WM_COMMAND, IDM_ABOUT, 0);  // Help, About ...
        return true;
      })
      .Then(aboutBox([](HWND about) { PostMessageA(about, WM_CLOSE, 0, 0); }))
      .Then([&](HWND window) {
        if (window != mainWindow || !IsWindowEnabled(window)) return false;
        // Without Alt the characters are no accelerators.
        PostMessageA(window, WM_CHAR, '?', 0);
        PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);  // File, Exit
        return true;
      });
  EXPECT_EQ(RunApplication(GetModuleHandleA(nullptr)), 0);
  UnhookWindowsHookEx(blockHook);
  EXPECT_EQ(aboutShown, 3);
  EXPECT_FALSE(IsWindow(mainWindow));
}

}  // namespace
