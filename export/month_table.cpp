#include "export/month_table.h"

#include <cstdio>

#include "export/report_fields.h"

std::string MonthRow::MonthText() const {
  char text[16];
  std::snprintf(text, sizeof(text), "%04d-%02d", year, month);
  return text;
}

void MonthRow::Add(const DailyReport& report) {
  if (reports++ == 0) {
    CivilDateTime civil = report.Civil();
    year = civil.year;
    month = civil.month;
    firstReport = report.number;
  }
  lastReport = report.number;
  for (int g = 0; g < kTaxGroupCount; ++g) {
    groups[g] += CountedValue(report.groups[g]);
    tax[g] += report.tax[g];
  }
  for (int d = 0; d < kDepartmentCount; ++d) departments[d] += CountedValue(report.departments[d].amount);
  for (int p = 0; p < kPaymentCodeCount; ++p) payments[p] += report.payments[p];
}

void MonthTable::Add(const DailyReport& report) {
  CivilDateTime civil = report.Civil();
  months_[civil.year * 12 + civil.month - 1].Add(report);
  for (int g = 0; g < kTaxGroupCount; ++g) groupUsed_[g] = groupUsed_[g] || CountedValue(report.groups[g]) > 0;
}

std::vector<MonthRow> MonthTable::Rows() const {
  std::vector<MonthRow> rows;
  rows.reserve(months_.size());
  for (const auto& month : months_) rows.push_back(month.second);
  return rows;
}
