// taxoscope-cli export: the daily reports of a dump as CSV, JSON or HTML for
// other programs. The walk is the report run's; the text report is not written.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/walk_command.h"
#include "export/export_outputs.h"

namespace {

const char kUsage[] =
    "taxoscope-cli export DUMP [--by-date FROM TO | --by-number FROM TO] [--format csv|json|html] "
    "[--months] [--excel] [--out FILE]";

}  // namespace

void PrintExportHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Exports the daily reports of the fiscal-memory dump DUMP for other programs.\n"
      "The text report is not written. The formats are described in docs/export.md.\n"
      "\n"
      "  --by-date FROM TO     only the daily reports from FROM to TO, typed dd/mm/yyyy\n"
      "                        (both days included)\n"
      "  --by-number FROM TO   only the daily reports numbered FROM to TO; a number may\n"
      "                        be decimal, octal (017) or hexadecimal (0x1A)\n"
      "  --format FORMAT       csv (default): UTF-8, comma-separated, CR LF, one row\n"
      "                        per daily report; json: one object with the reports, the\n"
      "                        months and the totals; html: one self-contained page\n"
      "  --months              CSV: one row per calendar month instead (the monthly VAT\n"
      "                        table)\n"
      "  --excel               CSV: the form Excel opens in a Bulgarian locale (UTF-8\n"
      "                        with a byte-order mark, ';' between fields, ',' in amounts)\n"
      "  --out FILE            the file to write (default DUMP.csv, DUMP.json or\n"
      "                        DUMP.html); '-' writes to standard output\n"
      "  --                    ends the options: what follows is DUMP, even a name\n"
      "                        that begins with '-'\n"
      "Without a filter every daily report is taken.\n"
      "\n"
      "exit status:\n"
      "  0  the export was written\n"
      "  1  FROM or TO is not a valid bound (nothing written)\n"
      "  2  usage error\n"
      "  3  the dump cannot be opened, or is no dump of this device family (empty,\n"
      "     erased memory only, no record with a valid CRC, longer than 2101247\n"
      "     bytes): nothing written\n"
      "  4  the export could not be written\n",
      kUsage);
}

int RunExportCommand(int argc, char** argv) {
  WalkCommand command("export", kUsage, true, PrintExportHelp);
  ExportFormat format = ExportCsv;
  bool months = false, excel = false;
  std::string out;
  auto own = [&](int count, char** args, int* i, std::string* problem) {
    const char* arg = args[*i];
    if (!std::strcmp(arg, "--format")) {
      std::string value;
      if (!TakeOptionValue(count, args, i, &value, problem)) return ReportOptionError;
      if (value == "csv") {
        format = ExportCsv;
      } else if (value == "json") {
        format = ExportJson;
      } else if (value == "html") {
        format = ExportHtml;
      } else {
        *problem = "unknown format " + value + " (csv, json or html)";
        return ReportOptionError;
      }
    } else if (!std::strcmp(arg, "--out")) {
      if (!TakeOptionValue(count, args, i, &out, problem)) return ReportOptionError;
    } else if (!std::strcmp(arg, "--months")) {
      months = true;
    } else if (!std::strcmp(arg, "--excel")) {
      excel = true;
    } else {
      return NotReportOption;
    }
    return ReportOptionTaken;
  };
  if (!command.Parse(argc, argv, own)) return command.parseStatus();
  if ((months || excel) && format != ExportCsv) return command.Usage("--months and --excel are forms of the CSV");

  std::unique_ptr<ExportOutput> output = MakeExport(format, months, excel);
  if (out.empty()) out = command.dump() + output->extension();
  if (command.GuardOutput(out) != kExitOk) return kExitUsage;
  int status = command.Load();
  if (status == kExitOk && command.overCap()) status = command.RefuseNotADump();
  if (status != kExitOk) return status;
  output->Begin(command.Request());
  status = command.Walk(*output);
  if (status == kExitOk) status = command.RefuseNotADump();
  if (status != kExitOk) return status;
  return WriteCommandOutput(out, output->Text()) ? kExitOk : kExitReportNotWritten;
}
