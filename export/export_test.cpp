// The exports of real walks over built dumps: written beside the text report
// in one run, read back (JSON with nlohmann-json) and held against the text
// report's own totals; the number and text conversions they rest on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "export/amount_text.h"
#include "export/bar_chart_svg.h"
#include "export/csv_export.h"
#include "export/export_outputs.h"
#include "export/ledger_export.h"
#include "export/json_export.h"
#include "export/utf8_text.h"
#include "fm/cp1251.h"
#include "sim/dump_builder.h"
#include "testsupport/fake_ui.h"
#include "testsupport/temp_dir.h"

namespace {

using nlohmann::json;

// The totals block of a text report: "Дан гр. N: X", "Данък: X", "Деп. N: X",
// "Плащане NN name: X", in this order, as numbers.
std::vector<double> TextReportTotals(const std::string& report) {
  std::vector<double> values;
  size_t at = report.find(CP1251("Оборот:\r\n_"));
  while (at != std::string::npos && (at = report.find(": ", at)) != std::string::npos) {
    values.push_back(std::strtod(report.c_str() + at + 2, nullptr));
    at += 2;
  }
  return values;
}

std::vector<double> JsonTotals(const json& totals) {
  std::vector<double> values;
  for (int g = 0; g < 8; ++g) {
    values.push_back(totals["groups"][g].get<double>());
    values.push_back(totals["tax"][g].get<double>());
  }
  for (const json& v : totals["departments"]) values.push_back(v.get<double>());
  for (const json& v : totals["payments"]) values.push_back(v.get<double>());
  return values;
}

class ExportRun : public ::testing::Test {
 protected:
  // Runs the report with the outputs and gives the text report.
  std::string Run(const DumpBuilder& dump, std::vector<ReportOutput*> outputs, int type = ReportAll,
                  const char* from = "", const char* to = "") {
    std::string error;
    EXPECT_TRUE(dump.WriteFile(dumpPath, &error)) << error;
    ReportRequest request;
    request.dumpPath = dumpPath;
    request.reportType = type;
    request.fromText = from;
    request.toText = to;
    request.outputs = outputs;
    EXPECT_EQ(RunReportWithOutcome(request), ReportWritten);
    return ReadFileBytes(dumpPath + ".txt");
  }

  TempDir dir;
  FakeUi ui;
  std::string dumpPath = dir.File("AB1234.bin");
};

const uint16_t kRates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};

