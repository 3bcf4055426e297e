#pragma once
// The record buffer of a reader and the decoder that turns single fields of
// the record into text: raw bytes, packed BCD, unsigned binary numbers (with
// an optional decimal point) and the device's two date-time encodings.
#include <cstdint>
#include <ctime>

enum DecodeType : uint32_t {
  DecodeRaw = 0,
  DecodeBcd = 1,
  DecodeBinary = 2,
  DecodeBcdDateTime = 3,
  DecodePackedDateTime = 4,
  DecodeBit = 5,
};

enum DecodeFlags : int32_t {
  DecodeInvert = 0x01,     // binary: each byte b becomes 255 - b
  DecodeKeepZeros = 0x02,  // BCD: keep leading zeros
  DecodePoint = 0x08,      // binary: decimal point before the last two digits
  DecodeMapChars = 0x10,   // map the field's characters through charMap
  DecodeReverse = 0x20,    // reverse the field's bytes first (little-endian numbers)
};

class CRecord {
 public:
  static constexpr int32_t kDataSize = 1024;
  static constexpr int32_t kTextSize = 80;

  CRecord();
  ~CRecord();
  CRecord(const CRecord&) = delete;
  CRecord& operator=(const CRecord&) = delete;

  // Decodes the field of `length` bytes at `offset` of data. Gives the text
  // area (the same address every time; the next decode overwrites it). For
  // DecodeBit, `length` is the bit number and the result is "0" or "1" as a
  // static string; the text area is left alone.
  const char* Decode(int32_t offset, int32_t length, uint32_t type, int32_t flags);

  uint8_t* data;          // the current record, written by the reader
  int64_t time = 0;       // calendar time of the last packed date-time
  std::tm timeParts = {}; // its broken-down local time, normalised
  char text[kTextSize];   // result of the last decode
  uint8_t charMap[256];   // device character set to Windows-1251
};

// The device's character set to Windows-1251: Cyrillic letters at
// 0x80..0xBE; control codes, DEL and everything from 0xBF on print as blanks.
uint8_t DeviceCharToCp1251(uint8_t code);

// Unsigned decimal without leading zeros ("%u"), NUL-terminated.
void FormatUnsigned(uint32_t value, char* out);

// The stored date-time fields (year within the century, up to 100) as the
// report prints them, "DD-MM-YY HH:MM" (15 bytes with the NUL; a year of 100
// prints as ":0"), and their calendar time by the local standard-time
// conversion, which normalises *parts.
int64_t FormatDateTimeFields(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                             char* text, std::tm* parts);

// "12345" -> "123.45", "45" -> "0.45", "5" -> "0.05", "" -> "0.00", in place.
// The text area must hold at least three more characters.
void InsertDecimalPoint(char* text);
