#pragma once
// Opening a ledger: an SQLite file whose header carries the ledger's
// application id and schema version. A file that is not a ledger, is cut
// short, or comes from a newer version is refused before anything is written
// to it. Opened for writing, a missing ledger is created and an older one is
// brought to the current version.
#include <string>

#include "ledger/sqlite_db.h"

enum LedgerAccess { LedgerReadOnly, LedgerReadWrite };

// How long a command waits for another process's transaction to end.
constexpr int kLedgerBusyTimeoutMs = 10000;

class LedgerFile {
 public:
  // False with a message for the user in *err ("not a ledger", "made by a
  // newer version ...", the system's reason); the file is then untouched.
  bool Open(const std::string& path, LedgerAccess access, std::string* err);
  SqliteDb& db() { return db_; }
  const std::string& path() const { return path_; }

 private:
  bool Check(bool writable, int* version, std::string* err);
  bool Migrate(std::string* err);

  SqliteDb db_;
  std::string path_;
};
