// taxoscope-cli ledger remove: takes back the add of each dump given, by its
// file or by the SHA-256 that 'ledger devices --dumps' lists.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/ledger_args.h"
#include "cli/ledger_commands.h"
#include "fm/dump_image.h"
#include "ledger/ledger_add.h"
#include "ledger/ledger_remove.h"
#include "ledger/sha256.h"

namespace {

const char kUsage[] = "taxoscope-cli ledger remove LEDGER DUMP... [--device ID]";
constexpr int kExitNotInLedger = 1;

// 64 hexadecimal digits, in lower case; "" for anything else.
std::string AsSha256(const std::string& text) {
  if (text.size() != 64) return std::string();
  std::string lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::string();
  }
  return lower;
}

}  // namespace

void PrintLedgerRemoveHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Takes back the add of each DUMP from the ledger LEDGER, as if it had never\n"
      "been added: the reports that no other dump of the device holds leave the\n"
      "ledger, and the counts and sums become those of the other dumps. DUMP is the\n"
      "dump file (its bytes name it) or the SHA-256 that 'taxoscope-cli ledger\n"
      "devices LEDGER --dumps' lists. For each dump one line:\n"
      "  DUMP: device ID, N removed, M still held by other dumps\n"
      "\n"
      "  --device ID   the device of every dump given (default: the dump file's name\n"
      "                without its folder and without .bin; for a SHA-256, the one\n"
      "                device that holds it); needed for a dump that is no regular\n"
      "                file\n"
      "  --            ends the options: every argument after it is a dump\n"
      "\n"
      "exit status:\n"
      "  0   every dump was removed\n"
      "  1   a dump is not in the ledger (the others were removed)\n"
      "  2   usage error\n"
      "  3   a dump file cannot be opened (the others were removed)\n"
      "  4   standard output could not be written (the dumps were removed)\n"
      "  12  the ledger cannot be opened or written (missing, not a ledger,\n"
      "      damaged, made by a newer version, read-only, disk full, busy for more\n"
      "      than 10 seconds)\n",
      kUsage);
}

int RunLedgerRemoveCommand(int argc, char** argv) {
  LedgerArgs args("remove", kUsage, PrintLedgerRemoveHelp, false, false, true);
  if (!args.Parse(argc, argv)) return args.ParseExit();
  if (args.positionals().empty()) return args.Usage("no dump given");
  if (args.selection().devices.size() > 1) return args.Usage("give --device once");
  const std::string given = args.selection().devices.empty() ? std::string() : args.selection().devices[0];

  LedgerFile ledger;
  if (!args.Open(&ledger, LedgerReadOnly)) return kExitLedgerUnusable;
  bool missing = false, unreadable = false, unwritten = false;
  for (const std::string& dump : args.positionals()) {
    struct stat info;
    const bool file = stat(dump.c_str(), &info) == 0;
    std::string sha256 = file ? std::string() : AsSha256(dump);
    std::vector<std::string> devices;
    std::string reason;
    if (file) {
      if (given.empty() && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
        return args.Usage("'" + dump + "' is no regular file: give --device");
      DumpBytes bytes;
      int error = 0;
      if (LoadDumpImage(dump, &bytes, &error) == DumpOpenFailed) {
        PrintDumpOpenError(dump);
        unreadable = true;
        continue;
      }
      sha256 = Sha256Hex(bytes.data(), bytes.size());
      devices.push_back(LedgerDeviceId(given.empty() ? DeviceOfDump(dump) : given));
    } else if (sha256.empty()) {
      PrintDumpOpenError(dump);
      unreadable = true;
      continue;
    } else if (!given.empty()) {
      devices.push_back(LedgerDeviceId(given));
    } else if (!DevicesWithDump(ledger, sha256, &devices, &reason)) {
      return args.LedgerError(ledger, "read", reason);
    } else if (devices.size() > 1) {
      return args.Usage("the ledger holds " + dump + " for " + std::to_string(devices.size()) +
                        " devices: give --device");
    }
    DumpRemoval removal;
    RemoveDumpOutcome outcome =
        devices.empty() ? DumpNotInLedger : RemoveDump(ledger, devices[0], sha256, &removal, &reason);
    if (outcome == RemoveFailed) return args.LedgerError(ledger, "write", reason);
    if (outcome == DumpNotInLedger) {
      std::fprintf(stderr, "taxoscope-cli ledger: %s is not in '%s'%s\n", dump.c_str(), args.ledgerPath().c_str(),
                   devices.empty() ? "" : (" for device " + devices[0]).c_str());
      missing = true;
      continue;
    }
    std::string line = dump + ": device " + devices[0] + ", " + std::to_string(removal.removed) + " removed, " +
                       std::to_string(removal.kept) + " still held by other dumps\n";
    if (!unwritten && (std::fputs(line.c_str(), stdout) < 0 || std::fflush(stdout) != 0)) {
      std::perror("taxoscope-cli: cannot write to standard output");
      unwritten = true;
    }
  }
  if (unwritten) return kExitReportNotWritten;
  if (unreadable) return kExitDumpUnreadable;
  return missing ? kExitNotInLedger : kExitOk;
}
