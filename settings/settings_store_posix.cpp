#include <unistd.h>

#include "settings/ini_store.h"
#include "settings/settings_store.h"

std::string ReadSetting(const char* iniPath, const char* section, const char* key,
                        const char* defaultValue) {
  return IniFileRead(iniPath, section, key, defaultValue);
}

bool WriteSetting(const char* iniPath, const char* section, const char* key, const char* value) {
  return IniFileWrite(iniPath, section, key, value);
}

std::string RunningExecutablePath() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return std::string();
  return std::string(path, static_cast<std::size_t>(length));
}

// Text here is UTF-8 or a single-byte code page: no trail byte looks like ASCII.
bool IsAnsiLeadByte(unsigned char) { return false; }
