#include "server/ledger_service.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "check/dump_check.h"
#include "fm/dump_family.h"
#include "ledger/ledger_query.h"
#include "ledger/sha256.h"
#include "report/report_run.h"
#include "server/crash_point.h"

bool OpenLedgerForServer(const std::string& path, LedgerFile* ledger, std::string* err) {
  // WAL is kept in the file; synchronous is per connection.
  return ledger->Open(path, LedgerReadWrite, err) && ledger->db().Exec("PRAGMA journal_mode = WAL", err) &&
         ledger->db().Exec("PRAGMA synchronous = FULL", err);
}

namespace {

// Adds a stored dump, read back whole, under the name and time it came
// with. A dump damaged since it was stored is not added: *skipped says why.
bool AddStoredDump(LedgerFile& ledger, const StoredDump& stored, std::string* skipped, std::string* err) {
  skipped->clear();
  DumpBytes bytes;
  int error = 0;
  if (LoadDumpImage(stored.path, &bytes, &error) != DumpLoaded) {
    *skipped = error ? std::strerror(error) : "longer than a fiscal-memory image";
    return true;
  }
  const std::string sha256 = Sha256Hex(bytes.data(), bytes.size());
  if (sha256 != stored.sha256) {
    *skipped = "its SHA-256 is " + sha256 + ": damaged since it was stored";
    return true;
  }
  DumpAddition added;
  std::string reason;
  switch (AddDumpImage(ledger, bytes, stored.name, stored.device,
                       stored.addedAt.empty() ? UtcNowText() : stored.addedAt, &added, &reason)) {
    case DumpAdded:
    case DumpDisagrees: return true;  // refused as when it came: the ledger notes it once
    case DumpUnreadable:
    case DumpNotOfFamily: *skipped = reason; return true;
    case LedgerUnwritable: break;
  }
  *err = "cannot add '" + stored.path + "' to the ledger: " + reason;
  return false;
}

// The dumps the ledger knows, by device and SHA-256: those it added and
// those it refused.
bool KnownDumps(LedgerFile& ledger, std::set<std::pair<std::string, std::string>>* known, std::string* err) {
  std::vector<LedgerDump> dumps;
  std::vector<LedgerRefusal> refusals;
  ResolvedSelection everything;
  if (!ListDumps(ledger, &dumps, err) ||
      ResolveSelection(ledger, LedgerSelection(), &everything, err) != SelectionOk ||
      !ListRefusals(ledger, everything, &refusals, err))
    return false;
  for (const LedgerDump& dump : dumps) known->emplace(dump.device, dump.sha256);
  for (const LedgerRefusal& refusal : refusals) known->emplace(refusal.device, refusal.sha256);
  return true;
}

// The reason of a detail such as "cannot write 'PATH': REASON" without the
// path, for a client: the server's folders are none of its business.
std::string WithoutPath(const std::string& detail) {
  const size_t quoted = detail.rfind("': ");
  return quoted == std::string::npos ? detail : detail.substr(quoted + 3);
}

void Log(const std::string& line) { std::fprintf(stderr, "taxoscope-server: %s\n", line.c_str()); }

}  // namespace

LedgerService::LedgerService(const std::string& stateDir)
    : stateDir_(stateDir),
      ledgerPath_(stateDir + "/ledger.db"),
      archive_(stateDir + "/dumps"),
      withdrawn_(stateDir + "/withdrawn") {}

bool LedgerService::Start(int* recovered, std::string* err) {
  std::lock_guard<std::mutex> lock(writing_);
  int moved = 0;
  if (!archive_.Prepare(err) || !withdrawn_.FinishMoves(archive_, &moved, err)) return false;
  std::string reason;
  if (!OpenLedgerForServer(ledgerPath_, &writer_, &reason)) {
    *err = "cannot open the ledger '" + ledgerPath_ + "': " + reason;
    return false;
  }
  // A withdrawal cut off by a kill is finished before anything is added:
  // its dump is out of dumps/ now, and leaves the ledger here.
  std::vector<WithdrawnDump> withdrawn;
  if (!withdrawn_.List(&withdrawn, err)) return false;
  for (const WithdrawnDump& dump : withdrawn) {
    WithdrawalResult result;
    if (!TakeOutOfLedger(writer_, dump, &result, &reason)) {
      *err = "cannot take the withdrawn dump " + dump.sha256 + " out of the ledger: " + reason;
      return false;
    }
    if (result.removal.removed || result.removal.kept || result.refusedNote)
      Log("finished the withdrawal of " + dump.sha256 + " of '" + dump.device + "'");
  }
  return Recover(recovered, err);
}

