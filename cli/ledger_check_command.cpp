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
      "Checks the file of the ledger LEDGER with SQLite's own check of every page,\n"
      "then the daily reports of the selected devices as 'taxoscope-cli check'\n"
      "checks a dump's, device by device, by report number, and lists the dumps\n"
      "refused because they disagreed with the ledger:\n"
      "  SEVERITY KIND report N (DATE): device ID: detail\n"
      "then the counts of errors, warnings and notes.\n"
      "\n"
      "  error    ledger-corrupt  SQLite's check found the file damaged (nothing\n"
      "                           else is checked then)\n"
      "  warning  gap           report numbers missing between two consecutive\n"
      "                         daily reports of a device\n"
      "  warning  number-back   the same report number again\n"
      "  warning  clock-back    a daily report dated earlier than the one before\n"
      "  error    crc           a report held with a failed CRC (it counts until\n"
      "                         an intact read of it is added)\n"
      "  error    refused-dump  a dump held other reports than the ledger under\n"
      "                         the same numbers; nothing of it was added\n"
      "  error    conflict      a report a ledger of version 1 did not add\n"
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
      "  12  the ledger cannot be opened or read (missing, not a ledger, damaged\n"
      "      where the check cannot read it, made by a newer version, busy for\n"
      "      more than 10 seconds)\n",
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
