#pragma once
// The registers the office knows and the record of every read the server
// made of them: registers.db in the state folder, an SQLite file of its own
// beside the ledger. The ledger is made again from dumps/ by `rebuild` and is
// read by taxoscope-cli as any ledger; the registers and the attempts come
// from no dump and must outlive both.
//
//   register (device TEXT PRIMARY KEY, name TEXT, port TEXT, baud INTEGER, added_at TEXT)
//   attempt  (id INTEGER PRIMARY KEY, device TEXT, asked INTEGER, started_ms INTEGER,
//             ended_ms INTEGER, outcome TEXT, bytes INTEGER, added INTEGER, already INTEGER,
//             repaired INTEGER, conflicts INTEGER, dump_sha256 TEXT, message TEXT)
//
// Times of attempts are milliseconds since 1970 UTC. The file is in WAL mode
// with full syncs: a change is on the disk when its call returns, and a
// process killed at any moment leaves every change whole or not at all.
// Attempts are kept for kAttemptKeepDays days.
//
// One store is one connection: for one thread at a time.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ledger/sqlite_db.h"
#include "server/read_outcome.h"

constexpr int kAttemptKeepDays = 366;
constexpr int kDefaultBaud = 9600;

constexpr size_t kMaxRegisterNameBytes = 200;

// A register's name: UTF-8 text of at most kMaxRegisterNameBytes bytes,
// without control characters. False with the problem for anything else.
bool CheckRegisterName(const std::string& name, std::string* problem);

struct RegisterEntry {
  std::string device;  // as the identify reply gives it and as its dumps are filed
  std::string name;    // the shop's words, UTF-8; "" when none was given
  std::string port;    // tcp://HOST:PORT, rfc2217://HOST:PORT or a local port; "" when only named
  int32_t baud = kDefaultBaud;
  std::string addedAt;  // UTC, YYYY-MM-DDTHH:MM:SSZ
};

// How an attempt ended, as the collector tells it.
struct AttemptEnd {
  ReadOutcome outcome = ReadOutcome::Ok;
  int64_t endedMs = 0;
  int64_t bytes = 0;  // received
  // The ledger's add of the stored image (ok, ledger-refused); -1 where
  // nothing reached the ledger.
  int64_t added = -1, already = -1, repaired = -1, conflicts = -1;
  std::string sha256;  // of the stored image; "" where none was stored
  std::string message;
};

struct AttemptRecord {
  int64_t id = 0;
  std::string device;
  bool asked = false;  // asked for (the API, the collect command); else the window's
  int64_t startedMs = 0;
  bool ended = false;   // an outcome is recorded; false while the read runs
  int64_t endedMs = -1; // -1 unknown: running, or closed after a kill
  AttemptEnd end;       // when ended
};

// Which attempts: of one device or all (""), started in [fromMs, toMs).
struct AttemptQuery {
  std::string device;
  int64_t fromMs = INT64_MIN;
  int64_t toMs = INT64_MAX;
  int64_t limit = -1;  // at most this many, the newest; -1 all
};

class RegisterStore {
 public:
  // registers.db in the state folder.
  static std::string PathIn(const std::string& stateDir);

  // Opens the store at path. create: a missing file is made (mode 640; a
  // process run as root gives it to the owner of its folder, the server's
  // user, and SQLite then does the same for its -wal and -shm files);
  // otherwise a missing file is an empty store, read as such. False with the
  // reason for a file that is no register store, comes from a newer version,
  // or cannot be opened.
  bool Open(const std::string& path, bool create, std::string* err);
  // Whether a file is open (not so for a missing store opened without create).
  bool IsOpen() const { return db_.get() != nullptr; }
  const std::string& path() const { return path_; }

  // The registers, by device id.
  bool List(std::vector<RegisterEntry>* registers, std::string* err);
  bool Find(const std::string& device, RegisterEntry* entry, bool* found, std::string* err);
  // Adds a register; *existed (nothing changed) when the device is listed.
  bool Add(const RegisterEntry& entry, bool* existed, std::string* err);
  // Removes a register; its attempts stay. *existed false when it was not listed.
  bool Remove(const std::string& device, bool* existed, std::string* err);

  // Records the start of a read; *id names it for EndAttempt. Attempts
  // started more than kAttemptKeepDays days before startedMs go in the same
  // transaction.
  bool BeginAttempt(const std::string& device, int64_t startedMs, bool asked, int64_t* id, std::string* err);
  bool EndAttempt(int64_t id, const AttemptEnd& end, std::string* err);
  // Attempts a killed process left without an end become `stopped`, with
  // the message and no end time. *closed counts them. For the one process
  // that reads (it holds the state folder's lock), when it starts.
  bool CloseUnfinished(const std::string& message, int* closed, std::string* err);

  // Newest first.
  bool Attempts(const AttemptQuery& query, std::vector<AttemptRecord>* attempts, std::string* err);
  // Each device's newest attempt, and its newest that ended ok.
  bool LastAttempts(std::map<std::string, AttemptRecord>* last, std::map<std::string, AttemptRecord>* lastOk,
                    std::string* err);
  // Removes the attempts started before the keep time counted back from nowMs.
  bool Prune(int64_t nowMs, int* removed, std::string* err);

 private:
  bool Prepare(bool created, std::string* err);

  SqliteDb db_;
  std::string path_;
};
