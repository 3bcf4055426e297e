#include "fm/record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <initializer_list>
#include <string>

#include "fm/calendar.h"

namespace {

class RecordTest : public ::testing::Test {
 protected:
  // Puts the bytes at offset 0 of the record and decodes them.
  std::string Decode(std::initializer_list<int> bytes, uint32_t type, int32_t flags = 0,
                     int32_t length = -1) {
    int i = 0;
    for (int b : bytes) record.data[i++] = static_cast<uint8_t>(b);
    return record.Decode(0, length < 0 ? i : length, type, flags);
  }
  // The calendar time of a local standard time, as the filter sees it.
  static int64_t Local(int year, int month, int day, int hour = 0, int minute = 0) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    return LocalStandardTimeToCalendar(&parts);
  }
  CRecord record;
};

TEST_F(RecordTest, BinaryNumbers) {
  EXPECT_EQ(Decode({0x01, 0x02}, DecodeBinary), "258");
  EXPECT_EQ(Decode({0x02, 0x01}, DecodeBinary, DecodeReverse), "258");
  EXPECT_EQ(Decode({0x39, 0x30}, DecodeBinary, DecodeReverse | DecodePoint), "123.45");
  EXPECT_EQ(Decode({0xFF, 0xFF}, DecodeBinary, DecodeReverse | DecodePoint), "655.35");
  EXPECT_EQ(Decode({0x05, 0x00}, DecodeBinary, DecodeReverse | DecodePoint), "0.05");
  EXPECT_EQ(Decode({0xFF, 0xFF}, DecodeBinary, DecodeInvert), "0");
  EXPECT_EQ(Decode({}, DecodeBinary, 0, 0), "0");
  EXPECT_EQ(Decode({}, DecodeBinary, DecodePoint, 0), "0.00");
  EXPECT_EQ(Decode({0xFF, 0xFF, 0xFF, 0xFF}, DecodeBinary), "4294967295");
}

TEST_F(RecordTest, BinaryKeepsTheLowThirtyTwoBitsOfTheFirstEightBytes) {
  // 2^32 + 1 stored little-endian over 8 bytes reads as 1.
  EXPECT_EQ(Decode({1, 0, 0, 0, 1, 0, 0, 0}, DecodeBinary, DecodeReverse), "1");
  // Over 10 bytes only the first 8 work bytes count (after the reversal).
  EXPECT_EQ(Decode({0, 0, 0, 0, 0, 0, 0, 7, 9, 9}, DecodeBinary), "7");
  EXPECT_EQ(Decode({3, 2, 1, 0, 0, 0, 0, 0, 0, 0}, DecodeBinary, DecodeReverse), "1");
}

TEST_F(RecordTest, DecimalPointByTextLength) {
  char text[16];
  for (auto [in, out] : {std::pair{"12345", "123.45"}, {"100", "1.00"}, {"45", "0.45"},
                         {"5", "0.05"}, {"0", "0.00"}, {"", "0.00"}}) {
    std::strcpy(text, in);
    InsertDecimalPoint(text);
    EXPECT_STREQ(text, out) << in;
  }
}

TEST_F(RecordTest, Bcd) {
  EXPECT_EQ(Decode({0x00, 0x12, 0x34}, DecodeBcd), "1234");
  EXPECT_EQ(Decode({0x00, 0x12, 0x34}, DecodeBcd, DecodeKeepZeros), "001234");
  EXPECT_EQ(Decode({0x1A}, DecodeBcd), "1:");
  EXPECT_EQ(Decode({0x00, 0x00}, DecodeBcd), "");
  EXPECT_EQ(Decode({0x00, 0x00}, DecodeBcd, DecodeKeepZeros), "0000");
}

TEST_F(RecordTest, RawAndCharacterMap) {
  EXPECT_EQ(Decode({'A', 0, 'B'}, DecodeRaw), "A");  // a zero byte ends the text
  EXPECT_EQ(Decode({'A', 0, 'B'}, DecodeRaw, DecodeMapChars), "A B");
  EXPECT_EQ(Decode({0x80, 0xBE, 0xBF, 0x41, 0x7F}, DecodeRaw, DecodeMapChars),
            "\xC0\xFE \x41 ");
  EXPECT_EQ(Decode({'a', 'b', 'c'}, DecodeRaw, DecodeReverse), "cba");
}

