// libFuzzer target: the settings store on arbitrary INI text. Reading and
// writing keys must not crash; a key written reads back as written (as far as
// the format keeps a value); a write leaves every other key as it was and
// never grows the text when repeated; and the dialog's settings survive a
// save and a load through a real file.
//
// Input: section NUL key NUL value NUL, then the INI text; without three NULs
// the whole input is the text and the key written is "Port" of "main".
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/scratch_folder.h"
#include "res/resource.h"
#include "settings/ini_file.h"
#include "settings/ini_store.h"
#include "testsupport/fake_dialog.h"

namespace {

const char* const kKeys[] = {"Port", "BaudRate", "FileName", "Start", "End", "Type", "ShowFile", "Export"};

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

// A name the format can hold: one line, no blanks around it, and nothing that
// makes its line read as another kind of line.
bool PlainName(const std::string& name, bool section) {
  if (name.empty() || IsBlank(name.front()) || IsBlank(name.back())) return false;
  if (name.find_first_of("\r\n") != std::string::npos) return false;
  if (section) return name.find(']') == std::string::npos;
  return name.front() != '[' && name.find('=') == std::string::npos;
}

// What a read gives back for a written value: its first line, without the
// blanks around it and without quotes that enclose it.
std::string ReadBack(const std::string& value) {
  std::string v = value.substr(0, value.find_first_of("\r\n"));
  size_t b = 0, e = v.size();
  while (b < e && IsBlank(v[b])) ++b;
  while (e > b && IsBlank(v[e - 1])) --e;
  if (e - b >= 2 && (v[b] == '"' || v[b] == '\'') && v[e - 1] == v[b]) ++b, --e;
  return v.substr(b, e - b);
}

void CheckAssign(const std::string& text, const std::string& section, const std::string& key,
                 const std::string& value) {
  const std::string updated = IniAssign(text, section.c_str(), key.c_str(), value.c_str());
  // At most the last line's end, a blank line, "[section]" and "key=value",
  // each with its line end, are added.
  Check(updated.size() <= text.size() + section.size() + key.size() + value.size() + 11);
  if (!PlainName(section, true) || !PlainName(key, false)) return;

  std::string got;
  Check(IniLookup(updated, section.c_str(), key.c_str(), &got) && got == ReadBack(value));
  Check(IniAssign(updated, section.c_str(), key.c_str(), value.c_str()) == updated);
  for (const char* other : kKeys) {
    if (SameIgnoringCase(section, "main") && SameIgnoringCase(key, other)) continue;
    std::string before, after;
    bool had = IniLookup(text, "main", other, &before);
    Check(IniLookup(updated, "main", other, &after) == had && after == before);
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Survives(const std::string& value) { return ReadBack(value) == value; }

// A folder of its own for the settings file, removed at exit.
struct Folder {
  Folder() {
    path = ScratchFolder() + "/taxoscope-settings-fuzz-XXXXXX";
    Check(mkdtemp(&path[0]) != nullptr);
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

void CheckDialogRoundTrip(const std::string& text) {
  static const Folder folder;
  static const CIniFile ini((folder.path + "/taxoscope").c_str());
  {
    std::ofstream out(ini.iniPath, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    Check(static_cast<bool>(out.flush()));
  }

  FakeDialog loaded;
  ini.LoadSettings(loaded);
  Check(loaded.checked[IDC_ALL_RECORDS] + loaded.checked[IDC_BY_NUMBER] + loaded.checked[IDC_BY_DATE] == 1);
  for (int id : {IDC_FILE_NAME, IDC_FROM, IDC_TO}) Check(loaded.text[id].size() <= kMaxSettingLength);

  ini.SaveSettings(loaded);
  const std::string saved = ReadFile(ini.iniPath);
  ini.SaveSettings(loaded);
  Check(ReadFile(ini.iniPath) == saved);  // saving again changes nothing

  FakeDialog reloaded;
  ini.LoadSettings(reloaded);
  Check(reloaded.text[IDC_PORT] == loaded.text[IDC_PORT]);
  Check(reloaded.selected[IDC_SPEED] == loaded.selected[IDC_SPEED]);
  for (int id : {IDC_ALL_RECORDS, IDC_BY_NUMBER, IDC_BY_DATE, IDC_SHOW_RESULT, IDC_EXPORT, IDC_LEDGER})
    Check(reloaded.checked[id] == loaded.checked[id]);
  for (int id : {IDC_FILE_NAME, IDC_FROM, IDC_TO})
    if (Survives(loaded.text[id])) Check(reloaded.text[id] == loaded.text[id]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string section = "main", key = "Port", value = "COM3", text = input;
  size_t first = input.find('\0');
  size_t second = first == std::string::npos ? first : input.find('\0', first + 1);
  size_t third = second == std::string::npos ? second : input.find('\0', second + 1);
  if (third != std::string::npos) {
    section = input.substr(0, first);
    key = input.substr(first + 1, second - first - 1);
    value = input.substr(second + 1, third - second - 1);
    text = input.substr(third + 1);
  }

  for (const char* name : kKeys) {
    std::string found;
    if (IniLookup(text, "main", name, &found)) Check(found.size() <= text.size());
  }
  CheckAssign(text, section, key, value);
  CheckDialogRoundTrip(text);
  return 0;
}
