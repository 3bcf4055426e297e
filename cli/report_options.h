#pragma once
// What `report` and `read` share: the filter and "show result" options, which
// fill the dialog's report controls, and the exit status of a report run.
#include <string>

#include "cli/console_ui.h"
#include "report/report_run.h"

// Exit statuses of a report run, the same for both commands.
constexpr int kExitInvalidBound = 1;
constexpr int kExitDumpUnreadable = 3;
constexpr int kExitReportNotWritten = 4;

enum ReportOptionResult { NotReportOption, ReportOptionTaken, ReportOptionError };

// Whether an argument is an option, not a value: it begins with '-' and is
// neither "-" (standard output) nor a negative number ("-1" is a report
// number).
bool IsOption(const char* arg);

// The value after the option at argv[*i], moving *i to it. False, with the
// problem, when there is none or the next argument is itself an option.
bool TakeOptionValue(int argc, char** argv, int* i, std::string* value, std::string* problem);

// Looks at argv[*i]: --by-date FROM TO, --by-number FROM TO or, where the
// command opens what it wrote, --open. A taken option moves *i past its
// values. Starts the report type at "All records".
class ReportOptions {
 public:
  explicit ReportOptions(ConsoleUi& ui, bool takesOpen = true);
  ReportOptionResult Take(int argc, char** argv, int* i);
  const std::string& problem() const { return problem_; }

 private:
  ConsoleUi& ui_;
  bool takesOpen_;
  bool haveFilter_ = false;
  std::string problem_;
};

int ReportExitStatus(ReportOutcome outcome);

// Writing `out` ("-": standard output) would replace the dump itself, the
// one copy of a register's memory: the same file under any name (a symbolic
// or hard link, "./"). The problem for the usage message, or "".
std::string OutputOverDump(const std::string& out, const std::string& dump);

// "taxoscope-cli: cannot open 'DUMP': reason" on stderr, after a run found
// that the dump does not open.
void PrintDumpOpenError(const std::string& dump);
// The same with the errno of the failed open: a stream cannot be opened again
// to learn it.
void PrintDumpOpenError(const std::string& dump, int error);
