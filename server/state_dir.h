#pragma once
// The server's state folder: ledger.db, dumps/, withdrawn/, tokens. One process at a
// time serves it or rebuilds its ledger: each holds the folder's lock file
// (an advisory lock the system drops when the process ends, however it ends).
#include <string>

#include "server/durable_file.h"

struct StatePaths {
  std::string dir, ledger, dumps, withdrawn, tokens, lock;
};
StatePaths StatePathsOf(const std::string& dir);

// Creates the folder (mode 750) when it is missing.
bool PrepareStateDir(const std::string& dir, std::string* err);

class StateLock {
 public:
  StateLock() = default;
  ~StateLock();
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
  // False, with the reason, when another process holds it. A lock file made
  // here is newOwner's when given.
  bool Acquire(const std::string& path, std::string* err, const FileOwner* newOwner = nullptr);

 private:
  int fd_ = -1;
};
