// taxoscope-cli ledger check: the sequence checks of a dump's check per
// device over the ledger's reports, and every conflict the ledger noted.
#include <cstdio>
#include <cstring>
#include <string>

#include "check/finding.h"
#include "cli/commands.h"
#include "cli/ledger_args.h"
#include "cli/ledger_commands.h"
#include "cli/walk_command.h"
#include "export/path_utf8.h"
#include "ledger/ledger_check.h"

namespace {

const char kUsage[] = "taxoscope-cli ledger check LEDGER [--device ID]... [--format text|json]";

}  // namespace

void PrintLedgerCheckHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Checks the daily reports of the selected devices of the ledger LEDGER as\n"
      "'taxoscope-cli check' checks a dump's, device by device, in the order the\n"
      "reports were added, and lists every conflict found when dumps were added:\n"
      "  SEVERITY KIND report N (DATE): device ID: detail\n"
      "then the counts: N errors, N warnings, N notes.\n"
      "\n"
      "  warning  gap           report numbers missing between two consecutive\n"
      "                         daily reports of a device\n"
      "  warning  number-back   the same report number again, or a lower one\n"
      "  warning  clock-back    a daily report dated earlier than the one before\n"
      "  error    conflict      a dump held other content under the number and\n"
      "                         date-time of a report in the ledger; not added\n"
      "  error    ledger-corrupt  SQLite's check of the file found damage; nothing\n"
      "                         else is checked\n"
      "\n"
      "  --device ID       only this device; give it again for more (default:\n"
      "                    every device)\n"
      "  --format FORMAT   text (default), or json: one object with the ledger, the\n"
      "                    findings and the counts\n"
      "  --                ends the options: what follows is the ledger file\n"
      "\n"
      "exit status:\n"
      "  0   no error and no warning\n"
      "  10  warnings but no error\n"
      "  11  at least one error\n"
      "  1   a device is not in the ledger\n"
      "  2   usage error\n"
      "  4   standard output could not be written\n"
      "  12  the ledger cannot be opened or read (missing, not a ledger, made by a\n"
      "      newer version, busy for more than 10 seconds)\n",
      kUsage);
}

int RunLedgerCheckCommand(int argc, char** argv) {
  LedgerArgs args("check", kUsage, PrintLedgerCheckHelp, false, false, false);
  bool json = false;
  auto own = [&](int count, char** items, int* i, std::string* problem) {
    if (std::strcmp(items[*i], "--format") != 0) return NotReportOption;
    std::string value;
    if (!LedgerArgs::TakeValue(count, items, i, "a value", &value, problem)) return ReportOptionError;
    if (value != "text" && value != "json") {
      *problem = "unknown format " + value + " (text or json)";
      return ReportOptionError;
    }
    json = value == "json";
    return ReportOptionTaken;
  };
  if (!args.Parse(argc, argv, own)) return args.ParseExit();
  LedgerFile ledger;
  LedgerReadSnapshot snapshot(ledger);
  if (!args.OpenForReading(&ledger, &snapshot)) return kExitLedgerUnusable;
  std::vector<Finding> findings;
  std::string reason;
  if (!CheckLedgerPages(ledger, &findings, &reason)) return args.LedgerError(ledger, "read", reason);
  if (findings.empty()) {  // a damaged file's damage is all there is to say
    ResolvedSelection selection;
    int status = kExitOk;
    if (!args.Resolve(ledger, &selection, &status)) return status;
    if (!CheckLedger(ledger, selection, &findings, &reason)) return args.LedgerError(ledger, "read", reason);
  }
  std::string text = json ? FindingsJson(findings, "ledger", PathAsUtf8(args.ledgerPath())) : FindingsText(findings);
  if (!WriteCommandOutput("-", text)) return kExitReportNotWritten;
  return CheckExitStatus(CountFindings(findings));
}
