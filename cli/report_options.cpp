#include "cli/report_options.h"

#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "fm/input_file.h"
#include "report/file_identity.h"
#include "res/resource.h"

bool IsOption(const char* arg) {
  return arg[0] == '-' && arg[1] != 0 && !(arg[1] >= '0' && arg[1] <= '9');
}

bool TakeOptionValue(int argc, char** argv, int* i, std::string* value, std::string* problem) {
  const char* option = argv[*i];
  if (*i + 1 >= argc) {
    *problem = std::string(option) + " needs a value";
    return false;
  }
  if (IsOption(argv[*i + 1])) {
    *problem = std::string(option) + " needs a value, not the option " + argv[*i + 1];
    return false;
  }
  *value = argv[++*i];
  return true;
}

ReportOptions::ReportOptions(ConsoleUi& ui, bool takesOpen) : ui_(ui), takesOpen_(takesOpen) {
  ui_.SetChecked(IDC_ALL_RECORDS, true);
}

ReportOptionResult ReportOptions::Take(int argc, char** argv, int* i) {
  const char* arg = argv[*i];
  if (takesOpen_ && !std::strcmp(arg, "--open")) {
    ui_.SetChecked(IDC_SHOW_RESULT, true);
    return ReportOptionTaken;
  }
  bool byDate = !std::strcmp(arg, "--by-date");
  if (!byDate && std::strcmp(arg, "--by-number") != 0) return NotReportOption;
  if (haveFilter_) {
    problem_ = "give at most one of --by-date and --by-number";
    return ReportOptionError;
  }
  if (*i + 2 >= argc) {
    problem_ = "a filter needs FROM and TO";
    return ReportOptionError;
  }
  for (int bound = 1; bound <= 2; ++bound) {
    if (IsOption(argv[*i + bound])) {
      problem_ = std::string(arg) + " needs FROM and TO, not the option " + argv[*i + bound];
      return ReportOptionError;
    }
  }
  haveFilter_ = true;
  // The texts go in as typed: the report run checks them with its own messages.
  ui_.SetChecked(IDC_ALL_RECORDS, false);
  ui_.SetChecked(byDate ? IDC_BY_DATE : IDC_BY_NUMBER, true);
  ui_.SetControlText(&ui_, IDC_FROM, argv[++*i]);
  ui_.SetControlText(&ui_, IDC_TO, argv[++*i]);
  return ReportOptionTaken;
}

int ReportExitStatus(ReportOutcome outcome) {
  switch (outcome) {
    case ReportWritten: return kExitOk;
    case ReportInvalidBound: return kExitInvalidBound;
    case ReportDumpUnreadable: return kExitDumpUnreadable;
    case ReportWriteFailed: break;
  }
  return kExitReportNotWritten;
}

std::string OutputOverDump(const std::string& out, const std::string& dump) {
  if (out == "-")
    return StdoutIsRegularFile(dump) ? "standard output is the dump '" + dump + "' itself" : std::string();
  return SameRegularFile(out, dump) ? "the output '" + out + "' is the dump '" + dump + "' itself" : std::string();
}

void PrintDumpOpenError(const std::string& dump) {
  CInputFileBin probe(dump.c_str());
  PrintDumpOpenError(dump, probe.OpenError());
}

void PrintDumpOpenError(const std::string& dump, int error) {
  std::fprintf(stderr, "taxoscope-cli: cannot open '%s': %s\n", dump.c_str(), std::strerror(error));
}
