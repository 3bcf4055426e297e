#include "fm/zelvanm_kl_bul.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fm/cp1251.h"
#include "fm/walk_test_support.h"

namespace {

const std::string kCrcWarning = CP1251("\r\nWARNING: Грешка CRC.\r\n");

// The codes ReadRecord gives, one per call, up to and including the end.
std::vector<int32_t> Codes(const DumpBuilder& dump) {
  TempDir dir;
  std::string path = WriteDump(dir, dump);
  ResetReportBuffer();
  CZELVANM_KL_BUL reader(path.c_str());
  std::vector<int32_t> codes;
  for (int guard = 0; guard < 100000; ++guard) {
    codes.push_back(reader.ReadRecord());
    if (codes.back() == RecordEndOfInput) break;
  }
  return codes;
}

ReportData SimpleReport(uint16_t number, uint32_t dateTime = PackDateTime(11, 3, 15, 10, 30)) {
  ReportData report;
  report.number = number;
  report.dateTime = dateTime;
  report.groups[0] = 10000;
  return report;
}

TEST(RecordStream, FramesRecordsByTypeAcrossErasedGaps) {
  DumpBuilder dump;
  dump.Filler(5).Erased(3).Filler(8).Erased(25).Filler(2).Erased(10).Filler(13);
  // 25 bytes of 0xFF: two erased blocks, then the record at look-ahead index 3.
  EXPECT_EQ(Codes(dump), (std::vector<int32_t>{5, 8, -4, -4, 2, 13, -1}));
}

TEST(RecordStream, WalkStartsAtSixteenAfterAnErasedStart) {
  // Bytes 11 to 15 are never walked, whatever they hold.
  DumpBuilder erasedStart;
  erasedStart.Erased(11).Bytes({9, 9, 9, 9, 9}).Filler(9);
  EXPECT_EQ(Codes(erasedStart), (std::vector<int32_t>{9, -1}));

  DumpBuilder recordAtZero;
  recordAtZero.Filler(5).Filler(9);
  EXPECT_EQ(Codes(recordAtZero), (std::vector<int32_t>{5, 9, -1}));

  DumpBuilder erasedThenAligned;
  erasedThenAligned.Erased(16).Filler(9);
  EXPECT_EQ(Codes(erasedThenAligned), (std::vector<int32_t>{9, -1}));
}

TEST(RecordStream, CrcMismatchWarnsAndStillProcessesTheRecord) {
  DumpBuilder dump;
  dump.Report(SimpleReport(7)).CorruptLastCrc();
  EXPECT_EQ(Codes(dump), (std::vector<int32_t>{-2, -1}));
  WalkResult walk = Walk(dump);
  EXPECT_EQ(walk.report.rfind(kCrcWarning + "\r\nDate: 15-03-11 10:30\r\n", 0), 0u);
  EXPECT_NE(walk.report.find(CP1251("Дан. гр. 1: 100.00")), std::string::npos);
  EXPECT_EQ(walk.parsed, 1);
}

TEST(RecordStream, SwappedCrcBytesFailTheCheck) {
  DumpBuilder dump;
  dump.Filler(9);
  std::vector<uint8_t> bytes = dump.bytes();
  ASSERT_NE(bytes[9], bytes[10]);
  DumpBuilder swapped;
  swapped.Bytes({bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7],
                 bytes[8], bytes[10], bytes[9]});
  EXPECT_EQ(Codes(swapped), (std::vector<int32_t>{-2, -1}));
}

TEST(RecordStream, UnknownTypesAreFramedWithThePreviousLength) {
  // After an 11-byte record, an unknown type is read as 11 bytes.
  DumpBuilder dump;
  dump.Filler(9).Record({14, 1, 2, 3, 4, 5, 6, 7, 8}).Filler(9);
  EXPECT_EQ(Codes(dump), (std::vector<int32_t>{9, -3, 9, -1}));
  // Before any record the length is 48.
  std::vector<uint8_t> content(46, 0);
  content[0] = 200;
  DumpBuilder first;
  first.Record(content).Filler(9);
  EXPECT_EQ(Codes(first), (std::vector<int32_t>{-3, 9, -1}));
}

