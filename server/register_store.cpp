#include "server/register_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "server/device_id.h"

namespace {

constexpr int32_t kStoreApplicationId = 0x54585247;  // "TXRG"
constexpr int kStoreSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 10000;
constexpr int64_t kDayMs = 86400000;

const char kSchema[] = R"sql(
CREATE TABLE register (
  device TEXT PRIMARY KEY NOT NULL,
  name TEXT NOT NULL DEFAULT '',
  port TEXT NOT NULL DEFAULT '',
  baud INTEGER NOT NULL DEFAULT 9600,
  added_at TEXT NOT NULL
);
CREATE TABLE attempt (
  id INTEGER PRIMARY KEY,
  device TEXT NOT NULL,
  asked INTEGER NOT NULL DEFAULT 0,
  started_ms INTEGER NOT NULL,
  ended_ms INTEGER,
  outcome TEXT CHECK (outcome IN ('ok', 'no-connection', 'no-answer', 'bad-receipt', 'refused', 'line-failed',
                                  'cut-image', 'wrong-register', 'not-a-dump', 'ledger-refused', 'stopped')),
  bytes INTEGER NOT NULL DEFAULT 0,
  added INTEGER,
  already INTEGER,
  repaired INTEGER,
  conflicts INTEGER,
  dump_sha256 TEXT,
  message TEXT NOT NULL DEFAULT ''
);
CREATE INDEX attempt_device ON attempt (device, started_ms);
CREATE INDEX attempt_started ON attempt (started_ms);
PRAGMA application_id = 1415074375;
PRAGMA user_version = 1;
)sql";
static_assert(kStoreApplicationId == 1415074375, "the schema's application_id");

const char kAttemptColumns[] =
    "id, device, asked, started_ms, ended_ms, outcome, bytes, added, already, repaired, conflicts, "
    "dump_sha256, message";

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

int64_t IntOr(const SqliteStatement& row, int column, int64_t absent) {
  return row.IsNull(column) ? absent : row.Int(column);
}

AttemptRecord AttemptOf(const SqliteStatement& row) {
  AttemptRecord record;
  record.id = row.Int(0);
  record.device = row.Text(1);
  record.asked = row.Int(2) != 0;
  record.startedMs = row.Int(3);
  record.endedMs = IntOr(row, 4, -1);
  record.ended = !row.IsNull(5) && ParseReadOutcome(row.Text(5), &record.end.outcome);
  record.end.endedMs = record.endedMs;
  record.end.bytes = row.Int(6);
  record.end.added = IntOr(row, 7, -1);
  record.end.already = IntOr(row, 8, -1);
  record.end.repaired = IntOr(row, 9, -1);
  record.end.conflicts = IntOr(row, 10, -1);
  record.end.sha256 = row.IsNull(11) ? std::string() : row.Text(11);
  record.end.message = row.Text(12);
  return record;
}

void BindCount(SqliteStatement& statement, int index, int64_t value) {
  if (value < 0)
    statement.BindNull(index);
  else
    statement.BindInt(index, value);
}

// A new, empty file for the store. Made by root for a server that runs as
// another user, it belongs to the owner of the folder, as everything the
// server writes there.
bool CreateStoreFile(const std::string& path, std::string* err) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  if (fd < 0) {
    if (errno == EEXIST) return true;  // made by another process just now
    *err = "cannot make '" + path + "': " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat info;
  if (::geteuid() == 0 && ::stat(folder.c_str(), &info) == 0 && info.st_uid != 0 &&
      ::fchown(fd, info.st_uid, info.st_gid) != 0) {
    *err = "cannot give '" + path + "' to the owner of its folder: " + std::strerror(errno);
    ok = false;
  }
  ok = ::fsync(fd) == 0 && ok;
  ::close(fd);
  if (!ok) ::unlink(path.c_str());
  return ok;
}

