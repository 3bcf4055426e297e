#pragma once
// A device's sums as the ledger keeps them: its totals and its months, each
// counted report's amounts added as the report adds them, in the order of
// SumOrderLess; and the months' sums over all devices. The program rounds
// every sum a VAT view shows, once, as its outputs print it, and stores the
// cents: the views only read them.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "export/month_table.h"
#include "fm/daily_report.h"
#include "ledger/held_reports.h"
#include "ledger/sqlite_db.h"

struct RunningSums {
  bool known = false;  // the device has its row
  int64_t reports = 0;
  ReportTotals totals;
  std::map<std::string, MonthRow> months;  // by "YYYY-MM"
  int32_t firstNumber = 0, lastNumber = 0;
  std::string firstAt, lastAt;

  void Add(const DailyReport& report);
};

// The device's row and months as stored (all zero for a device not yet known).
bool LoadRunningSums(SqliteDb& db, const std::string& device, RunningSums* sums, std::string* err);

// Sums the device's counted rows and stores the device's row, the months
// that changed (with their cents), and the totals over all devices of those
// months. keepDevice: the device keeps its row with no report left (it still
// has dumps); otherwise such a device leaves the ledger. rewriteAll writes
// every month, changed or not.
bool StoreDeviceSums(SqliteDb& db, const std::string& device, const std::vector<HeldReport>& rows, bool keepDevice,
                     bool rewriteAll, std::string* err);

// Writes the counted flag of every written row whose flag changed.
bool StoreCounted(SqliteDb& db, const std::vector<HeldReport>& rows, std::string* err);

// An amount in cents, rounded exactly as the outputs print it ("%.2f" of the
// binary value).
int64_t RoundedCents(double value);
