#pragma once
// What the ledger subcommands share: the ledger file (the first argument),
// --device ID (any number of times), the filter options where a subcommand
// takes them, the exit statuses and the opening of the ledger with its
// message.
#include <functional>
#include <string>
#include <vector>

#include "cli/report_options.h"
#include "ledger/ledger_file.h"
#include "ledger/ledger_query.h"

// Exit statuses of the ledger beyond those of a report run.
constexpr int kExitLedgerUnusable = 12;
constexpr int kExitConflicts = 13;

class LedgerArgs {
 public:
  using OwnOption = std::function<ReportOptionResult(int argc, char** argv, int* i, std::string* problem)>;

  // filters: which of --by-date and --by-number the subcommand takes; help
  // prints the subcommand's --help.
  LedgerArgs(const char* name, const char* usage, void (*help)(), bool byDate, bool byNumber, bool morePositionals);

  // Reads the arguments: --help or -h where an option may stand prints the
  // help, "--" ends the options, an empty argument is a usage error. False
  // after the help or the usage message; ParseExit() then gives the status.
  bool Parse(int argc, char** argv, const OwnOption& own = nullptr);
  int ParseExit() const;
  int Usage(const std::string& problem) const;

  // The value of the option at argv[*i] (moving *i to it): present, not
  // empty, and no option itself. Otherwise false with the problem.
  static bool TakeValue(int argc, char** argv, int* i, const char* what, std::string* value, std::string* problem);

  const std::string& ledgerPath() const { return ledgerPath_; }
  const std::vector<std::string>& positionals() const { return positionals_; }
  const LedgerSelection& selection() const { return selection_; }

  // Opens the ledger; false after "taxoscope-cli ledger: cannot open ..." on stderr.
  bool Open(LedgerFile* ledger, LedgerAccess access) const;
  // Opens the ledger for reading and begins the command's one read
  // transaction; false after the message.
  bool OpenForReading(LedgerFile* ledger, LedgerReadSnapshot* snapshot) const;
  // The selection in the ledger's terms; otherwise the exit status after its
  // message (1 for a bound or a device that is not valid, 12 for a ledger
  // that cannot be read).
  bool Resolve(LedgerFile& ledger, ResolvedSelection* resolved, int* status) const;
  // "taxoscope-cli ledger: cannot read/write 'LEDGER': reason" with status
  // 12; for a damaged ledger, says so and names 'ledger check'.
  int LedgerError(const LedgerFile& ledger, const char* what, const std::string& reason) const;

 private:
  const char* name_;
  const char* usage_;
  void (*help_)();
  bool helped_ = false;
  bool byDate_, byNumber_, morePositionals_;
  std::string ledgerPath_;
  std::vector<std::string> positionals_;
  LedgerSelection selection_;
};
