#pragma once
// The daily reports of a run summed by calendar month (the month of the
// recorded date, as the CSV shows it): the table a monthly VAT return needs.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fm/daily_report.h"

struct MonthRow {
  int year = 0;
  int month = 0;  // 1..12
  int reports = 0;
  int32_t firstReport = 0;  // the first and last report numbers of the month in dump order
  int32_t lastReport = 0;
  // Sums of the unrounded values of the month's reports; amounts the text
  // report does not count add nothing.
  double groups[kTaxGroupCount] = {};
  double tax[kTaxGroupCount] = {};
  double departments[kDepartmentCount] = {};
  double payments[kPaymentCodeCount] = {};

  // Adds a report of this month: its counted amounts, payments by code.
  void Add(const DailyReport& report);
  std::string MonthText() const;  // YYYY-MM
};

class MonthTable {
 public:
  void Add(const DailyReport& report);
  // Ascending by month.
  std::vector<MonthRow> Rows() const;
  // Whether tax group g (0-based) has turnover in any month.
  bool GroupUsed(int g) const { return groupUsed_[g]; }

 private:
  std::map<int, MonthRow> months_;  // by year * 12 + month - 1
  bool groupUsed_[kTaxGroupCount] = {};
};
