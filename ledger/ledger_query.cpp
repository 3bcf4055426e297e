#include "ledger/ledger_query.h"

#include <algorithm>
#include <map>

#include "fm/daily_report.h"
#include "ledger/ledger_sums.h"
#include "export/report_fields.h"
#include "ledger/held_reports.h"
#include "ledger/ledger_add.h"
#include "ledger/report_row.h"
#include "ledger/running_sums.h"
#include "report/bound_parsing.h"
#include "report/report_run.h"

namespace {

// A typed day as "YYYY-MM-DD HH:MM" on the calendar, carried over as the
// report run's bound is (31/04 is 1 May).
std::string DayBound(const std::string& text, bool endOfDay, bool* ok) {
  int64_t seconds = 0;
  *ok = ParseDateBound(text.c_str(), endOfDay, &seconds);
  if (!*ok) return std::string();
  int32_t day = 0, month = 0, year = 0;
  ScanDayMonthYear(text.c_str(), &day, &month, &year);
  RecordedDateTime fields;
  fields.year = year - 2000;
  fields.month = month;
  fields.day = day;
  fields.hour = endOfDay ? 23 : 0;
  fields.minute = endOfDay ? 59 : 0;
  DailyReport bound;
  bound.recorded = fields;
  return DateTimeText(bound);
}

// The rows of one device that pass the filter, in the order asked for.
bool PrepareDeviceReports(LedgerFile& ledger, const ResolvedSelection& s, const char* order,
                          SqliteStatement* select, std::string* err) {
  std::string sql = std::string("SELECT ") + kReportColumns + " FROM daily_report WHERE device = ?1 AND counted";
  if (s.type == ReportByDate) sql += " AND recorded_at BETWEEN ?2 AND ?3";
  if (s.type == ReportByNumber) sql += " AND number BETWEEN ?2 AND ?3";
  sql += " ORDER BY ";
  sql += order;
  return select->Prepare(ledger.db(), sql.c_str(), err);
}

void BindDevice(SqliteStatement& select, const ResolvedSelection& s, const std::string& device) {
  select.BindText(1, device);
  if (s.type == ReportByDate) {
    select.BindText(2, s.fromAt);
    select.BindText(3, s.toAt);
  } else if (s.type == ReportByNumber) {
    select.BindInt(2, s.fromNumber);
    select.BindInt(3, s.toNumber);
  }
}

// The running sums kept for each device as its reports were added.
bool StoredSums(LedgerFile& ledger, const std::string& device, DeviceSums* sums, std::string* err) {
  RunningSums stored;
  if (!LoadRunningSums(ledger.db(), device, &stored, err)) return false;
  sums->reports = stored.reports;
  sums->totals = stored.totals;
  for (const auto& month : stored.months) sums->months.push_back(month.second);  // by "YYYY-MM"
  return true;
}

// The same sums from the reports that pass a filter, added in the order the
// stored sums are made (SumOrderLess).
bool FilteredSums(LedgerFile& ledger, const ResolvedSelection& s, const std::string& device, DeviceSums* sums,
                  std::string* err) {
  SqliteStatement select;
  if (!PrepareDeviceReports(ledger, s, "id", &select, err)) return false;
  BindDevice(select, s, device);
  std::vector<HeldReport> rows;
  bool done = false;
  while (select.Step(&done, err)) {
    rows.emplace_back();
    rows.back().own = std::make_unique<DailyReport>();
    ReadReport(select, 0, rows.back().own.get());
  }
  if (!done) return false;
  std::sort(rows.begin(), rows.end(), SumOrderLess);
  std::map<std::string, MonthRow> months;
  for (const HeldReport& row : rows) {
    ++sums->reports;
    AddToTotals(row.report(), &sums->totals);
    months[MonthOf(row.report())].Add(row.report());
  }
  for (const auto& month : months) sums->months.push_back(month.second);
  return true;
}

}  // namespace

SelectionProblem ResolveSelection(LedgerFile& ledger, const LedgerSelection& selection, ResolvedSelection* resolved,
                                  std::string* detail) {
  *resolved = ResolvedSelection();
  resolved->type = selection.type;
  if (selection.type == ReportByDate) {
    bool ok = false;
    resolved->fromAt = DayBound(selection.fromText, false, &ok);
    if (!ok) return SelectionBadFrom;
    resolved->toAt = DayBound(selection.toText, true, &ok);
    if (!ok) return SelectionBadTo;
  } else if (selection.type == ReportByNumber) {
    int32_t number = 0;
    if (!ScanInteger(selection.fromText.c_str(), &number)) return SelectionBadFrom;
    resolved->fromNumber = static_cast<uint32_t>(number);  // zero-extended, as the report run takes it
    if (!ScanInteger(selection.toText.c_str(), &number)) return SelectionBadTo;
    resolved->toNumber = static_cast<uint32_t>(number);
  }

  std::vector<std::string> wantedIds;
  for (const std::string& wanted : selection.devices) wantedIds.push_back(LedgerDeviceId(wanted));
  std::vector<LedgerDevice> known;
  if (!ListDevices(ledger, &known, detail)) return SelectionError;
  for (const LedgerDevice& device : known)
    if (wantedIds.empty() || std::find(wantedIds.begin(), wantedIds.end(), device.id) != wantedIds.end())
      resolved->devices.push_back(device.id);
  for (const std::string& wanted : selection.devices) {
    if (std::find(resolved->devices.begin(), resolved->devices.end(), LedgerDeviceId(wanted)) ==
        resolved->devices.end()) {
      *detail = wanted;
      return SelectionUnknownDevice;
    }
  }
  return SelectionOk;
}

