#include "app/main_window.h"

#include <commctrl.h>

#include "app/main_dialog.h"
#include "res/resource.h"

HINSTANCE appInstance;
char windowTitle[kMaxLoadString];
char windowClassName[kMaxLoadString];

ATOM RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_TAXOSCOPE));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszMenuName = MAKEINTRESOURCEA(IDC_TAXOSCOPE);
  windowClass.lpszClassName = windowClassName;
  windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_TAXOSCOPE));
  return RegisterClassExA(&windowClass);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDM_ABOUT:
          DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, AboutDialogProc, 0);
          return 0;
        case IDM_EXIT:
          DestroyWindow(window);
          return 0;
        case IDM_OPEN_MAIN:
          // A negative result: the dialog was never created. The minimised
          // window stays, and File, Exit still ends the program.
          if (DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_MAIN), window, MainDialogProc, 0) >= 0)
            DestroyWindow(window);
          return 0;
      }
      return DefWindowProcA(window, message, wParam, lParam);
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);  // nothing to draw: the window stays minimised
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

int RunApplication(HINSTANCE instance) {
  InitCommonControls();  // the progress bar's window class
  LoadStringA(instance, IDS_APP_TITLE, windowTitle, kMaxLoadString);
  LoadStringA(instance, IDS_WINDOW_CLASS, windowClassName, kMaxLoadString);
  RegisterMainWindowClass(instance);

  appInstance = instance;
  HWND window = CreateWindowExA(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, instance,
                                nullptr);
  if (!window) return 0;
  ShowWindow(window, SW_SHOWMINIMIZED);
  UpdateWindow(window);

  PostMessageA(window, WM_COMMAND, IDM_OPEN_MAIN, 0);
  HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDC_TAXOSCOPE));

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (!TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}
