#pragma once
// The server's rules for a device id, wherever one comes in: an upload's
// ?device= or its file name, a token's --device, a register's ID. The id is
// shown on pages and in answers and names a folder of dumps/, so it must be
// text that reads as what it is:
//   - 1 to 64 bytes (kMaxDeviceIdBytes);
//   - valid UTF-8: an id in another encoding would otherwise be stored with
//     U+FFFD in place of its bytes, and two different ids would become one;
//   - no control characters (U+0000-001F, U+007F-009F);
//   - no zero-width or direction-changing characters (U+200B-200F,
//     U+202A-202E, U+2060-2064, U+2066-2069, U+FEFF), with which one id
//     could pose as another on a page.
#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kMaxDeviceIdBytes = 64;

// True when id follows the rules; else false with the problem in *problem,
// worded for the user ("a device id is at most 64 bytes").
bool CheckDeviceId(const std::string& id, std::string* problem);

// Decodes the UTF-8 sequence at text[*at] into *codePoint and moves *at past
// it. False, *at unchanged, where the bytes there are no valid UTF-8 (an
// overlong form, a surrogate, a code point past U+10FFFF, a cut sequence).
bool NextCodePoint(const std::string& text, size_t* at, uint32_t* codePoint);

// U+0000-001F and U+007F-009F.
bool IsControlCharacter(uint32_t codePoint);
// Characters that show nothing or turn the direction of the text around them.
bool IsInvisibleFormatCharacter(uint32_t codePoint);