bool ListDevices(LedgerFile& ledger, std::vector<LedgerDevice>* devices, std::string* err) {
  devices->clear();
  SqliteStatement select;
  if (!select.Prepare(ledger.db(),
                      "SELECT d.id, d.reports, d.first_report, d.last_report, d.first_recorded_at, "
                      "d.last_recorded_at, (SELECT count(*) FROM dump WHERE dump.device = d.id), "
                      "(SELECT max(added_at) FROM dump WHERE dump.device = d.id), d.changed FROM device AS d ORDER BY d.id",
                      err))
    return false;
  bool done = false;
  while (select.Step(&done, err)) {
    LedgerDevice device;
    device.id = select.Text(0);
    device.reports = select.Int(1);
    device.firstNumber = static_cast<int32_t>(select.Int(2));
    device.lastNumber = static_cast<int32_t>(select.Int(3));
    device.firstAt = select.Text(4);
    device.lastAt = select.Text(5);
    device.dumps = select.Int(6);
    device.lastAdded = select.Text(7);
    device.changed = select.Int(8);
    devices->push_back(device);
  }
  return done;
}

bool ListDumps(LedgerFile& ledger, std::vector<LedgerDump>* dumps, std::string* err) {
  dumps->clear();
  SqliteStatement select;
  if (!select.Prepare(ledger.db(),
                      "SELECT device, name, size, sha256, added_at, reports, new_reports, repaired FROM dump "
                      "ORDER BY device, id",
                      err))
    return false;
  bool done = false;
  while (select.Step(&done, err)) {
    LedgerDump dump;
    dump.device = select.Text(0);
    dump.name = select.Text(1);
    dump.size = select.Int(2);
    dump.sha256 = select.Text(3);
    dump.addedAt = select.Text(4);
    dump.reports = select.Int(5);
    dump.newReports = select.Int(6);
    dump.repaired = select.Int(7);
    dumps->push_back(dump);
  }
  return done;
}

bool QuerySums(LedgerFile& ledger, const ResolvedSelection& selection, LedgerSelectionSums* sums, std::string* err) {
  *sums = LedgerSelectionSums();
  std::map<std::pair<int, int>, MonthOverDevices> months;
  for (const std::string& id : selection.devices) {
    DeviceSums device;
    device.device = id;
    bool ok = selection.type == ReportAll ? StoredSums(ledger, id, &device, err)
                                          : FilteredSums(ledger, selection, id, &device, err);
    if (!ok) return false;
    for (const MonthRow& row : device.months) {
      MonthOverDevices& month = months[{row.year, row.month}];
      AddMonth(row, &month.sums);
      ++month.devices;
    }
    AddTotals(device.totals, &sums->totals);
    sums->reports += device.reports;
    sums->devices.push_back(std::move(device));
  }
  for (const auto& month : months) sums->months.push_back(month.second);
  return true;
}

bool ForEachReport(LedgerFile& ledger, const ResolvedSelection& selection, const DeviceReportVisitor& visit,
                   std::string* err) {
  bool stopped = false;
  return ForEachReportWhile(
      ledger, selection,
      [&](const std::string& device, const DailyReport& report) {
        visit(device, report);
        return true;
      },
      &stopped, err);
}

bool ForEachReportWhile(LedgerFile& ledger, const ResolvedSelection& selection, const DeviceReportWhile& visit,
                        bool* stopped, std::string* err) {
  *stopped = false;
  SqliteStatement select;
  if (!PrepareDeviceReports(ledger, selection, "recorded_at, number, id", &select, err)) return false;
  DailyReport report;
  for (const std::string& device : selection.devices) {
    BindDevice(select, selection, device);
    bool done = false;
    while (select.Step(&done, err)) {
      ReadReport(select, 0, &report);
      if (!visit(device, report)) {
        *stopped = true;
        return true;
      }
    }
    if (!done) return false;
    select.Reset();
  }
  return true;
}

bool ListRefusals(LedgerFile& ledger, const ResolvedSelection& selection, std::vector<LedgerRefusal>* refusals,
                  std::string* err) {
  refusals->clear();
  SqliteStatement select;
  if (!select.Prepare(ledger.db(),
                      "SELECT name, sha256, refused_at, number, recorded_at, numbers FROM refused_dump "
                      "WHERE device = ?1 ORDER BY id",
                      err))
    return false;
  for (const std::string& device : selection.devices) {
    select.BindText(1, device);
    bool done = false;
    while (select.Step(&done, err)) {
      LedgerRefusal refusal;
      refusal.device = device;
      refusal.dump = select.Text(0);
      refusal.sha256 = select.Text(1);
      refusal.refusedAt = select.Text(2);
      refusal.number = static_cast<int32_t>(select.Int(3));
      refusal.recordedAt = select.Text(4);
      const std::string numbers = select.Text(5);
      refusal.numbers = numbers.empty() ? 0 : 1 + std::count(numbers.begin(), numbers.end(), ',');
      refusals->push_back(refusal);
    }
    if (!done) return false;
    select.Reset();
  }
  return true;
}

bool ListConflicts(LedgerFile& ledger, const ResolvedSelection& selection, std::vector<LedgerConflictNote>* notes,
                   std::string* err) {
  notes->clear();
  SqliteStatement select;
  if (!select.Prepare(ledger.db(),
                      "SELECT c.number, c.recorded_at, d.name, d.added_at FROM conflict AS c "
                      "JOIN dump AS d ON d.id = c.dump WHERE c.device = ?1 ORDER BY c.id",
                      err))
    return false;
  for (const std::string& device : selection.devices) {
    select.BindText(1, device);
    bool done = false;
    while (select.Step(&done, err))
      notes->push_back({device, static_cast<int32_t>(select.Int(0)), select.Text(1), select.Text(2), select.Text(3)});
    if (!done) return false;
    select.Reset();
  }
  return true;
}
