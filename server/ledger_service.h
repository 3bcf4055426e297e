#pragma once
// The server's ledger: ledger.db in the state folder, in WAL mode so that
// readers never wait for the writer, and the archive of the dumps it holds.
//
// Uploads are taken one at a time (the dump reader keeps process-wide state,
// and SQLite has one writer): the dump goes to the archive, on the disk,
// before its add commits, and the add commits before the answer. An add that
// fails takes the dump back out of the archive, so dumps/ holds the dumps
// the server acknowledged (and at most the one it was adding when it was
// killed). At start, every archived dump the ledger lacks (a server killed
// between the two) is added, so the ledger is always what dumps/ alone gives.
//
// A withdrawal takes an acknowledged dump back: out of dumps/ into
// withdrawn/ with the reason, and out of the ledger; its bytes are not taken
// again for that device.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "check/finding.h"
#include "fm/dump_image.h"
#include "ledger/ledger_add.h"
#include "ledger/ledger_file.h"
#include "ledger/ledger_remove.h"
#include "server/dump_archive.h"
#include "server/withdrawn_dumps.h"

struct UploadResult {
  std::string device;
  std::string sha256;
  DumpAddition added;
  FindingCounts check;  // the dump's own integrity check
};

enum UploadOutcome {
  UploadAdded,       // stored and added, or refused whole by the ledger (added.refused): it disagrees
  UploadNotADump,    // nothing stored; *err says why
  UploadUnwritable,  // nothing kept: the archive or the ledger cannot be written; *err says why, briefly
  UploadWithdrawn,   // nothing kept: these bytes of the device were withdrawn; *err says when and why
};

struct WithdrawalResult {
  WithdrawnDump dump;
  bool already = false;       // it was withdrawn before (the ledger's part is made sure of again)
  bool refusedNote = false;   // the ledger held it as a refused dump, whose note is forgotten
  DumpRemoval removal;        // what left the ledger
};

enum WithdrawOutcome {
  Withdrawn,
  WithdrawNotStored,  // no stored dump has these bytes (for the device given)
  WithdrawAmbiguous,  // several devices have them: the device must be given; *err names them
  WithdrawFailed,     // *err says why; what was done is finished at the next start
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
  // neither stored nor added. *err is for the client: it names no path (the
  // server's log has the whole reason).
  UploadOutcome Upload(const std::string& device, const std::string& name, const DumpBytes& bytes,
                       UploadResult* result, std::string* err);

  // Withdraws the stored dump with these bytes (lower-case hex SHA-256) of
  // the device (empty: the one device that has them), for the reason given.
  WithdrawOutcome Withdraw(const std::string& sha256, const std::string& device, const std::string& why,
                           WithdrawalResult* result, std::string* err);

  // A connection for reading, one per thread, kept open.
  bool Reader(LedgerFile** ledger, std::string* err);

 private:
  bool Recover(int* recovered, std::string* err);

  std::string stateDir_, ledgerPath_;
  DumpArchive archive_;
  WithdrawnDumps withdrawn_;
  std::mutex writing_;
  LedgerFile writer_;
};

// Takes a withdrawn dump out of the ledger: its add, or the note of its
// refusal. Done already, it changes nothing.
bool TakeOutOfLedger(LedgerFile& ledger, const WithdrawnDump& dump, WithdrawalResult* result, std::string* err);

// Adds every archived dump, in the order received, to the ledger at
// ledgerPath (made new when missing). What `taxoscope-server rebuild` does.
bool AddArchive(const DumpArchive& archive, LedgerFile& ledger, int* added, std::vector<std::string>* problems,
                std::string* err);

// Opens the ledger for writing in WAL mode with full syncs, so that a commit
// is on the disk when it returns.
bool OpenLedgerForServer(const std::string& path, LedgerFile* ledger, std::string* err);
