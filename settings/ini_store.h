#pragma once
// A small INI reader and writer that behaves like the Windows private-profile
// functions for what the settings need: section and key names match ignoring
// case, blanks around names and values are dropped, a value in matching
// quotes loses them, and a write changes only the line of its key (or adds
// the key at the end of its section, or the section at the end of the file).
#include <string>

// The longest value a read gives; longer ones are cut, as by the profile read
// into the 4096-byte scratch buffer.
constexpr std::size_t kMaxSettingLength = 4095;

// In INI text: the value of key in section, or false when either is missing.
bool IniLookup(const std::string& text, const char* section, const char* key,
               std::string* value);
// The INI text with key in section set to value. A value cannot span lines:
// it is cut at the first line break.
std::string IniAssign(const std::string& text, const char* section, const char* key,
                      const char* value);

// The same on a file. A missing or unreadable file reads as empty; a write
// replaces the file through a temporary one, so a failed write leaves the old
// settings whole. IniFileWrite is false when the file was not written.
std::string IniFileRead(const std::string& path, const char* section, const char* key,
                        const char* defaultValue);
bool IniFileWrite(const std::string& path, const char* section, const char* key,
                  const char* value);
