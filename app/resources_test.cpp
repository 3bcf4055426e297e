// The resources as the program gets them from its own executable: the main
// dialog's controls with their ids, classes, texts, styles, positions and tab
// order, the About box, the menu, the accelerators, the strings, the icon,
// the manifest and the version information.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "res/resource.h"
#include "taxoscope_version.h"

namespace {

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

// A dialog made from the resource with a procedure that does nothing, so
// only the template speaks.
class TemplateDialog {
 public:
  explicit TemplateDialog(int id)
      : hwnd(CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr,
                                PlainDialogProc, 0)) {}
  ~TemplateDialog() {
    if (hwnd) DestroyWindow(hwnd);
  }
  HWND hwnd;
};

std::string TextOf(HWND window) {
  char text[256] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

RECT Units(int x, int y, int width, int height) { return RECT{x, y, width, height}; }

// The size in pixels of a rectangle in dialog units.
SIZE PixelSize(HWND dialog, int width, int height) {
  RECT r{0, 0, width, height};
  MapDialogRect(dialog, &r);
  return SIZE{r.right, r.bottom};
}

// One control of an extended dialog template (DLGITEMTEMPLATEEX), as the
// resource compiler wrote it. Created windows adjust their own styles (an
// edit field trades WS_BORDER for a 3-D edge, the dialog manager keeps one
// default push button), so the template is where the styles are checked.
struct Control {
  int id;
  std::string className;
  std::string text;
  DWORD style;
  RECT units;  // x, y, width, height
};

std::string Text(const RECT& r) {
  return std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) +
         ", " + std::to_string(r.bottom);
}

class TemplateReader {
 public:
  explicit TemplateReader(const BYTE* at) : at_(at) {}
  WORD Word() { WORD v; std::memcpy(&v, at_, 2); at_ += 2; return v; }
  DWORD Dword() { DWORD v; std::memcpy(&v, at_, 4); at_ += 4; return v; }
  short Short() { return static_cast<short>(Word()); }
  // A string or an ordinal (0xFFFF and a number).
  std::string StringOrOrdinal(WORD* ordinal = nullptr) {
    WORD first = Word();
    if (first == 0xFFFF) {
      WORD value = Word();
      if (ordinal) *ordinal = value;
      return "#" + std::to_string(value);
    }
    std::string text;
    for (WORD c = first; c != 0; c = Word()) text += static_cast<char>(c);  // the texts are ASCII
    return text;
  }
  void AlignToDword(const BYTE* base) {
    while ((at_ - base) % 4) ++at_;
  }
  void Skip(size_t bytes) { at_ += bytes; }

 private:
  const BYTE* at_;
};

struct DialogTemplate {
  DWORD style = 0;
  RECT units{};
  std::string caption;
  WORD pointSize = 0;
  std::string typeface;
  std::vector<Control> controls;
};

DialogTemplate ReadTemplate(int id) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
  const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  DialogTemplate result;
  if (!base) return result;
  TemplateReader in(base);
  EXPECT_EQ(in.Word(), 1);       // dlgVer
  EXPECT_EQ(in.Word(), 0xFFFF);  // an extended template
  in.Dword();                    // helpID
  in.Dword();                    // exStyle
  result.style = in.Dword();
  WORD count = in.Word();
  result.units.left = in.Short();
  result.units.top = in.Short();
  result.units.right = in.Short();
  result.units.bottom = in.Short();
  in.StringOrOrdinal();  // menu
  in.StringOrOrdinal();  // class
  result.caption = in.StringOrOrdinal();
  if (result.style & DS_SETFONT) {
    result.pointSize = in.Word();
    in.Word();  // weight
    in.Skip(2);  // italic, charset
    result.typeface = in.StringOrOrdinal();
  }
  static const char* const kClasses[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
  for (WORD i = 0; i < count; ++i) {
    in.AlignToDword(base);
    Control control;
    in.Dword();  // helpID
    in.Dword();  // exStyle
    control.style = in.Dword();
    control.units.left = in.Short();
    control.units.top = in.Short();
    control.units.right = in.Short();
    control.units.bottom = in.Short();
    control.id = static_cast<int>(in.Dword());
    WORD ordinal = 0;
    control.className = in.StringOrOrdinal(&ordinal);
    if (ordinal >= 0x80 && ordinal <= 0x85) control.className = kClasses[ordinal - 0x80];
    control.text = in.StringOrOrdinal();
    in.Skip(in.Word());  // creation data
    result.controls.push_back(control);
  }
  return result;
}

