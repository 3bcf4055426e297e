// taxoscope-cli ledger devices, summary and export: what the ledger holds,
// read back through the same writers as a dump's exports.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/console_ui.h"
#include "cli/ledger_args.h"
#include "cli/ledger_commands.h"
#include "cli/walk_command.h"
#include "export/ledger_export.h"
#include "export/terminal_summary.h"

namespace {

const char kDevicesUsage[] = "taxoscope-cli ledger devices LEDGER [--dumps]";
const char kSummaryUsage[] = "taxoscope-cli ledger summary LEDGER [--device ID]... [--by-date FROM TO]";
const char kExportUsage[] =
    "taxoscope-cli ledger export LEDGER [--device ID]... [--by-date FROM TO | --by-number FROM TO] "
    "[--format csv|json|html] [--months [--per-device]] [--excel] [--out FILE]";

const char kFilterHelp[] =
    "  --device ID           only this device; give it again for more (default:\n"
    "                        every device)\n"
    "  --by-date FROM TO     only the daily reports recorded from FROM to TO, typed\n"
    "                        dd/mm/yyyy (both days included)\n";

const char kEndOfOptionsHelp[] = "  --                    ends the options: what follows is the ledger file\n";

const char kLedgerExitHelp[] =
    "  12  the ledger cannot be opened or read (missing, not a ledger, damaged,\n"
    "      made by a newer version, busy for more than 10 seconds)\n";

ExportFilter FilterAsTyped(const LedgerSelection& selection) {
  ExportFilter filter;
  filter.type = selection.type;
  if (selection.type != ReportAll) {
    filter.from = selection.fromText;
    filter.to = selection.toText;
  }
  return filter;
}

// Opens the ledger, begins the command's one read and resolves the
// selection; false with the exit status.
bool OpenSelection(const LedgerArgs& args, LedgerFile* ledger, LedgerReadSnapshot* snapshot,
                   ResolvedSelection* selection, int* status) {
  if (!args.OpenForReading(ledger, snapshot)) {
    *status = kExitLedgerUnusable;
    return false;
  }
  return args.Resolve(*ledger, selection, status);
}

}  // namespace

void PrintLedgerDevicesHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Lists the devices of the ledger LEDGER, one line each: the id, the daily\n"
      "reports held, the first and last report number and date (by number), the\n"
      "dumps added and when the last one was added (UTC).\n"
      "\n"
      "  --dumps   one line per dump added instead: its device, when it was added\n"
      "            (UTC), its daily reports, of them new and repaired, its SHA-256\n"
      "            (what 'ledger remove' takes) and its name as given to add\n"
      "  --        ends the options: what follows is the ledger file\n"
      "\n"
      "exit status:\n"
      "  0   the list was printed\n"
      "  2   usage error\n"
      "  4   standard output could not be written\n"
      "%s",
      kDevicesUsage, kLedgerExitHelp);
}

namespace {

// ledger devices --dumps: one line per dump.
int ListDumpLines(const LedgerArgs& args, LedgerFile& ledger) {
  std::vector<LedgerDump> dumps;
  std::string reason;
  if (!ListDumps(ledger, &dumps, &reason)) return args.LedgerError(ledger, "read", reason);
  std::vector<std::vector<std::string>> rows = {{"device", "added", "reports", "new", "repaired", "sha256", "name"}};
  for (const LedgerDump& d : dumps)
    rows.push_back({d.device, d.addedAt, std::to_string(d.reports), std::to_string(d.newReports),
                    std::to_string(d.repaired), d.sha256, d.name});
  return WriteCommandOutput("-", AlignedTable(rows)) ? kExitOk : kExitReportNotWritten;
}

}  // namespace

int RunLedgerDevicesCommand(int argc, char** argv) {
  LedgerArgs args("devices", kDevicesUsage, PrintLedgerDevicesHelp, false, false, false);
  bool listDumps = false;
  auto own = [&](int, char** items, int* i, std::string*) {
    if (std::strcmp(items[*i], "--dumps") != 0) return NotReportOption;
    listDumps = true;
    return ReportOptionTaken;
  };
  if (!args.Parse(argc, argv, own)) return args.ParseExit();
  if (!args.selection().devices.empty()) return args.Usage("unknown option --device");
  LedgerFile ledger;
  LedgerReadSnapshot snapshot(ledger);
  if (!args.OpenForReading(&ledger, &snapshot)) return kExitLedgerUnusable;
  if (listDumps) return ListDumpLines(args, ledger);
  std::vector<LedgerDevice> devices;
  std::string reason;
  if (!ListDevices(ledger, &devices, &reason)) return args.LedgerError(ledger, "read", reason);
  std::vector<std::vector<std::string>> rows = {
      {"device", "reports", "first", "last", "first date", "last date", "dumps", "last added"}};
  for (const LedgerDevice& d : devices) {
    bool any = d.reports > 0;
    rows.push_back({d.id, std::to_string(d.reports), any ? std::to_string(d.firstNumber) : "-",
                    any ? std::to_string(d.lastNumber) : "-", any ? d.firstAt : "-", any ? d.lastAt : "-",
                    std::to_string(d.dumps), d.lastAdded});
  }
  return WriteCommandOutput("-", AlignedTable(rows)) ? kExitOk : kExitReportNotWritten;
}

void PrintLedgerSummaryHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Prints the monthly VAT table of the selected devices of the ledger LEDGER\n"
      "(UTF-8): one line per calendar month with the registers and daily reports in\n"
      "it and the turnover and tax of every tax group that has turnover, summed over\n"
      "the registers, then the totals. A register's totals are its text report's.\n"
      "\n"
      "%s"
      "%s"
      "\n"
      "exit status:\n"
      "  0   the table was printed\n"
      "  1   FROM or TO is not a valid bound, or a device is not in the ledger\n"
      "  2   usage error\n"
      "  4   standard output could not be written\n"
      "%s",
      kSummaryUsage, kFilterHelp, kEndOfOptionsHelp, kLedgerExitHelp);
}

int RunLedgerSummaryCommand(int argc, char** argv) {
  LedgerArgs args("summary", kSummaryUsage, PrintLedgerSummaryHelp, true, false, false);
  if (!args.Parse(argc, argv)) return args.ParseExit();
  LedgerFile ledger;
  LedgerReadSnapshot snapshot(ledger);
  ResolvedSelection selection;
  int status = kExitOk;
  if (!OpenSelection(args, &ledger, &snapshot, &selection, &status)) return status;
  LedgerSelectionSums sums;
  std::string reason;
  if (!QuerySums(ledger, selection, &sums, &reason)) return args.LedgerError(ledger, "read", reason);
  ConsoleUtf8Output();
  return WriteCommandOutput("-", LedgerSummaryText(sums)) ? kExitOk : kExitReportNotWritten;
}

void PrintLedgerExportHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Exports the daily reports of the selected devices of the ledger LEDGER. The\n"
      "formats are those of 'taxoscope-cli export' with the device added; they are\n"
      "described in docs/ledger.md.\n"
      "\n"
      "%s"
      "  --by-number FROM TO   only the daily reports numbered FROM to TO of the one\n"
      "                        device given with --device\n"
      "  --format FORMAT       csv (default): one row per daily report, device first,\n"
      "                        by device, then date-time, then number; json: one\n"
      "                        object with the devices, the reports, the months and\n"
      "                        the totals; html: the monthly table over the devices,\n"
      "                        a chart by device, the totals per device and tax group\n"
      "  --months              CSV: one row per calendar month over the devices (the\n"
      "                        monthly VAT table)\n"
      "  --per-device          with --months: one row per device and month\n"
      "  --excel               CSV: the form Excel opens in a Bulgarian locale\n"
      "  --out FILE            the file to write (default LEDGER.csv, LEDGER.json or\n"
      "                        LEDGER.html); '-' writes to standard output\n"
      "%s"
      "\n"
      "exit status:\n"
      "  0   the export was written\n"
      "  1   FROM or TO is not a valid bound, or a device is not in the ledger\n"
      "  2   usage error\n"
      "  4   the export could not be written\n"
      "%s",
      kExportUsage, kFilterHelp, kEndOfOptionsHelp, kLedgerExitHelp);
}

int RunLedgerExportCommand(int argc, char** argv) {
  LedgerArgs args("export", kExportUsage, PrintLedgerExportHelp, true, true, false);
  std::string format = "csv", out;
  bool months = false, perDevice = false, excel = false;
  auto own = [&](int count, char** items, int* i, std::string* problem) {
    const char* arg = items[*i];
    if (!std::strcmp(arg, "--format")) {
      if (!LedgerArgs::TakeValue(count, items, i, "a value", &format, problem)) return ReportOptionError;
      if (format != "csv" && format != "json" && format != "html") {
        *problem = "unknown format " + format + " (csv, json or html)";
        return ReportOptionError;
      }
    } else if (!std::strcmp(arg, "--out")) {
      if (!LedgerArgs::TakeValue(count, items, i, "a file name", &out, problem)) return ReportOptionError;
    } else if (!std::strcmp(arg, "--months")) {
      months = true;
    } else if (!std::strcmp(arg, "--per-device")) {
      perDevice = true;
    } else if (!std::strcmp(arg, "--excel")) {
      excel = true;
    } else {
      return NotReportOption;
    }
    return ReportOptionTaken;
  };
  if (!args.Parse(argc, argv, own)) return args.ParseExit();
  if ((months || excel) && format != "csv") return args.Usage("--months and --excel are forms of the CSV");
  if (perDevice && !months) return args.Usage("--per-device is a form of --months");

  LedgerFile ledger;
  LedgerReadSnapshot snapshot(ledger);
  ResolvedSelection selection;
  int status = kExitOk;
  if (!OpenSelection(args, &ledger, &snapshot, &selection, &status)) return status;
  LedgerExportHeading heading{args.ledgerPath(), FilterAsTyped(args.selection())};
  const CsvDialect dialect = excel ? kExcelCsv : kPlainCsv;
  std::string text, reason;
  LedgerSelectionSums sums;
  bool ok = true;
  if (format == "csv" && !months) {
    LedgerReportsCsv csv(dialect);
    ok = ForEachReport(ledger, selection, [&](const std::string& d, const DailyReport& r) { csv.Add(d, r); }, &reason);
    text = csv.Text();
  } else if (!QuerySums(ledger, selection, &sums, &reason)) {
    ok = false;
  } else if (format == "csv") {
    text = LedgerMonthsCsv(sums, perDevice, dialect);
  } else if (format == "html") {
    text = LedgerHtml(heading, sums);
  } else {
    LedgerJson json(heading, sums);
    ok = ForEachReport(ledger, selection, [&](const std::string& d, const DailyReport& r) { json.Add(d, r); },
                       &reason);
    text = json.Finish();
  }
  if (!ok) return args.LedgerError(ledger, "read", reason);
  if (out.empty()) out = args.ledgerPath() + "." + format;
  ConsoleUi ui;  // a file that cannot be written is named, as by every other command
  return WriteCommandOutput(out, text) ? kExitOk : kExitReportNotWritten;
}
