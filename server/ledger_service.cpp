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

}  // namespace

LedgerService::LedgerService(const std::string& stateDir)
    : stateDir_(stateDir), ledgerPath_(stateDir + "/ledger.db"), archive_(stateDir + "/dumps") {}

bool LedgerService::Start(int* recovered, std::string* err) {
  std::lock_guard<std::mutex> lock(writing_);
  if (!archive_.Prepare(err)) return false;
  std::string reason;
  if (!OpenLedgerForServer(ledgerPath_, &writer_, &reason)) {
    *err = "cannot open the ledger '" + ledgerPath_ + "': " + reason;
    return false;
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
  StoredDump stored;
  if (!archive_.Store(device, result->sha256, bytes, name, UtcNowText(), &stored, err)) return UploadUnwritable;
  switch (AddDumpImage(writer_, bytes, stored.name, device, stored.addedAt, &result->added, err)) {
    case DumpAdded:
    case DumpDisagrees: return UploadAdded;  // result->added.refused says which
    case DumpUnreadable:
    case DumpNotOfFamily: return UploadNotADump;
    case LedgerUnwritable: break;
  }
  return UploadUnwritable;
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
