// Drives a running taxoscope.exe from outside, the way a user would, for the
// end-to-end run under Wine (scripts/test-windows.sh):
//   drive_taxoscope PORT SCREENSHOT.bmp
// It waits for the main dialog, saves a screenshot of it, types PORT into
// the port box, presses Read, answers the completion message, checks that
// the dump's path shows in the file name box and presses Close. It prints
// what it sees; the exit status is 0 only when every step went as expected.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "res/resource.h"

namespace {

const DWORD kStepLimit = 60000;

std::string Text(HWND window) {
  char text[4096] = "";
  // WM_GETTEXT crosses processes; GetWindowText would not read a control.
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 5000, nullptr);
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

struct Search {
  const char* title;
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM data) {
  Search* search = reinterpret_cast<Search*>(data);
  if (!IsWindowVisible(window) || ClassOf(window) != "#32770") return TRUE;
  if (search->owner && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
  if (search->title && Text(window) != search->title) return TRUE;
  search->found = window;
  return FALSE;
}

// A visible dialog with that title (any, when null) owned by that window
// (any, when null); waits up to kStepLimit.
HWND WaitForDialog(const char* title, HWND owner) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < kStepLimit; Sleep(100)) {
    Search search{title, owner, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
  }
  return nullptr;
}

// Writes the dialog as it shows on the screen, frame included, as a 24-bit BMP.
bool SaveScreenshot(HWND window, const char* path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  int stride = (width * 3 + 3) & ~3;
  std::string pixels(static_cast<size_t>(stride) * height, '\0');
  GetDIBits(memory, bitmap, 0, height, &pixels[0], reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = std::fopen(path, "wb");
  if (!out) return false;
  bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info, sizeof info, 1, out) == 1 &&
            std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
  return std::fclose(out) == 0 && ok;
}

bool Fail(const char* what) {
  std::fprintf(stderr, "drive_taxoscope: %s\n", what);
  return false;
}

bool Drive(const char* port, const char* screenshot) {
  HWND dialog = WaitForDialog("Taxoscope", nullptr);
  if (!dialog) return Fail("the main dialog did not show");
  Sleep(500);  // let it paint
  if (!SaveScreenshot(dialog, screenshot)) return Fail("no screenshot");

  HWND portBox = GetDlgItem(dialog, IDC_PORT);
  SendMessageTimeoutA(portBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(port), SMTO_ABORTIFHUNG, 5000,
                      nullptr);
  PostMessageA(GetDlgItem(dialog, IDC_READ), BM_CLICK, 0, 0);

  // The run ends with a message box owned by the dialog.
  HWND box = WaitForDialog(nullptr, dialog);
  if (!box) return Fail("no message after Read");
  std::string message = Text(GetDlgItem(box, 0xFFFF));
  std::printf("message: %s\n", message.c_str());
  std::printf("caption: %s\n", Text(box).c_str());
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  if (message != "Parse successfull") return Fail("the read did not end with its report");

  for (DWORD start = GetTickCount(); IsWindowVisible(box) && GetTickCount() - start < 5000;) Sleep(50);
  std::printf("file: %s\n", Text(GetDlgItem(dialog, IDC_FILE_NAME)).c_str());
  std::printf("button: %s\n", Text(GetDlgItem(dialog, IDC_READ)).c_str());
  PostMessageA(GetDlgItem(dialog, IDC_CLOSE), BM_CLICK, 0, 0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: drive_taxoscope PORT SCREENSHOT.bmp\n");
    return 2;
  }
  bool ok = Drive(argv[1], argv[2]);
  std::fflush(stdout);
  return ok ? 0 : 1;
}
