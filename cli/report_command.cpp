// taxoscope-cli report: the report run of the Browse button, from the
// command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/console_ui.h"
#include "cli/report_options.h"

namespace {

int Usage(const char* problem) {
  std::fprintf(stderr, "taxoscope-cli report: %s\n", problem);
  std::fprintf(stderr, "usage: taxoscope-cli report DUMP [--by-date FROM TO | --by-number FROM TO] [--open]\n");
  return kExitUsage;
}

}  // namespace

void PrintReportHelp() {
  std::printf(
      "usage: taxoscope-cli report DUMP [--by-date FROM TO | --by-number FROM TO] [--open]\n"
      "\n"
      "Turns the fiscal-memory dump DUMP into its turnover report, written next to it\n"
      "as DUMP.txt (Windows-1251 text, CR LF line ends).\n"
      "\n"
      "  --by-date FROM TO     only the daily reports from FROM to TO, typed dd/mm/yyyy\n"
      "                        (both days included)\n"
      "  --by-number FROM TO   only the daily reports numbered FROM to TO; a number may\n"
      "                        be decimal, octal (017) or hexadecimal (0x1A)\n"
      "  --open                open the report in the default viewer when done\n"
      "Without a filter every daily report is taken.\n"
      "\n"
      "exit status:\n"
      "  0  the report file was written\n"
      "  1  FROM or TO is not a valid bound (no file written)\n"
      "  2  usage error\n"
      "  3  the dump cannot be opened (no file written)\n"
      "  4  the report file could not be written\n");
}

int RunReportCommand(int argc, char** argv) {
  ConsoleUi ui;
  UiWindow dialog = &ui;  // the console stands in for the main dialog
  std::string dump;
  ReportOptions options(ui);

  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    ReportOptionResult taken = options.Take(argc, argv, &i);
    if (taken == ReportOptionError) return Usage(options.problem().c_str());
    if (taken == ReportOptionTaken) continue;
    if (arg[0] == '-' && arg[1] != 0) {
      return Usage((std::string("unknown option ") + arg).c_str());
    } else if (dump.empty()) {
      dump = arg;
    } else {
      return Usage("give one dump file");
    }
  }
  if (dump.empty()) return Usage("no dump file given");
  std::string overDump = OutputOverDump(dump + ".txt", dump);
  if (!overDump.empty()) return Usage(overDump.c_str());

  return ReportExitStatus(RunReportWithOutcome(ReportRequestFromDialog(dialog, dump)));
}
