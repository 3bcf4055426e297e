#include "sim/dump_builder.h"

#include <string>

#include <gtest/gtest.h>

#include "testsupport/temp_dir.h"

namespace {

// Bit-by-bit CRC-16/MCRF4XX, independent of the table-driven one.
uint16_t SlowCrc(const std::vector<uint8_t>& bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return crc;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// The CRC stored at the end of the record [start, start + length).
bool CrcMatches(const std::vector<uint8_t>& b, size_t start, size_t length) {
  uint16_t stored = static_cast<uint16_t>(b[start + length - 2] << 8 | b[start + length - 1]);
  return stored == DumpCrc16(&b[start], length - 2);
}

const uint16_t kRates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, 1234};

TEST(DumpCrc16, KnownValues) {
  const std::string check = "123456789";
  EXPECT_EQ(0x6F91, DumpCrc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()));
  EXPECT_EQ(0xFFFF, DumpCrc16(nullptr, 0));
  std::vector<uint8_t> all(512);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i * 7 + 3);
  for (size_t length : {1u, 2u, 11u, 332u, 512u}) {
    std::vector<uint8_t> part(all.begin(), all.begin() + static_cast<long>(length));
    EXPECT_EQ(SlowCrc(part), DumpCrc16(part.data(), part.size())) << length;
  }
}

TEST(PackDateTime, PacksFieldsAtTheirBits) {
  // 15-03-11 10:30 is stored as 9E 7A B3 00.
  EXPECT_EQ(0x00B37A9Eu, PackDateTime(11, 3, 15, 10, 30));
  EXPECT_EQ(0u, PackDateTime(0, 0, 0, 0, 0));
  EXPECT_EQ(0xFFFFFFFFu, PackDateTime(4095, 15, 31, 31, 63));
  EXPECT_EQ(static_cast<uint32_t>(2100) << 20, PackDateTime(2100, 0, 0, 0, 0));
}

TEST(DumpRecordLength, ByTypeAndVariant) {
  const int expected[14] = {32, 38, 68, 68, 334, 11, 25, 11, 40, 11, 11, 0, 68, 11};
  for (int type = 0; type < 14; ++type) EXPECT_EQ(expected[type], DumpRecordLength(type, 3)) << type;
  EXPECT_EQ(69, DumpRecordLength(4, 2));
  EXPECT_EQ(334, DumpRecordLength(4, 5));
  EXPECT_EQ(32, DumpRecordLength(0, 2));
  EXPECT_EQ(0, DumpRecordLength(14, 3));
  EXPECT_EQ(0, DumpRecordLength(254, 3));
  EXPECT_EQ(0x1F100u, DecimalModeAreaOffset(2));
  EXPECT_EQ(0x1F1000u, DecimalModeAreaOffset(3));
}

