#pragma once
// What export, summary, info and check share: a dump file, for export and
// summary the filter options of 'report', and walks of the dump with the
// consumers of the command only (no text report is written).
//
// The dump is read whole first, at most one byte over the image cap, and
// walked from memory: a pipe, a FIFO or a device then gives exactly what the
// same bytes in a file give, and an input longer than any dump costs no more
// than a dump.
#include <functional>
#include <string>

#include "cli/commands.h"
#include "cli/console_ui.h"
#include "cli/report_options.h"
#include "fm/dump_family.h"

class WalkCommand {
 public:
  // A command-specific option at argv[*i]: taken (moving *i past its
  // values), not known, or wrong (with the problem).
  using OwnOption = std::function<ReportOptionResult(int argc, char** argv, int* i, std::string* problem)>;

  // help prints the command's --help; takesOpen: --open is an option too
  // (the report's).
  WalkCommand(const char* name, const char* usage, bool takesFilter, void (*help)(), bool takesOpen = false);

  // Reads the arguments: options (where an option may stand, --help and -h
  // print the help), and one DUMP; "--" ends the options, so that a dump
  // whose name begins with '-' can be given. An empty argument is a usage
  // error wherever it stands. False when the command is done: after the help
  // or the usage message, with the exit status in parseStatus().
  bool Parse(int argc, char** argv, const OwnOption& own = nullptr);
  int parseStatus() const { return parseStatus_; }
  // The usage message for a problem found later; gives the usage exit status.
  int Usage(const std::string& problem) const;

  const std::string& dump() const { return dump_; }
  // 0 when the command may write `out` ("-": standard output); 2 after the
  // usage message when that is the dump itself.
  int GuardOutput(const std::string& out) const;

  // Checks the filter, then reads the dump whole. 0, or the exit status
  // after its message: 1 for an invalid bound (whatever the dump), 3 for a
  // dump that does not open.
  int Load();
  // The bytes read (the first kDumpImageCap + 1 of a longer input).
  const DumpBytes& image() const { return image_; }
  // The input is longer than any dump: it is no dump, and is not walked.
  bool overCap() const { return overCap_; }

  // Walks the bytes read with the filter, feeding sink alone. 0, or 1 after
  // the message for an invalid bound.
  int Walk(ReportSink& sink);
  // After Walk, or at once for an input over the cap: why the bytes are no
  // dump of this device family, or "" when they are one.
  std::string NotADump() const;

  // For the commands that summarise a dump: 0 when the bytes are a dump of
  // this device family; otherwise 3 after "DUMP: not a dump of this device
  // family (REASON)".
  int RefuseNotADump() const;

  // The run's request: the dump and the filter as typed, and once the dump
  // is loaded its bytes (before, the run reads the file itself).
  ReportRequest Request();

 private:
  const char* name_;
  const char* usage_;
  bool takesFilter_;
  void (*help_)();
  int parseStatus_ = kExitUsage;
  bool loaded_ = false;
  ConsoleUi ui_;
  ReportOptions options_;
  std::string dump_;
  DumpBytes image_;
  bool overCap_ = false;
  DumpFamilyCheck family_;
};

// Writes text to the file (replaced atomically) or, for "-", to standard
// output byte for byte. False, after saying why, when it was not written in full.
bool WriteCommandOutput(const std::string& out, const std::string& text);
// The same for content made piece by piece (see WriteFileContent): standard
// output gets each piece as it is made.
bool WriteCommandContent(const std::string& out, const FileContent& content);
