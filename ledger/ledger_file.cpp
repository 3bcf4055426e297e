#include "ledger/ledger_file.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>

#include "ledger/held_reports.h"
#include "ledger/ledger_schema.h"
#include "ledger/running_sums.h"

namespace {

// One integer from a PRAGMA or a query; false with the reason.
bool QueryInt(SqliteDb& db, const char* sql, int64_t* value, std::string* err) {
  SqliteStatement statement;
  if (!statement.Prepare(db, sql, err)) return false;
  bool done = false;
  if (!statement.Step(&done, err)) {
    if (done) *err = "no result";
    return false;
  }
  *value = statement.Int(0);
  return true;
}

// Whether the file exists, and its size (0 where it does not).
bool FileSize(const std::string& path, int64_t* size) {
  struct stat info;
  bool exists = stat(path.c_str(), &info) == 0;
  *size = exists ? static_cast<int64_t>(info.st_size) : 0;
  return exists;
}

}  // namespace

bool LedgerFile::Open(const std::string& path, LedgerAccess access, std::string* err) {
  path_ = path;
  int64_t size = 0;
  const bool exists = FileSize(path, &size);
  const bool writable = access == LedgerReadWrite;
  if (!exists && !writable) {
    *err = "no such file";
    return false;
  }
  // Readers open for writing too where the file allows it (SQLite falls back
  // to reading only): after an add was killed, the first to open the ledger
  // rolls the unfinished transaction back, and a reader must be able to.
  // They never write anything else.
  int flags = SQLITE_OPEN_READWRITE | (exists || !writable ? 0 : SQLITE_OPEN_CREATE);
  if (!db_.Open(path, flags, err)) return false;
  sqlite3_busy_handler(db_.get(), &LedgerFile::OnBusy, this);
  // A full dump's rows and their index pages stay in memory within its add.
  std::string ignored;
  db_.Exec("PRAGMA cache_size = -16384", &ignored);

  int version = 0;
  if (!Check(writable, &version, err)) {
    db_.Close();
    return false;
  }
  if (version < kLedgerSchemaVersion && !Migrate(err)) {
    db_.Close();
    return false;
  }
  return true;
}

// Another process holds the lock: wait in short steps, tell the user once
// after a second, give up after the busy time-out.
int LedgerFile::OnBusy(void* self, int attempt) {
  LedgerFile& file = *static_cast<LedgerFile*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) file.waitStart_ = now;
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - file.waitStart_).count();
  if (waited >= file.busyTimeoutMs_) return 0;
  if (waited >= 1000 && !file.toldWaiting_ && file.waitNotice_) {
    file.toldWaiting_ = true;
    file.waitNotice_();
  }
  static const int kStepsMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50};
  const int step = attempt < 11 ? kStepsMs[attempt] : 100;
  sqlite3_sleep(static_cast<int>(std::min<int64_t>(step, file.busyTimeoutMs_ - waited)));
  return 1;
}

