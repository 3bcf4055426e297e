#include "ledger/ledger_check.h"

#include "check/sequence_check.h"

namespace {

bool CheckSequence(LedgerFile& ledger, const std::string& device, std::vector<Finding>* findings, std::string* err) {
  SqliteStatement select;
  if (!select.Prepare(ledger.db(), "SELECT number, recorded_at FROM daily_report WHERE device = ?1 ORDER BY id", err))
    return false;
  select.BindText(1, device);
  const size_t first = findings->size();
  SequenceCheck sequence(findings);
  bool done = false;
  while (select.Step(&done, err)) sequence.Add(static_cast<int32_t>(select.Int(0)), select.Text(1));
  for (size_t i = first; i < findings->size(); ++i) (*findings)[i].detail = "device " + device + ": " + (*findings)[i].detail;
  return done;
}

}  // namespace

bool CheckLedgerPages(LedgerFile& ledger, std::vector<Finding>* findings, std::string* err) {
  findings->clear();
  auto damage = [&](const std::string& detail) {
    Finding finding;
    finding.severity = FindingError;
    finding.kind = "ledger-corrupt";
    finding.detail = detail;
    findings->push_back(finding);
  };
  SqliteStatement check;
  bool done = false;
  if (check.Prepare(ledger.db(), "PRAGMA integrity_check(100)", err)) {
    while (check.Step(&done, err))
      if (check.Text(0) != "ok") damage(check.Text(0));
  }
  if (!done && ledger.damaged()) damage(*err);
  return done || ledger.damaged();
}

bool CheckLedger(LedgerFile& ledger, const ResolvedSelection& selection, std::vector<Finding>* findings,
                 std::string* err) {
  findings->clear();
  std::vector<LedgerConflictNote> conflicts;
  if (!ListConflicts(ledger, selection, &conflicts, err)) return false;
  auto conflict = conflicts.begin();
  for (const std::string& device : selection.devices) {
    if (!CheckSequence(ledger, device, findings, err)) return false;
    for (; conflict != conflicts.end() && conflict->device == device; ++conflict) {
      Finding finding;
      finding.severity = FindingError;
      finding.kind = "conflict";
      finding.report = conflict->number;
      finding.date = conflict->recordedAt;
      finding.detail = "device " + device + ": the dump " + conflict->dump + " added " + conflict->addedAt +
                       " holds other content under this number and date-time; not added";
      findings->push_back(finding);
    }
  }
  return true;
}
