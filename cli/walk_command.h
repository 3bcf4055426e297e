#pragma once
// What export, summary and info share: a dump file, for export and summary
// the filter options of 'report', and one walk of the dump with the
// consumers of the command only (no text report is written).
#include <functional>
#include <string>

#include "cli/console_ui.h"
#include "cli/report_options.h"

class WalkCommand {
 public:
  // A command-specific option at argv[*i]: taken (moving *i past its
  // values), not known, or wrong (with the problem).
  using OwnOption = std::function<ReportOptionResult(int argc, char** argv, int* i, std::string* problem)>;

  WalkCommand(const char* name, const char* usage, bool takesFilter);

  // Reads the arguments; false after the usage message.
  bool Parse(int argc, char** argv, const OwnOption& own = nullptr);
  // The usage message for a problem found later; gives the usage exit status.
  int Usage(const std::string& problem) const;

  const std::string& dump() const { return dump_; }
  // Walks the dump with the filter, feeding sink alone. The exit status of a
  // report run: 0, or 1 for an invalid bound, 3 for a dump that does not open
  // (each with its message).
  int Walk(ReportSink& sink);
  // The run's request: the dump and the filter as typed.
  ReportRequest Request();

 private:
  const char* name_;
  const char* usage_;
  bool takesFilter_;
  ConsoleUi ui_;
  ReportOptions options_;
  std::string dump_;
};

// Writes text to the file (replaced atomically) or, for "-", to standard
// output byte for byte. False, after saying why, when it was not written in full.
bool WriteCommandOutput(const std::string& out, const std::string& text);