class Transaction {
 public:
  explicit Transaction(SqliteDb& db) : db_(db) {}
  ~Transaction() {
    std::string ignored;
    if (open_) db_.Exec("ROLLBACK", &ignored);
  }
  // write: take the write lock at once, so that what was read stays true.
  bool Begin(bool write, std::string* err) { return open_ = db_.Exec(write ? "BEGIN IMMEDIATE" : "BEGIN", err); }
  bool Commit(std::string* err) {
    if (!db_.Exec("COMMIT", err)) return false;
    open_ = false;
    return true;
  }

 private:
  SqliteDb& db_;
  bool open_ = false;
};

}  // namespace

bool CheckRegisterName(const std::string& name, std::string* problem) {
  if (name.size() > kMaxRegisterNameBytes) {
    *problem = "a name is at most " + std::to_string(kMaxRegisterNameBytes) + " bytes";
    return false;
  }
  for (size_t at = 0; at < name.size();) {
    uint32_t c = 0;
    if (!NextCodePoint(name, &at, &c)) {
      *problem = "a name is UTF-8 text (byte " + std::to_string(at + 1) + " is not)";
      return false;
    }
    if (IsControlCharacter(c)) {
      *problem = "a name has no control characters";
      return false;
    }
  }
  return true;
}

std::string RegisterStore::PathIn(const std::string& stateDir) { return stateDir + "/registers.db"; }

bool RegisterStore::Open(const std::string& path, bool create, std::string* err) {
  db_.Close();
  path_ = path;
  struct stat info;
  const bool exists = ::stat(path.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) {
    *err = "cannot open '" + path + "': " + std::strerror(errno);
    return false;
  }
  if (!exists && !create) return true;  // no registers yet
  if (exists && !S_ISREG(info.st_mode)) {
    *err = "'" + path + "' is not a file";
    return false;
  }
  // SQLite takes a file shorter than its smallest page for an empty
  // database and would write over it.
  if (exists && info.st_size > 0 && info.st_size < 512) {
    *err = "'" + path + "': not a register store (a file of " + std::to_string(info.st_size) +
           " bytes that is no SQLite database)";
    return false;
  }
  if (!exists && !CreateStoreFile(path, err)) return false;
  std::string why;
  if (!db_.Open(path, SQLITE_OPEN_READWRITE, &why)) {
    *err = "cannot open '" + path + "': " + why;
    return false;
  }
  sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
  if (!Prepare(!exists, &why)) {
    *err = "'" + path + "': " + why;
    db_.Close();
    return false;
  }
  return true;
}

// Checks the header; an empty file gets its tables, in one write transaction.
bool RegisterStore::Prepare(bool created, std::string* err) {
  // WAL is kept in the file; the sync level is per connection.
  if (!db_.Exec("PRAGMA journal_mode = WAL", err) || !db_.Exec("PRAGMA synchronous = FULL", err)) {
    if (db_.ErrorCode() == SQLITE_NOTADB) *err = "not a register store (" + *err + ")";
    return false;
  }
  for (int pass = 0; pass < 2; ++pass) {
    // A reader looks first; only an empty file is written to, under the
    // write lock, and looked at again there (another process may be making
    // the store at this moment).
    Transaction transaction(db_);
    int64_t applicationId = 0, userVersion = 0, objects = 0, pages = 0;
    if (!transaction.Begin(pass == 1, err) || !QueryInt(db_, "PRAGMA application_id", &applicationId, err) ||
        !QueryInt(db_, "PRAGMA user_version", &userVersion, err) ||
        !QueryInt(db_, "SELECT count(*) FROM sqlite_master", &objects, err) ||
        !QueryInt(db_, "PRAGMA page_count", &pages, err))
      return false;
    if (objects == 0 && applicationId == 0) {
      // Only an empty file becomes a store: one made just now, or one whose
      // making a kill cut short.
      if (!created && pages > 1) {
        *err = "not a register store (an SQLite file of another program)";
        return false;
      }
      if (pass == 0) continue;
      return db_.Exec(kSchema, err) && transaction.Commit(err);
    }
    if (applicationId != kStoreApplicationId) {
      *err = "not a register store (an SQLite file of another program)";
      return false;
    }
    if (userVersion > kStoreSchemaVersion) {
      *err = "made by a newer version of taxoscope (register store version " + std::to_string(userVersion) +
             ", this program knows up to " + std::to_string(kStoreSchemaVersion) + ")";
      return false;
    }
    return transaction.Commit(err);
  }
  return true;
}

