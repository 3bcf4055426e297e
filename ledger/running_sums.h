#pragma once
// A device's running sums as the ledger keeps them: its totals and its
// months, each report's counted amounts added as the report adds them, in
// the order the reports enter the ledger.
#include <cstdint>
#include <map>
#include <string>

#include "export/month_table.h"
#include "fm/daily_report.h"
#include "ledger/sqlite_db.h"

struct RunningSums {
  bool known = false;  // the device has its row already
  int64_t reports = 0;
  ReportTotals totals;
  std::map<std::string, MonthRow> months;  // by "YYYY-MM"
  std::map<std::string, bool> changed;     // the months to store
  int32_t firstNumber = 0, lastNumber = 0;
  std::string firstAt, lastAt;

  void Add(const DailyReport& report);
};

// The device's row and months as stored (all zero for a device not yet known).
bool LoadRunningSums(SqliteDb& db, const std::string& device, RunningSums* sums, std::string* err);
// Writes the device's row and its changed months.
bool StoreRunningSums(SqliteDb& db, const std::string& device, const RunningSums& sums, std::string* err);
