#include "ledger/ledger_output.h"

#include "export/ledger_export.h"
#include "ledger/ledger_add.h"
#include "ledger/ledger_query.h"

namespace {

bool Fail(const std::string& what, const std::string& reason) {
  std::string text = what + ": " + reason;
  Ui().ShowMessage(nullptr, text.c_str(), "Error", MessageIconError);
  return false;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool LedgerOutput::Write(const std::string& dumpPath) {
  const std::string folder = FolderOf(dumpPath);
  const std::string ledgerPath = folder + "ledger.db";
  LedgerFile ledger;
  std::string reason;
  // A damaged file says so: it is neither busy nor full.
  auto why = [&](const std::string& text) { return ledger.damaged() ? "the ledger is damaged (" + text + ")" : text; };
  if (!ledger.Open(ledgerPath, LedgerReadWrite, &reason))
    return Fail("Cannot open the ledger " + ledgerPath, why(reason));
  DumpAddition added;
  switch (AddDumpFile(ledger, dumpPath, DeviceOfDump(dumpPath), UtcNowText(), &added, &reason)) {
    case DumpAdded: break;
    case DumpDisagrees:
      return Fail("Cannot add " + dumpPath + " to the ledger " + ledgerPath,
                  "its reports numbered from " + std::to_string(added.conflicts.front().number) +
                      " differ from those the ledger holds for the device (another register under the same "
                      "id?); nothing of it was added");
    case DumpUnreadable: return Fail("Cannot read " + dumpPath, reason);
    case DumpNotOfFamily:
      return Fail("Cannot add " + dumpPath + " to the ledger", "not a dump of this device family (" + reason + ")");
    case LedgerUnwritable: return Fail("Cannot add the dump to the ledger " + ledgerPath, why(reason));
  }

  ResolvedSelection everything;
  LedgerSelectionSums sums;
  std::string detail;
  LedgerReadSnapshot snapshot(ledger);
  if (!snapshot.Begin(&detail) || ResolveSelection(ledger, LedgerSelection(), &everything, &detail) != SelectionOk ||
      !QuerySums(ledger, everything, &sums, &detail))
    return Fail("Cannot read the ledger " + ledgerPath, why(detail));
  snapshot.End();
  LedgerExportHeading heading{ledgerPath, ExportFilter()};
  std::string page = LedgerHtml(heading, sums);
  std::string pagePath = folder + "ledger.html";
  // The whole-file writer shows the system's error itself.
  return WriteBufferToFile(pagePath.c_str(), page.data(), static_cast<int64_t>(page.size()));
}
