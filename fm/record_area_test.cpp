#include "fm/record_area.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fm/zelvanm_kl_bul.h"
#include "sim/dump_builder.h"

namespace {

constexpr int64_t kDay = 86400;

RecordAreaUse UseOf(const std::vector<uint8_t>& bytes, std::vector<ReportMark>* marks = nullptr) {
  RecordAreaGauge gauge;
  {
    CZELVANM_KL_BUL reader(new CInputMemory(bytes.data(), static_cast<int64_t>(bytes.size())));
    reader.sink = &gauge;
    reader.Parse();
  }
  if (marks) *marks = gauge.marks();
  return gauge.Use(static_cast<int64_t>(bytes.size()));
}

// A memory as the device holds it: 16 erased bytes, the model record, the
// mode and rates, `reports` daily reports one a day, erased up to the
// decimal-mode area, its record, erased to the image's end. *lastEnd: where
// the last report ends.
DumpBuilder Memory(int variant, int reports, size_t* lastEnd) {
  DumpBuilder dump;
  const uint16_t rates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  dump.Erased(16).ModelRecord(variant == 2 ? "ZA02" : "ZA03").ModeAndRates(kModeFractional, rates);
  for (int i = 1; i <= reports; ++i) {
    ReportData report;
    report.number = static_cast<uint16_t>(i);
    report.dateTime = PackDateTime(12, 1 + (i - 1) / 28 % 12, 1 + (i - 1) % 28, 20, 0);
    report.groups[0] = 1000;
    dump.Report(report, variant);
  }
  *lastEnd = dump.size();
  dump.PadTo(DecimalModeAreaOffset(variant)).DecimalMode(0, kModeFractional);
  dump.PadTo(variant == 2 ? kVariant2ImageSize : kDumpImageSize);
  return dump;
}

TEST(RecordArea, TheShareIsWhereTheLastRecordEndsOverTheAreaStart) {
  for (int variant : {2, 3}) {
    size_t lastEnd = 0;
    DumpBuilder dump = Memory(variant, 40, &lastEnd);
    RecordAreaUse use = UseOf(dump.bytes());
    EXPECT_EQ(use.modelVariant, variant);
    EXPECT_EQ(use.areaStart, variant == 2 ? 0x1F100 : 0x1F1000);
    // The decimal-mode record beyond the area start is not counted.
    EXPECT_EQ(use.written, static_cast<int64_t>(lastEnd)) << variant;
    EXPECT_FALSE(use.ShortImage());
    EXPECT_DOUBLE_EQ(use.Share(), static_cast<double>(lastEnd) / static_cast<double>(use.areaStart));
    EXPECT_EQ(use.Free(), use.areaStart - static_cast<int64_t>(lastEnd));
  }
}

TEST(RecordArea, TheShareIsRoundedDownSoThatOnlyAFullAreaIsAHundred) {
  RecordAreaUse use;
  use.areaStart = 0x1F100;
  use.written = 0x1F100 - 1;
  EXPECT_EQ(ShareText(use), "99.9%");
  use.written = 0x1F100;
  EXPECT_EQ(ShareText(use), "100.0%");
  use.written = 0;
  EXPECT_EQ(ShareText(use), "0.0%");
  use.written = 118452;  // 93.099...%
  EXPECT_EQ(ShareText(use), "93.0%");
  use.written = 118453;  // 93.1000...%
  EXPECT_EQ(ShareText(use), "93.1%");
}

TEST(RecordArea, RecordsThatFillTheAreaToItsStartMakeItFull) {
  // Variant 2: 16 + 32 + 38 bytes, then 69-byte reports up to a gap that
  // 11-byte records close exactly at the area's start.
  DumpBuilder dump;
  const uint16_t rates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  dump.Erased(16).ModelRecord("ZA02").ModeAndRates(kModeFractional, rates);
  ReportData report;
  report.dateTime = PackDateTime(12, 1, 1, 20, 0);
  auto gap = [&] { return 0x1F100 - dump.size(); };
  while (!(gap() % 11 == 0 && gap() < 69 * 11)) {
    ++report.number;
    dump.Report(report, 2);
  }
  while (gap() > 0) dump.Filler(5);
  const size_t end = dump.size();
  ASSERT_EQ(end, 0x1F100u);
  dump.PadTo(0x1F100).DecimalMode(0, kModeFractional).PadTo(kVariant2ImageSize);
  RecordAreaUse use = UseOf(dump.bytes());
  EXPECT_EQ(use.written, 0x1F100);
  EXPECT_EQ(ShareText(use), "100.0%");
  EXPECT_EQ(use.Share(), 1.0);
  double months = -1;
  EXPECT_TRUE(EstimateMonthsLeft(use, {}, &months));
  EXPECT_EQ(months, 0);
}

TEST(RecordArea, AnImageWithoutRecordsBeforeTheAreaHasNothingWritten) {
  DumpBuilder dump;
  dump.Erased(16).PadTo(0x1F1000).DecimalMode(0, kModeFractional).PadTo(kDumpImageSize);
  RecordAreaUse use = UseOf(dump.bytes());
  EXPECT_EQ(use.modelVariant, 3);
  EXPECT_EQ(use.written, 0);
  EXPECT_EQ(ShareText(use), "0.0%");
  EXPECT_FALSE(use.ShortImage());

  RecordAreaUse empty = UseOf({});
  EXPECT_EQ(empty.written, 0);
  EXPECT_TRUE(empty.ShortImage());
}

TEST(RecordArea, AnImageThatEndsBeforeTheAreaCountsWhatItHolds) {
  size_t lastEnd = 0;
  DumpBuilder whole = Memory(2, 30, &lastEnd);
  // Cut in the erased bytes after the last report.
  std::vector<uint8_t> cut(whole.bytes().begin(), whole.bytes().begin() + static_cast<long>(lastEnd) + 100);
  RecordAreaUse use = UseOf(cut);
  EXPECT_TRUE(use.ShortImage());
  EXPECT_EQ(use.written, static_cast<int64_t>(lastEnd));
  EXPECT_EQ(use.imageSize, static_cast<int64_t>(lastEnd) + 100);
  // Cut inside the last report: the bytes it holds are written memory.
  cut.assign(whole.bytes().begin(), whole.bytes().begin() + static_cast<long>(lastEnd) - 20);
  use = UseOf(cut);
  EXPECT_EQ(use.written, static_cast<int64_t>(lastEnd) - 20);
  EXPECT_EQ(use.modelVariant, 2);
}

TEST(RecordArea, MarksAreTheIntactReportsInDumpOrder) {
  size_t lastEnd = 0;
  DumpBuilder dump = Memory(3, 5, &lastEnd);
  std::vector<ReportMark> marks;
  UseOf(dump.bytes(), &marks);
  ASSERT_EQ(marks.size(), 5u);
  for (size_t i = 1; i < marks.size(); ++i) {
    EXPECT_EQ(marks[i].offset - marks[i - 1].offset, 334);
    EXPECT_EQ(marks[i].time - marks[i - 1].time, kDay);
  }
  EXPECT_EQ(marks.back().offset, static_cast<int64_t>(lastEnd) - 334);
}

// count more marks, each `bytes` after and `days` later than the one before.
void AddMarks(std::vector<ReportMark>* marks, int count, int64_t bytes, int64_t days) {
  for (int i = 0; i < count; ++i) {
    if (marks->empty())
      marks->push_back({1300000000, 86});
    else
      marks->push_back({marks->back().time + days * kDay, marks->back().offset + bytes});
  }
}

TEST(RecordArea, MonthsLeftAtThePaceOfTheLastNinetyDays) {
  RecordAreaUse use;
  use.areaStart = 0x1F1000;
  std::vector<ReportMark> marks;
  // A year at two reports' bytes a day, then 120 days at one.
  AddMarks(&marks, 365, 668, 1);
  AddMarks(&marks, 120, 334, 1);
  use.written = marks.back().offset + 334;
  double months = -1;
  ASSERT_TRUE(EstimateMonthsLeft(use, marks, &months));
  EXPECT_NEAR(months, static_cast<double>(use.Free()) / 334 / 30.436875, 1e-9);

  // A register younger than 90 days: its whole life is the pace.
  marks.clear();
  AddMarks(&marks, 31, 334, 2);  // every other day
  use.written = marks.back().offset + 334;
  ASSERT_TRUE(EstimateMonthsLeft(use, marks, &months));
  EXPECT_NEAR(months, static_cast<double>(use.Free()) / 167 / 30.436875, 1e-9);
}

TEST(RecordArea, NoPaceWithoutTwoReportsADayApart) {
  RecordAreaUse use;
  use.areaStart = 0x1F100;
  use.written = 2000;
  double months = -1;
  EXPECT_FALSE(EstimateMonthsLeft(use, {}, &months));
  std::vector<ReportMark> marks;
  AddMarks(&marks, 1, 69, 1);
  EXPECT_FALSE(EstimateMonthsLeft(use, marks, &months));
  // Two reports within a day.
  marks.push_back({marks.back().time + 3600, marks.back().offset + 69});
  EXPECT_FALSE(EstimateMonthsLeft(use, marks, &months));
  // The only other report is more than 90 days older.
  marks = {{1300000000, 100}, {1300000000 + 91 * kDay, 169}};
  EXPECT_FALSE(EstimateMonthsLeft(use, marks, &months));
  // A clock set back: the newest report stands before the first of its days.
  marks = {{1300000000, 100}, {1300000000 + 10 * kDay, 50}};
  EXPECT_FALSE(EstimateMonthsLeft(use, marks, &months));
  EXPECT_EQ(months, -1);
}

TEST(RecordArea, GaugeMemoryWalksOnceForTheServer) {
  GenerateOptions options;
  options.seed = 11;
  options.reports = 300;
  for (int variant : {2, 3}) {
    options.variant = variant;
    std::vector<uint8_t> image = GenerateDump(options);
    MemoryGauge gauge = GaugeMemory(image);
    std::vector<ReportMark> marks;
    RecordAreaUse use = UseOf(image, &marks);
    EXPECT_EQ(gauge.use.written, use.written);
    EXPECT_EQ(gauge.use.modelVariant, variant);
    EXPECT_GT(use.written, 300 * (variant == 2 ? 69 : 334));
    ASSERT_TRUE(gauge.monthsKnown);
    double months = 0;
    ASSERT_TRUE(EstimateMonthsLeft(use, marks, &months));
    EXPECT_EQ(gauge.monthsLeft, months);
    EXPECT_GT(months, 0);
  }
}

}  // namespace
