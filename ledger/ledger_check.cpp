#include "ledger/ledger_check.h"

#include "check/sequence_check.h"

namespace {

// The sequence checks over the device's reports in the order they are
// summed (by number), and a report held with a failed CRC where it stands.
bool CheckSequence(LedgerFile& ledger, const std::string& device, std::vector<Finding>* findings, std::string* err) {
  SqliteStatement select;
  if (!select.Prepare(ledger.db(),
                      "SELECT r.number, r.recorded_at, r.crc_ok, d.name, d.added_at FROM daily_report AS r "
                      "JOIN dump AS d ON d.id = r.dump WHERE r.device = ?1 AND r.counted "
                      "ORDER BY r.number, r.recorded, r.id",
                      err))
    return false;
  select.BindText(1, device);
  const size_t first = findings->size();
  SequenceCheck sequence(findings);
  bool done = false;
  while (select.Step(&done, err)) {
    const int32_t number = static_cast<int32_t>(select.Int(0));
    sequence.Add(number, select.Text(1));
    if (select.Int(2)) continue;
    Finding finding;
    finding.severity = FindingError;
    finding.kind = "crc";
    finding.report = number;
    finding.date = select.Text(1);
    finding.detail = "CRC mismatch in a daily report, from the dump " + select.Text(3) + " added " + select.Text(4);
    findings->push_back(finding);
  }
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
  std::vector<LedgerRefusal> refusals;
  if (!ListConflicts(ledger, selection, &conflicts, err) || !ListRefusals(ledger, selection, &refusals, err))
    return false;
  auto conflict = conflicts.begin();
  auto refusal = refusals.begin();
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
    for (; refusal != refusals.end() && refusal->device == device; ++refusal) {
      Finding finding;
      finding.severity = FindingError;
      finding.kind = "refused-dump";
      finding.report = refusal->number;
      finding.date = refusal->recordedAt;
      finding.detail = "device " + device + ": the dump " + refusal->dump + " (SHA-256 " + refusal->sha256 +
                       "), refused " + refusal->refusedAt + ", holds other reports than the ledger under " +
                       std::to_string(refusal->numbers) + (refusal->numbers == 1 ? " number" : " numbers") +
                       ", from this one; nothing of it was added";
      findings->push_back(finding);
    }
  }
  return true;
}
