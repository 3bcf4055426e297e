#include <windows.h>

#include <vector>

#include "settings/ini_store.h"
#include "settings/settings_store.h"

std::string ReadSetting(const char* iniPath, const char* section, const char* key,
                        const char* defaultValue) {
  char value[kMaxSettingLength + 1];
  DWORD length = GetPrivateProfileStringA(section, key, defaultValue, value, sizeof value, iniPath);
  return std::string(value, length);
}

bool WriteSetting(const char* iniPath, const char* section, const char* key, const char* value) {
  return WritePrivateProfileStringA(section, key, value, iniPath) != FALSE;
}

std::string RunningExecutablePath() {
  // Long enough for any path the system can give, so nothing is cut here;
  // the settings path is fitted to its own size afterwards.
  std::vector<char> path(32768);
  DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return std::string();
  return std::string(path.data(), length);
}

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }
