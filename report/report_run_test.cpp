#include "report/report_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fm/cp1251.h"
#include "res/resource.h"
#include "sim/dump_builder.h"
#include "testsupport/fake_ui.h"
#include "testsupport/temp_dir.h"

namespace {

class ReportRun : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint16_t n = 1; n <= 28; ++n) {
      ReportData report;
      report.number = n;
      report.dateTime = PackDateTime(10, 3, static_cast<int>(n), 12, 0);  // 1 March 2010 on, one a day
      report.groups[0] = 100u * n;
      dump.Report(report);
    }
    dumpPath = dir.File("AB1234.bin");
    std::string error;
    ASSERT_TRUE(dump.WriteFile(dumpPath, &error)) << error;
  }

  ReportRequest Request(int type, const std::string& from = "", const std::string& to = "") {
    ReportRequest request;
    request.dumpPath = dumpPath;
    request.reportType = type;
    request.fromText = from;
    request.toText = to;
    request.owner = &ui;
    return request;
  }
  std::string Report() { return ReadFileBytes(dumpPath + ".txt"); }
  size_t Count(const std::string& needle) {
    std::string report = Report();
    size_t count = 0;
    for (size_t at = report.find(needle); at != std::string::npos; at = report.find(needle, at + 1)) ++count;
    return count;
  }

  TempDir dir;
  DumpBuilder dump;
  std::string dumpPath;
  FakeUi ui;
};

TEST_F(ReportRun, AllRecordsIgnoresTheBoundTexts) {
  EXPECT_TRUE(RunReport(Request(ReportAll, "garbage", "")));
  EXPECT_EQ(Count("Date:"), 28u);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Parse successfull");
  EXPECT_EQ(ui.messages[0].owner, &ui);
  EXPECT_EQ(ui.messages[0].caption, "Taxoscope");
  EXPECT_EQ(ui.messages[0].icon, MessageIconInformation);
}

TEST_F(ReportRun, ByDateTakesWholeDays) {
  EXPECT_TRUE(RunReport(Request(ReportByDate, "05/03/2010", "7/3/2010")));
  EXPECT_EQ(Count("Date:"), 3u);
  EXPECT_NE(Report().find("Date: 05-03-10 12:00"), std::string::npos);
  EXPECT_NE(Report().find("Date: 07-03-10 12:00"), std::string::npos);
}

TEST_F(ReportRun, ByNumberReadsHexAndOctal) {
  EXPECT_TRUE(RunReport(Request(ReportByNumber, "0x1A", "034")));  // 26 to 28
  EXPECT_EQ(Count("Date:"), 3u);
  EXPECT_NE(Report().find(CP1251("Отчет# 26\r\n")), std::string::npos);
  // A lower bound above the upper one: no message, no report passes.
  EXPECT_TRUE(RunReport(Request(ReportByNumber, "30", "20")));
  EXPECT_EQ(Count("Date:"), 0u);
  // -1 is 4294967295: nothing reaches it.
  EXPECT_TRUE(RunReport(Request(ReportByNumber, "-1", "-1")));
  EXPECT_EQ(Count("Date:"), 0u);
}

TEST_F(ReportRun, InvalidBoundsShowOneMessageAndKeepTheOldReport) {
  WriteFileBytes(dumpPath + ".txt", "previous report");
  struct Case { int type; const char* from; const char* to; const char* message; };
  for (Case c : {Case{ReportByDate, "1.3.2010", "x", "Invalid input value \"from\""},
                 {ReportByDate, "1/3/2010", "31/02", "Invalid input value \"to\""},
                 {ReportByNumber, "abc", "", "Invalid input value \"from\""},
                 {ReportByNumber, "5", " ", "Invalid input value \"to\""}}) {
    ui.messages.clear();
    EXPECT_EQ(RunReportWithOutcome(Request(c.type, c.from, c.to)), ReportInvalidBound);
    ASSERT_EQ(ui.messages.size(), 1u) << c.from;
    EXPECT_EQ(ui.messages[0].text, c.message);
    EXPECT_FALSE(ui.messages[0].hasCaption);
    EXPECT_EQ(ui.messages[0].icon, MessageIconNone);
    EXPECT_EQ(Report(), "previous report");
  }
}