TEST_F(RecordTest, BcdDateTime) {
  EXPECT_EQ(Decode({0x30, 0x14, 0x25, 0x12, 0x10}, DecodeBcdDateTime), "25-12-10 14:30");
  EXPECT_EQ(Decode({0x10, 0x12, 0x25, 0x14, 0x30}, DecodeBcdDateTime, DecodeReverse), "25-12-10 14:30");
}

TEST_F(RecordTest, PackedDateTimeTextAndCalendarTime) {
  EXPECT_EQ(Decode({0x9E, 0x7A, 0xB3, 0x00}, DecodePackedDateTime), "15-03-11 10:30");
  EXPECT_EQ(record.time, Local(2011, 3, 15, 10, 30));
  EXPECT_EQ(record.timeParts.tm_mon, 2);
  // 15 March 2011 10:30 standard time in Sofia is 08:30 UTC.
  EXPECT_EQ(record.time, 1300177800);
}

uint32_t Packed(unsigned year, unsigned month, unsigned day, unsigned hour = 0, unsigned minute = 0) {
  return minute | hour << 6 | day << 11 | month << 16 | year << 20;
}

TEST_F(RecordTest, PackedDateTimeNormalisesLikeTheLocalTimeConversion) {
  auto decode = [&](uint32_t word) {
    for (int i = 0; i < 4; ++i) record.data[i] = static_cast<uint8_t>(word >> (8 * i));
    return std::string(record.Decode(0, 0, DecodePackedDateTime, 0));
  };
  EXPECT_EQ(decode(Packed(11, 1, 31)), "31-01-11 00:00");
  EXPECT_EQ(record.time, Local(2011, 1, 31));
  EXPECT_EQ(decode(Packed(11, 2, 30)), "30-02-11 00:00");
  EXPECT_EQ(record.time, Local(2011, 3, 2));
  EXPECT_EQ(decode(Packed(11, 0, 15)), "15-00-11 00:00");
  EXPECT_EQ(record.time, Local(2010, 12, 15));
  // The year keeps two digits; 100 stays 100 and prints as ":0".
  EXPECT_EQ(decode(Packed(2011, 5, 1)), "01-05-11 00:00");
  EXPECT_EQ(decode(Packed(111, 5, 1)), "01-05-11 00:00");
  EXPECT_EQ(decode(Packed(1000, 5, 1)), "01-05-00 00:00");
  EXPECT_EQ(decode(Packed(2100, 5, 1)), "01-05-:0 00:00");
  EXPECT_EQ(record.time, Local(2100, 5, 1));
}

TEST_F(RecordTest, BitsAndUnknownTypes) {
  Decode({'x'}, DecodeRaw);
  record.data[0] = 0x81;
  EXPECT_STREQ(record.Decode(0, 0, DecodeBit, 0), "1");
  EXPECT_STREQ(record.Decode(0, 1, DecodeBit, 0), "0");
  EXPECT_STREQ(record.Decode(0, 7, DecodeBit, 0), "1");
  EXPECT_STREQ(record.Decode(0, 12, DecodeBit, 0), "1");  // past bit 7: the sign bit
  EXPECT_STREQ(record.text, "x");                          // the text stays as it was
  EXPECT_EQ(Decode({'a', 'b'}, 6), "");
}

TEST_F(RecordTest, EveryDecodeSharesOneTextArea) {
  record.data[0] = 'A';
  const char* first = record.Decode(0, 1, DecodeRaw, 0);
  record.data[0] = 7;
  const char* second = record.Decode(0, 1, DecodeBinary, 0);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "7");
}

TEST_F(RecordTest, OversizedFieldsStayInsideTheBuffers) {
  std::memset(record.data, 'z', CRecord::kDataSize);
  EXPECT_EQ(std::strlen(record.Decode(0, 500, DecodeRaw, 0)), 79u);
  EXPECT_EQ(std::strlen(record.Decode(1020, 40, DecodeRaw, 0)), 4u);
  EXPECT_STREQ(record.Decode(-5, 4, DecodeRaw, 0), "");
}

}  // namespace
