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

// "12345" -> "123.45", "45" -> "0.45", "5" -> "0.05", "" -> "0.00", in place.
// The text area must hold at least three more characters.
void InsertDecimalPoint(char* text);
