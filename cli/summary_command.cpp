// taxoscope-cli summary: the monthly VAT table of a dump on the terminal.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/walk_command.h"
#include "export/terminal_summary.h"

namespace {

const char kUsage[] = "taxoscope-cli summary DUMP [--by-date FROM TO | --by-number FROM TO]";

}  // namespace

void PrintSummaryHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Prints the monthly VAT table of the fiscal-memory dump DUMP (UTF-8): one line\n"
      "per calendar month with its daily reports and the turnover and tax of every\n"
      "tax group that has turnover, then the totals, which are the report's.\n"
      "\n"
      "  --by-date FROM TO     only the daily reports from FROM to TO, typed dd/mm/yyyy\n"
      "                        (both days included)\n"
      "  --by-number FROM TO   only the daily reports numbered FROM to TO; a number may\n"
      "                        be decimal, octal (017) or hexadecimal (0x1A)\n"
      "  --                    ends the options: what follows is DUMP, even a name\n"
      "                        that begins with '-'\n"
      "Without a filter every daily report is taken.\n"
      "\n"
      "exit status:\n"
      "  0  the table was printed\n"
      "  1  FROM or TO is not a valid bound (nothing printed)\n"
      "  2  usage error\n"
      "  3  the dump cannot be opened, or is no dump of this device family (empty,\n"
      "     erased memory only, no record with a valid CRC, longer than 2101247\n"
      "     bytes): nothing printed\n"
      "  4  standard output could not be written\n",
      kUsage);
}

int RunSummaryCommand(int argc, char** argv) {
  WalkCommand command("summary", kUsage, true, PrintSummaryHelp);
  if (!command.Parse(argc, argv)) return command.parseStatus();
  if (command.GuardOutput("-") != kExitOk) return kExitUsage;
  int status = command.Load();
  if (status == kExitOk && command.overCap()) status = command.RefuseNotADump();
  if (status != kExitOk) return status;
  TerminalSummary summary;
  status = command.Walk(summary);
  if (status == kExitOk) status = command.RefuseNotADump();
  if (status != kExitOk) return status;
  ConsoleUtf8Output();
  return WriteCommandOutput("-", summary.Text()) ? kExitOk : kExitReportNotWritten;
}