bool RegisterStore::List(std::vector<RegisterEntry>* registers, std::string* err) {
  registers->clear();
  if (!IsOpen()) return true;
  SqliteStatement statement;
  if (!statement.Prepare(db_, "SELECT device, name, port, baud, added_at FROM register ORDER BY device", err))
    return false;
  bool done = false;
  while (statement.Step(&done, err)) {
    RegisterEntry entry;
    entry.device = statement.Text(0);
    entry.name = statement.Text(1);
    entry.port = statement.Text(2);
    entry.baud = static_cast<int32_t>(statement.Int(3));
    entry.addedAt = statement.Text(4);
    registers->push_back(entry);
  }
  return done;
}

bool RegisterStore::Find(const std::string& device, RegisterEntry* entry, bool* found, std::string* err) {
  *found = false;
  if (!IsOpen()) return true;
  SqliteStatement statement;
  if (!statement.Prepare(db_, "SELECT device, name, port, baud, added_at FROM register WHERE device = ?1", err))
    return false;
  statement.BindText(1, device);
  bool done = false;
  if (statement.Step(&done, err)) {
    entry->device = statement.Text(0);
    entry->name = statement.Text(1);
    entry->port = statement.Text(2);
    entry->baud = static_cast<int32_t>(statement.Int(3));
    entry->addedAt = statement.Text(4);
    *found = true;
    return true;
  }
  return done;
}

bool RegisterStore::Add(const RegisterEntry& entry, bool* existed, std::string* err) {
  SqliteStatement statement;
  if (!statement.Prepare(db_,
                         "INSERT INTO register (device, name, port, baud, added_at) VALUES (?1, ?2, ?3, ?4, ?5) "
                         "ON CONFLICT (device) DO NOTHING",
                         err))
    return false;
  statement.BindText(1, entry.device);
  statement.BindText(2, entry.name);
  statement.BindText(3, entry.port);
  statement.BindInt(4, entry.baud);
  statement.BindText(5, entry.addedAt);
  if (!statement.Run(err)) return false;
  *existed = sqlite3_changes(db_.get()) == 0;
  return true;
}

bool RegisterStore::Remove(const std::string& device, bool* existed, std::string* err) {
  *existed = false;
  if (!IsOpen()) return true;
  SqliteStatement statement;
  if (!statement.Prepare(db_, "DELETE FROM register WHERE device = ?1", err)) return false;
  statement.BindText(1, device);
  if (!statement.Run(err)) return false;
  *existed = sqlite3_changes(db_.get()) > 0;
  return true;
}

bool RegisterStore::BeginAttempt(const std::string& device, int64_t startedMs, bool asked, int64_t* id,
                                 std::string* err) {
  Transaction transaction(db_);
  SqliteStatement prune, insert;
  if (!transaction.Begin(true, err) || !prune.Prepare(db_, "DELETE FROM attempt WHERE started_ms < ?1", err) ||
      !insert.Prepare(db_, "INSERT INTO attempt (device, asked, started_ms) VALUES (?1, ?2, ?3)", err))
    return false;
  prune.BindInt(1, startedMs - kAttemptKeepDays * kDayMs);
  insert.BindText(1, device);
  insert.BindInt(2, asked ? 1 : 0);
  insert.BindInt(3, startedMs);
  if (!prune.Run(err) || !insert.Run(err)) return false;
  *id = db_.LastInsertId();
  return transaction.Commit(err);
}

