#include "export/csv_export.h"

#include "export/amount_text.h"
#include "export/report_fields.h"

namespace {

// The header's numbered columns: name_first .. name_last.
void AppendNumbered(std::string* out, char separator, const char* name, int first, int last) {
  for (int i = first; i <= last; ++i) {
    *out += separator;
    *out += name;
    *out += std::to_string(i);
  }
}

void AppendAmountColumns(std::string* out, char separator, const char* firstColumn) {
  *out += firstColumn;
  AppendNumbered(out, separator, "group_", 1, kTaxGroupCount);
  AppendNumbered(out, separator, "tax_", 1, kTaxGroupCount);
  AppendNumbered(out, separator, "department_", 1, kDepartmentCount);
  AppendNumbered(out, separator, "payment_", 0, kPaymentCodeCount - 1);
}

void AppendSeparatedAmount(std::string* out, const CsvDialect& dialect, double value) {
  *out += dialect.separator;
  AppendAmount(out, value, dialect.decimalSeparator);
}

}  // namespace

void AppendCsvText(std::string* out, const CsvDialect& dialect, const std::string& text) {
  const bool formula = dialect.guardsFormulas && !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos;
  const bool quoted = text.find_first_of(std::string("\"\r\n") + dialect.separator) != std::string::npos;
  if (quoted) *out += '"';
  if (formula) *out += '\'';
  for (char c : text) {
    if (c == '"') *out += '"';
    *out += c;
  }
  if (quoted) *out += '"';
}

void StartCsv(std::string* out, const CsvDialect& dialect, const std::string& leadingColumns) {
  out->clear();
  if (dialect.byteOrderMark) *out += "\xEF\xBB\xBF";
  std::string first = leadingColumns;
  for (char& c : first)
    if (c == ',') c = dialect.separator;
  AppendAmountColumns(out, dialect.separator, first.c_str());
}

void AppendCsvReportHeaderTail(std::string* out, const CsvDialect& dialect) {
  *out += dialect.separator;
  *out += "decimal_point";
  *out += dialect.separator;
  *out += "crc_ok";
}

void AppendCsvReport(std::string* out, const CsvDialect& dialect, const DailyReport& report) {
  std::string date;
  AppendDateTime(&date, report.Civil());
  AppendCsvText(out, dialect, date);
  *out += dialect.separator;
  *out += std::to_string(report.number);
  for (const ReportAmount& group : report.groups) AppendSeparatedAmount(out, dialect, CountedValue(group));
  // Each report's tax to the cent, as it would be printed.
  for (double tax : report.tax) AppendSeparatedAmount(out, dialect, tax);
  for (const DepartmentAmount& department : report.departments)
    AppendSeparatedAmount(out, dialect, CountedValue(department.amount));
  for (double payment : report.payments) AppendSeparatedAmount(out, dialect, payment);
  *out += dialect.separator;
  AppendCsvText(out, dialect, DecimalPointWord(report));
  *out += dialect.separator;
  *out += report.crcOk ? '1' : '0';
}

void AppendCsvMonthAmounts(std::string* out, const CsvDialect& dialect, const MonthRow& row) {
  for (double value : row.groups) AppendSeparatedAmount(out, dialect, value);
  for (double value : row.tax) AppendSeparatedAmount(out, dialect, value);
  for (double value : row.departments) AppendSeparatedAmount(out, dialect, value);
  for (double value : row.payments) AppendSeparatedAmount(out, dialect, value);
}

void AppendCsvMonth(std::string* out, const CsvDialect& dialect, const MonthRow& row) {
  AppendCsvText(out, dialect, row.MonthText());
  for (int32_t count : {static_cast<int32_t>(row.reports), row.firstReport, row.lastReport}) {
    *out += dialect.separator;
    *out += std::to_string(count);
  }
  AppendCsvMonthAmounts(out, dialect, row);
}

CsvExport::CsvExport(CsvDialect dialect) : ExportOutput(".csv", false), dialect_(dialect) {}

void CsvExport::Begin(const ReportRequest& request) {
  ExportOutput::Begin(request);
  StartCsv(&text_, dialect_, "date,report");
  AppendCsvReportHeaderTail(&text_, dialect_);
  text_ += "\r\n";
}

void CsvExport::OnDailyReport(const DailyReport& report) {
  AppendCsvReport(&text_, dialect_, report);
  text_ += "\r\n";
}

MonthlyCsvExport::MonthlyCsvExport(CsvDialect dialect) : ExportOutput(".csv", false), dialect_(dialect) {}

void MonthlyCsvExport::Begin(const ReportRequest& request) {
  ExportOutput::Begin(request);
  months_ = MonthTable();
  StartCsv(&text_, dialect_, "month,reports,first_report,last_report");
  text_ += "\r\n";
}

void MonthlyCsvExport::OnDailyReport(const DailyReport& report) { months_.Add(report); }

void MonthlyCsvExport::OnTotals(const ReportTotals&) {
  for (const MonthRow& row : months_.Rows()) {
    AppendCsvMonth(&text_, dialect_, row);
    text_ += "\r\n";
  }
}
