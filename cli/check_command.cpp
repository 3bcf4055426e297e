// taxoscope-cli check: is a dump sound, and where is it not. One unfiltered
// walk, the same as the report's; the findings in dump order.
#include <cstdio>
#include <cstring>
#include <string>

#include "check/dump_check.h"
#include "cli/commands.h"
#include "cli/walk_command.h"
#include "export/path_utf8.h"

namespace {

const char kUsage[] = "taxoscope-cli check DUMP [--format text|json] [--out FILE]";

}  // namespace

void PrintCheckHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Checks the integrity of the fiscal-memory dump DUMP: walks the whole dump as\n"
      "the report does and lists its findings in dump order, one line each:\n"
      "  SEVERITY KIND @OFFSET report N (DATE): detail\n"
      "OFFSET is the file position of the record's type byte; the report part is\n"
      "there for daily reports only, DATE as recorded (YYYY-MM-DD HH:MM). The last\n"
      "line counts them: N errors, N warnings, N notes.\n"
      "\n"
      "  error    crc             a record whose CRC fails (the report's CRC warnings)\n"
      "  error    mode-area-crc   a damaged record in the decimal-mode area, where the\n"
      "                           decimal-mode scan stops\n"
      "  error    decimal-flag    a daily report whose decimal flag is neither 0xAA nor\n"
      "                           0x55\n"
      "  warning  gap             report numbers missing between two consecutive\n"
      "                           daily reports (numbers count on 16 bits: 65535 is\n"
      "                           followed by 0)\n"
      "  warning  number-back     the same report number again, or a lower one\n"
      "  warning  clock-back      a daily report dated earlier than the one before\n"
      "  warning  unknown-record  a record of an unknown type\n"
      "  warning  cut-short       the dump ends inside a record\n"
      "  info     rate-change     a tax-rate record changes a rate in force\n"
      "  info     decimal-mode    a decimal-mode record: from which report number\n"
      "                           amounts are whole or in hundredths\n"
      "A file that is no dump of this device family at all (empty, erased memory\n"
      "only, no record with a valid CRC, longer than 2101247 bytes) gets one finding\n"
      "and no other:\n"
      "  error    not-a-dump      not a dump of this device family (REASON)\n"
      "\n"
      "  --format FORMAT   text (default), or json: one object with the dump, the\n"
      "                    findings and the counts\n"
      "  --out FILE        write to FILE instead of standard output ('-': standard\n"
      "                    output)\n"
      "  --                ends the options: what follows is DUMP, even a name that\n"
      "                    begins with '-'\n"
      "Examples of each kind: docs/check.md.\n"
      "\n"
      "exit status:\n"
      "  0   no error and no warning (notes allowed)\n"
      "  10  warnings but no error\n"
      "  11  at least one error\n"
      "  2   usage error\n"
      "  3   the dump cannot be opened (nothing written)\n"
      "  4   the output could not be written\n",
      kUsage);
}

int RunCheckCommand(int argc, char** argv) {
  WalkCommand command("check", kUsage, false, PrintCheckHelp);
  bool json = false;
  std::string out = "-";
  auto own = [&](int count, char** args, int* i, std::string* problem) {
    const char* arg = args[*i];
    if (std::strcmp(arg, "--format") != 0 && std::strcmp(arg, "--out") != 0) return NotReportOption;
    std::string value;
    if (!TakeOptionValue(count, args, i, &value, problem)) return ReportOptionError;
    if (!std::strcmp(arg, "--out")) {
      out = value;
    } else if (value == "json" || value == "text") {
      json = value == "json";
    } else {
      *problem = "unknown format " + value + " (text or json)";
      return ReportOptionError;
    }
    return ReportOptionTaken;
  };
  if (!command.Parse(argc, argv, own)) return command.parseStatus();
  if (command.GuardOutput(out) != kExitOk) return kExitUsage;

  int status = command.Load();
  if (status != kExitOk) return status;
  // The first walk tells whether the bytes are a dump at all, and where the
  // decimal-mode area's findings go; the second writes the findings as it
  // makes them, so that none is held.
  ModeAreaFindings area;
  if (!command.overCap()) {
    DumpCheck first(&area);
    status = command.Walk(first);
    if (status != kExitOk) return status;
  }
  const std::string reason = command.NotADump();
  FindingCounts counts;
  auto findings = [&](const FileBytesSink& write) {
    FindingsWriter::Out piece = [&write](const std::string& text) { write(text.data(), text.size()); };
    FindingsWriter writer =
        json ? FindingsWriter::Json(piece, "dump", PathAsUtf8(command.dump())) : FindingsWriter::Text(piece);
    if (!reason.empty()) {
      writer.Add(NotADumpFinding(reason));  // and nothing else: what was framed is no dump's
    } else {
      DumpOrder order(area, &writer);
      DumpCheck second(&order);
      command.Walk(second);
      order.Finish();
    }
    writer.Finish();
    counts = writer.counts();
  };
  if (!WriteCommandContent(out, findings)) return kExitReportNotWritten;
  return CheckExitStatus(counts);
}
