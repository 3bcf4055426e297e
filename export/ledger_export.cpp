#include "export/ledger_export.h"

#include "export/amount_text.h"
#include "export/path_utf8.h"
#include "export/terminal_summary.h"

namespace {

// A device id as the first CSV field of a row.
void AppendDeviceField(std::string* out, const std::string& device, const CsvDialect& dialect) {
  AppendCsvText(out, dialect, device);
  *out += dialect.separator;
}

}  // namespace

LedgerReportsCsv::LedgerReportsCsv(CsvDialect dialect) : dialect_(dialect) {
  StartCsv(&text_, dialect_, "device,date,report");
  AppendCsvReportHeaderTail(&text_, dialect_);
  text_ += "\r\n";
}

void LedgerReportsCsv::Add(const std::string& device, const DailyReport& report) {
  AppendDeviceField(&text_, device, dialect_);
  AppendCsvReport(&text_, dialect_, report);
  text_ += "\r\n";
}

std::string LedgerMonthsCsv(const LedgerSelectionSums& sums, bool perDevice, CsvDialect dialect) {
  std::string text;
  if (perDevice) {
    StartCsv(&text, dialect, "device,month,reports,first_report,last_report");
    text += "\r\n";
    for (const DeviceSums& device : sums.devices) {
      for (const MonthRow& row : device.months) {
        AppendDeviceField(&text, device.device, dialect);
        AppendCsvMonth(&text, dialect, row);
        text += "\r\n";
      }
    }
    return text;
  }
  StartCsv(&text, dialect, "month,devices,reports");
  text += "\r\n";
  for (const MonthOverDevices& month : sums.months) {
    AppendCsvText(&text, dialect, month.sums.MonthText());
    text += dialect.separator;
    text += std::to_string(month.devices);
    text += dialect.separator;
    text += std::to_string(month.sums.reports);
    AppendCsvMonthAmounts(&text, dialect, month.sums);
    text += "\r\n";
  }
  return text;
}

namespace {

void AppendTotals(std::string* out, const ReportTotals& t) {
  AppendAmountTables(out, t.groupTurnover, t.groupTax, t.departments, t.payments);
}

}  // namespace

LedgerJson::LedgerJson(const LedgerExportHeading& heading, const LedgerSelectionSums& sums) : sums_(sums) {
  text_ = "{\n  ";
  AppendKey(&text_, "ledger");
  AppendString(&text_, PathAsUtf8(heading.ledgerPath));
  text_ += ",\n  ";
  AppendJsonFilter(&text_, heading.filter);
  text_ += ",\n  ";
  AppendKey(&text_, "devices");
  text_ += '[';
  for (size_t i = 0; i < sums.devices.size(); ++i) {
    const DeviceSums& device = sums.devices[i];
    text_ += i ? ",\n    {" : "\n    {";
    AppendKey(&text_, "device");
    AppendString(&text_, device.device);
    text_ += ", ";
    AppendKey(&text_, "reports");
    text_ += std::to_string(device.reports) + ", ";
    AppendTotals(&text_, device.totals);
    text_ += '}';
  }
  text_ += sums.devices.empty() ? "],\n  " : "\n  ],\n  ";
  AppendKey(&text_, "reports");
  text_ += '[';
}

void LedgerJson::Add(const std::string& device, const DailyReport& report) {
  if (firstReport_ || device != device_) {
    device_ = device;
    deviceMember_.clear();
    AppendKey(&deviceMember_, "device");
    AppendString(&deviceMember_, device);
    deviceMember_ += ", ";
  }
  text_ += firstReport_ ? "\n    " : ",\n    ";
  firstReport_ = false;
  reports_.Append(&text_, report, deviceMember_);
}

std::string LedgerJson::Finish() {
  text_ += firstReport_ ? "],\n  " : "\n  ],\n  ";
  AppendKey(&text_, "months");
  text_ += '[';
  for (size_t i = 0; i < sums_.months.size(); ++i) {
    const MonthOverDevices& month = sums_.months[i];
    text_ += i ? ",\n    {" : "\n    {";
    AppendKey(&text_, "month");
    text_ += '"' + month.sums.MonthText() + "\", ";
    AppendKey(&text_, "devices");
    text_ += std::to_string(month.devices) + ", ";
    AppendKey(&text_, "reports");
    text_ += std::to_string(month.sums.reports) + ", ";
    const MonthRow& row = month.sums;
    AppendAmountTables(&text_, row.groups, row.tax, row.departments, row.payments);
    text_ += '}';
  }
  text_ += sums_.months.empty() ? "],\n  " : "\n  ],\n  ";
  AppendKey(&text_, "totals");
  text_ += '{';
  AppendTotals(&text_, sums_.totals);
  text_ += "}\n}\n";
  return std::move(text_);
}

bool LedgerGroupUsed(const LedgerSelectionSums& sums, int g) {
  for (const MonthOverDevices& month : sums.months)
    if (month.sums.groups[g] > 0) return true;
  return false;
}

std::string LedgerSummaryText(const LedgerSelectionSums& sums) {
  std::vector<std::string> header = {"Месец", "Каси", "Отчети"};
  for (int g = 0; g < kTaxGroupCount; ++g) {
    if (!LedgerGroupUsed(sums, g)) continue;
    header.push_back("Оборот гр. " + std::to_string(g + 1));
    header.push_back("Данък гр. " + std::to_string(g + 1));
  }
  std::vector<std::vector<std::string>> rows = {header};
  auto amounts = [&](std::vector<std::string>* row, const double* groups, const double* tax) {
    for (int g = 0; g < kTaxGroupCount; ++g) {
      if (!LedgerGroupUsed(sums, g)) continue;
      row->push_back(AmountText(groups[g]));
      row->push_back(AmountText(tax[g]));
    }
  };
  for (const MonthOverDevices& month : sums.months) {
    std::vector<std::string> row = {month.sums.MonthText(), std::to_string(month.devices),
                                    std::to_string(month.sums.reports)};
    amounts(&row, month.sums.groups, month.sums.tax);
    rows.push_back(row);
  }
  int devicesWithReports = 0;
  for (const DeviceSums& device : sums.devices) devicesWithReports += device.reports > 0;
  std::vector<std::string> total = {"Общо", std::to_string(devicesWithReports), std::to_string(sums.reports)};
  amounts(&total, sums.totals.groupTurnover, sums.totals.groupTax);
  rows.push_back(total);
  return AlignedTable(rows);
}