void ExpectControls(const DialogTemplate& dialog, const std::vector<Control>& expected) {
  ASSERT_EQ(dialog.controls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Control& want = expected[i];
    const Control& got = dialog.controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + " \"" + want.text + "\" (" +
                 std::to_string(want.id) + ")");
    EXPECT_EQ(static_cast<int>(static_cast<short>(got.id)), want.id);
    EXPECT_STRCASEEQ(got.className.c_str(), want.className.c_str());  // class names ignore case
    EXPECT_EQ(got.text, want.text);
    // Every control is a visible child unless told otherwise.
    EXPECT_EQ(got.style, want.style | WS_CHILD) << std::hex << "style 0x" << got.style;
    EXPECT_EQ(Text(got.units), Text(want.units));
  }
}

TEST(MainDialogTemplate, FrameIsAModalPopupWithoutSystemMenu) {
  DialogTemplate resource = ReadTemplate(IDD_MAIN);
  EXPECT_EQ(Text(resource.units), Text(Units(0, 0, 323, 138)));
  EXPECT_EQ(resource.caption, "Taxoscope");
  EXPECT_EQ(resource.pointSize, 8);
  EXPECT_EQ(resource.typeface, "MS Shell Dlg");
  TemplateDialog dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.hwnd);
  EXPECT_EQ(TextOf(dialog.hwnd), "Taxoscope");
  LONG style = GetWindowLongA(dialog.hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_FALSE(style & WS_SYSMENU) << "no close box: Close and Esc end the dialog";
  EXPECT_TRUE(style & DS_MODALFRAME);
  EXPECT_TRUE(style & DS_CENTER);
  RECT client;
  GetClientRect(dialog.hwnd, &client);
  SIZE size = PixelSize(dialog.hwnd, 323, 138);
  EXPECT_EQ(client.right, size.cx);
  EXPECT_EQ(client.bottom, size.cy);
}

const DWORD kButtonAutoRadio = BS_AUTORADIOBUTTON | WS_VISIBLE;

TEST(MainDialogTemplate, ControlsInTabOrder) {
  const DWORD label = SS_LEFT | WS_VISIBLE | WS_GROUP;
  const DWORD edit = ES_LEFT | ES_AUTOHSCROLL | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
  ExpectControls(ReadTemplate(IDD_MAIN), {
      {IDC_PROGRESS_LABEL, "Static", "Progress indicator", SS_LEFT | WS_GROUP, Units(9, 104, 100, 8)},
      {IDC_PROGRESS, PROGRESS_CLASSA, "", WS_BORDER, Units(8, 116, 304, 14)},
      {IDC_STATIC, "Static", "Port", label, Units(9, 3, 50, 8)},
      // The port box scrolls its text, so an address longer than the box
      // (tcp://192.168.1.50:4001) can be typed whole.
      {IDC_PORT, "ComboBox", "", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | WS_GROUP,
       Units(8, 15, 50, 30)},
      {IDC_STATIC, "Static", "Speed", label, Units(63, 3, 50, 8)},
      {IDC_SPEED, "ComboBox", "", CBS_DROPDOWNLIST | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP,
       Units(62, 15, 50, 30)},
      {IDC_SHOW_RESULT, "Button", "show result", BS_AUTOCHECKBOX | WS_VISIBLE | WS_TABSTOP,
       Units(115, 16, 53, 10)},
      {IDC_READ, "Button", "Read", BS_DEFPUSHBUTTON | WS_VISIBLE | WS_TABSTOP | WS_GROUP,
       Units(198, 14, 60, 14)},
      {IDC_FILE_NAME, "Edit", "", edit, Units(8, 32, 185, 14)},
      {IDC_BROWSE, "Button", "Browse", BS_DEFPUSHBUTTON | WS_VISIBLE | WS_TABSTOP | WS_GROUP,
       Units(198, 32, 60, 14)},
      {IDC_CLOSE, "Button", "Close", BS_PUSHBUTTON | WS_VISIBLE | WS_TABSTOP, Units(261, 32, 50, 14)},
      {IDC_STATIC, "Button", "Report type", BS_GROUPBOX | WS_VISIBLE, Units(8, 52, 76, 49)},
      {IDC_ALL_RECORDS, "Button", "All records", kButtonAutoRadio, Units(11, 63, 64, 10)},
      {IDC_BY_DATE, "Button", "By date", kButtonAutoRadio, Units(11, 74, 64, 10)},
      {IDC_BY_NUMBER, "Button", "By rep no.", kButtonAutoRadio, Units(11, 87, 70, 10)},
      {IDC_FROM, "Edit", "", edit, Units(111, 56, 68, 14)},
      {IDC_TO, "Edit", "", edit, Units(111, 72, 68, 14)},
      {IDC_EXPORT, "Button", "export", BS_AUTOCHECKBOX | WS_VISIBLE | WS_TABSTOP | WS_GROUP,
       Units(87, 89, 50, 10)},
      {IDC_LEDGER, "Button", "ledger", BS_AUTOCHECKBOX | WS_VISIBLE | WS_TABSTOP, Units(140, 89, 50, 10)},
      {IDC_SEND, "Button", "send", BS_AUTOCHECKBOX | WS_VISIBLE | WS_TABSTOP, Units(193, 89, 40, 10)},
      {IDC_STATIC, "Static", "From:", label, Units(87, 60, 19, 8)},
      {IDC_STATIC, "Static", "To:", label, Units(87, 76, 14, 8)},
      {IDC_STATIC, "Static", "Date format: dd/mm/yyyy", label, Units(181, 59, 100, 8)},
  });
}