TEST_F(ReportRun, ShowResultOpensTheFileInsteadOfAMessage) {
  ReportRequest request = Request(ReportAll);
  request.showResult = true;
  EXPECT_TRUE(RunReport(request));
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_EQ(ui.opened.size(), 1u);
  EXPECT_EQ(ui.opened[0], dumpPath + ".txt");
}

TEST_F(ReportRun, MissingDumpWritesNoReport) {
  for (bool showResult : {false, true}) {
    ui.messages.clear();
    ReportRequest request = Request(ReportAll);
    request.dumpPath = dir.File("missing.bin");
    request.showResult = showResult;
    EXPECT_EQ(RunReportWithOutcome(request), ReportDumpUnreadable);
    EXPECT_FALSE(FileExists(dir.File("missing.bin.txt")));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Error parsing data");
    EXPECT_EQ(ui.messages[0].icon, MessageIconError);
    EXPECT_TRUE(ui.opened.empty());
  }
}

TEST_F(ReportRun, DumpWithoutExtensionAndEmptyDump) {
  std::string plain = dir.File("dump");
  WriteFileBytes(plain, "");
  ReportRequest request = Request(ReportAll);
  request.dumpPath = plain;
  EXPECT_TRUE(RunReport(request));
  EXPECT_TRUE(FileExists(plain + ".txt"));
  EXPECT_EQ(ReadFileBytes(plain + ".txt").rfind(CP1251("Оборот:\r\n"), 0), 0u);
}

TEST_F(ReportRun, UnwritableReportShowsTheSystemErrorAndKeepsNothingHalfWritten) {
  // The report's name is taken by a folder: the file cannot be replaced.
  ASSERT_TRUE(std::filesystem::create_directory(dumpPath + ".txt"));
  EXPECT_EQ(RunReportWithOutcome(Request(ReportAll)), ReportWriteFailed);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_TRUE(ui.messages[0].hasCaption);
  EXPECT_EQ(ui.messages[0].caption, "Error");
  EXPECT_EQ(ui.messages[0].owner, nullptr);
  EXPECT_EQ(ui.messages[0].icon, MessageIconError);
  EXPECT_FALSE(ui.messages[0].text.empty());
  size_t files = 0;
  for (auto& entry : std::filesystem::directory_iterator(dir.path())) (void)entry, ++files;
  EXPECT_EQ(files, 2u);  // the dump and the folder: no temporary file left behind
}

// DUMP.txt made a second name of the dump (a hard link here; a symbolic
// link alike): the run writes nothing over its own dump.
TEST_F(ReportRun, AReportNameThatIsTheDumpItselfIsNotWritten) {
  const std::string bytes = ReadFileBytes(dumpPath);
  std::error_code ec;
  std::filesystem::create_hard_link(dumpPath, dumpPath + ".txt", ec);
  if (ec) GTEST_SKIP() << "this file system has no hard links: " << ec.message();
  EXPECT_EQ(RunReportWithOutcome(Request(ReportAll)), ReportWriteFailed);
  EXPECT_EQ(ReadFileBytes(dumpPath), bytes);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "it is the dump itself");
  EXPECT_EQ(ui.messages[0].caption, "Error");
  // Once the run is over its dump is an ordinary file again.
  ASSERT_TRUE(std::filesystem::remove(dumpPath + ".txt"));
  EXPECT_TRUE(RunReport(Request(ReportAll)));
}

TEST_F(ReportRun, RequestFromTheDialogControls) {
  ui.checked[IDC_BY_DATE] = true;
  ui.checked[IDC_BY_NUMBER] = true;
  ui.text[IDC_FROM] = std::string(2000, '1');
  ui.text[IDC_TO] = "9";
  ui.checked[IDC_SHOW_RESULT] = true;
  ReportRequest request = ReportRequestFromDialog(&ui, "x.bin");
  EXPECT_EQ(request.reportType, ReportByDate);  // "By date" is tested before "By rep no."
  EXPECT_EQ(request.fromText.size(), 1023u);
  EXPECT_EQ(request.toText, "9");
  EXPECT_TRUE(request.showResult);
  EXPECT_EQ(request.owner, &ui);
  ui.checked[IDC_ALL_RECORDS] = true;
  EXPECT_EQ(ReportRequestFromDialog(&ui, "x.bin").reportType, ReportAll);
}

}  // namespace
