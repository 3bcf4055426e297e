#pragma once
// Opening a ledger: an SQLite file whose header carries the ledger's
// application id and schema version. A file that is not a ledger, is cut
// short, or comes from a newer version is refused before anything is written
// to it. Opened for writing, a missing ledger is created and an older one is
// brought to the current version.
#include <chrono>
#include <functional>
#include <string>

#include "ledger/sqlite_db.h"

enum LedgerAccess { LedgerReadOnly, LedgerReadWrite };

// How long a command waits for another process's transaction to end.
constexpr int kLedgerBusyTimeoutMs = 10000;

class LedgerFile {
 public:
  LedgerFile() = default;
  LedgerFile(const LedgerFile&) = delete;
  LedgerFile& operator=(const LedgerFile&) = delete;

  // Called once, from within a wait for another process's transaction, when
  // that wait has lasted a second (the command tells its user why it stands).
  void SetWaitNotice(std::function<void()> notice) { waitNotice_ = std::move(notice); }
  // How long a statement waits for another process (kLedgerBusyTimeoutMs
  // unless set before Open).
  void SetBusyTimeout(int milliseconds) { busyTimeoutMs_ = milliseconds; }

  // False with a message for the user in *err ("not a ledger", "made by a
  // newer version ...", the system's reason); the file is then untouched.
  bool Open(const std::string& path, LedgerAccess access, std::string* err);
  SqliteDb& db() { return db_; }
  const std::string& path() const { return path_; }
  // A query met a damaged page: the file is corrupt, and whatever failed
  // failed for that (the transaction was rolled back, the file left as it was).
  bool damaged() const { return db_.MetDamage(); }

 private:
  bool Check(bool writable, int* version, std::string* err);
  bool Migrate(std::string* err);
  static int OnBusy(void* self, int attempt);

  SqliteDb db_;
  std::string path_;
  int busyTimeoutMs_ = kLedgerBusyTimeoutMs;
  std::function<void()> waitNotice_;
  bool toldWaiting_ = false;
  std::chrono::steady_clock::time_point waitStart_;
};

// One read transaction over a ledger: every query made while it stands sees
// the ledger as it stood at one moment, since no writer can commit until it
// ends (a writer waits, as for any reader). Every command that reads a
// ledger reads inside one, so its output never mixes a state from before an
// add with one from after it.
class LedgerReadSnapshot {
 public:
  explicit LedgerReadSnapshot(LedgerFile& ledger) : db_(ledger.db()) {}
  ~LedgerReadSnapshot() { End(); }
  LedgerReadSnapshot(const LedgerReadSnapshot&) = delete;
  LedgerReadSnapshot& operator=(const LedgerReadSnapshot&) = delete;

  // Takes the read lock now; false with the reason in *err.
  bool Begin(std::string* err);
  void End();

 private:
  SqliteDb& db_;
  bool open_ = false;
};
