#include "ledger/ledger_add.h"

#include <ctime>
#include <map>
#include <unordered_map>

#include "ledger/ledger_sums.h"
#include "ledger/sha256.h"
#include "report/report_run.h"
#include "ledger/report_row.h"

namespace {

// What the ledger already holds for one device.
struct HeldReports {
  std::unordered_map<std::string, int64_t> copies;  // by identity: how many rows
  std::unordered_map<std::string, int64_t> byKey;   // number and date-time: a row id
};

bool LoadHeld(SqliteDb& db, const std::string& device, HeldReports* held, std::string* err) {
  SqliteStatement select;
  std::string sql = std::string("SELECT id, ") + kReportColumns + " FROM daily_report WHERE device = ?1";
  if (!select.Prepare(db, sql.c_str(), err)) return false;
  select.BindText(1, device);
  bool done = false;
  DailyReport report;
  while (select.Step(&done, err)) {
    ReadReport(select, 1, &report);
    ++held->copies[ReportIdentity(report)];
    held->byKey.emplace(ReportKey(report), select.Int(0));
  }
  return done;
}

// The device's running sums: its totals and its months, as stored.
struct DeviceSums {
  bool known = false;
  int64_t reports = 0;
  ReportTotals totals;
  std::map<std::string, MonthRow> months;
  std::map<std::string, bool> changed;
  int32_t firstNumber = 0, lastNumber = 0;
  std::string firstAt, lastAt;
};

bool LoadSums(SqliteDb& db, const std::string& device, DeviceSums* sums, std::string* err) {
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

bool StoreSums(SqliteDb& db, const std::string& device, const DeviceSums& sums, std::string* err) {
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

bool DumpAlreadyAdded(SqliteDb& db, const DumpFacts& dump, bool* added, std::string* err) {
  SqliteStatement select;
  if (!select.Prepare(db, "SELECT 1 FROM dump WHERE device = ?1 AND sha256 = ?2", err)) return false;
  select.BindText(1, dump.device);
  select.BindText(2, dump.sha256);
  bool done = false;
  *added = select.Step(&done, err);
  return *added || done;
}

// What adding the same bytes again gives, from the first time they were
// added: every report already in the ledger but the conflicts.
bool AddedBefore(SqliteDb& db, const DumpFacts& dump, bool* found, DumpAddition* result, std::string* err) {
  SqliteStatement select;
  if (!select.Prepare(db,
                      "SELECT id, reports, conflicts FROM dump WHERE device = ?1 AND sha256 = ?2 "
                      "ORDER BY id LIMIT 1",
                      err))
    return false;
  select.BindText(1, dump.device);
  select.BindText(2, dump.sha256);
  bool done = false;
  *found = select.Step(&done, err);
  if (!*found) return done;
  const int64_t id = select.Int(0);
  result->already = select.Int(1) - select.Int(2);
  SqliteStatement conflicts;
  if (!conflicts.Prepare(db, "SELECT number, recorded_at FROM conflict WHERE dump = ?1 ORDER BY id", err))
    return false;
  conflicts.BindInt(1, id);
  while (conflicts.Step(&done, err))
    result->conflicts.push_back({static_cast<int32_t>(conflicts.Int(0)), conflicts.Text(1)});
  return done;
}

bool InsertDump(SqliteDb& db, const DumpFacts& dump, int64_t reports, int64_t* id, std::string* err) {
  SqliteStatement insert;
  if (!insert.Prepare(db,
                      "INSERT INTO dump (device, name, size, sha256, added_at, reports, new_reports, conflicts) "
                      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, 0, 0)",
                      err))
    return false;
  insert.BindText(1, dump.device);
  insert.BindText(2, dump.name);
  insert.BindInt(3, dump.size);
  insert.BindText(4, dump.sha256);
  insert.BindText(5, dump.addedAt);
  insert.BindInt(6, reports);
  if (!insert.Run(err)) return false;
  *id = db.LastInsertId();
  return true;
}

// Decides, report by report in dump order, what is new, what the ledger
// holds already and what conflicts.
struct Decision {
  std::vector<const DailyReport*> added;
  std::vector<std::pair<const DailyReport*, int64_t>> conflicts;  // with the ledger's report
};

Decision Decide(const DumpReportList& reports, const HeldReports& held, int64_t* already) {
  Decision decision;
  if (held.copies.empty()) {  // a device new to the ledger: every report is new
    for (const DailyReport& report : reports) decision.added.push_back(&report);
    return decision;
  }
  std::unordered_map<std::string, int64_t> inDump;
  for (const DailyReport& report : reports) {
    std::string identity = ReportIdentity(report);
    int64_t copy = ++inDump[identity];
    auto copies = held.copies.find(identity);
    int64_t heldCopies = copies == held.copies.end() ? 0 : copies->second;
    if (copy <= heldCopies) {
      ++*already;
      continue;
    }
    auto sameKey = held.byKey.find(ReportKey(report));
    if (heldCopies == 0 && sameKey != held.byKey.end()) {
      decision.conflicts.emplace_back(&report, sameKey->second);
      continue;
    }
    decision.added.push_back(&report);
  }
  return decision;
}

bool Write(SqliteDb& db, const DumpFacts& dump, const DumpReportList& reports, const Decision& decision,
           std::string* err) {
  DeviceSums sums;
  if (!LoadSums(db, dump.device, &sums, err)) return false;
  if (!sums.known && !StoreSums(db, dump.device, sums, err)) return false;  // the device row first
  int64_t dumpId = 0;
  if (!InsertDump(db, dump, static_cast<int64_t>(reports.size()), &dumpId, err)) return false;

  SqliteStatement insert;
  std::string sql = std::string("INSERT INTO daily_report (device, dump, ") + kReportColumns + ") VALUES (?1, ?2";
  for (int i = 0; i < kReportColumnCount; ++i) sql += ", ?" + std::to_string(3 + i);
  sql += ")";
  if (!insert.Prepare(db, sql.c_str(), err)) return false;
  for (const DailyReport* report : decision.added) {
    insert.BindText(1, dump.device);
    insert.BindInt(2, dumpId);
    BindReport(insert, 3, *report);
    if (!insert.Run(err)) return false;

    std::string month = MonthOf(*report);
    AddToMonth(*report, &sums.months[month]);
    sums.changed[month] = true;
    AddToTotals(*report, &sums.totals);
    if (sums.reports++ == 0) {
      sums.firstNumber = report->number;
      sums.firstAt = RecordedAtText(*report);
    }
    sums.lastNumber = report->number;
    sums.lastAt = RecordedAtText(*report);
  }

  SqliteStatement conflict;
  if (!conflict.Prepare(db,
                        "INSERT INTO conflict (device, dump, number, recorded, recorded_at, ledger_report) "
                        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                        err))
    return false;
  for (const auto& entry : decision.conflicts) {
    conflict.BindText(1, dump.device);
    conflict.BindInt(2, dumpId);
    conflict.BindInt(3, entry.first->number);
    conflict.BindInt(4, PackRecorded(entry.first->recorded));
    conflict.BindText(5, RecordedAtText(*entry.first));
    conflict.BindInt(6, entry.second);
    if (!conflict.Run(err)) return false;
  }

  SqliteStatement counts;
  if (!counts.Prepare(db, "UPDATE dump SET new_reports = ?1, conflicts = ?2 WHERE id = ?3", err)) return false;
  counts.BindInt(1, static_cast<int64_t>(decision.added.size()));
  counts.BindInt(2, static_cast<int64_t>(decision.conflicts.size()));
  counts.BindInt(3, dumpId);
  if (!counts.Run(err)) return false;
  return decision.added.empty() || StoreSums(db, dump.device, sums, err);
}

}  // namespace

bool AddDump(LedgerFile& ledger, const DumpFacts& dump, const DumpReportList& reports,
             DumpAddition* result, std::string* err) {
  SqliteDb& db = ledger.db();
  *result = DumpAddition();
  // The write lock from the start: a second process waits here, then sees
  // everything the first one added.
  if (!db.Exec("BEGIN IMMEDIATE", err)) return false;
  HeldReports held;
  bool seen = false;
  bool ok = DumpAlreadyAdded(db, dump, &seen, err) && LoadHeld(db, dump.device, &held, err);
  Decision decision;
  if (ok) {
    decision = Decide(reports, held, &result->already);
    for (const auto& entry : decision.conflicts)
      result->conflicts.push_back({entry.first->number, RecordedAtText(*entry.first)});
    result->added = static_cast<int64_t>(decision.added.size());
    // The very same bytes again, with nothing new: nothing to write.
    if (!(seen && decision.added.empty())) ok = Write(db, dump, reports, decision, err);
  }
  if (ok) ok = db.Exec("COMMIT", err);
  if (!ok) {
    std::string ignored;
    db.Exec("ROLLBACK", &ignored);
  }
  return ok;
}

AddDumpOutcome AddDumpFile(LedgerFile& ledger, const std::string& path, const std::string& device,
                           const std::string& addedAt, DumpAddition* result, std::string* err) {
  DumpFacts facts;
  facts.device = device;
  facts.name = path;
  facts.addedAt = addedAt;
  if (!FileSha256(path, &facts.sha256, &facts.size, err)) return DumpUnreadable;
  *result = DumpAddition();
  bool found = false;
  if (!AddedBefore(ledger.db(), facts, &found, result, err)) return LedgerUnwritable;
  if (found) return DumpAdded;
  ReportRequest request;
  request.dumpPath = path;
  DumpReports reports;
  if (WalkDump(request, reports) != ReportWritten) {
    *err = "the dump cannot be opened";
    return DumpUnreadable;
  }
  return AddDump(ledger, facts, reports.reports(), result, err) ? DumpAdded : LedgerUnwritable;
}

std::string DeviceOfDump(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 4) {
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (tail == ".bin") name.resize(name.size() - 4);
  }
  return name;
}

std::string UtcNowText() {
  std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}
