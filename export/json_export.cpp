#include "export/json_export.h"

#include "export/amount_text.h"
#include "export/json_text.h"
#include "export/path_utf8.h"
#include "export/report_fields.h"

JsonExport::JsonExport() : ExportOutput(".json", false) {}

void JsonExport::Begin(const ReportRequest& request) {
  ExportOutput::Begin(request);
  months_ = MonthTable();
  firstReport_ = true;
  reportWriter_ = JsonReportWriter();
  text_ += "{\n  ";
  AppendKey(&text_, "dump");
  AppendString(&text_, PathAsUtf8(dumpPath()));
  text_ += ",\n  ";
  AppendKey(&text_, "model_variant");
  // The variant is known at the end of the walk; it is always one digit, 2 or 3.
  variantAt_ = text_.size();
  text_ += "3,\n  ";
  AppendJsonFilter(&text_, filter());
  text_ += ",\n  ";
  AppendKey(&text_, "reports");
  text_ += '[';
}

void JsonExport::OnDailyReport(const DailyReport& report) {
  months_.Add(report);
  text_ += firstReport_ ? "\n    " : ",\n    ";
  firstReport_ = false;
  reportWriter_.Append(&text_, report);
}

void JsonExport::OnTotals(const ReportTotals& totals) {
  text_[variantAt_] = static_cast<char>('0' + (totals.modelVariant == 2 ? 2 : 3));
  text_ += firstReport_ ? "],\n  " : "\n  ],\n  ";
  AppendKey(&text_, "months");
  text_ += '[';
  std::vector<MonthRow> rows = months_.Rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    const MonthRow& row = rows[i];
    text_ += i ? ",\n    {" : "\n    {";
    AppendKey(&text_, "month");
    text_ += '"' + row.MonthText() + "\", ";
    AppendKey(&text_, "reports");
    text_ += std::to_string(row.reports) + ", ";
    AppendKey(&text_, "first_report");
    text_ += std::to_string(row.firstReport) + ", ";
    AppendKey(&text_, "last_report");
    text_ += std::to_string(row.lastReport) + ", ";
    AppendAmountTables(&text_, row.groups, row.tax, row.departments, row.payments);
    text_ += '}';
  }
  text_ += rows.empty() ? "],\n  " : "\n  ],\n  ";
  AppendKey(&text_, "totals");
  text_ += '{';
  AppendAmountTables(&text_, totals.groupTurnover, totals.groupTax, totals.departments, totals.payments);
  text_ += "}\n}\n";
}
