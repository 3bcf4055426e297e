#pragma once
// Report labels are Windows-1251 bytes in the report file, but stay readable
// UTF-8 in the source: CP1251("Оборот:") converts the literal at compile time.
// A character outside the table below fails the build.
#include <cstddef>

namespace cp1251 {

template <size_t N>
struct Text {
  char bytes[N] = {};
};

// Windows-1251 code of one Unicode code point, or -1.
constexpr int Encode(unsigned cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x410 && cp <= 0x44F) return static_cast<int>(cp - 0x410 + 0xC0);  // А..я
  if (cp == 0x401) return 0xA8;  // Ё
  if (cp == 0x451) return 0xB8;  // ё
  if (cp == 0x2116) return 0xB9;  // №
  return -1;
}

template <size_t N>
constexpr Text<N> FromUtf8(const char (&utf8)[N]) {
  Text<N> out;
  size_t o = 0;
  for (size_t i = 0; i + 1 < N;) {
    unsigned c = static_cast<unsigned char>(utf8[i]);
    unsigned cp = 0;
    if (c < 0x80) {
      cp = c;
      i += 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F);
      i += 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = ((c & 0x0F) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3F) << 6) |
           (static_cast<unsigned char>(utf8[i + 2]) & 0x3F);
      i += 3;
    } else {
      throw "cp1251: unsupported UTF-8 sequence";  // compile-time error when constexpr
    }
    int code = Encode(cp);
    if (code < 0) throw "cp1251: character has no Windows-1251 code";
    out.bytes[o++] = static_cast<char>(code);
  }
  out.bytes[o] = 0;
  return out;
}

}  // namespace cp1251

// A NUL-terminated Windows-1251 string with static storage, made at compile time.
#define CP1251(utf8)                                                   \
  ([]() -> const char* {                                               \
    static constexpr auto kText = ::cp1251::FromUtf8(utf8);            \
    return kText.bytes;                                                \
  }())
