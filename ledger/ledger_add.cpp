#include "ledger/ledger_add.h"

#include <cstring>
#include <ctime>
#include <unordered_map>

#include "fm/dump_family.h"
#include "ledger/running_sums.h"
#include "ledger/sha256.h"
#include "report/report_run.h"
#include "export/path_utf8.h"
#include "export/report_fields.h"
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
  RunningSums sums;
  if (!LoadRunningSums(db, dump.device, &sums, err)) return false;
  if (!sums.known && !StoreRunningSums(db, dump.device, sums, err)) return false;  // the device row first
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

    sums.Add(*report);
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
    conflict.BindText(5, DateTimeText(*entry.first));
    conflict.BindInt(6, entry.second);
    if (!conflict.Run(err)) return false;
  }

  SqliteStatement counts;
  if (!counts.Prepare(db, "UPDATE dump SET new_reports = ?1, conflicts = ?2 WHERE id = ?3", err)) return false;
  counts.BindInt(1, static_cast<int64_t>(decision.added.size()));
  counts.BindInt(2, static_cast<int64_t>(decision.conflicts.size()));
  counts.BindInt(3, dumpId);
  if (!counts.Run(err)) return false;
  return decision.added.empty() || StoreRunningSums(db, dump.device, sums, err);
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
      result->conflicts.push_back({entry.first->number, DateTimeText(*entry.first)});
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

AddDumpOutcome AddDumpImage(LedgerFile& ledger, const DumpBytes& bytes, const std::string& name,
                            const std::string& device, const std::string& addedAt, DumpAddition* result,
                            std::string* err) {
  *result = DumpAddition();
  DumpFacts facts;
  facts.device = LedgerDeviceId(device);
  facts.name = name;
  facts.addedAt = addedAt;
  facts.size = static_cast<int64_t>(bytes.size());
  facts.sha256 = Sha256Hex(bytes.data(), bytes.size());
  // The bytes are walked even when the ledger has added them before: they
  // must be a dump of this family before anything is said of their reports.
  ReportRequest request;
  request.dumpPath = name;
  request.dumpImage = &bytes;
  DumpReports reports;
  DumpFamilyCheck family;
  ReportSinks sinks;
  sinks.Add(&reports);
  sinks.Add(&family);
  if (WalkDump(request, sinks) != ReportWritten) {
    *err = "the dump cannot be walked";
    return DumpUnreadable;
  }
  std::string reason = NotADumpReason(bytes, false, family);
  if (!reason.empty()) {
    *err = reason;
    return DumpNotOfFamily;
  }
  bool found = false;
  if (!AddedBefore(ledger.db(), facts, &found, result, err)) return LedgerUnwritable;
  if (found) return DumpAdded;
  return AddDump(ledger, facts, reports.reports(), result, err) ? DumpAdded : LedgerUnwritable;
}

AddDumpOutcome AddDumpFile(LedgerFile& ledger, const std::string& path, const std::string& device,
                           const std::string& addedAt, DumpAddition* result, std::string* err) {
  *result = DumpAddition();
  DumpBytes bytes;
  int error = 0;
  switch (LoadDumpImage(path, &bytes, &error)) {
    case DumpOpenFailed:
      *err = std::strerror(error);
      return DumpUnreadable;
    case DumpOverCap:
      *err = NotADumpReason(bytes, true);
      return DumpNotOfFamily;
    case DumpLoaded:
      break;
  }
  return AddDumpImage(ledger, bytes, path, device, addedAt, result, err);
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

std::string LedgerDeviceId(const std::string& id) { return PathAsUtf8(id); }

std::string UtcNowText() {
  std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}
