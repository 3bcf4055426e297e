#pragma once
// The JSON export: the dump, its model variant, the filter, every daily
// report, the monthly table and the totals in one object (shape in
// docs/export.md). Amounts are JSON numbers with exactly two decimals.
#include <string>

#include "export/export_output.h"
#include "export/json_text.h"
#include "export/month_table.h"

class JsonExport : public ExportOutput {
 public:
  JsonExport();
  void Begin(const ReportRequest& request) override;
  void OnDailyReport(const DailyReport& report) override;
  void OnTotals(const ReportTotals& totals) override;

 private:
  MonthTable months_;
  size_t variantAt_ = 0;  // where the model variant's digit goes once the walk is over
  bool firstReport_ = true;
  JsonReportWriter reportWriter_;
};
