// An image cut short is told from a whole one by its bytes alone, and against
// the dump already stored for the device.
#include "fm/image_cut.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/dump_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

ReportData Report(uint16_t number) {
  ReportData report;
  report.number = number;
  report.dateTime = PackDateTime(11, 3, 15, 10, 30);
  report.groups[0] = 10000 + number;
  return report;
}

// A variant-2 memory as the device sends it: 131,071 bytes, reports from the
// start, the decimal-mode area near the end, erased bytes between and after.
Bytes Variant2Memory(int reports) {
  GenerateOptions options;
  options.variant = 2;
  options.reports = reports;
  return GenerateDump(options);
}

ImageCutFinding EndCut(const Bytes& image, size_t size, bool capReached = false) {
  return FindImageEndCut(image.data(), static_cast<int64_t>(size), capReached);
}

TEST(ImageEndCut, AWholeMemoryOrOneThatEndsOnARecordOrInErasedBytesIsNotCut) {
  Bytes whole = Variant2Memory(200);
  ASSERT_EQ(kVariant2ImageSize, whole.size());
  EXPECT_FALSE(EndCut(whole, whole.size()).cutShort());
  EXPECT_FALSE(FindImageEndCut(nullptr, 0, false).cutShort()) << "nothing at all is no record cut";

  DumpBuilder records;
  records.ModelRecord("ZA02").Report(Report(1), 2);
  EXPECT_FALSE(EndCut(records.bytes(), records.size()).cutShort()) << "ends on a record's end";
  records.Erased(5);
  EXPECT_FALSE(EndCut(records.bytes(), records.size()).cutShort()) << "ends in erased bytes";
}

TEST(ImageEndCut, AnImageThatStopsInsideARecordIsCutAndSaysWhere) {
  DumpBuilder dump;
  dump.ModelRecord("ZA03").Erased(7).Report(Report(1)).Report(Report(2));
  const size_t second = dump.lastRecordOffset();
  // Every cut inside the last report, from its type byte to one byte short.
  for (size_t size = second + 1; size < dump.size(); size += 37) {
    ImageCutFinding finding = EndCut(dump.bytes(), size);
    ASSERT_EQ(ImageCut::EndsInsideRecord, finding.cut) << size;
    EXPECT_EQ(4u, finding.record.type);
    EXPECT_EQ(static_cast<int64_t>(second), finding.record.offset);
    EXPECT_EQ(334, finding.record.length);
    EXPECT_EQ(static_cast<int64_t>(size - second), finding.present);
  }
  ImageCutFinding oneShort = EndCut(dump.bytes(), dump.size() - 1);
  EXPECT_EQ("it ends inside a record (type 4 at byte " + std::to_string(second) +
                " needs 334 bytes, 333 came)",
            DescribeImageCut(oneShort));
  // The same image cut at a read's size cap was cut on purpose.
  EXPECT_FALSE(EndCut(dump.bytes(), dump.size() - 1, true).cutShort());
}

TEST(ImageCutAgainstStored, AMemoryThatGrewReplacesItsDump) {
  Bytes stored = Variant2Memory(100);
  Bytes grown = Variant2Memory(150);
  ASSERT_EQ(stored.size(), grown.size());
  EXPECT_FALSE(FindImageCut(grown.data(), static_cast<int64_t>(grown.size()), false, &stored).cutShort());
  EXPECT_FALSE(FindImageCut(stored.data(), static_cast<int64_t>(stored.size()), false, &stored).cutShort())
      << "the same memory read again";
}

TEST(ImageCutAgainstStored, AShorterImageNeverReplacesALongerDump) {
  Bytes stored = Variant2Memory(200);
  // Cut in the erased bytes between the reports and the decimal-mode area:
  // its own end shows nothing.
  const size_t size = 100000;
  ASSERT_FALSE(EndCut(stored, size).cutShort());
  ImageCutFinding finding = FindImageCut(stored.data(), size, false, &stored);
  EXPECT_EQ(ImageCut::ShorterThanStored, finding.cut);
  EXPECT_EQ(static_cast<int64_t>(size), finding.size);
  EXPECT_EQ(static_cast<int64_t>(stored.size()), finding.storedSize);
  EXPECT_EQ("it is shorter (100000 bytes) than the dump already stored for this device (131071 bytes), "
            "and a fiscal memory only grows",
            DescribeImageCut(finding));
  // A cut inside a record is said as such first.
  DumpBuilder dump;
  dump.Report(Report(1)).Report(Report(2));
  Bytes longer = dump.bytes();
  longer.resize(longer.size() + 100, 0xFF);
  EXPECT_EQ(ImageCut::EndsInsideRecord,
            FindImageCut(dump.bytes().data(), static_cast<int64_t>(dump.size() - 3), false, &longer).cut);
}

TEST(ImageCutAgainstStored, AnImageThatLacksARecordOfTheDumpDoesNotReplaceIt) {
  Bytes stored = Variant2Memory(200);
  // The decimal-mode area erased: as long as the dump, but its records are gone.
  Bytes lacking = stored;
  std::fill(lacking.begin() + static_cast<long>(kDecimalAreaVariant2), lacking.end(), 0xFF);
  ImageCutFinding finding = FindImageCut(lacking.data(), static_cast<int64_t>(lacking.size()), false, &stored);
  ASSERT_EQ(ImageCut::LacksStoredRecord, finding.cut);
  EXPECT_EQ(static_cast<int64_t>(kDecimalAreaVariant2), finding.record.offset);
  EXPECT_EQ(7u, finding.record.type);
  EXPECT_EQ("it lacks the record at byte 127232 (type 7) that the dump already stored for this device "
            "holds, and a fiscal memory only grows",
            DescribeImageCut(finding));

  // A report changed in the middle: the memory is not the one stored.
  DumpBuilder before, after;
  before.Report(Report(1)).Report(Report(2)).Erased(400);
  after.Report(Report(1)).Report(Report(3)).Erased(400);
  finding = FindCutAgainstStored(after.bytes().data(), static_cast<int64_t>(after.size()),
                                 before.bytes().data(), static_cast<int64_t>(before.size()));
  EXPECT_EQ(ImageCut::LacksStoredRecord, finding.cut);
  EXPECT_EQ(334, finding.record.offset);
}

// A record the stored copy holds damaged (its CRC fails) proves nothing: a
// good read of the same memory replaces it.
TEST(ImageCutAgainstStored, ADamagedRecordOfTheDumpIsNoEvidence) {
  DumpBuilder good;
  good.Report(Report(1)).Report(Report(2)).Erased(400);
  Bytes damaged = good.bytes();
  damaged[400] ^= 0x10;  // inside the second report
  ImageCutFinding finding = FindCutAgainstStored(good.bytes().data(), static_cast<int64_t>(good.size()),
                                                 damaged.data(), static_cast<int64_t>(damaged.size()));
  EXPECT_FALSE(finding.cutShort());
  EXPECT_EQ("", DescribeImageCut(finding));
}

}  // namespace
