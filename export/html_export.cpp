#include "export/html_export.h"

#include "export/amount_text.h"
#include "export/bar_chart_svg.h"
#include "export/html_text.h"
#include "export/path_utf8.h"
#include "export/report_fields.h"
#include "export/utf8_text.h"

HtmlExport::HtmlExport() : ExportOutput(".html", true) {}

void HtmlExport::Begin(const ReportRequest& request) {
  ExportOutput::Begin(request);
  months_ = MonthTable();
  crcFailures_.clear();
  for (std::string& name : departmentNames_) name.clear();
  reports_ = 0;
}

void HtmlExport::OnDailyReport(const DailyReport& report) {
  months_.Add(report);
  ++reports_;
  if (!report.crcOk) crcFailures_.push_back({report.number, Cp1251ToUtf8(report.dateText)});
  for (int d = 0; d < kDepartmentCount; ++d)
    if (report.departments[d].amount.counted) departmentNames_[d] = DepartmentName(report.departments[d]);
}

void HtmlExport::OnTotals(const ReportTotals& totals) {
  std::vector<MonthRow> rows = months_.Rows();
  AppendHead();
  text_ += "<p class=\"meta\">Модел: " + std::to_string(totals.modelVariant) + "</p>\n";
  text_ += "<p class=\"meta\">Отчети: " + std::to_string(reports_) + "</p>\n";

  text_ += "<h2>Оборот по месеци</h2>\n";
  if (rows.empty()) {
    text_ += "<p>Няма дневни отчети.</p>\n";
  } else {
    AppendMonthTable(rows, totals);
    bool used[kTaxGroupCount];
    for (int g = 0; g < kTaxGroupCount; ++g) used[g] = months_.GroupUsed(g);
    AppendMonthlyChart(&text_, rows, used);
  }
  AppendTotals(totals);
  AppendCrcFailures();
  text_ += "</body>\n</html>\n";
}

void HtmlExport::AppendHead() {
  const std::string dump = PathAsUtf8(dumpPath());
  text_ += "<!DOCTYPE html>\n<html lang=\"bg\">\n<head>\n<meta charset=\"utf-8\">\n<title>Taxoscope: ";
  AppendEscaped(&text_, dump);
  text_ += "</title>\n<style>";
  text_ += kHtmlStyle;
  text_ += "</style>\n</head>\n<body>\n<h1>Оборот</h1>\n<p class=\"meta\">Файл: ";
  AppendEscaped(&text_, dump);
  text_ += "</p>\n";
  AppendFilter();
}

void HtmlExport::AppendFilter() { AppendHtmlFilter(&text_, filter()); }

void HtmlExport::AppendMonthTable(const std::vector<MonthRow>& rows, const ReportTotals& totals) {
  int usedCount = 0;
  for (int g = 0; g < kTaxGroupCount; ++g) usedCount += months_.GroupUsed(g);
  text_ += "<table>\n<tr><th rowspan=\"2\">Месец</th><th rowspan=\"2\">Отчети</th>";
  for (int g = 0; g < kTaxGroupCount; ++g)
    if (months_.GroupUsed(g))
      text_ += "<th colspan=\"2\">Дан гр. " + std::to_string(g + 1) + "</th>";
  text_ += "<th colspan=\"2\">Общо</th></tr>\n<tr>";
  for (int i = 0; i <= usedCount; ++i) text_ += "<th>Оборот</th><th>Данък</th>";
  text_ += "</tr>\n";

  auto appendAmounts = [&](const double* groups, const double* tax) {
    double turnover = 0, taxTotal = 0;
    for (int g = 0; g < kTaxGroupCount; ++g) {
      turnover += groups[g];
      taxTotal += tax[g];
      if (!months_.GroupUsed(g)) continue;
      AppendAmountCell(&text_, groups[g]);
      AppendAmountCell(&text_, tax[g]);
    }
    AppendAmountCell(&text_, turnover);
    AppendAmountCell(&text_, taxTotal);
  };
  for (const MonthRow& row : rows) {
    text_ += "<tr>";
    AppendCell(&text_, row.MonthText());
    AppendCell(&text_, std::to_string(row.reports), true);
    appendAmounts(row.groups, row.tax);
    text_ += "</tr>\n";
  }
  text_ += "<tr class=\"total\">";
  AppendCell(&text_, "Общо");
  AppendCell(&text_, std::to_string(reports_), true);
  appendAmounts(totals.groupTurnover, totals.groupTax);
  text_ += "</tr>\n</table>\n";
}

void HtmlExport::AppendTotals(const ReportTotals& totals) {
  text_ += "<div class=\"totals\">\n<div><h2>Оборот:</h2>\n<table>\n<tr><th></th><th>Оборот</th><th>Данък</th></tr>\n";
  for (int g = 0; g < kTaxGroupCount; ++g) {
    text_ += "<tr>";
    AppendCell(&text_, "Дан гр. " + std::to_string(g + 1));
    AppendAmountCell(&text_, totals.groupTurnover[g]);
    AppendAmountCell(&text_, totals.groupTax[g]);
    text_ += "</tr>\n";
  }
  text_ += "</table></div>\n<div><h2>Оборот по департаменти:</h2>\n<table>\n";
  for (int d = 0; d < kDepartmentCount; ++d) {
    text_ += "<tr>";
    AppendCell(&text_, "Деп. " + std::to_string(d + 1));
    AppendCell(&text_, departmentNames_[d]);
    AppendAmountCell(&text_, totals.departments[d]);
    text_ += "</tr>\n";
  }
  text_ += "</table></div>\n<div><h2>Плащания:</h2>\n<table>\n";
  for (int p = 0; p < kPaymentCodeCount; ++p) {
    text_ += "<tr>";
    AppendCell(&text_, "Плащане " + std::to_string(p));
    AppendCell(&text_, PaymentNameUtf8(p));
    AppendAmountCell(&text_, totals.payments[p]);
    text_ += "</tr>\n";
  }
  text_ += "</table></div>\n</div>\n";
}

void HtmlExport::AppendCrcFailures() {
  text_ += "<h2>Грешка CRC</h2>\n";
  if (crcFailures_.empty()) text_ += "<p>Няма дневни отчети с грешка CRC.</p>\n";
  for (const CrcFailure& failure : crcFailures_) {
    text_ += "<p class=\"crc\">WARNING: Грешка CRC. Отчет# " + std::to_string(failure.number) + ", Date: ";
    AppendEscaped(&text_, failure.date);
    text_ += "</p>\n";
  }
}
