#include "ledger/running_sums.h"

#include "ledger/ledger_sums.h"
#include "export/report_fields.h"
#include "ledger/report_row.h"

void RunningSums::Add(const DailyReport& report) {
  std::string month = MonthOf(report);
  months[month].Add(report);
  changed[month] = true;
  AddToTotals(report, &totals);
  std::string at = DateTimeText(report);
  if (reports++ == 0) {
    firstNumber = report.number;
    firstAt = at;
  }
  lastNumber = report.number;
  lastAt = at;
}

bool LoadRunningSums(SqliteDb& db, const std::string& device, RunningSums* sums, std::string* err) {
  SqliteStatement select;
  std::string sql = std::string("SELECT reports, first_report, first_recorded_at, last_report, last_recorded_at, ") +
                    kSumColumns + " FROM device WHERE id = ?1";
  if (!select.Prepare(db, sql.c_str(), err)) return false;
  select.BindText(1, device);
  bool done = false;
  if (select.Step(&done, err)) {
    sums->known = true;
    sums->reports = select.Int(0);
    sums->firstNumber = static_cast<int32_t>(select.Int(1));
    sums->firstAt = select.Text(2);
    sums->lastNumber = static_cast<int32_t>(select.Int(3));
    sums->lastAt = select.Text(4);
    ReportTotals& t = sums->totals;
    ReadSums(select, 5, t.groupTurnover, t.groupTax, t.departments, t.payments);
  } else if (!done) {
    return false;
  }
  SqliteStatement months;
  sql = std::string("SELECT month, reports, first_report, last_report, ") + kSumColumns +
        " FROM device_month WHERE device = ?1";
  if (!months.Prepare(db, sql.c_str(), err)) return false;
  months.BindText(1, device);
  while (months.Step(&done, err)) {
    MonthRow& row = sums->months[months.Text(0)];
    row.year = std::stoi(months.Text(0).substr(0, 4));
    row.month = std::stoi(months.Text(0).substr(5, 2));
    row.reports = static_cast<int>(months.Int(1));
    row.firstReport = static_cast<int32_t>(months.Int(2));
    row.lastReport = static_cast<int32_t>(months.Int(3));
    ReadSums(months, 4, row.groups, row.tax, row.departments, row.payments);
  }
  return done;
}

bool StoreRunningSums(SqliteDb& db, const std::string& device, const RunningSums& sums, std::string* err) {
  SqliteStatement update;
  std::string sql = std::string("INSERT OR REPLACE INTO device (id, reports, first_report, first_recorded_at, "
                                "last_report, last_recorded_at, ") +
                    kSumColumns + ") VALUES (?1, ?2, ?3, ?4, ?5, ?6";
  for (int i = 0; i < kSumColumnCount; ++i) sql += ", ?" + std::to_string(7 + i);
  sql += ")";
  if (!update.Prepare(db, sql.c_str(), err)) return false;
  update.BindText(1, device);
  update.BindInt(2, sums.reports);
  if (sums.reports) {
    update.BindInt(3, sums.firstNumber);
    update.BindText(4, sums.firstAt);
    update.BindInt(5, sums.lastNumber);
    update.BindText(6, sums.lastAt);
  }
  const ReportTotals& t = sums.totals;
  BindSums(update, 7, t.groupTurnover, t.groupTax, t.departments, t.payments);
  if (!update.Run(err)) return false;

  SqliteStatement month;
  sql = std::string("INSERT OR REPLACE INTO device_month (device, month, reports, first_report, last_report, ") +
        kSumColumns + ") VALUES (?1, ?2, ?3, ?4, ?5";
  for (int i = 0; i < kSumColumnCount; ++i) sql += ", ?" + std::to_string(6 + i);
  sql += ")";
  if (!month.Prepare(db, sql.c_str(), err)) return false;
  for (const auto& entry : sums.changed) {
    const MonthRow& row = sums.months.at(entry.first);
    month.BindText(1, device);
    month.BindText(2, entry.first);
    month.BindInt(3, row.reports);
    month.BindInt(4, row.firstReport);
    month.BindInt(5, row.lastReport);
    BindSums(month, 6, row.groups, row.tax, row.departments, row.payments);
    if (!month.Run(err)) return false;
  }
  return true;
}
