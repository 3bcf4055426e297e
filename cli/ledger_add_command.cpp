// taxoscope-cli ledger add: each dump's new daily reports into the ledger,
// one transaction per dump.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/add_line.h"
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
      "  DUMP: device ID, N new, M already in the ledger, R repaired, C conflicts\n"
      "A repaired report is an intact copy of one the ledger held with a failed CRC:\n"
      "it takes that copy's place. A copy with a failed CRC of a report held intact\n"
      "counts as already held and is named on stderr. A register never reuses a\n"
      "report number: where the dump and the ledger hold other reports under one\n"
      "number (another register under the same id, or a memory altered since), the\n"
      "dump is refused whole, its conflicting numbers are named on stderr, and\n"
      "'ledger check' lists the refusal.\n"
      "\n"
      "  --device ID   the device of every dump given (default: the dump's file name\n"
      "                without its folder and without .bin); needed for a dump that\n"
      "                is no regular file (a pipe such as /dev/stdin)\n"
      "  --            ends the options: every argument after it is a file\n"
      "\n"
      "exit status:\n"
      "  0   every dump was added\n"
      "  2   usage error\n"
      "  3   a dump cannot be opened or is not a dump of this device family (the\n"
      "      others were added)\n"
      "  4   standard output could not be written (the dumps were added)\n"
      "  12  the ledger cannot be opened or written (not a ledger, damaged, made by\n"
      "      a newer version, read-only, disk full, busy for more than 10 seconds)\n"
      "  13  a dump disagrees with the ledger and was refused (the others were\n"
      "      added)\n",
      kUsage);
}

namespace {

// A pipe, a FIFO or a device: its name says nothing of a register. (A
// missing file or a folder fails later, as a dump that cannot be opened.)
bool IsStream(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

}  // namespace

int RunLedgerAddCommand(int argc, char** argv) {
  LedgerArgs args("add", kUsage, PrintLedgerAddHelp, false, false, true);
  if (!args.Parse(argc, argv)) return args.ParseExit();
  if (args.positionals().empty()) return args.Usage("no dump file given");
  if (args.selection().devices.size() > 1) return args.Usage("give --device once");
  // A device is never named after a file descriptor or a FIFO.
  if (args.selection().devices.empty())
    for (const std::string& dump : args.positionals())
      if (IsStream(dump)) return args.Usage("'" + dump + "' is no regular file: give --device");

  ConsoleUi ui;
  LedgerFile ledger;
  if (!args.Open(&ledger, LedgerReadWrite)) return kExitLedgerUnusable;

  bool unreadable = false, conflicts = false, unwritten = false;
  for (const std::string& dump : args.positionals()) {
    const std::string given = args.selection().devices.empty() ? DeviceOfDump(dump) : args.selection().devices[0];
    if (given.empty()) {
      std::fprintf(stderr, "taxoscope-cli ledger: '%s' names no device: give --device\n", dump.c_str());
      unreadable = true;
      continue;
    }
    const std::string device = LedgerDeviceId(given);
    DumpAddition added;
    std::string reason;
    AddDumpOutcome outcome = AddDumpFile(ledger, dump, given, UtcNowText(), &added, &reason);
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
    for (const LedgerConflict& copy : added.damagedCopies) SayDamagedCopy(dump, copy.number, copy.recordedAt);
    if (outcome == DumpDisagrees) {
      std::vector<int32_t> numbers;
      for (const LedgerConflict& conflict : added.conflicts) numbers.push_back(conflict.number);
      SayRefused(dump, numbers, device);
      conflicts = true;
    }
    std::string line = AddLine(dump, device, added.added, added.already, added.repaired, added.conflicts.size());
    if (!unwritten && (std::fputs(line.c_str(), stdout) < 0 || std::fflush(stdout) != 0)) {
      std::fprintf(stderr, "taxoscope-cli: cannot write to standard output: %s\n", std::strerror(errno));
      unwritten = true;
    }
  }
  if (unwritten) return kExitReportNotWritten;
  if (unreadable) return kExitDumpUnreadable;
  return conflicts ? kExitConflicts : kExitOk;
}
