#pragma once
// The server's ledger: ledger.db in the state folder, in WAL mode so that
// readers never wait for the writer, and the archive of the dumps it holds.
//
// Uploads are taken one at a time (the dump reader keeps process-wide state,
// and SQLite has one writer): the dump goes to the archive, on the disk,
// before its add commits, and the add commits before the answer. At start,
// every archived dump the ledger lacks (a server killed between the two) is
// added, so the ledger is always what dumps/ alone gives.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "check/finding.h"
#include "fm/dump_image.h"
#include "ledger/ledger_add.h"
#include "ledger/ledger_file.h"
#include "server/dump_archive.h"

struct UploadResult {
  std::string device;
  std::string sha256;
  DumpAddition added;
  FindingCounts check;  // the dump's own integrity check
};

enum UploadOutcome {
  UploadAdded,       // stored and added, or refused whole by the ledger (added.refused): it disagrees
  UploadNotADump,    // nothing stored; *err says why
  UploadUnwritable,  // the archive or the ledger cannot be written; *err says why
};

class LedgerService {
 public:
  explicit LedgerService(const std::string& stateDir);

  const std::string& ledgerPath() const { return ledgerPath_; }
  DumpArchive& archive() { return archive_; }

  // Opens (or creates) the ledger for writing, in WAL mode, and adds what
  // the archive holds and the ledger lacks. *recovered counts those dumps.
  bool Start(int* recovered, std::string* err);

  // Checks, stores and adds one dump's bytes for the device under the name
  // it was sent with. Bytes that are no dump of this device family are
  // neither stored nor added.
  UploadOutcome Upload(const std::string& device, const std::string& name, const DumpBytes& bytes,
                       UploadResult* result, std::string* err);

  // A connection for reading, one per thread, kept open.
  bool Reader(LedgerFile** ledger, std::string* err);

 private:
  bool Recover(int* recovered, std::string* err);

  std::string stateDir_, ledgerPath_;
  DumpArchive archive_;
  std::mutex writing_;
  LedgerFile writer_;
};

// Adds every archived dump, in the order received, to the ledger at
// ledgerPath (made new when missing). What `taxoscope-server rebuild` does.
bool AddArchive(const DumpArchive& archive, LedgerFile& ledger, int* added, std::vector<std::string>* problems,
                std::string* err);

// Opens the ledger for writing in WAL mode with full syncs, so that a commit
// is on the disk when it returns.
bool OpenLedgerForServer(const std::string& path, LedgerFile* ledger, std::string* err);
