// taxoscope-cli ledger: the daily reports of many registers in one SQLite
// file. A command with subcommands, each with its own help.
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/ledger_commands.h"

namespace {

struct Subcommand {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);
  void (*help)();
};

const Subcommand kSubcommands[] = {
    {"add", "add the daily reports of dumps, each dump whole or not at all", RunLedgerAddCommand,
     PrintLedgerAddHelp},
    {"devices", "list the devices with their reports and dumps", RunLedgerDevicesCommand, PrintLedgerDevicesHelp},
    {"summary", "print the monthly VAT table over the registers", RunLedgerSummaryCommand, PrintLedgerSummaryHelp},
    {"export", "export the daily reports as CSV, JSON or HTML", RunLedgerExportCommand, PrintLedgerExportHelp},
    {"remove", "take back the add of dumps (by file or SHA-256)", RunLedgerRemoveCommand, PrintLedgerRemoveHelp},
    {"check", "check the ledger's file and the reports of each device, list the refused dumps",
     RunLedgerCheckCommand, PrintLedgerCheckHelp},
};

void PrintLedgerUsage(FILE* out) {
  std::fprintf(out,
               "usage: taxoscope-cli ledger SUBCOMMAND LEDGER [options]\n"
               "\n"
               "Keeps the daily reports of many registers in one SQLite file, LEDGER, each\n"
               "report once however often its register is read, and gives the monthly VAT\n"
               "table over any of them. The file and its tables are described in\n"
               "docs/ledger.md.\n"
               "\n"
               "subcommands:\n");
  for (const Subcommand& sub : kSubcommands) std::fprintf(out, "  %-8s %s\n", sub.name, sub.summary);
  std::fprintf(out, "\n'taxoscope-cli ledger SUBCOMMAND --help' explains a subcommand.\n");
}

}  // namespace

void PrintLedgerHelp() { PrintLedgerUsage(stdout); }

int RunLedgerCommand(int argc, char** argv) {
  if (argc < 1) {
    PrintLedgerUsage(stderr);
    return kExitUsage;
  }
  if (!std::strcmp(argv[0], "--help") || !std::strcmp(argv[0], "-h") || !std::strcmp(argv[0], "help")) {
    PrintLedgerHelp();
    return kExitOk;
  }
  // Each subcommand takes --help where an option may stand, not as a value.
  for (const Subcommand& sub : kSubcommands)
    if (!std::strcmp(argv[0], sub.name)) return sub.run(argc - 1, argv + 1);
  std::fprintf(stderr, "taxoscope-cli ledger: unknown subcommand '%s'\n\n", argv[0]);
  PrintLedgerUsage(stderr);
  return kExitUsage;
}
