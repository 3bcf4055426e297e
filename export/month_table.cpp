#include "export/month_table.h"

#include <cstdio>

#include "export/report_fields.h"

std::string MonthRow::MonthText() const {
  char text[16];
  std::snprintf(text, sizeof(text), "%04d-%02d", year, month);
  return text;
}

void MonthTable::Add(const DailyReport& report) {
  CivilDateTime civil = report.Civil();
  MonthRow& row = months_[civil.year * 12 + civil.month - 1];
  if (row.reports++ == 0) {
    row.year = civil.year;
    row.month = civil.month;
    row.firstReport = report.number;
  }
  row.lastReport = report.number;
  for (int g = 0; g < kTaxGroupCount; ++g) {
    row.groups[g] += CountedValue(report.groups[g]);
    row.tax[g] += report.tax[g];
    groupUsed_[g] = groupUsed_[g] || CountedValue(report.groups[g]) > 0;
  }
  for (int d = 0; d < kDepartmentCount; ++d) row.departments[d] += CountedValue(report.departments[d].amount);
  for (int p = 0; p < kPaymentCodeCount; ++p) row.payments[p] += report.payments[p];
}

std::vector<MonthRow> MonthTable::Rows() const {
  std::vector<MonthRow> rows;
  rows.reserve(months_.size());
  for (const auto& month : months_) rows.push_back(month.second);
  return rows;
}