TEST(RecordStream, RecordCutShortByTheEndIsNotProcessed) {
  DumpBuilder dump;
  dump.Report(SimpleReport(3));
  std::vector<uint8_t> cut(dump.bytes().begin(), dump.bytes().end() - 1);
  DumpBuilder truncated;
  truncated.Bytes(cut);
  WalkResult walk = Walk(truncated);
  EXPECT_EQ(walk.report.find("Date:"), std::string::npos);
  EXPECT_EQ(walk.parsed, 1);
}

TEST(RecordStream, EmptyAndErasedDumpsGiveOnlyZeroTotals) {
  DumpBuilder empty, erased;
  erased.Erased(4000);
  for (const DumpBuilder* dump : {&empty, &erased}) {
    WalkResult walk = Walk(*dump);
    EXPECT_EQ(walk.parsed, 1);
    EXPECT_EQ(walk.report.rfind(CP1251("Оборот:\r\n"), 0), 0u);
    EXPECT_EQ(walk.report.find("Date:"), std::string::npos);
  }
}

// A file longer than the device's memory: the walk goes on to its end.
TEST(RecordStream, RecordsPastTheImageSizeAreStillRead) {
  DumpBuilder dump;
  dump.Report(SimpleReport(1)).PadTo(kDumpImageSize + 5).Report(SimpleReport(2));
  WalkResult walk = Walk(dump);
  EXPECT_EQ(walk.parsed, 1);
  EXPECT_NE(walk.report.find(CP1251("Отчет# 2\r\n")), std::string::npos);
}

TEST(RecordStream, MissingDumpParsesToZero) {
  ResetReportBuffer();
  CZELVANM_KL_BUL reader("/nonexistent/dir/dump.bin");
  reader.reportType = 0;
  EXPECT_EQ(reader.ReadRecord(), RecordEndOfInput);
  EXPECT_EQ(reader.Parse(), 0);
}

TEST(ModelVariant, MarkerShortensLaterReportsAndEveryReaderStartsAtThree) {
  DumpBuilder variant2;
  variant2.ModelRecord("ZA02").Report(SimpleReport(1), 2).Report(SimpleReport(2), 2);
  EXPECT_EQ(Codes(variant2), (std::vector<int32_t>{0, 4, 4, -1}));
  EXPECT_EQ(modelVariant, 2);

  // The same process, a variant-3 dump: 334-byte reports again.
  DumpBuilder variant3;
  variant3.ModelRecord("ZA03").Report(SimpleReport(1)).Report(SimpleReport(2));
  EXPECT_EQ(Codes(variant3), (std::vector<int32_t>{0, 4, 4, -1}));
  EXPECT_EQ(modelVariant, 3);
}

class DecimalModes : public ::testing::Test {
 protected:
  // A reader whose history holds the entries of the given dump's area.
  std::vector<std::pair<int, int>> History(const DumpBuilder& dump) {
    TempDir dir;
    std::string path = WriteDump(dir, dump);
    CZELVANM_KL_BUL reader(path.c_str());
    reader.ScanDecimalModes();
    std::vector<std::pair<int, int>> entries;
    for (DecimalModeEntry* e = decimalModeHistory; e; e = e->next)
      entries.push_back({e->fromReport, e->fractional});
    return entries;
  }
};

TEST_F(DecimalModes, ScanReadsTheAreaUpToTheFirstErasedBlock) {
  DumpBuilder dump;
  dump.ModelRecord().PadTo(kDecimalAreaVariant3);
  dump.DecimalMode(0, kModeFractional).Filler(9).DecimalMode(100, kModeWhole)
      .DecimalMode(250, 0x12).Erased(11).DecimalMode(300, kModeWhole);
  // An unknown mode byte keeps the mode before it.
  EXPECT_EQ(History(dump), (std::vector<std::pair<int, int>>{{0, 1}, {100, 0}, {250, 0}}));
}

