#include "export/terminal_summary.h"

#include "export/amount_text.h"

namespace {

// Characters on the terminal: UTF-8 lead bytes (the labels are Cyrillic, one column each).
size_t Columns(const std::string& text) {
  size_t columns = 0;
  for (char c : text) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return columns;
}

using Row = std::vector<std::string>;

}  // namespace

std::string AlignedTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const Row& row : rows) {
    if (row.size() > widths.size()) widths.resize(row.size(), 0);
    for (size_t c = 0; c < row.size(); ++c)
      if (Columns(row[c]) > widths[c]) widths[c] = Columns(row[c]);
  }
  std::string text;
  for (const Row& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      std::string padding(widths[c] - Columns(row[c]), ' ');
      if (c) line += "  ";
      line += c == 0 ? row[c] + padding : padding + row[c];  // the month left, numbers right
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + "\n";
  }
  return text;
}

void TerminalSummary::OnDailyReport(const DailyReport& report) {
  months_.Add(report);
  ++reports_;
}

void TerminalSummary::OnTotals(const ReportTotals& totals) {
  Row header = {"Месец", "Отчети"};
  for (int g = 0; g < kTaxGroupCount; ++g) {
    if (!months_.GroupUsed(g)) continue;
    header.push_back("Оборот гр. " + std::to_string(g + 1));
    header.push_back("Данък гр. " + std::to_string(g + 1));
  }
  std::vector<Row> rows = {header};
  auto amounts = [&](Row* row, const double* groups, const double* tax) {
    for (int g = 0; g < kTaxGroupCount; ++g) {
      if (!months_.GroupUsed(g)) continue;
      row->push_back(AmountText(groups[g]));
      row->push_back(AmountText(tax[g]));
    }
  };
  for (const MonthRow& month : months_.Rows()) {
    Row row = {month.MonthText(), std::to_string(month.reports)};
    amounts(&row, month.groups, month.tax);
    rows.push_back(row);
  }
  Row total = {"Общо", std::to_string(reports_)};
  amounts(&total, totals.groupTurnover, totals.groupTax);
  rows.push_back(total);

  text_ = AlignedTable(rows);
}
