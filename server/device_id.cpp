#include "server/device_id.h"

#include <cstdio>

bool NextCodePoint(const std::string& text, size_t* at, uint32_t* codePoint) {
  const size_t i = *at;
  if (i >= text.size()) return false;
  auto byte = [&](size_t k) { return i + k < text.size() ? static_cast<uint8_t>(text[i + k]) : 0u; };
  const uint8_t lead = byte(0);
  if (lead < 0x80) {
    *codePoint = lead;
    *at = i + 1;
    return true;
  }
  size_t length = 0;
  uint32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
  } else {
    return false;
  }
  for (size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return false;
    value = (value << 6) | (byte(k) & 0x3Fu);
  }
  // The shortest form only; no surrogates; nothing past U+10FFFF.
  const uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (value < least || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return false;
  *codePoint = value;
  *at = i + length;
  return true;
}

bool IsControlCharacter(uint32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool IsInvisibleFormatCharacter(uint32_t c) {
  return (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

bool CheckDeviceId(const std::string& id, std::string* problem) {
  if (id.empty()) {
    *problem = "a device id is not empty";
    return false;
  }
  if (id.size() > kMaxDeviceIdBytes) {
    *problem = "a device id is at most " + std::to_string(kMaxDeviceIdBytes) + " bytes";
    return false;
  }
  for (size_t at = 0; at < id.size();) {
    uint32_t c = 0;
    if (!NextCodePoint(id, &at, &c)) {
      *problem = "a device id is UTF-8 text (byte " + std::to_string(at + 1) + " is not)";
      return false;
    }
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    if (IsControlCharacter(c)) {
      *problem = std::string("a device id has no control characters (") + code + ")";
      return false;
    }
    if (IsInvisibleFormatCharacter(c)) {
      *problem = std::string("a device id has no invisible or direction-changing characters (") + code + ")";
      return false;
    }
  }
  return true;
}