bool RegisterStore::EndAttempt(int64_t id, const AttemptEnd& end, std::string* err) {
  SqliteStatement statement;
  if (!statement.Prepare(db_,
                         "UPDATE attempt SET ended_ms = ?2, outcome = ?3, bytes = ?4, added = ?5, already = ?6, "
                         "repaired = ?7, conflicts = ?8, dump_sha256 = ?9, message = ?10 WHERE id = ?1",
                         err))
    return false;
  statement.BindInt(1, id);
  statement.BindInt(2, end.endedMs);
  statement.BindText(3, ReadOutcomeName(end.outcome));
  statement.BindInt(4, end.bytes);
  BindCount(statement, 5, end.added);
  BindCount(statement, 6, end.already);
  BindCount(statement, 7, end.repaired);
  BindCount(statement, 8, end.conflicts);
  if (end.sha256.empty())
    statement.BindNull(9);
  else
    statement.BindText(9, end.sha256);
  statement.BindText(10, end.message);
  if (!statement.Run(err)) return false;
  if (sqlite3_changes(db_.get()) == 0) {
    *err = "no attempt " + std::to_string(id);
    return false;
  }
  return true;
}

bool RegisterStore::CloseUnfinished(const std::string& message, int* closed, std::string* err) {
  *closed = 0;
  SqliteStatement statement;
  if (!statement.Prepare(db_, "UPDATE attempt SET outcome = 'stopped', message = ?1 WHERE outcome IS NULL", err))
    return false;
  statement.BindText(1, message);
  if (!statement.Run(err)) return false;
  *closed = sqlite3_changes(db_.get());
  return true;
}

bool RegisterStore::Attempts(const AttemptQuery& query, std::vector<AttemptRecord>* attempts, std::string* err) {
  attempts->clear();
  if (!IsOpen()) return true;
  const std::string sql = std::string("SELECT ") + kAttemptColumns +
                          " FROM attempt WHERE (?1 = '' OR device = ?1) AND started_ms >= ?2 AND started_ms < ?3 "
                          "ORDER BY started_ms DESC, id DESC LIMIT ?4";
  SqliteStatement statement;
  if (!statement.Prepare(db_, sql.c_str(), err)) return false;
  statement.BindText(1, query.device);
  statement.BindInt(2, query.fromMs);
  statement.BindInt(3, query.toMs);
  statement.BindInt(4, query.limit);
  bool done = false;
  while (statement.Step(&done, err)) attempts->push_back(AttemptOf(statement));
  return done;
}

bool RegisterStore::LastAttempts(std::map<std::string, AttemptRecord>* last,
                                 std::map<std::string, AttemptRecord>* lastOk, std::string* err) {
  last->clear();
  lastOk->clear();
  if (!IsOpen()) return true;
  // The devices one step each through the index (a year of attempts has a
  // few hundred devices and a hundred thousand rows), then each device's
  // newest attempt, and its newest that ended ok, from the same index.
  const std::string devices =
      "WITH RECURSIVE d(device) AS (SELECT min(device) FROM attempt UNION ALL "
      "SELECT (SELECT min(device) FROM attempt WHERE device > d.device) FROM d WHERE d.device IS NOT NULL) ";
  const std::string pick = std::string("SELECT ") + kAttemptColumns +
                           " FROM attempt WHERE id IN (SELECT (SELECT id FROM attempt WHERE device = d.device";
  const std::string order = " ORDER BY started_ms DESC, id DESC LIMIT 1) FROM d WHERE d.device IS NOT NULL)";
  for (int pass = 0; pass < 2; ++pass) {
    const std::string sql = devices + pick + (pass == 0 ? "" : " AND outcome = 'ok'") + order;
    SqliteStatement statement;
    if (!statement.Prepare(db_, sql.c_str(), err)) return false;
    bool done = false;
    std::map<std::string, AttemptRecord>& into = pass == 0 ? *last : *lastOk;
    while (statement.Step(&done, err)) {
      AttemptRecord record = AttemptOf(statement);
      into[record.device] = record;
    }
    if (!done) return false;
  }
  return true;
}

bool RegisterStore::Prune(int64_t nowMs, int* removed, std::string* err) {
  *removed = 0;
  if (!IsOpen()) return true;
  SqliteStatement statement;
  if (!statement.Prepare(db_, "DELETE FROM attempt WHERE started_ms < ?1", err)) return false;
  statement.BindInt(1, nowMs - kAttemptKeepDays * kDayMs);
  if (!statement.Run(err)) return false;
  *removed = sqlite3_changes(db_.get());
  return true;
}
