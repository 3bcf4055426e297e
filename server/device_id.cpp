#include "server/device_id.h"

#include <cstdint>
#include <cstdio>

namespace {

// The next code point of valid UTF-8 at *at (the shortest form, no
// surrogate, at most U+10FFFF), or false.
bool NextCodePoint(const std::string& text, size_t* at, uint32_t* code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(*at);
  int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (!length || *at + length > text.size()) return false;
  uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(*at + i) & 0xC0) != 0x80) return false;
    value = value << 6 | (byte(*at + i) & 0x3F);
  }
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *at += static_cast<size_t>(length);
  *code = value;
  return true;
}

bool IsControl(uint32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

// Characters that are not seen, or that change the order in which the text
// around them is shown: one id could pose as another with them.
bool IsHidden(uint32_t code) {
  return code == 0x00AD || code == 0x061C || code == 0x180E || (code >= 0x200B && code <= 0x200F) ||
         (code >= 0x2028 && code <= 0x202E) || (code >= 0x2060 && code <= 0x2064) ||
         (code >= 0x2066 && code <= 0x206F) || code == 0xFEFF || (code >= 0xFFF9 && code <= 0xFFFB);
}

}  // namespace

bool CheckDeviceId(const std::string& id, std::string* why) {
  if (id.empty()) {
    *why = "a device id is never empty";
    return false;
  }
  if (id.size() > kDeviceIdMaxBytes) {
    *why = "a device id is at most " + std::to_string(kDeviceIdMaxBytes) + " bytes";
    return false;
  }
  for (size_t at = 0; at < id.size();) {
    uint32_t code = 0;
    if (!NextCodePoint(id, &at, &code)) {
      *why = "a device id is UTF-8 text; this one holds bytes that are no UTF-8";
      return false;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(code));
    if (IsControl(code)) {
      *why = std::string("a device id holds no control characters (") + hex + ")";
      return false;
    }
    if (IsHidden(code)) {
      *why = std::string("a device id holds no invisible or bidirectional characters (") + hex + ")";
      return false;
    }
  }
  return true;
}
