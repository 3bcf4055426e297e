#include "ledger/running_sums.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "export/amount_text.h"
#include "export/report_fields.h"
#include "ledger/ledger_sums.h"
#include "ledger/report_row.h"

namespace {

// The 16 rounded columns of the VAT views: group_1_cents .. tax_8_cents.
const char kCentColumns[] =
    "group_1_cents, group_2_cents, group_3_cents, group_4_cents, group_5_cents, group_6_cents, group_7_cents, "
    "group_8_cents, tax_1_cents, tax_2_cents, tax_3_cents, tax_4_cents, tax_5_cents, tax_6_cents, tax_7_cents, "
    "tax_8_cents";
constexpr int kCentColumnCount = 2 * kTaxGroupCount;

void BindCents(SqliteStatement& s, int first, const double* groups, const double* tax) {
  for (int g = 0; g < kTaxGroupCount; ++g) s.BindInt(first + g, RoundedCents(groups[g]));
  for (int g = 0; g < kTaxGroupCount; ++g) s.BindInt(first + kTaxGroupCount + g, RoundedCents(tax[g]));
}

// " ?first, ..." for count parameters.
std::string Parameters(int first, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += ", ?" + std::to_string(first + i);
  return text;
}

bool SameMonth(const MonthRow& a, const MonthRow& b) {
  auto same = [](const double* x, const double* y, int n) { return std::memcmp(x, y, n * sizeof(double)) == 0; };
  return a.reports == b.reports && a.firstReport == b.firstReport && a.lastReport == b.lastReport &&
         same(a.groups, b.groups, kTaxGroupCount) && same(a.tax, b.tax, kTaxGroupCount) &&
         same(a.departments, b.departments, kDepartmentCount) && same(a.payments, b.payments, kPaymentCodeCount);
}

bool StoreDevice(SqliteDb& db, const std::string& device, const RunningSums& sums, bool keep, std::string* err) {
  SqliteStatement statement;
  if (sums.reports == 0 && !keep) {
    if (!statement.Prepare(db, "DELETE FROM device WHERE id = ?1", err)) return false;
    statement.BindText(1, device);
    return statement.Run(err);
  }
  std::string sql = std::string("INSERT OR REPLACE INTO device (id, reports, first_report, first_recorded_at, "
                                "last_report, last_recorded_at, ") +
                    kSumColumns + ") VALUES (?1, ?2, ?3, ?4, ?5, ?6" + Parameters(7, kSumColumnCount) + ")";
  if (!statement.Prepare(db, sql.c_str(), err)) return false;
  statement.BindText(1, device);
  statement.BindInt(2, sums.reports);
  if (sums.reports) {
    statement.BindInt(3, sums.firstNumber);
    statement.BindText(4, sums.firstAt);
    statement.BindInt(5, sums.lastNumber);
    statement.BindText(6, sums.lastAt);
  }
  const ReportTotals& t = sums.totals;
  BindSums(statement, 7, t.groupTurnover, t.groupTax, t.departments, t.payments);
  return statement.Run(err);
}

// The totals over all devices of the months that changed: each month's
// devices added in the order of their ids, as `ledger summary` adds them,
// rounded and stored (or dropped with the month's last report). One pass
// over the months from the first changed to the last.
bool StoreMonthTotals(SqliteDb& db, const std::set<std::string>& months, std::string* err) {
  if (months.empty()) return true;
  SqliteStatement select, store, drop;
  std::string sql = std::string("INSERT OR REPLACE INTO month_total (month, devices, reports, ") + kCentColumns +
                    ") VALUES (?1, ?2, ?3" + Parameters(4, kCentColumnCount) + ")";
  if (!select.Prepare(db,
                      "SELECT month, reports, group_1, group_2, group_3, group_4, group_5, group_6, group_7, "
                      "group_8, tax_1, tax_2, tax_3, tax_4, tax_5, tax_6, tax_7, tax_8 FROM device_month "
                      "WHERE month BETWEEN ?1 AND ?2 ORDER BY month, device",
                      err) ||
      !store.Prepare(db, sql.c_str(), err) || !drop.Prepare(db, "DELETE FROM month_total WHERE month = ?1", err))
    return false;
  struct Total {
    int64_t devices = 0, reports = 0;
    double groups[kTaxGroupCount] = {}, tax[kTaxGroupCount] = {};
  };
  std::map<std::string, Total> totals;
  select.BindText(1, *months.begin());
  select.BindText(2, *months.rbegin());
  bool done = false;
  while (select.Step(&done, err)) {
    const std::string month = select.Text(0);
    if (!months.count(month)) continue;
    Total& total = totals[month];
    ++total.devices;
    total.reports += select.Int(1);
    for (int g = 0; g < kTaxGroupCount; ++g) {
      total.groups[g] += select.Double(2 + g);
      total.tax[g] += select.Double(2 + kTaxGroupCount + g);
    }
  }
  if (!done) return false;
  for (const std::string& month : months) {
    auto total = totals.find(month);
    if (total == totals.end()) {
      drop.BindText(1, month);
      if (!drop.Run(err)) return false;
      continue;
    }
    store.BindText(1, month);
    store.BindInt(2, total->second.devices);
    store.BindInt(3, total->second.reports);
    BindCents(store, 4, total->second.groups, total->second.tax);
    if (!store.Run(err)) return false;
  }
  return true;
}

}  // namespace

