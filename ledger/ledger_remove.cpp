#include "ledger/ledger_remove.h"

#include <map>

#include "ledger/held_reports.h"
#include "ledger/ledger_changes.h"
#include "ledger/running_sums.h"

namespace {

bool FindDump(SqliteDb& db, const std::string& device, const std::string& sha256, int64_t* id, int64_t* reports,
              std::string* err) {
  SqliteStatement select;
  if (!select.Prepare(db, "SELECT id, reports FROM dump WHERE device = ?1 AND sha256 = ?2 ORDER BY id LIMIT 1", err))
    return false;
  select.BindText(1, device);
  select.BindText(2, sha256);
  bool done = false;
  *id = 0;
  if (select.Step(&done, err)) {
    *id = select.Int(0);
    *reports = select.Int(1);
    return true;
  }
  return done;
}

// For each report of the device that a dump holds besides the one that
// brought it: the first such dump other than `leaving`.
bool OtherHolders(SqliteDb& db, const std::string& device, int64_t leaving, std::map<int64_t, int64_t>* holders,
                  std::string* err) {
  SqliteStatement select;
  if (!select.Prepare(db,
                      "SELECT l.report, min(l.dump) FROM dump_report AS l JOIN dump AS d ON d.id = l.dump "
                      "WHERE d.device = ?1 AND l.dump <> ?2 GROUP BY l.report",
                      err))
    return false;
  select.BindText(1, device);
  select.BindInt(2, leaving);
  bool done = false;
  while (select.Step(&done, err)) (*holders)[select.Int(0)] = select.Int(1);
  return done;
}

// Runs a statement with its integer parameter ?1, or ?1 and ?2.
bool RunWithIds(SqliteStatement& statement, int64_t first, std::string* err) {
  statement.BindInt(1, first);
  return statement.Run(err);
}
bool RunWithIds(SqliteStatement& statement, int64_t first, int64_t second, std::string* err) {
  statement.BindInt(2, second);
  return RunWithIds(statement, first, err);
}

bool Remove(SqliteDb& db, const std::string& device, int64_t dumpId, DumpRemoval* result, std::string* err) {
  std::map<int64_t, int64_t> holders;
  if (!OtherHolders(db, device, dumpId, &holders, err)) return false;
  // The reports the dump brought: another holder takes each over, or it goes.
  std::vector<int64_t> brought;
  SqliteStatement select;
  if (!select.Prepare(db, "SELECT id FROM daily_report WHERE device = ?1 AND dump = ?2", err)) return false;
  select.BindText(1, device);
  select.BindInt(2, dumpId);
  bool done = false;
  while (select.Step(&done, err)) brought.push_back(select.Int(0));
  if (!done) return false;
  SqliteStatement drop, handOver, unlink;
  if (!drop.Prepare(db, "DELETE FROM daily_report WHERE id = ?1", err) ||
      !handOver.Prepare(db, "UPDATE daily_report SET dump = ?2 WHERE id = ?1", err) ||
      !unlink.Prepare(db, "DELETE FROM dump_report WHERE report = ?1 AND dump = ?2", err))
    return false;
  for (int64_t report : brought) {
    auto holder = holders.find(report);
    if (holder == holders.end()) {
      if (!RunWithIds(drop, report, err)) return false;
      ++result->removed;
    } else if (!RunWithIds(handOver, report, holder->second, err) ||
               !RunWithIds(unlink, report, holder->second, err)) {
      return false;
    }
  }
  SqliteStatement links, conflicts, dump;
  if (!links.Prepare(db, "DELETE FROM dump_report WHERE dump = ?1", err) ||
      !conflicts.Prepare(db, "DELETE FROM conflict WHERE dump = ?1", err) ||
      !dump.Prepare(db, "DELETE FROM dump WHERE id = ?1", err) || !RunWithIds(links, dumpId, err) ||
      !RunWithIds(conflicts, dumpId, err) || !RunWithIds(dump, dumpId, err))
    return false;

  int64_t dumps = 0;
  SqliteStatement count;
  if (!count.Prepare(db, "SELECT count(*) FROM dump WHERE device = ?1", err)) return false;
  count.BindText(1, device);
  if (!count.Step(&done, err)) return false;
  dumps = count.Int(0);
  count.Reset();
  std::vector<HeldReport> rows;
  if (!LoadHeldReports(db, device, &rows, err)) return false;
  MarkCounted(&rows);
  return StoreCounted(db, rows, err) && StoreDeviceSums(db, device, rows, dumps > 0, false, err) &&
         CountLedgerChange(db, device, err);
}

}  // namespace

RemoveDumpOutcome RemoveDump(LedgerFile& ledger, const std::string& device, const std::string& sha256,
                             DumpRemoval* result, std::string* err) {
  SqliteDb& db = ledger.db();
  *result = DumpRemoval();
  if (!db.Exec("BEGIN IMMEDIATE", err)) return RemoveFailed;
  int64_t dumpId = 0, reports = 0;
  bool ok = FindDump(db, device, sha256, &dumpId, &reports, err);
  if (ok && dumpId) {
    ok = Remove(db, device, dumpId, result, err);
    result->kept = reports - result->removed;
  }
  if (ok) ok = db.Exec("COMMIT", err);
  if (!ok) {
    std::string ignored;
    db.Exec("ROLLBACK", &ignored);
    return RemoveFailed;
  }
  return dumpId ? DumpRemoved : DumpNotInLedger;
}

bool ForgetRefusedDump(LedgerFile& ledger, const std::string& device, const std::string& sha256, bool* forgotten,
                       std::string* err) {
  SqliteDb& db = ledger.db();
  *forgotten = false;
  if (!db.Exec("BEGIN IMMEDIATE", err)) return false;
  SqliteStatement forget;
  bool ok = forget.Prepare(db, "DELETE FROM refused_dump WHERE device = ?1 AND sha256 = ?2", err);
  if (ok) {
    forget.BindText(1, device);
    forget.BindText(2, sha256);
    ok = forget.Run(err);
  }
  if (ok) *forgotten = db.Changes() > 0;
  if (ok && *forgotten) ok = CountLedgerChange(db, std::string(), err);
  if (ok) ok = db.Exec("COMMIT", err);
  if (!ok) {
    std::string ignored;
    db.Exec("ROLLBACK", &ignored);
    *forgotten = false;
  }
  return ok;
}

bool DevicesWithDump(LedgerFile& ledger, const std::string& sha256, std::vector<std::string>* devices,
                     std::string* err) {
  devices->clear();
  SqliteStatement select;
  if (!select.Prepare(ledger.db(), "SELECT DISTINCT device FROM dump WHERE sha256 = ?1 ORDER BY device", err))
    return false;
  select.BindText(1, sha256);
  bool done = false;
  while (select.Step(&done, err)) devices->push_back(select.Text(0));
  return done;
}
