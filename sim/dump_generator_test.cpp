#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "sim/dump_builder.h"

namespace {

struct WalkedRecord {
  size_t offset;
  int type;
};

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// Walks an image the way the reader frames it: start at 16 when the first 11
// bytes are erased, 11-byte erased blocks, a type byte fixing the length.
// Fails the test on a bad CRC or a type without a length.
std::vector<WalkedRecord> Walk(const std::vector<uint8_t>& image, int variant, size_t from, size_t to) {
  std::vector<WalkedRecord> records;
  size_t pos = from;
  while (pos + 11 <= to) {
    size_t i = 0;
    while (i < 11 && image[pos + i] == 0xFF) ++i;
    if (i == 11) {
      pos += 11;
      continue;
    }
    int type = image[pos + i];
    int length = DumpRecordLength(type, variant);
    EXPECT_GT(length, 0) << "type " << type << " at " << pos + i;
    if (length == 0 || pos + i + length > to) break;
    size_t start = pos + i;
    uint16_t stored = static_cast<uint16_t>(image[start + length - 2] << 8 | image[start + length - 1]);
    EXPECT_EQ(stored, DumpCrc16(&image[start], length - 2)) << "CRC at " << start;
    records.push_back({start, type});
    pos = start + length;
  }
  return records;
}

struct ImageFacts {
  std::vector<uint16_t> numbers;
  std::vector<WalkedRecord> area;
  size_t reportsEnd = 0;
  int fillers = 0;
  int rateChanges = 0;
};

ImageFacts Examine(const std::vector<uint8_t>& image, int variant) {
  ImageFacts facts;
  size_t area = DecimalModeAreaOffset(variant);
  std::vector<WalkedRecord> records = Walk(image, variant, 16, area);
  EXPECT_GE(records.size(), 2u);
  if (records.size() < 2) return facts;
  EXPECT_EQ(0, records[0].type);
  EXPECT_EQ(16u, records[0].offset);
  EXPECT_EQ(1, records[1].type);
  uint32_t lastDay = 0;
  for (const WalkedRecord& record : records) {
    facts.fillers += record.type != 0 && record.type != 1 && record.type != 4 && record.type != 6;
    facts.rateChanges += record.type == 6;
    if (record.type != 4) continue;
    facts.numbers.push_back(Le16(image, record.offset + 5));
    facts.reportsEnd = record.offset + DumpRecordLength(4, variant);
    uint32_t day = Le32(image, record.offset + 1) >> 11;  // year, month, day in order
    EXPECT_GT(day, lastDay) << "report " << facts.numbers.back();
    lastDay = day;
  }
  facts.area = Walk(image, variant, area, image.size());
  return facts;
}

TEST(GenerateDump, DeterministicPerSeed) {
  GenerateOptions options;
  std::vector<uint8_t> first = GenerateDump(options);
  EXPECT_EQ(first, GenerateDump(options));
  options.seed = 2;
  EXPECT_NE(first, GenerateDump(options));
  // Guards byte-identical output across standard libraries and platforms.
  EXPECT_EQ(0x023E, DumpCrc16(first.data(), first.size()));
}

// A seed is one register's memory: fewer reports give an earlier image of
// it, the same first reports byte for byte and erased memory after them, and
// in the decimal-mode area the switches made so far.
TEST(GenerateDump, FewerReportsGiveAnEarlierImageOfTheSameMemory) {
  for (int variant : {2, 3}) {
    for (uint32_t seed : {1u, 3u, 101u, 202u}) {
      GenerateOptions options;
      options.seed = seed;
      options.variant = variant;
      options.reports = 160;
      const std::vector<uint8_t> later = GenerateDump(options);
      const size_t area = DecimalModeAreaOffset(variant);
      for (int count : {0, 1, 18, 40, 100, 159}) {
        options.reports = count;
        const std::vector<uint8_t> earlier = GenerateDump(options);
        ASSERT_EQ(earlier.size(), later.size());
        ImageFacts facts = Examine(earlier, variant);
        ASSERT_EQ(facts.numbers.size(), static_cast<size_t>(count)) << seed << " " << count;
        const size_t end = count ? facts.reportsEnd : 86;
        EXPECT_TRUE(std::equal(earlier.begin(), earlier.begin() + static_cast<std::ptrdiff_t>(end), later.begin()))
            << seed << " " << count;
        for (size_t at = end; at < area; ++at) ASSERT_EQ(0xFF, earlier[at]) << seed << " " << count << " @" << at;
        const size_t areaEnd = facts.area.back().offset + 11;
        EXPECT_TRUE(std::equal(earlier.begin() + static_cast<std::ptrdiff_t>(area),
                               earlier.begin() + static_cast<std::ptrdiff_t>(areaEnd),
                               later.begin() + static_cast<std::ptrdiff_t>(area)))
            << seed << " " << count;
        for (size_t at = areaEnd; at < earlier.size(); ++at) ASSERT_EQ(0xFF, earlier[at]) << seed << " " << count;
      }
    }
  }
}

TEST(GenerateDump, Variant3LayoutAndContent) {
  GenerateOptions options;
  options.seed = 7;
  std::vector<uint8_t> image = GenerateDump(options);
  ASSERT_EQ(kDumpImageSize, image.size());
  for (int i = 0; i < 16; ++i) EXPECT_EQ(0xFF, image[i]);
  EXPECT_EQ('Z', image[16 + 25]);
  EXPECT_EQ('3', image[16 + 28]);
  EXPECT_EQ(0xAA, image[48 + 5]);
  EXPECT_EQ(2000, Le16(image, 48 + 20));

  ImageFacts facts = Examine(image, 3);
  ASSERT_EQ(200u, facts.numbers.size());
  for (size_t i = 0; i < facts.numbers.size(); ++i) EXPECT_EQ(i + 1, facts.numbers[i]);
  for (size_t at = facts.reportsEnd; at < kDecimalAreaVariant3; ++at) ASSERT_EQ(0xFF, image[at]) << at;

  ASSERT_FALSE(facts.area.empty());
  EXPECT_EQ(kDecimalAreaVariant3, facts.area[0].offset);
  for (const WalkedRecord& record : facts.area) EXPECT_EQ(7, record.type);
  EXPECT_EQ(0, Le16(image, kDecimalAreaVariant3 + 5));
  EXPECT_EQ(0xAA, image[kDecimalAreaVariant3 + 8]);
  size_t areaEnd = facts.area.back().offset + 11;
  for (size_t at = areaEnd; at < image.size(); ++at) ASSERT_EQ(0xFF, image[at]) << at;
}

// Every report is internally consistent: payments and departments add up to
// the group turnover, codes are valid, the flag agrees with the area.
TEST(GenerateDump, ReportsAreConsistentWithTheDecimalModeArea) {
  int sawWholePeriod = 0, sawFillers = 0, sawRateChanges = 0;
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    GenerateOptions options;
    options.seed = seed;
    options.reports = 120;
    std::vector<uint8_t> image = GenerateDump(options);
    ImageFacts facts = Examine(image, 3);
    sawFillers += facts.fillers > 0;
    sawRateChanges += facts.rateChanges == 2;
    EXPECT_TRUE(facts.rateChanges == 0 || facts.rateChanges == 2) << seed;

    uint16_t wholeFrom = 0, wholeTo = 0;
    ASSERT_TRUE(facts.area.size() == 1 || facts.area.size() == 3) << seed;
    if (facts.area.size() == 3) {
      ++sawWholePeriod;
      wholeFrom = Le16(image, facts.area[1].offset + 5);
      wholeTo = Le16(image, facts.area[2].offset + 5);
      EXPECT_EQ(0x55, image[facts.area[1].offset + 8]);
      EXPECT_EQ(0xAA, image[facts.area[2].offset + 8]);
      EXPECT_LT(wholeFrom, wholeTo);
      EXPECT_LE(wholeTo, 120);
    }
    for (const WalkedRecord& record : Walk(image, 3, 16, kDecimalAreaVariant3)) {
      if (record.type != 4) continue;
      size_t r = record.offset;
      uint16_t number = Le16(image, r + 5);
      uint64_t groups = 0, departments = 0, payments = 0;
      for (int k = 0; k < 8; ++k) groups += Le32(image, r + 7 + 4 * k);
      for (int d = 0; d < 9; ++d) {
        departments += Le32(image, r + 55 + 21 * d);
        // Names in the device's own character set: ASCII, or letters at
        // 0x80..0xBE that its character map makes Windows-1251; or a field
        // never written, all 0xFF.
        if (image[r + 39 + 21 * d] == 0xFF) continue;
        for (size_t at = r + 39 + 21 * d; at < r + 55 && image[at]; ++at)
          EXPECT_TRUE((image[at] >= 0x20 && image[at] < 0x7F) || (image[at] >= 0x80 && image[at] <= 0xBE))
              << "report " << number << " department " << d + 1;
      }
      for (int p = 0; p < 4; ++p) {
        payments += Le32(image, r + 274 + 5 * p);
        EXPECT_LE(image[r + 278 + 5 * p], 10);
      }
      EXPECT_GT(groups, 0u);
      EXPECT_EQ(groups, payments) << "report " << number;
      EXPECT_TRUE(departments == 0 || departments == groups) << "report " << number;
      bool whole = number >= wholeFrom && number < wholeTo;
      EXPECT_EQ(whole ? 0x55 : 0xAA, image[r + 331]) << "report " << number;
      uint32_t packed = Le32(image, r + 1);
      int year = static_cast<int>(packed >> 20), month = (packed >> 16) & 15, day = (packed >> 11) & 31;
      int hour = (packed >> 6) & 31, minute = packed & 63;
      EXPECT_TRUE(year >= 10 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59)
          << "report " << number;
    }
  }
  EXPECT_GT(sawWholePeriod, 0);
  EXPECT_GT(sawFillers, 0);
  EXPECT_GT(sawRateChanges, 0);
}