int64_t RoundedCents(double value) {
  std::string text = AmountText(value);
  int64_t cents = 0;
  for (char c : text)
    if (c >= '0' && c <= '9') cents = cents * 10 + (c - '0');
  return text[0] == '-' ? -cents : cents;
}

void RunningSums::Add(const DailyReport& report) {
  std::string at = DateTimeText(report);
  months[at.substr(0, 7)].Add(report);  // "YYYY-MM", as MonthOf gives it
  AddToTotals(report, &totals);
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

bool StoreCounted(SqliteDb& db, const std::vector<HeldReport>& rows, std::string* err) {
  SqliteStatement update;
  if (!update.Prepare(db, "UPDATE daily_report SET counted = ?1 WHERE id = ?2", err)) return false;
  for (const HeldReport& row : rows) {
    if (row.id == 0 || row.counted == row.storedCounted) continue;
    update.BindInt(1, row.counted ? 1 : 0);
    update.BindInt(2, row.id);
    if (!update.Run(err)) return false;
  }
  return true;
}

bool StoreDeviceSums(SqliteDb& db, const std::string& device, const std::vector<HeldReport>& rows, bool keepDevice,
                     bool rewriteAll, std::string* err) {
  RunningSums before;
  if (!LoadRunningSums(db, device, &before, err)) return false;
  std::vector<const HeldReport*> counted;
  for (const HeldReport& row : rows)
    if (row.counted) counted.push_back(&row);
  std::sort(counted.begin(), counted.end(),
            [](const HeldReport* a, const HeldReport* b) { return SumOrderLess(*a, *b); });
  RunningSums sums;
  for (const HeldReport* row : counted) sums.Add(row->report());
  if (!StoreDevice(db, device, sums, keepDevice, err)) return false;

  SqliteStatement write, drop;
  std::string sql = std::string("INSERT OR REPLACE INTO device_month (device, month, reports, first_report, "
                                "last_report, ") +
                    kSumColumns + ", " + kCentColumns + ") VALUES (?1, ?2, ?3, ?4, ?5" +
                    Parameters(6, kSumColumnCount + kCentColumnCount) + ")";
  if (!write.Prepare(db, sql.c_str(), err) ||
      !drop.Prepare(db, "DELETE FROM device_month WHERE device = ?1 AND month = ?2", err))
    return false;
  std::set<std::string> changed;
  for (const auto& entry : sums.months) {
    auto old = before.months.find(entry.first);
    if (!rewriteAll && old != before.months.end() && SameMonth(old->second, entry.second)) continue;
    const MonthRow& row = entry.second;
    write.BindText(1, device);
    write.BindText(2, entry.first);
    write.BindInt(3, row.reports);
    write.BindInt(4, row.firstReport);
    write.BindInt(5, row.lastReport);
    BindSums(write, 6, row.groups, row.tax, row.departments, row.payments);
    BindCents(write, 6 + kSumColumnCount, row.groups, row.tax);
    if (!write.Run(err)) return false;
    changed.insert(entry.first);
  }
  for (const auto& entry : before.months) {
    if (sums.months.count(entry.first)) continue;
    drop.BindText(1, device);
    drop.BindText(2, entry.first);
    if (!drop.Run(err)) return false;
    changed.insert(entry.first);
  }
  return StoreMonthTotals(db, changed, err);
}
