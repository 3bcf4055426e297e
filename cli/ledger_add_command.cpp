// taxoscope-cli ledger add: each dump's new daily reports into the ledger,
// one transaction per dump.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/console_ui.h"
#include "cli/ledger_args.h"
#include "cli/ledger_commands.h"
#include "fm/dump_family.h"
#include "ledger/ledger_add.h"

namespace {

const char kUsage[] = "taxoscope-cli ledger add LEDGER DUMP... [--device ID]";

}  // namespace

void PrintLedgerAddHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Adds the daily reports of each fiscal-memory dump DUMP to the ledger LEDGER,\n"
      "which is created when missing. Each dump is added whole or not at all. A\n"
      "report the ledger holds already is not added again, so reading a register\n"
      "again and adding every read adds only its new reports. For each dump one line:\n"
      "  DUMP: device ID, N new, M already in the ledger, C conflicts\n"
      "A conflict is a report with the number and date-time of one the ledger holds\n"
      "for the device from another dump, but other amounts: it is not added, and it\n"
      "is named on stderr.\n"
      "\n"
      "  --device ID   the device of every dump given (default: the dump's file name\n"
      "                without its folder and without .bin)\n"
      "\n"
      "exit status:\n"
      "  0   every dump was added\n"
      "  2   usage error\n"
      "  3   a dump cannot be opened or is not a dump of this device family (the\n"
      "      others were added)\n"
      "  12  the ledger cannot be opened or written (not a ledger, made by a newer\n"
      "      version, read-only, disk full, busy for more than 10 seconds)\n"
      "  13  conflicts were found (the rest was added)\n",
      kUsage);
}

int RunLedgerAddCommand(int argc, char** argv) {
  LedgerArgs args("add", kUsage, false, false, true);
  if (!args.Parse(argc, argv)) return kExitUsage;
  if (args.positionals().empty()) return args.Usage("no dump file given");
  if (args.selection().devices.size() > 1) return args.Usage("give --device once");

  ConsoleUi ui;
  LedgerFile ledger;
  if (!args.Open(&ledger, LedgerReadWrite)) return kExitLedgerUnusable;

  bool unreadable = false, conflicts = false;
  for (const std::string& dump : args.positionals()) {
    const std::string device = args.selection().devices.empty() ? DeviceOfDump(dump) : args.selection().devices[0];
    if (device.empty()) {
      std::fprintf(stderr, "taxoscope-cli ledger: '%s' names no device: give --device\n", dump.c_str());
      unreadable = true;
      continue;
    }
    DumpAddition added;
    std::string reason;
    AddDumpOutcome outcome = AddDumpFile(ledger, dump, device, UtcNowText(), &added, &reason);
    if (outcome == LedgerUnwritable) return args.LedgerError(ledger, "write", reason);
    if (outcome == DumpUnreadable) {
      PrintDumpOpenError(dump);
      unreadable = true;
      continue;
    }
    if (outcome == DumpNotOfFamily) {
      std::fprintf(stderr, "%s\n", NotADumpMessage(dump, reason).c_str());
      unreadable = true;
      continue;
    }
    for (const LedgerConflict& conflict : added.conflicts)
      std::fprintf(stderr, "%s: conflict: report %d of %s differs from the one the ledger holds for %s; not added\n",
                   dump.c_str(), static_cast<int>(conflict.number), conflict.recordedAt.c_str(),
                   device.c_str());
    conflicts = conflicts || !added.conflicts.empty();
    std::printf("%s: device %s, %lld new, %lld already in the ledger, %zu conflicts\n", dump.c_str(),
                device.c_str(), static_cast<long long>(added.added), static_cast<long long>(added.already),
                added.conflicts.size());
    std::fflush(stdout);
  }
  if (unreadable) return kExitDumpUnreadable;
  return conflicts ? kExitConflicts : kExitOk;
}
