// What the device's records put into the report, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "fm/cp1251.h"
#include "fm/walk_test_support.h"

namespace {

const uint16_t kRates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};

ReportData WorkedExample() {
  ReportData report;
  report.dateTime = 0x00B37A9E;  // 15-03-11 10:30
  report.number = 123;
  report.groups[0] = 10000;      // 10 27 00 00
  report.decimalFlag = 0xAA;
  return report;
}

// The totals block of a walk that added nothing.
std::string ZeroTotals() {
  std::string text = CP1251("Оборот:\r\n_____________\r\n");
  for (int g = 1; g <= 8; ++g)
    text += std::string(CP1251("Дан гр. ")) + std::to_string(g) + ": 0.00\r\n" + CP1251("    Данък: 0.00\r\n");
  text += CP1251("\r\nОборот по департаменти:\r\n_____________\r\n");
  for (int d = 1; d <= 9; ++d) text += std::string(CP1251("Деп. ")) + std::to_string(d) + ": 0.00\r\n";
  text += CP1251("\r\nПлащания:\r\n_____________\r\n");
  const char* names[11] = {CP1251("В брой"), CP1251("Чек   "), CP1251("Талон "), CP1251("В.тал."),
                           CP1251("Амбал."), CP1251("Обслуж"), CP1251("Повред"), CP1251("Карта "),
                           CP1251("Банка "), CP1251("Рез.1 "), CP1251("Рез.2 ")};
  for (int p = 0; p <= 10; ++p) {
    char line[64];
    std::snprintf(line, sizeof line, "%2i %s: 0.00\r\n", p, names[p]);
    text += std::string(CP1251("Плащане ")) + line;
  }
  return text;
}

TEST(ReportContent, WorkedExampleVariant3) {
  DumpBuilder dump;
  dump.Report(WorkedExample());
  WalkResult walk = Walk(dump);
  EXPECT_EQ(ReportLines(walk.report),
            std::string("\r\nDate: 15-03-11 10:30\r\n") + CP1251("Отчет# 123\r\n") +
                CP1251("Дан. гр. 1: 100.00\r\n") + CP1251("Дробни числа.\r\n"));
  // No rate record yet: the rate is 0 and the tax is none.
  EXPECT_NE(walk.report.find(CP1251("Дан гр. 1: 100.00\r\n    Данък: 0.00\r\n")), std::string::npos);
}

TEST(ReportContent, EmptyWalkPrintsEveryTotalAsZero) {
  EXPECT_EQ(Walk(DumpBuilder()).report, ZeroTotals());
}

TEST(ReportContent, DepartmentsPaymentsAndTheDecimalFlag) {
  ReportData report = WorkedExample();
  report.groups[0] = 0;
  report.groups[1] = 12345;
  report.departments[2] = {"Bread", 50000, 0x77};
  report.departments[4] = {"Named but zero", 0, 0};
  report.departments[8] = {"ABCDEFGHIJKLMNOP", 199, 0};  // a full 16-byte name
  report.payments[0] = {50000, 0};
  report.payments[1] = {700, 7};
  report.payments[2] = {900, 11};  // no such payment type: skipped
  report.payments[3] = {0, 3};
  report.decimalFlag = 0x55;
  DumpBuilder dump;
  dump.Report(report);
  WalkResult walk = Walk(dump);
  EXPECT_EQ(ReportLines(walk.report),
            std::string("\r\nDate: 15-03-11 10:30\r\n") + CP1251("Отчет# 123\r\n") +
                CP1251("Дан. гр. 2: 123.45\r\n") + CP1251("Деп 3: Bread Оборот: 500.00\r\n") +
                CP1251("Деп 9: ABCDEFGHIJKLMNOP Оборот: 1.99\r\n") +
                CP1251("Плащане 0 сума: 500.00\r\n") + CP1251("Плащане 7 сума: 7.00\r\n") +
                CP1251("Цели числа.\r\n"));
  EXPECT_NE(walk.report.find(CP1251("Деп. 3: 500.00\r\n")), std::string::npos);
  EXPECT_NE(walk.report.find(CP1251("Плащане  0 В брой: 500.00\r\n")), std::string::npos);
  EXPECT_NE(walk.report.find(CP1251("Плащане  7 Карта : 7.00\r\n")), std::string::npos);
}