// A variant-3 dump with what the exports must get right: a device-coded
// name, a payment code the report does not count, a damaged report, a
// whole-number report, a recorded date that carries over and a rate change.
DumpBuilder EdgeDump() {
  DumpBuilder dump;
  dump.Erased(16).ModelRecord().ModeAndRates(kModeFractional, kRates).DecimalMode(0, kModeFractional);
  ReportData first;
  first.number = 1;
  first.dateTime = PackDateTime(11, 7, 31, 23, 30);  // July in any time zone
  first.groups[0] = 12000;
  first.groups[1] = 10900;
  first.departments[2] = {"\x95\xAB\xA5\xA1\xAD\xA8  ", 22900, 1};  // Хлебни, blank padded
  first.payments[0] = {20000, 1};
  first.payments[1] = {2900, 11};  // no such payment type: not counted
  dump.Report(first);
  ReportData second = first;
  second.number = 2;
  second.dateTime = PackDateTime(11, 8, 0, 9, 5);  // day 0 of August: 31 July
  second.decimalFlag = 0x42;
  dump.Report(second).CorruptLastCrc();
  uint16_t raised[8] = {2000, 2000, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  dump.Rates(raised);
  ReportData third;
  third.number = 3;
  third.dateTime = PackDateTime(11, 12, 31, 23, 60);  // minute 60: the next year
  third.groups[1] = 1200;
  third.payments[0] = {1200, 7};
  third.decimalFlag = kModeWhole;
  dump.Report(third);
  return dump;
}

TEST_F(ExportRun, JsonAndCsvAddUpToTheTextReport) {
  JsonExport jsonExport;
  CsvExport csv(kPlainCsv);
  std::string report = Run(EdgeDump(), {&jsonExport, &csv});

  json doc = json::parse(ReadFileBytes(dumpPath + ".json"));
  EXPECT_EQ(doc["dump"], dumpPath);
  EXPECT_EQ(doc["model_variant"], 3);
  EXPECT_EQ(doc["filter"], json::parse(R"({"type": "all", "from": null, "to": null})"));
  EXPECT_EQ(JsonTotals(doc["totals"]), TextReportTotals(report));

  const json& reports = doc["reports"];
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0]["date"], "2011-07-31 23:30");
  EXPECT_EQ(reports[1]["date"], "2011-07-31 09:05");
  EXPECT_EQ(reports[2]["date"], "2012-01-01 00:00");
  EXPECT_EQ(reports[0]["departments"], json::parse(R"([{"number": 3, "name": "Хлебни", "amount": 229.0}])"));
  EXPECT_EQ(reports[0]["payments"], json::parse(R"([{"code": 1, "name": "Чек", "amount": 200.0}])"));
  EXPECT_EQ(reports[0]["tax"][0], 20.0);
  EXPECT_EQ(reports[0]["crc_ok"], true);
  EXPECT_EQ(reports[1]["crc_ok"], false);
  EXPECT_EQ(reports[1]["decimal_point"], "error");
  EXPECT_EQ(reports[2]["decimal_point"], "whole");  // the record's own flag
  EXPECT_EQ(reports[2]["tax"][1], 2.0);  // 12.00 at the raised rate of 20 %

  const json& months = doc["months"];
  ASSERT_EQ(months.size(), 2u);
  EXPECT_EQ(months[0]["month"], "2011-07");
  EXPECT_EQ(months[0]["reports"], 2);
  EXPECT_EQ(months[0]["first_report"], 1);
  EXPECT_EQ(months[0]["last_report"], 2);
  EXPECT_EQ(months[0]["payments"][1], 400.0);
  EXPECT_EQ(months[1]["month"], "2012-01");

  // Amounts are written with two decimals, and the CSV counts what the text
  // report counts (code 11 adds nothing, the damaged report is marked).
  std::string text = ReadFileBytes(dumpPath + ".json");
  EXPECT_NE(text.find("\"amount\": 229.00}"), std::string::npos);
  std::string csvText = ReadFileBytes(dumpPath + ".csv");
  EXPECT_NE(csvText.find("\r\n2011-07-31 09:05,2,120.00,109.00,0.00,0.00,0.00,0.00,0.00,0.00,20.00,9.00,"
                         "0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,229.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,"
                         "200.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,error,0\r\n"),
            std::string::npos);
}

TEST_F(ExportRun, Variant2AndAFilterTypedAsItCame) {
  DumpBuilder dump;
  dump.Erased(16).ModelRecord("ZA02").ModeAndRates(kModeFractional, kRates);
  for (uint16_t n = 1; n <= 4; ++n) {
    ReportData data;
    data.number = n;
    data.dateTime = PackDateTime(12, 6, n, 9, 15);
    data.groups[0] = 1000u * n;
    dump.Report(data, 2);
  }
  JsonExport jsonExport;
  MonthlyCsvExport months(kExcelCsv);
  std::string report = Run(dump, {&jsonExport, &months}, ReportByNumber, "0x2", "03");
  json doc = json::parse(ReadFileBytes(dumpPath + ".json"));
  EXPECT_EQ(doc["model_variant"], 2);
  EXPECT_EQ(doc["filter"], json::parse(R"({"type": "number", "from": "0x2", "to": "03"})"));
  ASSERT_EQ(doc["reports"].size(), 2u);
  EXPECT_EQ(doc["reports"][0]["decimal_point"], nullptr);
  EXPECT_EQ(JsonTotals(doc["totals"]), TextReportTotals(report));
  std::string excel = ReadFileBytes(dumpPath + ".csv");
  EXPECT_EQ(excel.rfind("\xEF\xBB\xBFmonth;reports;first_report;last_report;group_1;", 0), 0u);
  EXPECT_NE(excel.find("\r\n2012-06;2;2;3;50,00;0,00;"), std::string::npos);
}