TEST(GenerateDump, Variant2) {
  GenerateOptions options;
  options.variant = 2;
  options.reports = 300;
  std::vector<uint8_t> image = GenerateDump(options);
  ASSERT_EQ(131071u, image.size());
  EXPECT_EQ(std::string("ZA02"), std::string(image.begin() + 16 + 25, image.begin() + 16 + 29));
  ImageFacts facts = Examine(image, 2);
  ASSERT_EQ(300u, facts.numbers.size());
  EXPECT_EQ(300, facts.numbers.back());
  ASSERT_FALSE(facts.area.empty());
  EXPECT_EQ(kDecimalAreaVariant2, facts.area[0].offset);
  EXPECT_EQ(7, facts.area[0].type);
}

// Rates as asked and, with large amounts, every group that has a rate near
// the 4-byte counter's top; departments and payments stay within it.
TEST(GenerateDump, LargeAmountsAtTheRatesAskedFor) {
  for (int variant : {2, 3}) {
    GenerateOptions options;
    options.variant = variant;
    options.reports = 40;
    options.rates = {2000, 900, 750};
    options.largeAmounts = true;
    std::vector<uint8_t> image = GenerateDump(options);
    EXPECT_EQ(750, Le16(image, 48 + 24));
    EXPECT_EQ(kRateUnset, Le16(image, 48 + 26));
    size_t groupsAt = variant == 2 ? 8 : 7;
    int reports = 0;
    for (const WalkedRecord& record : Walk(image, variant, 16, DecimalModeAreaOffset(variant))) {
      if (record.type != 4) continue;
      ++reports;
      for (int k = 0; k < 8; ++k) {
        uint32_t amount = Le32(image, record.offset + groupsAt + 4 * k);
        if (k < 3)  // whole-number reports hold a hundredth of it
          EXPECT_GT(amount, (UINT32_MAX - (1u << 24)) / 100) << k;
        else
          EXPECT_EQ(0u, amount) << k;
      }
    }
    EXPECT_GT(reports, 20);
  }
}

TEST(GenerateDump, ReportCountIsClampedToWhatFits) {
  for (int variant : {2, 3}) {
    GenerateOptions options;
    options.variant = variant;
    options.reports = 100000;
    std::vector<uint8_t> image = GenerateDump(options);
    ImageFacts facts = Examine(image, variant);
    size_t area = DecimalModeAreaOffset(variant);
    EXPECT_LE(facts.reportsEnd, area);
    // Nearly full: no room left for another report with its extras.
    EXPECT_GT(facts.reportsEnd + 133 + DumpRecordLength(4, variant), area);
    EXPECT_GT(facts.numbers.size(), variant == 2 ? 1500u : 5000u);
    EXPECT_EQ(facts.numbers.size(), facts.numbers.back());
    ASSERT_FALSE(facts.area.empty());
    EXPECT_EQ(area, facts.area[0].offset);
  }
  GenerateOptions none;
  none.reports = -5;
  ImageFacts facts = Examine(GenerateDump(none), 3);
  EXPECT_TRUE(facts.numbers.empty());
  EXPECT_EQ(1u, facts.area.size());
}

}  // namespace
