#pragma once
// The HTML export: one self-contained page (no external files, scripts or
// fonts) with the report's Bulgarian labels: the filter, the monthly table,
// a bar chart of monthly turnover stacked by tax group, the totals by tax
// group, department and payment type, and every daily report whose CRC failed.
#include <string>
#include <vector>

#include "export/export_output.h"
#include "export/month_table.h"

class HtmlExport : public ExportOutput {
 public:
  HtmlExport();
  void Begin(const ReportRequest& request) override;
  void OnDailyReport(const DailyReport& report) override;
  void OnTotals(const ReportTotals& totals) override;

 private:
  struct CrcFailure {
    int32_t number;
    std::string date;  // as the text report prints it
  };

  void AppendHead();
  void AppendFilter();
  void AppendMonthTable(const std::vector<MonthRow>& rows, const ReportTotals& totals);
  void AppendTotals(const ReportTotals& totals);
  void AppendCrcFailures();

  MonthTable months_;
  std::vector<CrcFailure> crcFailures_;
  std::string departmentNames_[kDepartmentCount];  // the last name each department was counted under
  int reports_ = 0;
};
