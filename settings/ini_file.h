#pragma once
// The settings file: the state of the main dialog between runs, in the
// section "main" of an INI file next to the executable. Values are read and
// written one key at a time; nothing is cached here.
#include "settings/dialog_controls.h"
#include "settings/settings_path.h"

class CIniFile {
 public:
  // Settings beside the running executable.
  CIniFile();
  // Settings beside the executable at executablePath.
  explicit CIniFile(const char* executablePath);
  virtual ~CIniFile();

  // Fills the speed list and sets every control from the file. The port list
  // must be filled already.
  void LoadSettings(DialogControls& dialog) const;
  // "Port" and "BaudRate" from the dialog.
  void SavePortSettings(DialogControls& dialog) const;
  // The port settings, then the file name, the bounds, the report type,
  // "show result", "export", "ledger" and "send" (where it sends: send_settings.h).
  void SaveSettings(DialogControls& dialog) const;

  char iniPath[kIniPathSize];
};
