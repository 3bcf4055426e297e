#include <string>
#include <vector>

#include "export/bar_chart_svg.h"
#include "export/html_text.h"
#include "export/ledger_export.h"
#include "export/path_utf8.h"

namespace {

void AppendMonthTable(std::string* out, const LedgerSelectionSums& sums) {
  bool used[kTaxGroupCount];
  int usedCount = 0;
  for (int g = 0; g < kTaxGroupCount; ++g) usedCount += used[g] = LedgerGroupUsed(sums, g);
  *out += "<table>\n<tr><th rowspan=\"2\">Месец</th><th rowspan=\"2\">Каси</th><th rowspan=\"2\">Отчети</th>";
  for (int g = 0; g < kTaxGroupCount; ++g)
    if (used[g]) *out += "<th colspan=\"2\">Дан гр. " + std::to_string(g + 1) + "</th>";
  *out += "<th colspan=\"2\">Общо</th></tr>\n<tr>";
  for (int i = 0; i <= usedCount; ++i) *out += "<th>Оборот</th><th>Данък</th>";
  *out += "</tr>\n";

  auto amounts = [&](const double* groups, const double* tax) {
    double turnover = 0, taxTotal = 0;
    for (int g = 0; g < kTaxGroupCount; ++g) {
      turnover += groups[g];
      taxTotal += tax[g];
      if (!used[g]) continue;
      AppendAmountCell(out, groups[g]);
      AppendAmountCell(out, tax[g]);
    }
    AppendAmountCell(out, turnover);
    AppendAmountCell(out, taxTotal);
  };
  int devicesWithReports = 0;
  for (const DeviceSums& device : sums.devices) devicesWithReports += device.reports > 0;
  for (const MonthOverDevices& month : sums.months) {
    *out += "<tr>";
    AppendCell(out, month.sums.MonthText());
    AppendCell(out, std::to_string(month.devices), true);
    AppendCell(out, std::to_string(month.sums.reports), true);
    amounts(month.sums.groups, month.sums.tax);
    *out += "</tr>\n";
  }
  *out += "<tr class=\"total\">";
  AppendCell(out, "Общо");
  AppendCell(out, std::to_string(devicesWithReports), true);
  AppendCell(out, std::to_string(sums.reports), true);
  amounts(sums.totals.groupTurnover, sums.totals.groupTax);
  *out += "</tr>\n</table>\n";
}

// One bar per month over the selection, one stack per device.
void AppendChart(std::string* out, const LedgerSelectionSums& sums) {
  std::vector<std::string> labels;
  for (const MonthOverDevices& month : sums.months) labels.push_back(month.sums.MonthText());
  std::vector<ChartSeries> series;
  std::vector<std::vector<double>> values(labels.size());
  for (const DeviceSums& device : sums.devices) {
    if (device.reports == 0) continue;
    series.push_back({device.device, SeriesColour(series.size())});
    size_t m = 0;
    for (size_t i = 0; i < labels.size(); ++i) {
      double turnover = 0;
      while (m < device.months.size() && device.months[m].MonthText() < labels[i]) ++m;
      if (m < device.months.size() && device.months[m].MonthText() == labels[i])
        for (double group : device.months[m].groups) turnover += group;
      values[i].push_back(turnover);
    }
  }
  AppendStackedChart(out, labels, series, values);
}

void AppendTotals(std::string* out, const LedgerSelectionSums& sums) {
  *out += "<div class=\"totals\">\n<div><h2>По каси:</h2>\n<table>\n"
          "<tr><th>Каса</th><th>Отчети</th><th>Оборот</th><th>Данък</th></tr>\n";
  for (const DeviceSums& device : sums.devices) {
    double turnover = 0, tax = 0;
    for (int g = 0; g < kTaxGroupCount; ++g) {
      turnover += device.totals.groupTurnover[g];
      tax += device.totals.groupTax[g];
    }
    *out += "<tr>";
    AppendCell(out, device.device);
    AppendCell(out, std::to_string(device.reports), true);
    AppendAmountCell(out, turnover);
    AppendAmountCell(out, tax);
    *out += "</tr>\n";
  }
  *out += "</table></div>\n<div><h2>Оборот:</h2>\n<table>\n<tr><th></th><th>Оборот</th><th>Данък</th></tr>\n";
  for (int g = 0; g < kTaxGroupCount; ++g) {
    *out += "<tr>";
    AppendCell(out, "Дан гр. " + std::to_string(g + 1));
    AppendAmountCell(out, sums.totals.groupTurnover[g]);
    AppendAmountCell(out, sums.totals.groupTax[g]);
    *out += "</tr>\n";
  }
  *out += "</table></div>\n</div>\n";
}

}  // namespace

std::string LedgerHtml(const LedgerExportHeading& heading, const LedgerSelectionSums& sums) {
  const std::string ledger = PathAsUtf8(heading.ledgerPath);
  std::string out = "<!DOCTYPE html>\n<html lang=\"bg\">\n<head>\n<meta charset=\"utf-8\">\n<title>Taxoscope: ";
  AppendEscaped(&out, ledger);
  out += "</title>\n<style>";
  out += kHtmlStyle;
  out += "</style>\n</head>\n<body>\n<h1>Оборот по каси</h1>\n<p class=\"meta\">Регистър: ";
  AppendEscaped(&out, ledger);
  out += "</p>\n";
  AppendHtmlFilter(&out, heading.filter);
  out += "<p class=\"meta\">Каси: " + std::to_string(sums.devices.size()) + "</p>\n";
  out += "<p class=\"meta\">Отчети: " + std::to_string(sums.reports) + "</p>\n";
  AppendLedgerHtmlSections(&out, sums);
  out += "</body>\n</html>\n";
  return out;
}

void AppendLedgerHtmlSections(std::string* out, const LedgerSelectionSums& sums) {
  *out += "<h2>Оборот по месеци</h2>\n";
  if (sums.months.empty()) {
    *out += "<p>Няма дневни отчети.</p>\n";
  } else {
    AppendMonthTable(out, sums);
    AppendChart(out, sums);
  }
  AppendTotals(out, sums);
}