BOOL CALLBACK CollectChild(HWND child, LPARAM out) {
  reinterpret_cast<std::vector<HWND>*>(out)->push_back(child);
  return TRUE;
}

// The dialog's own controls (not the edit field inside a combo box).
std::vector<HWND> Children(HWND dialog) {
  std::vector<HWND> children;
  EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
  children.erase(std::remove_if(children.begin(), children.end(),
                                [dialog](HWND child) { return GetParent(child) != dialog; }),
                 children.end());
  return children;
}

RECT ClientRectIn(HWND dialog, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Labels wrap or cut what does not fit: every label's text must fit its
// control's width in the dialog's own font.
TEST(MainDialogTemplate, EveryLabelShowsItsWholeText) {
  TemplateDialog dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.hwnd);
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog.hwnd, WM_GETFONT, 0, 0));
  ASSERT_TRUE(font);
  int labels = 0;
  for (HWND child : Children(dialog.hwnd)) {
    if (WindowClass(child) != "Static") continue;
    std::string text = TextOf(child);
    HDC dc = GetDC(child);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(child, dc);
    RECT client;
    GetClientRect(child, &client);
    EXPECT_LE(extent.cx, client.right) << "\"" << text << "\" needs " << extent.cx << " pixels";
    ++labels;
  }
  EXPECT_EQ(labels, 6);
}

bool IsGroupBox(HWND control) {
  return WindowClass(control) == "Button" &&
         (GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// Visible controls do not overlap; a group box holds the controls inside it
// whole. All lie within the dialog.
TEST(MainDialogTemplate, VisibleControlsDoNotOverlap) {
  TemplateDialog dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.hwnd);
  RECT client;
  GetClientRect(dialog.hwnd, &client);
  std::vector<HWND> shown;
  for (HWND child : Children(dialog.hwnd))
    if (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) shown.push_back(child);
  for (size_t i = 0; i < shown.size(); ++i) {
    RECT a = ClientRectIn(dialog.hwnd, shown[i]);
    RECT inside;
    EXPECT_TRUE(IntersectRect(&inside, &a, &client) && EqualRect(&inside, &a)) << TextOf(shown[i]);
    for (size_t j = i + 1; j < shown.size(); ++j) {
      RECT b = ClientRectIn(dialog.hwnd, shown[j]);
      RECT common;
      if (!IntersectRect(&common, &a, &b)) continue;
      bool contained = (IsGroupBox(shown[i]) && EqualRect(&common, &b)) ||
                       (IsGroupBox(shown[j]) && EqualRect(&common, &a));
      EXPECT_TRUE(contained) << "control " << GetDlgCtrlID(shown[i]) << " \"" << TextOf(shown[i])
                             << "\" overlaps control " << GetDlgCtrlID(shown[j]) << " \""
                             << TextOf(shown[j]) << "\"";
    }
  }
}

TEST(MainDialogTemplate, RadioButtonsFormOneGroup) {
  TemplateDialog dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.hwnd);
  CheckDlgButton(dialog.hwnd, IDC_BY_DATE, BST_CHECKED);
  // An automatic radio button unchecks the others of its group when clicked.
  SendDlgItemMessageA(dialog.hwnd, IDC_BY_NUMBER, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(dialog.hwnd, IDC_BY_NUMBER), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog.hwnd, IDC_BY_DATE), BST_UNCHECKED);
  SendDlgItemMessageA(dialog.hwnd, IDC_ALL_RECORDS, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(dialog.hwnd, IDC_ALL_RECORDS), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog.hwnd, IDC_BY_NUMBER), BST_UNCHECKED);
  // The progress bar starts with the default range.
  PBRANGE range;
  SendDlgItemMessageA(dialog.hwnd, IDC_PROGRESS, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 100);
}

