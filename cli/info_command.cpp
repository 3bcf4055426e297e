// taxoscope-cli info: what is in a dump and whether it is damaged, at a glance.
#include <cstdio>
#include <string>

#include "check/dump_check.h"
#include "cli/commands.h"
#include "cli/walk_command.h"
#include "export/dump_overview.h"

namespace {

const char kUsage[] = "taxoscope-cli info DUMP";

}  // namespace

void PrintInfoHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Walks the whole fiscal-memory dump DUMP and prints one 'key: value' line each:\n"
      "  file, size              the dump as given and its size in bytes\n"
      "  model variant           2 or 3, as the walk ends\n"
      "  daily reports           every daily-report record\n"
      "  report numbers, dates   the first and the last daily report in dump order\n"
      "                          (YYYY-MM-DD HH:MM as recorded), or none\n"
      "  crc failures            records of any type whose CRC failed (the report's\n"
      "                          CRC warnings)\n"
      "  unknown records         records of an unknown type (11, 14 and above)\n"
      "  decimal-mode changes    decimal-mode records\n"
      "  tax-rate records        records that carry tax rates\n"
      "  record area             how much of the area where the records are written\n"
      "                          is used: where the last record before the\n"
      "                          decimal-mode area ends, over the length from the\n"
      "                          image's start to that area, as 'N.N%% written'\n"
      "                          (rounded down: 100.0%% is a full memory, which can\n"
      "                          close no more days); an image that ends before\n"
      "                          that area gives 'at least N.N%% written (...)'\n"
      "  findings                what 'taxoscope-cli check' finds in the same walk:\n"
      "                          N errors, N warnings, N notes\n"
      "A file that is no dump of this device family (empty, erased memory only, no\n"
      "record with a valid CRC, longer than 2101247 bytes) gets its file and size\n"
      "lines, then 'not a dump of this device family (REASON)' on a line of its own,\n"
      "and the findings of check: 1 error.\n"
      "\n"
      "  --   ends the options: what follows is DUMP, even a name that begins with '-'\n"
      "\n"
      "exit status:\n"
      "  0  the dump was read\n"
      "  2  usage error\n"
      "  3  the dump cannot be opened (nothing printed)\n"
      "  4  standard output could not be written\n",
      kUsage);
}

int RunInfoCommand(int argc, char** argv) {
  WalkCommand command("info", kUsage, false, PrintInfoHelp);
  if (!command.Parse(argc, argv)) return command.parseStatus();
  if (command.GuardOutput("-") != kExitOk) return kExitUsage;
  int status = command.Load();
  if (status != kExitOk) return status;
  DumpOverview overview(command.dump(), command.image().size());
  FindingCounter counter;
  DumpCheck check(&counter);
  if (!command.overCap()) {
    ReportSinks both;
    both.Add(&overview);
    both.Add(&check);
    status = command.Walk(both);
    if (status != kExitOk) return status;
  }
  // What the walk framed in bytes that are no dump would pass for a dump's
  // content: only the file and why it is none, and check's one finding.
  std::string reason = command.NotADump();
  FindingCounts counts = reason.empty() ? counter.counts : CountFindings({NotADumpFinding(reason)});
  std::string text = reason.empty() ? overview.Text() : overview.NotADumpText(reason);
  text += "findings: " + CountsText(counts) + "\n";
  return WriteCommandOutput("-", text) ? kExitOk : kExitReportNotWritten;
}
