#pragma once
// A server token kept for the Windows user: sealed with the data protection
// API (CryptProtectData, bound to the user's logon secret), as base64 text
// for the settings file. Another user, or another machine, cannot unseal it.
#include <string>

// False when the system refuses (then nothing is kept).
bool SealToken(const std::string& token, std::string* sealed);
// False for text that is no sealed token of this user.
bool UnsealToken(const std::string& sealed, std::string* token);