// The header says what the file is; nothing is written before it passes.
bool LedgerFile::Check(bool writable, int* version, std::string* err) {
  int64_t applicationId = 0, userVersion = 0, pageCount = 0, pageSize = 0, size = 0, objects = 0;
  std::string reason, ignored;
  // One read transaction, so all the numbers come from one state of the file
  // (another process may be creating the ledger at this very moment).
  bool read = db_.Exec("BEGIN", &reason) && QueryInt(db_, "SELECT count(*) FROM sqlite_master", &objects, &reason) &&
              QueryInt(db_, "PRAGMA application_id", &applicationId, &reason) &&
              QueryInt(db_, "PRAGMA user_version", &userVersion, &reason) &&
              QueryInt(db_, "PRAGMA page_count", &pageCount, &reason) &&
              QueryInt(db_, "PRAGMA page_size", &pageSize, &reason);
  int code = db_.ErrorCode();
  // The size while the read lock is held: no other process can be creating
  // the ledger at this moment.
  FileSize(path_, &size);
  db_.Exec("ROLLBACK", &ignored);
  if (!read) {
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
      *err = "busy: another program holds it (" + reason + ")";
    else if (code == SQLITE_CORRUPT)
      *err = reason;  // damaged(): the caller says so
    else if (code == SQLITE_NOTADB)
      *err = "not a ledger (" + reason + ")";
    else
      *err = reason;
    return false;
  }
  // Only a 0-byte file is a new ledger: SQLite reads any file shorter than
  // its header as one without pages, a one-byte note as well.
  if (pageCount == 0 && size > 0) {
    *err = "not a ledger (a file of " + std::to_string(size) + (size == 1 ? " byte" : " bytes") +
           " that is no SQLite database)";
    return false;
  }
  const bool empty = pageCount == 0 && objects == 0;
  if (!empty && applicationId != kLedgerApplicationId) {
    *err = "not a ledger (an SQLite file of another program)";
    return false;
  }
  // In WAL mode (the server's ledger) the newest pages may still be in the
  // log beside the file, which then is shorter than the database.
  int64_t walSize = 0;
  if (!empty && size < pageCount * pageSize && !(FileSize(path_ + "-wal", &walSize) && walSize > 0)) {
    *err = "not a ledger: the file is cut short (" + std::to_string(size) + " of " +
           std::to_string(pageCount * pageSize) + " bytes)";
    return false;
  }
  if (userVersion > kLedgerSchemaVersion) {
    *err = "made by a newer version of taxoscope (ledger version " + std::to_string(userVersion) +
           ", this program knows up to " + std::to_string(kLedgerSchemaVersion) + ")";
    return false;
  }
  if (!empty && userVersion < 1) {
    *err = "not a ledger (no schema version)";
    return false;
  }
  if (empty && !writable) {
    *err = "not a ledger (an empty file)";
    return false;
  }
  *version = static_cast<int>(userVersion);
  return true;
}

namespace {

// After the SQL of version 2: each device's rows count (version 1 held no
// copy beside an intact one), and its sums are made anew in the order that
// does not depend on the order of adding, with the cents the views show and
// the months' totals over the devices.
bool FillVersion2(SqliteDb& db, std::string* err) {
  std::vector<std::string> devices;
  SqliteStatement select;
  if (!select.Prepare(db, "SELECT id FROM device ORDER BY id", err)) return false;
  bool done = false;
  while (select.Step(&done, err)) devices.push_back(select.Text(0));
  if (!done) return false;
  for (const std::string& device : devices) {
    std::vector<HeldReport> rows;
    if (!LoadHeldReports(db, device, &rows, err)) return false;
    MarkCounted(&rows);
    if (!StoreCounted(db, rows, err) || !StoreDeviceSums(db, device, rows, true, true, err)) return false;
  }
  return true;
}

// What the program does after each step's SQL, if anything.
bool (*const kMigrationFills[kLedgerSchemaVersion])(SqliteDb&, std::string*) = {nullptr, FillVersion2, nullptr};

}  // namespace

// Creation and every migration in one transaction: another process that
// creates the same ledger at the same moment waits, then finds it current; a
// failure anywhere leaves the file as it was.
bool LedgerFile::Migrate(std::string* err) {
  if (!db_.Exec("BEGIN IMMEDIATE", err)) return false;
  int64_t version = 0;
  bool ok = QueryInt(db_, "PRAGMA user_version", &version, err);
  for (int64_t step = version; ok && step < kLedgerSchemaVersion; ++step) {
    ok = db_.Exec(kLedgerMigrations[step], err);
    if (ok && kMigrationFills[step]) ok = kMigrationFills[step](db_, err);
  }
  // The PRAGMAs take no bound values; both numbers are the program's own constants.
  std::string stamp = "PRAGMA application_id = " + std::to_string(kLedgerApplicationId) +
                      "; PRAGMA user_version = " + std::to_string(kLedgerSchemaVersion);
  if (ok && version < kLedgerSchemaVersion) ok = db_.Exec(stamp.c_str(), err);
  if (ok) ok = db_.Exec("COMMIT", err);
  if (!ok) {
    std::string ignored;
    db_.Exec("ROLLBACK", &ignored);
  }
  return ok;
}

bool LedgerReadSnapshot::Begin(std::string* err) {
  End();
  int64_t objects = 0;
  // A deferred BEGIN takes no lock until the first read: read at once, so
  // the snapshot is this moment's.
  if (!db_.Exec("BEGIN", err)) return false;
  open_ = true;
  if (QueryInt(db_, "SELECT count(*) FROM sqlite_master", &objects, err)) return true;
  End();
  return false;
}

void LedgerReadSnapshot::End() {
  if (!open_) return;
  std::string ignored;
  db_.Exec("ROLLBACK", &ignored);
  open_ = false;
}
