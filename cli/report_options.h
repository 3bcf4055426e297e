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

// Looks at argv[*i]: --by-date FROM TO, --by-number FROM TO or --open. A
// taken option moves *i past its values. Starts the report type at "All
// records" on first use.
class ReportOptions {
 public:
  explicit ReportOptions(ConsoleUi& ui);
  ReportOptionResult Take(int argc, char** argv, int* i);
  const std::string& problem() const { return problem_; }

 private:
  ConsoleUi& ui_;
  bool haveFilter_ = false;
  std::string problem_;
};

int ReportExitStatus(ReportOutcome outcome);
