// taxoscope-cli: the report run and the device read of the Windows program,
// from a command line.
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "taxoscope_version.h"

namespace {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);
  void (*help)();
  // The command reads --help itself (where an option may stand, or after
  // its subcommand); for the others any --help or -h is the help.
  bool ownHelp = false;
};

const Command kCommands[] = {
    {"report", "turn a dump file into its turnover report", RunReportCommand, PrintReportHelp, true},
    {"read", "read the device's fiscal memory into a dump and report on it", RunReadCommand,
     PrintReadHelp},
    {"ports", "list the serial ports of this machine", RunPortsCommand, PrintPortsHelp},
    {"export", "export a dump's daily reports as CSV, JSON or HTML", RunExportCommand, PrintExportHelp, true},
    {"summary", "print a dump's monthly VAT table", RunSummaryCommand, PrintSummaryHelp, true},
    {"info", "tell what a dump holds and whether it is damaged", RunInfoCommand, PrintInfoHelp, true},
    {"check", "check a dump's integrity: damage, gaps, a clock set back", RunCheckCommand, PrintCheckHelp, true},
    {"ledger", "keep many registers' daily reports in one file; the VAT table over them", RunLedgerCommand,
     PrintLedgerHelp, true},
    {"send", "send dumps to a taxoscope-server, which adds them to its ledger", RunSendCommand, PrintSendHelp, true},
};

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: taxoscope-cli COMMAND [options]\n\ncommands:\n");
  for (const Command& command : kCommands)
    std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
  std::fprintf(out, "\n'taxoscope-cli COMMAND --help' explains a command;\n"
                    "'taxoscope-cli --version' prints the version.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    PrintUsage(stdout);
    return kExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("taxoscope-cli %s\n", TAXOSCOPE_VERSION);
    return kExitOk;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) != 0) continue;
    for (int i = 2; i < argc && !command.ownHelp; ++i) {
      if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
        command.help();
        return kExitOk;
      }
    }
    return command.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "taxoscope-cli: unknown command '%s'\n\n", argv[1]);
  PrintUsage(stderr);
  return kExitUsage;
}
