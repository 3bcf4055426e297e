#include "report/bound_parsing.h"

#include <cctype>
#include <climits>

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// One integer conversion in the given base (0: by prefix, as "%i"), from
// *cursor. Like the C library, the value saturates at the 64-bit limits and
// is then stored into a 32-bit int, keeping its low 32 bits.
bool ScanNumber(const char** cursor, int base, int32_t* value) {
  const char* p = *cursor;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (base == 0) {
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
      base = 16;
      p += 2;
      if (DigitValue(*p) >= 16) return false;  // "0x" alone is no number
    } else {
      base = p[0] == '0' ? 8 : 10;
    }
  }
  if (DigitValue(*p) >= base) return false;
  unsigned long long magnitude = 0;
  bool overflow = false;
  for (; DigitValue(*p) < base; ++p) {
    unsigned digit = static_cast<unsigned>(DigitValue(*p));
    if (magnitude > (ULLONG_MAX - digit) / static_cast<unsigned>(base)) overflow = true;
    else magnitude = magnitude * static_cast<unsigned>(base) + digit;
  }
  long long number;
  if (negative)
    number = overflow || magnitude > static_cast<unsigned long long>(LLONG_MAX) + 1 ? LLONG_MIN
                                                                                    : static_cast<long long>(0ull - magnitude);
  else
    number = overflow || magnitude > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX
                                                                               : static_cast<long long>(magnitude);
  *value = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(number)));
  *cursor = p;
  return true;
}

}  // namespace

bool ScanInteger(const char* text, int32_t* value) {
  return ScanNumber(&text, 0, value);
}

int ScanDayMonthYear(const char* text, int32_t* day, int32_t* month, int32_t* year) {
  int32_t* fields[3] = {day, month, year};
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (*text != '/') return i;
      ++text;
    }
    if (!ScanNumber(&text, 10, fields[i])) return i;
  }
  return 3;
}