TEST_F(ExportRun, DialogExportsWriteExcelCsvAndThePageThatShowResultOpens) {
  auto exports = MakeDialogExports();
  ASSERT_EQ(exports.size(), 2u);
  ReportRequest request;
  request.dumpPath = dumpPath;
  request.showResult = true;
  for (auto& output : exports) request.outputs.push_back(output.get());
  std::string error;
  ASSERT_TRUE(EdgeDump().WriteFile(dumpPath, &error)) << error;
  EXPECT_TRUE(RunReport(request));
  EXPECT_TRUE(FileExists(dumpPath + ".txt"));
  EXPECT_EQ(ReadFileBytes(dumpPath + ".csv").rfind("\xEF\xBB\xBF" "date;report;group_1;", 0), 0u);
  std::string page = ReadFileBytes(dumpPath + ".html");
  EXPECT_NE(page.find("<svg"), std::string::npos);
  EXPECT_NE(page.find("WARNING: Грешка CRC. Отчет# 2, Date: 00-08-11 09:05"), std::string::npos);
  ASSERT_EQ(ui.opened.size(), 1u);
  EXPECT_EQ(ui.opened[0], dumpPath + ".html");
}

// Generated dumps of both variants, small and near the counters' top, whose
// department names include empty, blank-padded, zero-cut and never-written
// (0xFF) fields: every JSON export parses, names every department with a
// string and adds up to the text report.
TEST_F(ExportRun, JsonOfGeneratedDumpsParsesAndAddsUpToTheTextReport) {
  const std::vector<uint16_t> rates = {2000, 900, 750, 2000, 900, 750, 2000, 2000};
  std::vector<GenerateOptions> dumps;
  for (uint32_t seed = 11; seed <= 16; ++seed) dumps.push_back({seed, seed % 2 ? 3 : 2, 300, {}, false});
  dumps.push_back({21, 3, 65535, rates, true});
  dumps.push_back({22, 2, 65535, rates, true});
  bool emptyName = false;
  for (const GenerateOptions& options : dumps) {
    SCOPED_TRACE(testing::Message() << "seed " << options.seed);
    std::string error;
    ASSERT_TRUE(WriteDumpFile(dumpPath, GenerateDump(options), &error)) << error;
    JsonExport jsonExport;
    ReportRequest request;
    request.dumpPath = dumpPath;
    request.outputs = {&jsonExport};
    ASSERT_EQ(RunReportWithOutcome(request), ReportWritten);
    json doc = json::parse(ReadFileBytes(dumpPath + ".json"));  // throws on invalid JSON
    EXPECT_EQ(JsonTotals(doc["totals"]), TextReportTotals(ReadFileBytes(dumpPath + ".txt")));
    for (const json& report : doc["reports"]) {
      for (const json& department : report["departments"]) {
        ASSERT_TRUE(department["name"].is_string()) << department;
        emptyName = emptyName || department["name"] == "";
      }
    }
  }
  EXPECT_TRUE(emptyName) << "no generated dump had an unnamed department";
}

TEST(ExportText, AmountsRoundAsPrintfAndIgnoreTheLocale) {
  for (double value : {0.0, 0.005, 0.015, 0.125, 0.375, 2.675, 1.005, 42949672.95, 123456789.125, 1e15 + 0.5,
                       20.0 * 12345 / 120, 0.1 + 0.2}) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.2f", value);
    EXPECT_EQ(AmountText(value), expected) << value;
  }
  EXPECT_EQ(AmountText(1234.5, ','), "1234,50");
}

TEST(ExportText, Windows1251BecomesValidUtf8) {
  EXPECT_EQ(Cp1251ToUtf8("\xC0\xFF\xA8\xB8\xB9\x88 A"), "АяЁё№€ A");
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");  // undefined in Windows-1251
  for (int byte = 1; byte < 256; ++byte) {
    char one[2] = {static_cast<char>(byte), 0};
    std::string utf8 = Cp1251ToUtf8(one);
    EXPECT_EQ(ValidUtf8(utf8), utf8) << byte;
  }
  const std::string replaced = "\xEF\xBF\xBD";
  std::string nine;
  for (int i = 0; i < 9; ++i) nine += replaced;
  // A lone lead byte, an overlong form, a surrogate, a code point past U+10FFFF.
  EXPECT_EQ(ValidUtf8("a\xC3(\xC0\x80\xED\xA0\x80\xF4\x90\x80\x80z"), "a" + replaced + "(" + nine + "z");
  EXPECT_EQ(ValidUtf8("Оборот €"), "Оборот €");
}

