#pragma once
// The CSV exports: one row per daily report, or one per calendar month.
// RFC 4180 with CR LF; no field ever needs quoting (numbers, dates and fixed
// words only).
//
// Per report:  date,report,group_1..group_8,tax_1..tax_8,department_1..
//              department_9,payment_0..payment_10,decimal_point,crc_ok
// Per month:   month,reports,first_report,last_report,group_1..group_8,
//              tax_1..tax_8,department_1..department_9,payment_0..payment_10
#include "export/export_output.h"
#include "export/month_table.h"

// The plain form (UTF-8, ',' between fields, '.' in amounts) or the form
// that Excel in a Bulgarian locale opens with a double-click (UTF-8 with a
// byte-order mark, ';' between fields, ',' in amounts). A spreadsheet runs a
// cell that begins with '=', '+', '-', '@', a tab or a carriage return as a
// formula: in the spreadsheet's form such a text field (a device id, say)
// gets a leading apostrophe, which shows it as the text it is.
struct CsvDialect {
  char separator;
  char decimalSeparator;
  bool byteOrderMark;
  bool guardsFormulas;
};
constexpr CsvDialect kPlainCsv{',', '.', false, false};
constexpr CsvDialect kExcelCsv{';', ',', true, true};

// A text field: quoted (RFC 4180) when it holds the separator, a quote or a
// line break, and guarded against formulas in the spreadsheet's form.
void AppendCsvText(std::string* out, const CsvDialect& dialect, const std::string& text);

// The pieces every CSV export is made of, shared with the ledger's exports.
// The header: leadingColumns (comma-separated, turned into the dialect's
// separator), then the amount columns; no line end.
void StartCsv(std::string* out, const CsvDialect& dialect, const std::string& leadingColumns);
// One daily report's fields from its date on, without a line end.
void AppendCsvReport(std::string* out, const CsvDialect& dialect, const DailyReport& report);
// The header's tail and the row of the per-report form.
void AppendCsvReportHeaderTail(std::string* out, const CsvDialect& dialect);
// A month's amounts, each after a separator.
void AppendCsvMonthAmounts(std::string* out, const CsvDialect& dialect, const MonthRow& row);
// A month row of the monthly form: month, reports, first and last report, amounts.
void AppendCsvMonth(std::string* out, const CsvDialect& dialect, const MonthRow& row);

class CsvExport : public ExportOutput {
 public:
  explicit CsvExport(CsvDialect dialect);
  void Begin(const ReportRequest& request) override;
  void OnDailyReport(const DailyReport& report) override;

 private:
  CsvDialect dialect_;
};

class MonthlyCsvExport : public ExportOutput {
 public:
  explicit MonthlyCsvExport(CsvDialect dialect);
  void Begin(const ReportRequest& request) override;
  void OnDailyReport(const DailyReport& report) override;
  void OnTotals(const ReportTotals& totals) override;

 private:
  CsvDialect dialect_;
  MonthTable months_;
};
