// taxoscope-cli report: the report run of the Browse button, from the
// command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/console_ui.h"
#include "fm/input_file.h"
#include "report/report_run.h"
#include "res/resource.h"

namespace {

constexpr int kExitInvalidBound = 1;
constexpr int kExitDumpUnreadable = 3;
constexpr int kExitReportNotWritten = 4;

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
  bool haveFilter = false;
  ui.SetChecked(IDC_ALL_RECORDS, true);

  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (!std::strcmp(arg, "--by-date") || !std::strcmp(arg, "--by-number")) {
      if (haveFilter) return Usage("give at most one of --by-date and --by-number");
      if (i + 2 >= argc) return Usage("a filter needs FROM and TO");
      haveFilter = true;
      ui.SetChecked(IDC_ALL_RECORDS, false);
      ui.SetChecked(arg[5] == 'd' ? IDC_BY_DATE : IDC_BY_NUMBER, true);
      ui.SetControlText(dialog, IDC_FROM, argv[++i]);
      ui.SetControlText(dialog, IDC_TO, argv[++i]);
    } else if (!std::strcmp(arg, "--open")) {
      ui.SetChecked(IDC_SHOW_RESULT, true);
    } else if (arg[0] == '-' && arg[1] != 0) {
      return Usage((std::string("unknown option ") + arg).c_str());
    } else if (dump.empty()) {
      dump = arg;
    } else {
      return Usage("give one dump file");
    }
  }
  if (dump.empty()) return Usage("no dump file given");

  ReportRequest request = ReportRequestFromDialog(dialog, dump);
  switch (RunReportWithOutcome(request)) {
    case ReportWritten:
      return kExitOk;
    case ReportInvalidBound:
      return kExitInvalidBound;
    case ReportDumpUnreadable: {
      CInputFileBin probe(dump.c_str());
      std::fprintf(stderr, "taxoscope-cli: cannot open '%s': %s\n", dump.c_str(),
                   std::strerror(probe.OpenError()));
      return kExitDumpUnreadable;
    }
    case ReportWriteFailed:
      break;
  }
  return kExitReportNotWritten;
}
