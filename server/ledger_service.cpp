#include "server/ledger_service.h"

#include <map>

#include "check/dump_check.h"
#include "ledger/ledger_query.h"
#include "ledger/sha256.h"
#include "report/report_run.h"

bool OpenLedgerForServer(const std::string& path, LedgerFile* ledger, std::string* err) {
  // WAL is kept in the file; synchronous is per connection.
  return ledger->Open(path, LedgerReadWrite, err) && ledger->db().Exec("PRAGMA journal_mode = WAL", err) &&
         ledger->db().Exec("PRAGMA synchronous = FULL", err);
}

namespace {

// Walks a stored dump once for its daily reports and its integrity check.
bool WalkStored(const std::string& path, DumpReports* reports, FindingCounts* check, std::string* err) {
  ReportRequest request;
  request.dumpPath = path;
  DumpCheck dumpCheck;
  ReportSinks sinks;
  sinks.Add(reports);
  sinks.Add(&dumpCheck);
  if (WalkDump(request, sinks) != ReportWritten) {
    *err = "the stored dump '" + path + "' cannot be read";
    return false;
  }
  *check = CountFindings(dumpCheck.Findings());
  return true;
}

bool AddOne(LedgerFile& ledger, const StoredDump& stored, int64_t size, DumpAddition* added, FindingCounts* check,
            std::string* err) {
  DumpReports reports;
  if (!WalkStored(stored.path, &reports, check, err)) return false;
  DumpFacts facts;
  facts.device = stored.device;
  facts.name = stored.name;
  facts.size = size;
  facts.sha256 = stored.sha256;
  facts.addedAt = stored.addedAt.empty() ? UtcNowText() : stored.addedAt;
  return AddDump(ledger, facts, reports.reports(), added, err);
}

// The dumps the ledger holds per device.
bool DumpsPerDevice(LedgerFile& ledger, std::map<std::string, int64_t>* held, std::string* err) {
  std::vector<LedgerDevice> devices;
  if (!ListDevices(ledger, &devices, err)) return false;
  for (const LedgerDevice& device : devices) (*held)[device.id] = device.dumps;
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
  std::map<std::string, int64_t> held;
  if (!archive_.List(&stored, &skipped, err) || !DumpsPerDevice(writer_, &held, err)) return false;
  std::map<std::string, int64_t> archived;
  for (const StoredDump& dump : stored) ++archived[dump.device];
  for (const StoredDump& dump : stored) {
    // A device whose every archived dump has its row is complete; the adds
    // of the others are repeated in order, and an add of bytes the ledger
    // holds already changes nothing.
    if (held[dump.device] >= archived[dump.device]) continue;
    int64_t size = 0;
    std::string sha;
    DumpAddition added;
    FindingCounts check;
    if (!FileSha256(dump.path, &sha, &size, err) || !AddOne(writer_, dump, size, &added, &check, err)) return false;
    *recovered += 1;
  }
  return true;
}

UploadOutcome LedgerService::Upload(const std::string& device, const std::string& name, const std::string& bytes,
                                    UploadResult* result, std::string* err) {
  result->device = device;
  result->sha256 = Sha256Hex(bytes.data(), bytes.size());
  std::lock_guard<std::mutex> lock(writing_);
  StoredDump stored;
  if (!archive_.Store(device, result->sha256, bytes, name, UtcNowText(), &stored, err)) return UploadUnwritable;
  return AddOne(writer_, stored, static_cast<int64_t>(bytes.size()), &result->added, &result->check, err)
             ? UploadAdded
             : UploadUnwritable;
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
    int64_t size = 0;
    std::string sha;
    if (!FileSha256(dump.path, &sha, &size, err)) return false;
    if (sha != dump.sha256) {
      problems->push_back(dump.path + ": its SHA-256 is " + sha + ": damaged since it was stored; not added");
      continue;
    }
    DumpAddition addition;
    FindingCounts check;
    if (!AddOne(ledger, dump, size, &addition, &check, err)) return false;
    *added += 1;
  }
  return true;
}
