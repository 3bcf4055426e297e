#pragma once
// The exports are UTF-8; text from the device and the report's labels are
// Windows-1251, file names whatever the system gives.
#include <string>

// Appends the Windows-1251 text as UTF-8. The one byte that Windows-1251
// leaves undefined (0x98) becomes U+FFFD, so the result is always valid UTF-8.
void AppendCp1251AsUtf8(std::string* out, const char* text);
std::string Cp1251ToUtf8(const char* text);

// The text with every byte sequence that is not valid UTF-8 replaced by
// U+FFFD (a file name in another encoding, say).
std::string ValidUtf8(const std::string& text);

// The text without its trailing blanks (names are padded to a fixed width).
std::string TrimTrailingBlanks(std::string text);