bool LedgerService::Recover(int* recovered, std::string* err) {
  *recovered = 0;
  std::vector<StoredDump> stored;
  std::vector<std::string> skipped;
  std::set<std::pair<std::string, std::string>> known;
  if (!archive_.List(&stored, &skipped, err) || !KnownDumps(writer_, &known, err)) return false;
  for (const StoredDump& dump : stored) {
    if (known.count({dump.device, dump.sha256})) continue;
    std::string why;
    if (!AddStoredDump(writer_, dump, &why, err)) return false;
    if (!why.empty()) {
      std::fprintf(stderr, "taxoscope-server: %s: %s; not added\n", dump.path.c_str(), why.c_str());
      continue;
    }
    *recovered += 1;
  }
  return true;
}

UploadOutcome LedgerService::Upload(const std::string& device, const std::string& name, const DumpBytes& bytes,
                                    UploadResult* result, std::string* err) {
  result->device = device;
  std::lock_guard<std::mutex> lock(writing_);
  // One walk tells whether the bytes are a dump of this device family at
  // all, and what the dump's own check finds, before anything is kept.
  ReportRequest request;
  request.dumpPath = name;
  request.dumpImage = &bytes;
  DumpFamilyCheck family;
  DumpCheck check;
  ReportSinks sinks;
  sinks.Add(&family);
  sinks.Add(&check);
  if (WalkDump(request, sinks) != ReportWritten) {
    *err = "it cannot be walked";
    return UploadNotADump;
  }
  const std::string reason = NotADumpReason(bytes, false, family);
  if (!reason.empty()) {
    *err = reason;
    return UploadNotADump;
  }
  result->check = CountFindings(check.Findings());
  result->sha256 = Sha256Hex(bytes.data(), bytes.size());  // never of no bytes: those are no dump
  WithdrawnDump withdrawn;
  if (withdrawn_.Find(device, result->sha256, &withdrawn)) {
    *err = "these bytes of '" + device + "' were withdrawn by the office" +
           (withdrawn.withdrawnAt.empty() ? "" : " on " + withdrawn.withdrawnAt) +
           (withdrawn.why.empty() ? "" : " (" + withdrawn.why + ")") + "; they are not taken again";
    return UploadWithdrawn;
  }
  StoredDump stored;
  bool written = false;
  std::string detail;
  if (!archive_.Store(device, result->sha256, bytes, name, UtcNowText(), &stored, &detail, &written)) {
    Log("cannot store an upload of '" + device + "': " + detail);
    *err = "the dump cannot be stored (" + WithoutPath(detail) + "); nothing was kept";
    return UploadUnwritable;
  }
  CrashPoint("upload-stored");
  const AddDumpOutcome added = AddDumpImage(writer_, bytes, stored.name, device, stored.addedAt, &result->added, &detail);
  if (added == DumpAdded || added == DumpDisagrees) return UploadAdded;  // result->added.refused says which
  // Not added: what was stored for it goes too, so that dumps/ holds only
  // what the server acknowledged (a start would add it, a rebuild too).
  std::string takenBack;
  if (written && !archive_.TakeBack(stored, &takenBack))
    Log(takenBack + "; the dump is added at the next start");
  if (added == LedgerUnwritable) {
    Log("cannot add an upload of '" + device + "' to the ledger '" + ledgerPath_ + "': " + detail);
    *err = "the ledger cannot be written (" + WithoutPath(detail) + "); nothing was kept";
    return UploadUnwritable;
  }
  *err = detail;
  return UploadNotADump;
}

