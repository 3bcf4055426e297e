#include "fm/record.h"

#include <algorithm>
#include <cstring>

#include "fm/calendar.h"

CRecord::CRecord() : data(new uint8_t[kDataSize]()) {
  std::memset(text, 0, sizeof text);
  for (int code = 0; code < 256; ++code) charMap[code] = DeviceCharToCp1251(static_cast<uint8_t>(code));
}

CRecord::~CRecord() { delete[] data; }

uint8_t DeviceCharToCp1251(uint8_t code) {
  // The device keeps Cyrillic letters at 0x80..0xBE; Windows-1251 has them at 0xC0..0xFE.
  if (code >= 0x21 && code <= 0x7E) return code;
  if (code >= 0x80 && code <= 0xBE) return static_cast<uint8_t>(code + 0x40);
  return 0x20;
}

void InsertDecimalPoint(char* text) {
  size_t length = std::strlen(text);
  if (length >= 3) {
    std::memmove(text + length - 1, text + length - 2, 3);  // last two digits and the NUL
    text[length - 2] = '.';
  } else if (length == 2) {
    std::memmove(text + 2, text, 3);
    text[0] = '0';
    text[1] = '.';
  } else if (length == 1) {
    text[4] = 0;
    text[3] = text[0];
    std::memcpy(text, "0.0", 3);
  } else {
    std::memcpy(text, "0.00", 5);
  }
}

void FormatUnsigned(uint32_t value, char* out) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  while (count) *out++ = digits[--count];
  *out = 0;
}

namespace {

void PutTwoDigits(char* at, unsigned value) {
  at[0] = static_cast<char>('0' + value / 10);
  at[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

int64_t FormatDateTimeFields(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                             char* text, std::tm* parts) {
  PutTwoDigits(text, day);
  text[2] = '-';
  PutTwoDigits(text + 3, month);
  text[5] = '-';
  PutTwoDigits(text + 6, year);
  text[8] = ' ';
  PutTwoDigits(text + 9, hour);
  text[11] = ':';
  PutTwoDigits(text + 12, minute);
  text[14] = 0;

  *parts = std::tm{};
  parts->tm_min = static_cast<int>(minute);
  parts->tm_hour = static_cast<int>(hour);
  parts->tm_mday = static_cast<int>(day);
  parts->tm_mon = static_cast<int>(month) - 1;
  parts->tm_year = static_cast<int>(year) + 100;
  parts->tm_isdst = 0;
  return LocalStandardTimeToCalendar(parts);
}

const char* CRecord::Decode(int32_t offset, int32_t length, uint32_t type, int32_t flags) {
  if (type == DecodeBit) {
    // The byte is signed, so bit numbers past 7 all read the sign bit.
    int8_t byte = (offset >= 0 && offset < kDataSize) ? static_cast<int8_t>(data[offset]) : 0;
    int bit = (length >= 0 && length <= 7) ? length : 7;
    return ((byte >> bit) & 1) ? "1" : "0";
  }

  int32_t n = type == DecodeBcdDateTime ? 5 : type == DecodePackedDateTime ? 4 : length;
  // The callers keep their fields inside the record buffer and the text inside
  // its 80 bytes; clamp anyway so that no field can reach past either.
  if (offset < 0 || offset > kDataSize) offset = 0, n = 0;
  n = std::max<int32_t>(0, std::min<int32_t>(n, kDataSize - offset));
  if (type == DecodeRaw || (flags & DecodeMapChars)) n = std::min<int32_t>(n, kTextSize - 1);
  if (type == DecodeBcd) n = std::min<int32_t>(n, (kTextSize - 1) / 2);

  uint8_t work[kDataSize];
  std::memcpy(work, data + offset, static_cast<size_t>(n));
  if (flags & DecodeReverse) std::reverse(work, work + n);
  std::memset(text, 0, sizeof text);

  switch (type) {
    case DecodeRaw:
      std::memcpy(text, work, static_cast<size_t>(n));
      break;

    case DecodeBcd: {
      char* out = text;
      bool leading = !(flags & DecodeKeepZeros);
      for (int32_t i = 0; i < n; ++i) {
        char pair[2] = {static_cast<char>('0' + (work[i] >> 4)), static_cast<char>('0' + (work[i] & 0x0F))};
        for (char c : pair) {
          if (leading && c == '0') continue;
          leading = false;
          *out++ = c;
        }
      }
      break;
    }

    case DecodeBinary: {
      if (flags & DecodeInvert)
        for (int32_t i = 0; i < n; ++i) work[i] = static_cast<uint8_t>(255 - work[i]);
      uint64_t number = 0;
      for (int32_t i = 0; i < std::min<int32_t>(n, 8); ++i) number = (number << 8) | work[i];
      // Only the low 32 bits are written: a little-endian field read with
      // DecodeReverse shows the number in its first four stored bytes.
      FormatUnsigned(static_cast<uint32_t>(number), text);
      if (flags & DecodePoint) InsertDecimalPoint(text);
      break;
    }

    case DecodeBcdDateTime: {
      std::memcpy(text, "00-00-00 00:00", 14);
      const int positions[5] = {12, 9, 0, 3, 6};  // minute, hour, day, month, year
      for (int i = 0; i < 5; ++i) {
        text[positions[i]] = static_cast<char>('0' + (work[i] >> 4));
        text[positions[i] + 1] = static_cast<char>('0' + (work[i] & 0x0F));
      }
      break;
    }

    case DecodePackedDateTime: {
      uint32_t word = static_cast<uint32_t>(work[0]) | static_cast<uint32_t>(work[1]) << 8 |
                      static_cast<uint32_t>(work[2]) << 16 | static_cast<uint32_t>(work[3]) << 24;
      unsigned minute = word & 0x3F;
      unsigned hour = (word >> 6) & 0x1F;
      unsigned day = (word >> 11) & 0x1F;
      unsigned month = (word >> 16) & 0x0F;
      unsigned year = word >> 20;
      if (year > 1000) year %= 1000;
      if (year > 100) year %= 100;  // 100 itself stays: it prints as ":0"
      time = FormatDateTimeFields(year, month, day, hour, minute, text, &timeParts);
      break;
    }

    default:
      break;  // an unknown type decodes to the empty text
  }

  if (flags & DecodeMapChars)
    for (int32_t i = 0; i < n; ++i) text[i] = static_cast<char>(charMap[static_cast<uint8_t>(text[i])]);
  return text;
}