TEST(DumpBuilder, RecordAppendsCrcHighByteFirst) {
  DumpBuilder builder;
  builder.Erased(3).Record({0x05, 1, 2, 3, 4, 5, 6, 7, 8});
  const std::vector<uint8_t>& b = builder.bytes();
  ASSERT_EQ(14u, b.size());
  EXPECT_EQ(0xFF, b[0]);
  EXPECT_EQ(0xFF, b[2]);
  EXPECT_EQ(3u, builder.lastRecordOffset());
  uint16_t crc = SlowCrc({0x05, 1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(crc >> 8, b[12]);
  EXPECT_EQ(crc & 0xFF, b[13]);
}

TEST(DumpBuilder, SmallRecordsHaveTheirFieldsAtTheirOffsets) {
  DumpBuilder builder;
  builder.ModelRecord("ZA02");
  builder.ModeAndRates(kModeWhole, kRates);
  builder.Rates(kRates);
  builder.DecimalMode(0x1234, kModeFractional);
  const std::vector<uint8_t>& b = builder.bytes();
  ASSERT_EQ(32u + 38 + 25 + 11, b.size());

  EXPECT_EQ(0, b[0]);
  EXPECT_EQ(std::string("ZA02"), std::string(b.begin() + 25, b.begin() + 29));
  EXPECT_TRUE(CrcMatches(b, 0, 32));

  size_t r1 = 32;
  EXPECT_EQ(1, b[r1]);
  EXPECT_EQ(0x55, b[r1 + 5]);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(kRates[k], Le16(b, r1 + 20 + 2 * k)) << k;
  EXPECT_TRUE(CrcMatches(b, r1, 38));

  size_t r6 = r1 + 38;
  EXPECT_EQ(6, b[r6]);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(kRates[k], Le16(b, r6 + 7 + 2 * k)) << k;
  EXPECT_TRUE(CrcMatches(b, r6, 25));

  size_t r7 = r6 + 25;
  EXPECT_EQ(7, b[r7]);
  EXPECT_EQ(0x34, b[r7 + 5]);
  EXPECT_EQ(0x12, b[r7 + 6]);
  EXPECT_EQ(0xAA, b[r7 + 8]);
  EXPECT_TRUE(CrcMatches(b, r7, 11));
}

TEST(DumpBuilder, ModelMarkerDefaultsAndShortMarkers) {
  DumpBuilder builder;
  builder.ModelRecord().ModelRecord("Z").ModelRecord(nullptr);
  const std::vector<uint8_t>& b = builder.bytes();
  EXPECT_EQ(std::string("ZA03"), std::string(b.begin() + 25, b.begin() + 29));
  EXPECT_EQ('Z', b[32 + 25]);
  EXPECT_EQ(0, b[32 + 26]);
  EXPECT_EQ(0, b[64 + 25]);
}

ReportData SampleReport() {
  ReportData report;
  report.dateTime = PackDateTime(11, 3, 15, 10, 30);
  report.number = 123;
  for (int k = 0; k < 8; ++k) report.groups[k] = 10000u * (k + 1) + 7;
  report.departments[0] = {"BREAD", 500, 0x11};
  report.departments[2] = {"A name of exactly sixteen+", 0x01020304, 0x22};  // cut at 16
  report.departments[8] = {"\xC1\xE8\xF0\xE0", 99, 0};                       // Windows-1251 "Бира"
  report.payments[0] = {0xA1B2C3D4, 0};
  report.payments[3] = {250, 7};
  report.decimalFlag = kModeWhole;
  return report;
}

TEST(DumpBuilder, ReportVariant3FieldsAtTheirOffsets) {
  DumpBuilder builder;
  builder.Report(SampleReport());
  const std::vector<uint8_t>& b = builder.bytes();
  ASSERT_EQ(334u, b.size());
  EXPECT_EQ(4, b[0]);
  EXPECT_EQ(0x9E, b[1]);
  EXPECT_EQ(0x7A, b[2]);
  EXPECT_EQ(0xB3, b[3]);
  EXPECT_EQ(0x00, b[4]);
  EXPECT_EQ(0x7B, b[5]);
  EXPECT_EQ(0x00, b[6]);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(10000u * (k + 1) + 7, Le32(b, 7 + 4 * k)) << k;

  EXPECT_EQ(std::string("BREAD"), std::string(b.begin() + 39, b.begin() + 44));
  for (size_t i = 44; i < 55; ++i) EXPECT_EQ(0, b[i]) << "zero padding at " << i;
  EXPECT_EQ(500u, Le32(b, 55));
  EXPECT_EQ(0x11, b[59]);
  EXPECT_EQ(std::string("A name of exactl"), std::string(b.begin() + 81, b.begin() + 97));
  EXPECT_EQ(0x01020304u, Le32(b, 97));
  EXPECT_EQ(0x22, b[101]);
  EXPECT_EQ(0xC1, b[39 + 21 * 8]);
  EXPECT_EQ(99u, Le32(b, 55 + 21 * 8));
  EXPECT_EQ(0u, Le32(b, 55 + 21 * 1));  // unset departments stay empty

  EXPECT_EQ(0xA1B2C3D4u, Le32(b, 274));
  EXPECT_EQ(0, b[278]);
  EXPECT_EQ(0u, Le32(b, 279));
  EXPECT_EQ(250u, Le32(b, 289));
  EXPECT_EQ(7, b[293]);
  EXPECT_EQ(0x55, b[331]);
  EXPECT_TRUE(CrcMatches(b, 0, 334));
}

TEST(DumpBuilder, ReportVariant2FieldsAtTheirOffsets) {
  DumpBuilder builder;
  builder.Report(SampleReport(), 2);
  const std::vector<uint8_t>& b = builder.bytes();
  ASSERT_EQ(69u, b.size());
  EXPECT_EQ(4, b[0]);
  EXPECT_EQ(0x00B37A9Eu, Le32(b, 1));
  EXPECT_EQ(123, Le16(b, 5));
  EXPECT_EQ(0, b[7]);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(10000u * (k + 1) + 7, Le32(b, 8 + 4 * k)) << k;
  EXPECT_TRUE(CrcMatches(b, 0, 69));
}

TEST(DumpBuilder, FillerRecordsAreValidAndNeverLookErased) {
  for (int type : {2, 3, 5, 8, 9, 10, 12, 13, 11, 200}) {
    DumpBuilder builder;
    builder.Filler(static_cast<uint8_t>(type)).Filler(static_cast<uint8_t>(type));
    const std::vector<uint8_t>& b = builder.bytes();
    int length = DumpRecordLength(type, 3) ? DumpRecordLength(type, 3) : 11;
    ASSERT_EQ(2u * length, b.size()) << type;
    EXPECT_EQ(type, b[0]);
    EXPECT_EQ(type, b[length]);
    EXPECT_TRUE(CrcMatches(b, 0, length)) << type;
    EXPECT_TRUE(CrcMatches(b, length, length)) << type;
    EXPECT_NE(std::vector<uint8_t>(b.begin(), b.begin() + length),
              std::vector<uint8_t>(b.begin() + length, b.end()))
        << "two fillers should differ";
    for (int i = 1; i < length - 2; ++i) EXPECT_NE(0xFF, b[i]);
  }
}

TEST(DumpBuilder, PadToAndCorruptLastCrc) {
  DumpBuilder builder;
  builder.CorruptLastCrc();  // nothing to corrupt yet
  EXPECT_EQ(0u, builder.size());
  builder.PadTo(16).DecimalMode(0, kModeFractional).Erased(5);
  builder.PadTo(10);  // already past
  EXPECT_EQ(32u, builder.size());
  std::vector<uint8_t> before = builder.bytes();
  builder.CorruptLastCrc();
  const std::vector<uint8_t>& b = builder.bytes();
  EXPECT_FALSE(CrcMatches(b, 16, 11));
  int changed = 0;
  for (size_t i = 0; i < b.size(); ++i) changed += b[i] != before[i];
  EXPECT_EQ(1, changed);
  EXPECT_NE(before[26], b[26]);  // the CRC's low byte, not the trailing 0xFF
  builder.Poke(5, 0x42).Poke(1000, 0x42);
  EXPECT_EQ(0x42, builder.bytes()[5]);
  EXPECT_EQ(32u, builder.size());
}

TEST(DumpBuilder, WriteFileRoundTripAndErrors) {
  TempDir dir;
  DumpBuilder builder;
  builder.Erased(16).ModelRecord().Filler(2);
  std::string error;
  ASSERT_TRUE(builder.WriteFile(dir.File("a.bin"), &error)) << error;
  std::string written = ReadFileBytes(dir.File("a.bin"));
  EXPECT_EQ(std::string(builder.bytes().begin(), builder.bytes().end()), written);

  std::string missing = dir.File("no-such-dir/b.bin");
  EXPECT_FALSE(builder.WriteFile(missing, &error));
  EXPECT_NE(std::string::npos, error.find(missing)) << error;
  EXPECT_NE(std::string::npos, error.find("No such file")) << error;
  EXPECT_FALSE(FileExists(missing));
}

}  // namespace