WithdrawOutcome LedgerService::Withdraw(const std::string& sha256, const std::string& device, const std::string& why,
                                        WithdrawalResult* result, std::string* err) {
  std::lock_guard<std::mutex> lock(writing_);
  *result = WithdrawalResult();
  std::vector<StoredDump> stored, matching;
  if (!archive_.Find(sha256, &stored, err)) return WithdrawFailed;
  for (const StoredDump& dump : stored)
    if (device.empty() || dump.device == device) matching.push_back(dump);
  // Withdrawn before (perhaps by a command killed half-way): the ledger's
  // part is made sure of.
  std::vector<WithdrawnDump> before;
  if (matching.empty()) {
    std::vector<WithdrawnDump> all;
    if (!withdrawn_.List(&all, err)) return WithdrawFailed;
    for (const WithdrawnDump& dump : all)
      if (dump.sha256 == sha256 && (device.empty() || dump.device == device)) before.push_back(dump);
  }
  if (matching.size() + before.size() > 1) {
    *err = "the dump " + sha256 + " was sent for several devices:";
    for (const StoredDump& dump : matching) *err += " '" + dump.device + "'";
    for (const WithdrawnDump& dump : before) *err += " '" + dump.device + "'";
    *err += "; give the device";
    return WithdrawAmbiguous;
  }
  if (matching.empty() && before.empty()) {
    *err = "no stored dump " + sha256 + (device.empty() ? "" : " of '" + device + "'");
    return WithdrawNotStored;
  }
  if (!before.empty()) {
    result->already = true;
    result->dump = before.front();
  } else {
    result->dump.device = matching.front().device;
    result->dump.sha256 = sha256;
    result->dump.why = why;
    result->dump.withdrawnAt = UtcNowText();
    if (!withdrawn_.Withdraw(archive_, matching.front(), why, result->dump.withdrawnAt, err)) return WithdrawFailed;
  }
  std::string reason;
  if (!TakeOutOfLedger(writer_, result->dump, result, &reason)) {
    *err = "the dump is out of dumps/, but the ledger cannot be written (" + reason +
           "); it leaves the ledger at the next start";
    return WithdrawFailed;
  }
  return Withdrawn;
}

bool TakeOutOfLedger(LedgerFile& ledger, const WithdrawnDump& dump, WithdrawalResult* result, std::string* err) {
  switch (RemoveDump(ledger, dump.device, dump.sha256, &result->removal, err)) {
    case DumpRemoved:
    case DumpNotInLedger: break;
    case RemoveFailed: return false;
  }
  return ForgetRefusedDump(ledger, dump.device, dump.sha256, &result->refusedNote, err);
}

bool LedgerService::Reader(LedgerFile** ledger, std::string* err) {
  thread_local std::unique_ptr<LedgerFile> reader;
  thread_local std::string readerPath;
  if (reader && readerPath == ledgerPath_) {
    *ledger = reader.get();
    return true;
  }
  auto opened = std::make_unique<LedgerFile>();
  if (!opened->Open(ledgerPath_, LedgerReadOnly, err)) return false;
  // Each worker keeps a reader: a page cache of 4 MiB each bounds what they
  // hold together, whatever the ledger's size.
  std::string ignored;
  opened->db().Exec("PRAGMA cache_size = -4096", &ignored);
  reader = std::move(opened);
  readerPath = ledgerPath_;
  *ledger = reader.get();
  return true;
}

bool AddArchive(const DumpArchive& archive, LedgerFile& ledger, int* added, std::vector<std::string>* problems,
                std::string* err) {
  *added = 0;
  std::vector<StoredDump> stored;
  if (!archive.List(&stored, problems, err)) return false;
  for (const StoredDump& dump : stored) {
    std::string skipped;
    if (!AddStoredDump(ledger, dump, &skipped, err)) return false;
    if (!skipped.empty()) {
      problems->push_back(dump.path + ": " + skipped + "; not added");
      continue;
    }
    *added += 1;
  }
  return true;
}
