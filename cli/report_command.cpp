// taxoscope-cli report: the report run of the Browse button, from the
// command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/walk_command.h"

namespace {

const char kUsage[] = "taxoscope-cli report DUMP [--by-date FROM TO | --by-number FROM TO] [--open]";

}  // namespace

void PrintReportHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Turns the fiscal-memory dump DUMP into its turnover report, written next to it\n"
      "as DUMP.txt (Windows-1251 text, CR LF line ends).\n"
      "\n"
      "  --by-date FROM TO     only the daily reports from FROM to TO, typed dd/mm/yyyy\n"
      "                        (both days included)\n"
      "  --by-number FROM TO   only the daily reports numbered FROM to TO; a number may\n"
      "                        be decimal, octal (017) or hexadecimal (0x1A)\n"
      "  --open                open the report in the default viewer when done\n"
      "  --                    ends the options: what follows is DUMP, even a name\n"
      "                        that begins with '-'\n"
      "Without a filter every daily report is taken.\n"
      "\n"
      "exit status:\n"
      "  0  the report file was written\n"
      "  1  FROM or TO is not a valid bound (no file written)\n"
      "  2  usage error\n"
      "  3  the dump cannot be opened (no file written)\n"
      "  4  the report file could not be written\n",
      kUsage);
}

int RunReportCommand(int argc, char** argv) {
  // The console stands in for the main dialog; the run reads the dump file
  // itself, as the dialog's does.
  WalkCommand command("report", kUsage, true, PrintReportHelp, true);
  if (!command.Parse(argc, argv)) return command.parseStatus();
  std::string overDump = OutputOverDump(command.dump() + ".txt", command.dump());
  if (!overDump.empty()) return command.Usage(overDump);
  return ReportExitStatus(RunReportWithOutcome(command.Request()));
}
