#pragma once
// The outputs of a ledger: the same writers as a dump's exports, fed from
// the ledger's query with the device of each report and the sums of the
// selection. Formats in docs/ledger.md.
#include <string>

#include "export/csv_export.h"
#include "export/export_output.h"
#include "export/json_text.h"
#include "export/ledger_sums.h"

// What the user asked for: the ledger file and the filter as typed.
struct LedgerExportHeading {
  std::string ledgerPath;
  ExportFilter filter;
};

// CSV, one row per daily report: device, then the columns of a dump's CSV.
class LedgerReportsCsv {
 public:
  explicit LedgerReportsCsv(CsvDialect dialect);
  void Add(const std::string& device, const DailyReport& report);
  const std::string& Text() const { return text_; }
  // The text added since the last take, for writing it out piece by piece.
  std::string TakeText() {
    std::string taken;
    taken.swap(text_);
    return taken;
  }
  size_t PendingBytes() const { return text_.size(); }

 private:
  CsvDialect dialect_;
  std::string text_;
};

// CSV, one row per calendar month over the devices (month, devices, reports,
// amounts), or per device and month (device, then a dump's monthly columns).
std::string LedgerMonthsCsv(const LedgerSelectionSums& sums, bool perDevice, CsvDialect dialect);

// JSON: ledger, filter, devices (with their totals), reports (each with its
// device), months over the devices, totals.
class LedgerJson {
 public:
  LedgerJson(const LedgerExportHeading& heading, const LedgerSelectionSums& sums);
  void Add(const std::string& device, const DailyReport& report);
  // The whole text, once every report is added (what is left of it after
  // the pieces taken).
  std::string Finish();
  // The text made since the last take, for writing it out piece by piece.
  std::string TakeText() {
    std::string taken;
    taken.swap(text_);
    return taken;
  }
  size_t PendingBytes() const { return text_.size(); }

 private:
  const LedgerSelectionSums& sums_;
  std::string text_;
  bool firstReport_ = true;
  std::string device_, deviceMember_;  // the last device and its "device": member
  JsonReportWriter reports_;
};

// HTML: the monthly table over the devices, the monthly turnover stacked by
// device, the totals per device and per tax group.
std::string LedgerHtml(const LedgerExportHeading& heading, const LedgerSelectionSums& sums);
// The page's sections below its heading (the monthly table and chart, the
// totals), for pages that carry them under a heading of their own.
void AppendLedgerHtmlSections(std::string* out, const LedgerSelectionSums& sums);

// The monthly VAT table for a terminal, with the number of registers.
std::string LedgerSummaryText(const LedgerSelectionSums& sums);

// Whether tax group g has turnover in any month of the selection.
bool LedgerGroupUsed(const LedgerSelectionSums& sums, int g);
