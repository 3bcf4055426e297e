#pragma once
// The monthly VAT table for a terminal: UTF-8, aligned columns, one line per
// month with its report count and the turnover and tax of every tax group
// that has turnover anywhere in the selection, then a total line (the text
// report's totals).
#include <string>
#include <vector>

#include "export/month_table.h"

// Rows of cells as aligned text lines: the first column left, the others
// right, two blanks between columns, no trailing blanks.
std::string AlignedTable(const std::vector<std::vector<std::string>>& rows);

class TerminalSummary : public ReportSink {
 public:
  void OnDailyReport(const DailyReport& report) override;
  void OnTotals(const ReportTotals& totals) override;
  // The table; complete once the walk has handed over the totals.
  const std::string& Text() const { return text_; }

 private:
  MonthTable months_;
  int reports_ = 0;
  std::string text_;
};
