#include "settings/ini_file.h"

#include <cstdio>
#include <string>

#include "link/line_address.h"
#include "link/run_state.h"
#include "res/resource.h"
#include "settings/settings_store.h"

namespace {

const char kSection[] = "main";

std::string Read(const CIniFile& ini, const char* key, const char* defaultValue) {
  return ReadSetting(ini.iniPath, kSection, key, defaultValue);
}

void Write(const CIniFile& ini, const char* key, const std::string& value) {
  // A failed write (read-only folder, locked file) only means the settings
  // are not kept; there is nobody to tell.
  WriteSetting(ini.iniPath, kSection, key, value.c_str());
}

void SelectEqualOrFirst(DialogControls& dialog, int id, const std::string& value) {
  int index = dialog.FindListEntry(id, value.c_str());
  dialog.SelectListEntry(id, index >= 0 ? index : 0);
}

}  // namespace

DialogControls::~DialogControls() = default;

CIniFile::CIniFile() : CIniFile(RunningExecutablePath().c_str()) {}

CIniFile::CIniFile(const char* executablePath) {
  MakeSettingsPath(executablePath, iniPath, sizeof iniPath, IsAnsiLeadByte);
}

CIniFile::~CIniFile() = default;

void CIniFile::LoadSettings(DialogControls& dialog) const {
  std::string port = Read(*this, "Port", "COM1");
  if (LineKindOf(port) != LineKind::Serial) {
    // A device server's address is typed, never listed: it comes back as
    // it was typed.
    dialog.SetText(IDC_PORT, port.c_str());
  } else {
    SelectEqualOrFirst(dialog, IDC_PORT, port);
  }

  for (int32_t baud : kBaudTable) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(baud));
    dialog.AddListEntry(IDC_SPEED, text);
  }
  SelectEqualOrFirst(dialog, IDC_SPEED, Read(*this, "BaudRate", "9600"));

  dialog.SetText(IDC_FILE_NAME, Read(*this, "FileName", "").c_str());
  dialog.SetText(IDC_FROM, Read(*this, "Start", "").c_str());
  dialog.SetText(IDC_TO, Read(*this, "End", "").c_str());

  // Only the first character counts: "12" is "1".
  char type = Read(*this, "Type", "")[0];
  dialog.SetChecked(IDC_ALL_RECORDS, type != '1' && type != '2');
  dialog.SetChecked(IDC_BY_NUMBER, type == '1');
  dialog.SetChecked(IDC_BY_DATE, type == '2');

  dialog.SetChecked(IDC_SHOW_RESULT, Read(*this, "ShowFile", "")[0] == '1');
  dialog.SetChecked(IDC_EXPORT, Read(*this, "Export", "0")[0] == '1');
  dialog.SetChecked(IDC_LEDGER, Read(*this, "Ledger", "0")[0] == '1');
  dialog.SetChecked(IDC_SEND, Read(*this, "Send", "0")[0] == '1');
}

void CIniFile::SavePortSettings(DialogControls& dialog) const {
  Write(*this, "Port", dialog.GetText(IDC_PORT));
  // With no speed selected a read runs at the first speed, so that is the one kept.
  int index = dialog.GetSelectedIndex(IDC_SPEED);
  int32_t baud = index >= 0 && index < kBaudCount ? kBaudTable[index] : kBaudTable[0];
  Write(*this, "BaudRate", std::to_string(baud));
}

void CIniFile::SaveSettings(DialogControls& dialog) const {
  SavePortSettings(dialog);
  Write(*this, "FileName", dialog.GetText(IDC_FILE_NAME));
  Write(*this, "Start", dialog.GetText(IDC_FROM));
  Write(*this, "End", dialog.GetText(IDC_TO));
  // One of the three is always checked (an auto-radio group that loading
  // always sets); with none, "All records" is what the next start shows anyway.
  const char* type = "0";
  if (!dialog.IsChecked(IDC_ALL_RECORDS)) {
    if (dialog.IsChecked(IDC_BY_NUMBER))
      type = "1";
    else if (dialog.IsChecked(IDC_BY_DATE))
      type = "2";
  }
  Write(*this, "Type", type);
  Write(*this, "ShowFile", dialog.IsChecked(IDC_SHOW_RESULT) ? "1" : "0");
  Write(*this, "Export", dialog.IsChecked(IDC_EXPORT) ? "1" : "0");
  Write(*this, "Ledger", dialog.IsChecked(IDC_LEDGER) ? "1" : "0");
  Write(*this, "Send", dialog.IsChecked(IDC_SEND) ? "1" : "0");
}