// A text field that a spreadsheet would run as a formula gets a leading
// apostrophe in the spreadsheet's form; the plain form for programs keeps
// every byte, and numbers are never touched.
TEST(ExportText, ExcelCsvGuardsTextThatASpreadsheetWouldRun) {
  struct Case {
    std::string text, plain, excel;
  };
  for (const Case& c : {Case{"=1+2", "=1+2", "'=1+2"}, Case{"@SUM(A1)", "@SUM(A1)", "'@SUM(A1)"},
                        Case{"+359", "+359", "'+359"}, Case{"-5", "-5", "'-5"},
                        Case{"\tx", "\tx", "'\tx"}, Case{"\rx", "\"\rx\"", "\"'\rx\""},
                        Case{"=A1;B1", "=A1;B1", "\"'=A1;B1\""}, Case{"=\"x\",y", "\"=\"\"x\"\",y\"", "\"'=\"\"x\"\",y\""},
                        Case{"DV=1", "DV=1", "DV=1"}, Case{"", "", ""}, Case{"Каса 1", "Каса 1", "Каса 1"}}) {
    std::string plain, excel;
    AppendCsvText(&plain, kPlainCsv, c.text);
    AppendCsvText(&excel, kExcelCsv, c.text);
    EXPECT_EQ(plain, c.plain) << c.text;
    EXPECT_EQ(excel, c.excel) << c.text;
  }
  // A ledger's rows begin with the device id: guarded in the spreadsheet's
  // form only; the amounts after it stay numbers.
  DailyReport report;
  report.number = 7;
  report.groups[0].value = 12.5;
  report.groups[0].counted = true;
  LedgerReportsCsv excel(kExcelCsv), plain(kPlainCsv);
  excel.Add("=HYPERLINK(\"http://x\")", report);
  plain.Add("=HYPERLINK(\"http://x\")", report);
  const std::string excelRow = excel.Text().substr(excel.Text().find("\r\n") + 2);
  const std::string plainRow = plain.Text().substr(plain.Text().find("\r\n") + 2);
  EXPECT_EQ(excelRow.rfind("\"'=HYPERLINK(\"\"http://x\"\")\";", 0), 0u) << excelRow;
  EXPECT_NE(excelRow.find(";7;12,50;"), std::string::npos) << excelRow;
  EXPECT_EQ(plainRow.rfind("\"=HYPERLINK(\"\"http://x\"\")\",", 0), 0u) << plainRow;
}

// The value axis labels of a chart: the texts of its right-aligned labels.
std::vector<std::string> AxisLabels(const std::string& svg) {
  std::vector<std::string> labels;
  const std::string mark = "text-anchor=\"end\">";
  for (size_t at = svg.find(mark); at != std::string::npos; at = svg.find(mark, at + 1)) {
    size_t start = at + mark.size();
    labels.push_back(svg.substr(start, svg.find('<', start) - start));
  }
  return labels;
}

// Every line of the value axis has a label of its own, however small the
// largest month: a step finer than a cent would repeat "0.00".
TEST(ExportChart, AxisLabelsStayDistinctForMonthsBelowOneLev) {
  for (double top : {0.01, 0.03, 0.04, 0.07, 0.3, 0.99, 1.0, 7.5, 123456.78}) {
    SCOPED_TRACE(top);
    std::string svg;
    AppendStackedChart(&svg, {"2012-05", "2012-06"}, {{"Дан гр. 1", GroupColour(0)}}, {{top}, {top / 3}});
    std::vector<std::string> labels = AxisLabels(svg);
    ASSERT_GE(labels.size(), 2u);
    EXPECT_EQ(std::stod(labels.front()), 0.0);
    std::vector<std::string> sorted = labels;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << svg;
    // The top line reaches the largest month.
    EXPECT_GE(std::stod(labels.back()) + 1e-9, top);
  }
}

}  // namespace
