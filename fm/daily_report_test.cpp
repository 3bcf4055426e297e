// The values the record stream hands to its consumers: what each daily report
// holds, what counts, and that the totals are the sums of what counted.
#include "fm/daily_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fm/walk_test_support.h"

namespace {

struct Recorder : ReportSink {
  std::vector<std::pair<uint32_t, bool>> records;
  std::vector<DailyReport> reports;
  ReportTotals totals;
  void OnFrame(const RecordFrame& frame) override { records.push_back({frame.type, frame.crcOk}); }
  void OnDailyReport(const DailyReport& report) override { reports.push_back(report); }
  void OnTotals(const ReportTotals& t) override { totals = t; }
};

Recorder WalkInto(const DumpBuilder& dump) {
  TempDir dir;
  std::string path = WriteDump(dir, dump);
  Recorder recorder;
  CZELVANM_KL_BUL reader(path.c_str());
  reader.sink = &recorder;
  reader.reportType = 0;
  reader.Parse();
  return recorder;
}

const uint16_t kRates[8] = {2000, 900, 750, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset};

TEST(DailyReportModel, Variant3ReportCountsWhatTheTextReportCounts) {
  ReportData data;
  data.dateTime = PackDateTime(11, 3, 15, 10, 30);
  data.number = 7;
  data.groups[0] = 12000;  // 120.00 at 20 %: 20.00 tax
  data.groups[2] = 4294967295u;
  data.departments[1] = {"\x8F\x80\xBF" "A", 500, 0};  // device letters, a blank, ASCII
  data.payments[0] = {300, 7};
  data.payments[1] = {200, 7};  // the same code twice: summed
  data.payments[2] = {900, 11};  // no such payment type
  data.decimalFlag = 0x55;
  DumpBuilder dump;
  dump.ModeAndRates(kModeFractional, kRates).Report(data).CorruptLastCrc();
  Recorder walk = WalkInto(dump);

  ASSERT_EQ(walk.reports.size(), 1u);
  const DailyReport& r = walk.reports[0];
  EXPECT_EQ(walk.records, (std::vector<std::pair<uint32_t, bool>>{{1, true}, {4, false}}));
  EXPECT_FALSE(r.crcOk);
  EXPECT_EQ(r.number, 7);
  EXPECT_EQ(r.modelVariant, 3);
  EXPECT_STREQ(r.dateText, "15-03-11 10:30");
  EXPECT_STREQ(r.groups[0].text, "120.00");
  EXPECT_TRUE(r.groups[0].counted);
  EXPECT_FALSE(r.groups[1].counted);
  EXPECT_STREQ(r.groups[2].text, "42949672.95");
  EXPECT_DOUBLE_EQ(r.tax[0], 20.0);
  EXPECT_EQ(r.tax[2], 42949672.95 * (7.5 / 107.5));
  EXPECT_STREQ(r.departments[1].name, "\x8F\x80\xBF" "A");
  EXPECT_STREQ(r.departments[1].mappedName, "\xCF\xC0 A");  // П, А, a blank, A
  EXPECT_FALSE(r.departments[0].amount.counted);
  EXPECT_EQ(r.payments[7], 5.0);
  EXPECT_EQ(r.payments[0], 0.0);
  EXPECT_FALSE(r.slots[2].amount.counted);
  EXPECT_EQ(r.decimalFlag, 85);

  EXPECT_EQ(walk.totals.groupTurnover[2], r.groups[2].value);
  EXPECT_EQ(walk.totals.groupTax[0], r.tax[0]);
  EXPECT_EQ(walk.totals.departments[1], 5.0);
  EXPECT_EQ(walk.totals.payments[7], 5.0);
}

TEST(DailyReportModel, Variant2CountsEveryGroupAndTheVariantChangesMidWalk) {
  ReportData data;
  data.number = 1;
  data.groups[3] = 250;
  DumpBuilder dump;
  dump.Report(data).ModelRecord("ZA02").Report(data, 2);
  Recorder walk = WalkInto(dump);
  ASSERT_EQ(walk.reports.size(), 2u);
  EXPECT_EQ(walk.reports[0].modelVariant, 3);
  EXPECT_FALSE(walk.reports[0].groups[0].counted);
  EXPECT_EQ(walk.reports[1].modelVariant, 2);
  for (const ReportAmount& group : walk.reports[1].groups) EXPECT_TRUE(group.counted);
  EXPECT_EQ(walk.totals.modelVariant, 2);
  EXPECT_EQ(walk.totals.groupTurnover[3], 5.0);
}

TEST(DailyReportModel, RecordedDateCarriesOverAsOnACalendar) {
  auto civil = [](int y, int mo, int d, int h, int mi) {
    CivilDateTime c = ToCivil({y, mo, d, h, mi});
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", c.year, c.month, c.day, c.hour, c.minute);
    return std::string(text);
  };
  EXPECT_EQ(civil(11, 7, 31, 23, 30), "2011-07-31 23:30");  // summer time plays no part
  EXPECT_EQ(civil(12, 3, 0, 10, 0), "2012-02-29 10:00");    // day 0: the month before's last
  EXPECT_EQ(civil(11, 13, 1, 0, 0), "2012-01-01 00:00");
  EXPECT_EQ(civil(11, 0, 15, 0, 0), "2010-12-15 00:00");
  EXPECT_EQ(civil(11, 2, 30, 0, 0), "2011-03-02 00:00");
  EXPECT_EQ(civil(11, 12, 31, 23, 60), "2012-01-01 00:00");
  EXPECT_EQ(civil(11, 5, 31, 31, 63), "2011-06-01 08:03");
  EXPECT_EQ(civil(100, 1, 1, 0, 0), "2100-01-01 00:00");
  EXPECT_EQ(civil(0, 0, 0, 0, 0), "1999-11-30 00:00");
}

}  // namespace