TEST(ReportContent, UnknownDecimalFlagIsReported) {
  ReportData report = WorkedExample();
  report.decimalFlag = 0x00;
  DumpBuilder dump;
  dump.Report(report);
  EXPECT_NE(Walk(dump).report.find(CP1251("Грешка десетична точка!\r\n")), std::string::npos);
}

TEST(ReportContent, WholeNumberModeFromTheHistory) {
  ReportData report = WorkedExample();
  report.groups[0] = 0;
  report.groups[1] = 12345;
  DumpBuilder dump;
  dump.ModeAndRates(kModeWhole, kRates).Report(report);
  WalkResult walk = Walk(dump);
  EXPECT_NE(walk.report.find(CP1251("Дан. гр. 2: 12345\r\n")), std::string::npos);
  EXPECT_NE(walk.report.find(CP1251("Дан гр. 2: 12345.00\r\n    Данък: 1019.31\r\n")), std::string::npos);
}

TEST(ReportContent, TaxIsTheShareOfTheAmountAtTheRateInForce) {
  ReportData first = WorkedExample();
  first.groups[0] = 12000;  // 120.00 at 20 %: 20.00 tax
  ReportData second = WorkedExample();
  second.number = 124;
  second.groups[0] = 10900;  // 109.00 at 9 %: 9.00 tax
  const uint16_t changed[8] = {900, kRateUnset, kRateUnset, kRateUnset,
                               kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  DumpBuilder dump;
  dump.ModeAndRates(kModeFractional, kRates).Report(first).Rates(changed).Report(second);
  EXPECT_NE(Walk(dump).report.find(CP1251("Дан гр. 1: 229.00\r\n    Данък: 29.00\r\n")),
            std::string::npos);
}

TEST(ReportContent, UnsetRatesKeepTheirValueAndALaterModeGoesToTheFront) {
  const uint16_t unset[8] = {kRateUnset, kRateUnset, kRateUnset, kRateUnset,
                             kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  ReportData report = WorkedExample();
  report.groups[0] = 12000;
  DumpBuilder dump;
  dump.ModeAndRates(kModeFractional, kRates).ModeAndRates(kModeWhole, unset).Report(report);
  WalkResult walk = Walk(dump);
  // The second record's entry (whole numbers from report 0) goes to the front,
  // so the first record's entry, met later in the history, decides: hundredths.
  // The 20 % rate is still in force.
  EXPECT_NE(walk.report.find(CP1251("Дан гр. 1: 120.00\r\n    Данък: 20.00\r\n")), std::string::npos);
}

TEST(ReportContent, Variant2PrintsAllEightGroups) {
  ReportData report = WorkedExample();
  report.groups[2] = 5;
  DumpBuilder dump;
  dump.ModelRecord("ZA02").Report(report, 2);
  std::string expected = std::string("\r\nDate: 15-03-11 10:30\r\n") + CP1251("Отчет# 123\r\n");
  const char* amounts[8] = {"100.00", "0.00", "0.05", "0.00", "0.00", "0.00", "0.00", "0.00"};
  for (int k = 0; k < 8; ++k)
    expected += std::string(CP1251("Дан. гр. ")) + std::to_string(k + 1) + ": " + amounts[k] + "\r\n";
  EXPECT_EQ(ReportLines(Walk(dump).report), expected);
}

TEST(ReportContent, FilteredOutReportsLeaveNoTrace) {
  ReportData report = WorkedExample();
  DumpBuilder dump;
  dump.Report(report);
  EXPECT_EQ(Walk(dump, 1, 124, 200).report, ZeroTotals());
  EXPECT_NE(Walk(dump, 1, 123, 123).report, ZeroTotals());
}

TEST(ReportContent, TotalsAddUpOverReports) {
  DumpBuilder dump;
  dump.ModeAndRates(kModeFractional, kRates);
  for (uint16_t n = 1; n <= 3; ++n) {
    ReportData report = WorkedExample();
    report.number = n;
    report.groups[1] = 1090;
    report.payments[0] = {100, 8};
    dump.Report(report);
  }
  std::string report = Walk(dump).report;
  EXPECT_NE(report.find(CP1251("Дан гр. 1: 300.00\r\n    Данък: 50.00\r\n")), std::string::npos);
  EXPECT_NE(report.find(CP1251("Дан гр. 2: 32.70\r\n    Данък: 2.70\r\n")), std::string::npos);
  EXPECT_NE(report.find(CP1251("Плащане  8 Банка : 3.00\r\n")), std::string::npos);
}

}  // namespace
