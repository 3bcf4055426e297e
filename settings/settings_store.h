#pragma once
// The settings store: one key at a time of an INI file, nothing cached.
// Windows: the private-profile functions. Elsewhere: ini_store.h.
#include <string>

// A key's value, cut at kMaxSettingLength characters, or defaultValue when
// the file, the section or the key is missing.
std::string ReadSetting(const char* iniPath, const char* section, const char* key,
                        const char* defaultValue);
// Sets a key, creating the file, the section or the key as needed. False when
// the value was not stored.
bool WriteSetting(const char* iniPath, const char* section, const char* key, const char* value);

// Full path of the running executable; empty if the system cannot tell.
std::string RunningExecutablePath();
// True for the lead byte of a double-byte character in the ANSI code page.
bool IsAnsiLeadByte(unsigned char byte);
