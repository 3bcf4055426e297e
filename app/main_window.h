#pragma once
// The main window: registered and created minimised at start, it opens the
// main dialog as the first command its loop delivers and carries the menu
// (Exit, About) and the About box.
#include <windows.h>

// The program instance, kept when the main window is created; every dialog
// (and the file dialog) is opened with it.
extern HINSTANCE appInstance;

// Title and class name, both loaded from the string table.
constexpr int kMaxLoadString = 100;
extern char windowTitle[kMaxLoadString];
extern char windowClassName[kMaxLoadString];

ATOM RegisterMainWindowClass(HINSTANCE instance);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// WinMain's work, from loading the strings to the end of the message loop;
// gives the exit code.
int RunApplication(HINSTANCE instance);