TEST(AboutBoxTemplate, CaptionAndControls) {
  DialogTemplate resource = ReadTemplate(IDD_ABOUTBOX);
  EXPECT_EQ(Text(resource.units), Text(Units(0, 0, 170, 62)));
  EXPECT_EQ(resource.caption, "About Taxoscope");
  EXPECT_EQ(resource.pointSize, 8);
  EXPECT_EQ(resource.typeface, "MS Shell Dlg");
  TemplateDialog dialog(IDD_ABOUTBOX);
  ASSERT_TRUE(dialog.hwnd);
  EXPECT_EQ(TextOf(dialog.hwnd), "About Taxoscope");
  LONG style = GetWindowLongA(dialog.hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & DS_MODALFRAME);
  ExpectControls(resource, {
      {IDC_STATIC, "Static", "", SS_ICON | WS_VISIBLE, Units(14, 14, 21, 20)},
      {IDC_STATIC, "Static", "Taxoscope, Version 1.0", SS_LEFT | SS_NOPREFIX | WS_VISIBLE | WS_GROUP,
       Units(42, 14, 114, 8)},
      {IDOK, "Button", "OK", BS_DEFPUSHBUTTON | WS_VISIBLE | WS_TABSTOP | WS_GROUP,
       Units(113, 41, 50, 14)},
  });
}

// The token is typed into a password field: it never shows on the screen.
TEST(SendServerTemplate, CaptionAndControls) {
  DialogTemplate resource = ReadTemplate(IDD_SEND_SERVER);
  EXPECT_EQ(resource.caption, "Send to the server");
  const DWORD label = SS_LEFT | WS_VISIBLE | WS_GROUP;
  const DWORD edit = ES_LEFT | ES_AUTOHSCROLL | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
  ExpectControls(resource, {
      {IDC_STATIC, "Static", "Server (https://host:port):", label, Units(7, 7, 236, 8)},
      {IDC_SEND_URL, "Edit", "", edit, Units(7, 17, 236, 14)},
      {IDC_STATIC, "Static", "Token:", label, Units(7, 36, 236, 8)},
      {IDC_SEND_TOKEN, "Edit", "", edit | ES_PASSWORD, Units(7, 46, 236, 14)},
      {IDOK, "Button", "OK", BS_DEFPUSHBUTTON | WS_VISIBLE | WS_TABSTOP | WS_GROUP, Units(139, 67, 50, 14)},
      {IDCANCEL, "Button", "Cancel", BS_PUSHBUTTON | WS_VISIBLE | WS_TABSTOP, Units(193, 67, 50, 14)},
  });
}

std::string MenuText(HMENU menu, UINT item, UINT flags) {
  char text[64] = "";
  GetMenuStringA(menu, item, text, sizeof text, flags);
  return text;
}

TEST(MainWindowResources, MenuWithExitAndAbout) {
  HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDC_TAXOSCOPE));
  ASSERT_TRUE(menu);
  ASSERT_EQ(GetMenuItemCount(menu), 2);
  EXPECT_EQ(MenuText(menu, 0, MF_BYPOSITION), "&File");
  EXPECT_EQ(MenuText(menu, 1, MF_BYPOSITION), "&Help");
  HMENU file = GetSubMenu(menu, 0);
  HMENU help = GetSubMenu(menu, 1);
  ASSERT_EQ(GetMenuItemCount(file), 1);
  ASSERT_EQ(GetMenuItemCount(help), 1);
  EXPECT_EQ(GetMenuItemID(file, 0), static_cast<UINT>(IDM_EXIT));
  EXPECT_EQ(MenuText(file, 0, MF_BYPOSITION), "E&xit");
  EXPECT_EQ(GetMenuItemID(help, 0), static_cast<UINT>(IDM_ABOUT));
  EXPECT_EQ(MenuText(help, 0, MF_BYPOSITION), "&About ...");
  DestroyMenu(menu);
}