TEST_F(DecimalModes, ScanStopsSilentlyAtABadRecord) {
  DumpBuilder dump;
  dump.PadTo(kDecimalAreaVariant3).DecimalMode(0, kModeWhole).DecimalMode(5, kModeFractional)
      .CorruptLastCrc().DecimalMode(9, kModeWhole);
  EXPECT_EQ(History(dump), (std::vector<std::pair<int, int>>{{0, 0}}));
}

TEST_F(DecimalModes, ModelRecordScanLeavesTheWalkWhereItWas) {
  DumpBuilder dump;
  dump.ModelRecord().Report(SimpleReport(1)).PadTo(kDecimalAreaVariant3).DecimalMode(0, kModeWhole);
  std::string report = Walk(dump).report;
  // The report right after the model record is read, in whole numbers.
  EXPECT_NE(report.find(CP1251("Дан. гр. 1: 10000\r\n")), std::string::npos);
}

TEST_F(DecimalModes, FractionalForFollowsTheEntriesInOrder) {
  DumpBuilder dump;
  dump.PadTo(kDecimalAreaVariant3).DecimalMode(0, kModeFractional).DecimalMode(100, kModeWhole)
      .DecimalMode(250, kModeFractional);
  TempDir dir;
  std::string path = WriteDump(dir, dump);
  CZELVANM_KL_BUL reader(path.c_str());
  EXPECT_EQ(reader.FractionalFor(5), 1);  // empty history
  reader.ScanDecimalModes();
  EXPECT_EQ(reader.FractionalFor(99), 1);
  EXPECT_EQ(reader.FractionalFor(100), 0);
  EXPECT_EQ(reader.FractionalFor(249), 0);
  EXPECT_EQ(reader.FractionalFor(250), 1);
  EXPECT_EQ(reader.FractionalFor(60000), 1);
  EXPECT_EQ(reader.FractionalFor(-1), 1);
}

TEST(ReportFilter, BoundsAreInclusive) {
  TempDir dir;
  DumpBuilder empty;
  std::string path = WriteDump(dir, empty);
  CZELVANM_KL_BUL reader(path.c_str());
  reader.reportType = 1;
  reader.fromValue = 5;
  reader.toValue = 7;
  EXPECT_FALSE(reader.MatchesFilter(4, 0));
  EXPECT_TRUE(reader.MatchesFilter(5, 0));
  EXPECT_TRUE(reader.MatchesFilter(7, 0));
  EXPECT_FALSE(reader.MatchesFilter(8, 0));
  reader.reportType = 2;
  reader.fromValue = 1000;
  reader.toValue = 2000;
  EXPECT_TRUE(reader.MatchesFilter(99, 2000));
  EXPECT_FALSE(reader.MatchesFilter(6, 2001));
  reader.reportType = 0;
  EXPECT_TRUE(reader.MatchesFilter(-5, -1));
}

}  // namespace

namespace {

TEST(DecimalModesManyModelRecords, RepeatedScansChangeNoLookupAndStayCheap) {
  // Every model record rescans the area; a dump of thousands of them must
  // neither grow the history without bound nor change what a report reads.
  DumpBuilder dump;
  ReportData report;
  report.dateTime = PackDateTime(11, 3, 15, 10, 30);
  report.groups[0] = 12345;
  for (int i = 0; i < 3000; ++i) dump.ModelRecord();
  for (uint16_t n : {50, 150, 300}) {
    report.number = n;
    dump.Report(report);
  }
  dump.PadTo(kDecimalAreaVariant3).DecimalMode(100, kModeWhole).DecimalMode(200, kModeFractional);
  std::string text = Walk(dump).report;
  EXPECT_NE(text.find(CP1251("Отчет# 50\r\nДан. гр. 1: 123.45\r\n")), std::string::npos);
  EXPECT_NE(text.find(CP1251("Отчет# 150\r\nДан. гр. 1: 12345\r\n")), std::string::npos);
  EXPECT_NE(text.find(CP1251("Отчет# 300\r\nДан. гр. 1: 123.45\r\n")), std::string::npos);
}

}  // namespace
