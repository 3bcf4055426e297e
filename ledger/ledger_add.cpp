#include "ledger/ledger_add.h"

#include <cstring>
#include <ctime>
#include <map>
#include <unordered_map>

#include "export/path_utf8.h"
#include "export/report_fields.h"
#include "fm/dump_family.h"
#include "ledger/held_reports.h"
#include "ledger/ledger_changes.h"
#include "ledger/report_row.h"
#include "ledger/running_sums.h"
#include "ledger/sha256.h"
#include "report/report_run.h"

namespace {

bool DumpAlreadyAdded(SqliteDb& db, const DumpFacts& dump, bool* added, std::string* err) {
  SqliteStatement select;
  if (!select.Prepare(db, "SELECT 1 FROM dump WHERE device = ?1 AND sha256 = ?2", err)) return false;
  select.BindText(1, dump.device);
  select.BindText(2, dump.sha256);
  bool done = false;
  *added = select.Step(&done, err);
  return *added || done;
}

// The same bytes again: every report is held, and nothing is written. Only
// the damaged copies of intact reports are looked up, to be named.
bool AddedBefore(SqliteDb& db, const DumpFacts& dump, const DumpReportList& reports, DumpAddition* result,
                 std::string* err) {
  result->already = static_cast<int64_t>(reports.size());
  SqliteStatement intact;
  if (!intact.Prepare(db,
                      "SELECT 1 FROM daily_report WHERE device = ?1 AND recorded_at = ?2 AND number = ?3 "
                      "AND recorded = ?4 AND crc_ok = 1",
                      err))
    return false;
  for (const DailyReport& report : reports) {
    if (report.crcOk) continue;
    intact.BindText(1, dump.device);
    intact.BindText(2, DateTimeText(report));
    intact.BindInt(3, report.number);
    intact.BindInt(4, PackRecorded(report.recorded));
    bool done = false;
    if (intact.Step(&done, err)) result->damagedCopies.push_back({report.number, DateTimeText(report)});
    else if (!done) return false;
    intact.Reset();
  }
  return true;
}

// Per report number, how many copies of each content.
using CopiesByNumber = std::map<int32_t, std::unordered_map<std::string, int64_t>>;

// The numbers at which neither the dump's intact reports nor the ledger's
// hold all of the other's, each with the dump's first report of it. Copies
// whose CRC failed prove nothing: their number may be damaged too.
std::vector<LedgerConflict> Disagreements(const DumpReportList& reports, const std::vector<HeldReport>& held) {
  std::unordered_map<int32_t, bool> heldNumbers;
  for (const HeldReport& row : held)
    if (row.report().crcOk) heldNumbers[row.report().number] = true;
  CopiesByNumber dump, ledger;
  std::map<int32_t, const DailyReport*> first;
  for (const DailyReport& report : reports) {
    if (!report.crcOk || !heldNumbers.count(report.number)) continue;
    ++dump[report.number][ReportIdentity(report)];
    first.emplace(report.number, &report);
  }
  for (const HeldReport& row : held)
    if (row.report().crcOk && dump.count(row.report().number)) ++ledger[row.report().number][row.Identity()];
  std::vector<LedgerConflict> numbers;
  for (const auto& entry : dump) {
    auto inLedger = ledger.find(entry.first);
    if (inLedger == ledger.end()) continue;
    auto more = [](const std::unordered_map<std::string, int64_t>& a,
                   const std::unordered_map<std::string, int64_t>& b) {
      for (const auto& content : a) {
        auto other = b.find(content.first);
        if (content.second > (other == b.end() ? 0 : other->second)) return true;
      }
      return false;
    };
    if (more(entry.second, inLedger->second) && more(inLedger->second, entry.second))
      numbers.push_back({entry.first, DateTimeText(*first[entry.first])});
  }
  return numbers;
}

// What the dump brings, report by report: the held row each of its reports
// is (a copy the ledger holds already) or a new row.
struct Plan {
  std::vector<int64_t> links;                 // held rows the dump holds too
  std::vector<const DailyReport*> newRows;    // in dump order
};

Plan Decide(const DumpReportList& reports, const std::vector<HeldReport>& held, DumpAddition* result) {
  std::unordered_map<std::string, std::vector<int64_t>> rowsOf;  // held rows by identity, by id
  std::unordered_map<std::string, bool> intactKey, damagedKey;   // held, by number and date-time
  for (const HeldReport& row : held) {
    rowsOf[row.Identity()].push_back(row.id);
    (row.report().crcOk ? intactKey : damagedKey)[ReportKey(row.report())] = true;
  }
  std::unordered_map<std::string, bool> intactInDump;  // needed for the dump's damaged copies only
  bool anyDamaged = false;
  for (const DailyReport& report : reports) anyDamaged = anyDamaged || !report.crcOk;
  if (anyDamaged)
    for (const DailyReport& report : reports)
      if (report.crcOk) intactInDump[ReportKey(report)] = true;

  Plan plan;
  std::unordered_map<std::string, int64_t> copy;
  std::unordered_map<std::string, bool> repairedKey;
  for (const DailyReport& report : reports) {
    const std::string key = ReportKey(report);
    // A device new to the ledger holds nothing: no content to compare.
    const std::string identity = held.empty() ? std::string() : ReportIdentity(report);
    const int64_t k = held.empty() ? 0 : copy[identity]++;
    auto rows = rowsOf.find(identity);
    const bool heldIntact = intactKey.count(key) != 0;
    if (!report.crcOk && heldIntact) result->damagedCopies.push_back({report.number, DateTimeText(report)});
    if (rows != rowsOf.end() && k < static_cast<int64_t>(rows->second.size())) {
      plan.links.push_back(rows->second[static_cast<size_t>(k)]);
      ++result->already;
      continue;
    }
    plan.newRows.push_back(&report);
    if (report.crcOk) {
      // An intact copy of a report held only damaged repairs it, once.
      if (damagedKey.count(key) && !heldIntact && !repairedKey[key]) {
        repairedKey[key] = true;
        ++result->repaired;
      } else {
        ++result->added;
      }
    } else if (heldIntact || intactInDump.count(key) || damagedKey.count(key)) {
      ++result->already;  // a damaged copy of a report held (or brought) already
    } else {
      ++result->added;
    }
  }
  return plan;
}

bool InsertDump(SqliteDb& db, const DumpFacts& dump, int64_t reports, int64_t* id, std::string* err) {
  SqliteStatement insert;
  if (!insert.Prepare(db,
                      "INSERT INTO dump (device, name, size, sha256, added_at, reports, new_reports, conflicts, "
                      "repaired) VALUES (?1, ?2, ?3, ?4, ?5, ?6, 0, 0, 0)",
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

// The note of a refused dump, once per device and bytes.
bool NoteRefusal(SqliteDb& db, const DumpFacts& dump, const std::vector<LedgerConflict>& numbers, std::string* err) {
  SqliteStatement note;
  if (!note.Prepare(db,
                    "INSERT INTO refused_dump (device, name, size, sha256, refused_at, number, recorded_at, numbers) "
                    "SELECT ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8 WHERE NOT EXISTS "
                    "(SELECT 1 FROM refused_dump WHERE device = ?1 AND sha256 = ?4)",
                    err))
    return false;
  std::string list;
  for (const LedgerConflict& number : numbers) list += (list.empty() ? "" : ",") + std::to_string(number.number);
  note.BindText(1, dump.device);
  note.BindText(2, dump.name);
  note.BindInt(3, dump.size);
  note.BindText(4, dump.sha256);
  note.BindText(5, dump.addedAt);
  note.BindInt(6, numbers.front().number);
  note.BindText(7, numbers.front().recordedAt);
  note.BindText(8, list);
  // Noted once: the same bytes refused again change nothing.
  if (!note.Run(err)) return false;
  return db.Changes() == 0 || CountLedgerChange(db, std::string(), err);
}

bool Write(SqliteDb& db, const DumpFacts& dump, const DumpReportList& reports, std::vector<HeldReport>& rows,
           const Plan& plan, const DumpAddition& result, std::string* err) {
  int64_t dumpId = 0;
  if (!InsertDump(db, dump, static_cast<int64_t>(reports.size()), &dumpId, err)) return false;
  const size_t heldCount = rows.size();
  rows.reserve(heldCount + plan.newRows.size());
  for (const DailyReport* report : plan.newRows) {
    rows.emplace_back();
    rows.back().dump = dumpId;
    rows.back().source = report;
  }
  MarkCounted(&rows);

  SqliteStatement insert;
  std::string sql = std::string("INSERT INTO daily_report (device, dump, counted, ") + kReportColumns +
                    ") VALUES (?1, ?2, ?3";
  for (int i = 0; i < kReportColumnCount; ++i) sql += ", ?" + std::to_string(4 + i);
  sql += ")";
  if (!insert.Prepare(db, sql.c_str(), err)) return false;
  for (size_t i = heldCount; i < rows.size(); ++i) {
    insert.BindText(1, dump.device);
    insert.BindInt(2, dumpId);
    insert.BindInt(3, rows[i].counted ? 1 : 0);
    BindReport(insert, 4, rows[i].report());
    if (!insert.Run(err)) return false;
    rows[i].id = db.LastInsertId();
    rows[i].storedCounted = rows[i].counted;
  }
  SqliteStatement link;
  if (!link.Prepare(db, "INSERT OR IGNORE INTO dump_report (dump, report) VALUES (?1, ?2)", err)) return false;
  for (int64_t row : plan.links) {
    link.BindInt(1, dumpId);
    link.BindInt(2, row);
    if (!link.Run(err)) return false;
  }
  if (!StoreCounted(db, rows, err) || !StoreDeviceSums(db, dump.device, rows, true, false, err) ||
      !CountLedgerChange(db, dump.device, err))
    return false;

  SqliteStatement counts;
  if (!counts.Prepare(db, "UPDATE dump SET new_reports = ?1, repaired = ?2 WHERE id = ?3", err)) return false;
  counts.BindInt(1, result.added);
  counts.BindInt(2, result.repaired);
  counts.BindInt(3, dumpId);
  if (!counts.Run(err)) return false;
  // Refused once, these bytes are now in the ledger.
  SqliteStatement forget;
  if (!forget.Prepare(db, "DELETE FROM refused_dump WHERE device = ?1 AND sha256 = ?2", err)) return false;
  forget.BindText(1, dump.device);
  forget.BindText(2, dump.sha256);
  return forget.Run(err);
}

}  // namespace

bool AddDump(LedgerFile& ledger, const DumpFacts& dump, const DumpReportList& reports,
             DumpAddition* result, std::string* err) {
  SqliteDb& db = ledger.db();
  *result = DumpAddition();
  // The write lock from the start: a second process waits here, then sees
  // everything the first one added.
  if (!db.Exec("BEGIN IMMEDIATE", err)) return false;
  bool seen = false;
  bool ok = DumpAlreadyAdded(db, dump, &seen, err);
  if (ok && seen) {
    ok = AddedBefore(db, dump, reports, result, err);
  } else if (ok) {
    std::vector<HeldReport> rows;
    ok = LoadHeldReports(db, dump.device, &rows, err);
    if (ok) result->conflicts = Disagreements(reports, rows);
    if (ok && !result->conflicts.empty()) {
      result->refused = true;
      ok = NoteRefusal(db, dump, result->conflicts, err);
    } else if (ok) {
      Plan plan = Decide(reports, rows, result);
      ok = Write(db, dump, reports, rows, plan, *result, err);
    }
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
  if (!AddDump(ledger, facts, reports.reports(), result, err)) return LedgerUnwritable;
  return result->refused ? DumpDisagrees : DumpAdded;
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