TEST(MainWindowResources, AcceleratorsAreAltCharacters) {
  HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDC_TAXOSCOPE));
  ASSERT_TRUE(table);
  ACCEL entries[8];
  int count = CopyAcceleratorTableA(table, entries, 8);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(entries[0].key, '?');
  EXPECT_EQ(entries[1].key, '/');
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(entries[i].cmd, IDM_ABOUT);
    // Characters, not virtual keys: FVIRTKEY is clear.
    EXPECT_EQ(entries[i].fVirt & (FVIRTKEY | FALT | FSHIFT | FCONTROL), FALT);
  }
  DestroyAcceleratorTable(table);
}

TEST(MainWindowResources, TitleAndClassName) {
  char text[100];
  ASSERT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_APP_TITLE, text, sizeof text), 9);
  EXPECT_STREQ(text, "Taxoscope");
  ASSERT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_WINDOW_CLASS, text, sizeof text), 9);
  EXPECT_STREQ(text, "Taxoscope");
}

#pragma pack(push, 2)
struct IconDirEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
struct IconDir {
  WORD reserved, type, count;
  IconDirEntry entries[1];
};
#pragma pack(pop)

TEST(MainWindowResources, IconHasThree16x16Images) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDI_TAXOSCOPE), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_TRUE(found);
  const IconDir* dir = static_cast<const IconDir*>(LockResource(LoadResource(module, found)));
  ASSERT_EQ(dir->count, 3);
  std::vector<int> depths;
  for (int i = 0; i < dir->count; ++i) {
    EXPECT_EQ(dir->entries[i].width, 16);
    EXPECT_EQ(dir->entries[i].height, 16);
    depths.push_back(dir->entries[i].bitCount);
  }
  EXPECT_EQ(depths, (std::vector<int>{4, 8, 32}));
  EXPECT_TRUE(LoadImageA(module, MAKEINTRESOURCEA(IDI_TAXOSCOPE), IMAGE_ICON, 16, 16, 0));
}

TEST(MainWindowResources, ManifestBindsCommonControls6) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_TRUE(found);
  std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, found))),
                       SizeofResource(module, found));
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
#ifdef _WIN64
  EXPECT_NE(manifest.find("processorArchitecture=\"amd64\" publicKeyToken"), std::string::npos);
#else
  EXPECT_NE(manifest.find("processorArchitecture=\"x86\" publicKeyToken"), std::string::npos);
#endif
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
            std::string::npos);
}

// What Explorer's Properties show, read as Explorer reads it: from the file.
TEST(MainWindowResources, VersionInformationNamesTheRelease) {
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  DWORD size = GetFileVersionInfoSizeA(path, nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  const DWORD high = MAKELONG(TAXOSCOPE_VERSION_MINOR, TAXOSCOPE_VERSION_MAJOR);
  const DWORD low = MAKELONG(0, TAXOSCOPE_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  auto text = [&](const std::string& name) {
    char* value = nullptr;
    UINT chars = 0;
    std::string key = "\\StringFileInfo\\040904B0\\" + name;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars) || !value)
      return std::string("(none)");
    return std::string(value);
  };
  EXPECT_EQ(text("ProductName"), "Taxoscope");
  EXPECT_EQ(text("FileVersion"), TAXOSCOPE_VERSION);
  EXPECT_EQ(text("ProductVersion"), TAXOSCOPE_VERSION);
  EXPECT_EQ(text("FileDescription"), "Taxoscope fiscal memory reader");
  EXPECT_EQ(text("OriginalFilename"), "taxoscope.exe");
  EXPECT_EQ(text("LegalCopyright").rfind("Copyright (c) ", 0), 0u) << text("LegalCopyright");
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out) {
  reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
  return TRUE;
}

TEST(MainWindowResources, AllInEnglishUnitedStates) {
  HMODULE module = GetModuleHandleA(nullptr);
  struct { LPCSTR type; LPCSTR name; } resources[] = {
      {MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_MAIN)},      // RT_DIALOG
      {MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_ABOUTBOX)},
      {MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_SEND_SERVER)},
      {MAKEINTRESOURCEA(4), MAKEINTRESOURCEA(IDC_TAXOSCOPE)}, // RT_MENU
      {MAKEINTRESOURCEA(9), MAKEINTRESOURCEA(IDC_TAXOSCOPE)}, // RT_ACCELERATOR
      {MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(IDI_TAXOSCOPE)},// RT_GROUP_ICON
      {MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(IDS_APP_TITLE / 16 + 1)},  // RT_STRING block
      {MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(VS_VERSION_INFO)},       // RT_VERSION
  };
  for (const auto& r : resources) {
    std::vector<WORD> languages;
    EnumResourceLanguagesA(module, r.type, r.name, CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, (std::vector<WORD>{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}));
  }
}

}  // namespace
