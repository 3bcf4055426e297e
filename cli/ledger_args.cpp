#include "cli/ledger_args.h"

#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "report/report_run.h"

LedgerArgs::LedgerArgs(const char* name, const char* usage, void (*help)(), bool byDate, bool byNumber,
                       bool morePositionals)
    : name_(name), usage_(usage), help_(help), byDate_(byDate), byNumber_(byNumber), morePositionals_(morePositionals) {}

int LedgerArgs::Usage(const std::string& problem) const {
  std::fprintf(stderr, "taxoscope-cli ledger %s: %s\nusage: %s\n", name_, problem.c_str(), usage_);
  return kExitUsage;
}

int LedgerArgs::ParseExit() const { return helped_ ? kExitOk : kExitUsage; }

bool LedgerArgs::TakeValue(int argc, char** argv, int* i, const char* what, std::string* value,
                           std::string* problem) {
  const char* option = argv[*i];
  if (*i + 1 >= argc || !argv[*i + 1][0] || IsOption(argv[*i + 1])) {
    *problem = std::string(option) + " needs " + what;
    return false;
  }
  *value = argv[++*i];
  return true;
}

bool LedgerArgs::Parse(int argc, char** argv, const OwnOption& own) {
  bool options = true;
  std::string problem;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (!arg[0]) {
      Usage("an argument is empty");
      return false;
    }
    if (options && !std::strcmp(arg, "--")) {
      options = false;
      continue;
    }
    if (!options) {
      // After "--" every argument is a file.
    } else if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
      help_();
      helped_ = true;
      return false;
    } else if (!std::strcmp(arg, "--device")) {
      std::string id;
      if (!TakeValue(argc, argv, &i, "an id", &id, &problem)) {
        Usage(problem);
        return false;
      }
      selection_.devices.push_back(id);
      continue;
    } else if ((!std::strcmp(arg, "--by-date") && byDate_) || (!std::strcmp(arg, "--by-number") && byNumber_)) {
      if (selection_.type != ReportAll) {
        Usage(byNumber_ ? "give at most one of --by-date and --by-number" : "give --by-date once");
        return false;
      }
      std::string from, to;
      if (!TakeValue(argc, argv, &i, "FROM and TO", &from, &problem) ||
          !TakeValue(argc, argv, &i, "FROM and TO", &to, &problem)) {
        Usage(std::string(arg) + " needs FROM and TO");
        return false;
      }
      selection_.type = !std::strcmp(arg, "--by-date") ? ReportByDate : ReportByNumber;
      selection_.fromText = from;
      selection_.toText = to;
      continue;
    } else if (own) {
      ReportOptionResult taken = own(argc, argv, &i, &problem);
      if (taken == ReportOptionError) {
        Usage(problem);
        return false;
      }
      if (taken == ReportOptionTaken) continue;
    }
    if (options && arg[0] == '-' && arg[1] != 0) {
      Usage(std::string("unknown option ") + arg);
      return false;
    }
    if (ledgerPath_.empty()) {
      ledgerPath_ = arg;
    } else if (morePositionals_) {
      positionals_.push_back(arg);
    } else {
      Usage("give one ledger file");
      return false;
    }
  }
  if (ledgerPath_.empty()) {
    Usage("no ledger file given");
    return false;
  }
  if (selection_.type == ReportByNumber && selection_.devices.size() != 1) {
    Usage("--by-number needs exactly one --device");
    return false;
  }
  return true;
}

bool LedgerArgs::Open(LedgerFile* ledger, LedgerAccess access) const {
  const std::string path = ledgerPath_;
  ledger->SetWaitNotice(
      [path] { std::fprintf(stderr, "waiting for %s (in use by another process)\n", path.c_str()); });
  std::string reason;
  if (ledger->Open(ledgerPath_, access, &reason)) return true;
  LedgerError(*ledger, "open", reason);
  return false;
}

bool LedgerArgs::OpenForReading(LedgerFile* ledger, LedgerReadSnapshot* snapshot) const {
  if (!Open(ledger, LedgerReadOnly)) return false;
  std::string reason;
  if (snapshot->Begin(&reason)) return true;
  LedgerError(*ledger, "read", reason);
  return false;
}

int LedgerArgs::LedgerError(const LedgerFile& ledger, const char* what, const std::string& reason) const {
  if (ledger.damaged())
    std::fprintf(stderr,
                 "taxoscope-cli ledger: cannot %s '%s': the ledger is damaged (%s); 'taxoscope-cli ledger check' "
                 "tells where. The file is left as it was.\n",
                 what, ledgerPath_.c_str(), reason.c_str());
  else
    std::fprintf(stderr, "taxoscope-cli ledger: cannot %s '%s': %s\n", what, ledgerPath_.c_str(), reason.c_str());
  return kExitLedgerUnusable;
}

bool LedgerArgs::Resolve(LedgerFile& ledger, ResolvedSelection* resolved, int* status) const {
  std::string detail;
  switch (ResolveSelection(ledger, selection_, resolved, &detail)) {
    case SelectionOk: return true;
    case SelectionBadFrom:
      std::fprintf(stderr, "Invalid input value \"from\"\n");
      *status = kExitInvalidBound;
      return false;
    case SelectionBadTo:
      std::fprintf(stderr, "Invalid input value \"to\"\n");
      *status = kExitInvalidBound;
      return false;
    case SelectionUnknownDevice:
      std::fprintf(stderr, "taxoscope-cli ledger: no device '%s' in '%s'\n", detail.c_str(), ledgerPath_.c_str());
      *status = kExitInvalidBound;
      return false;
    case SelectionError: break;
  }
  *status = LedgerError(ledger, "read", detail);
  return false;
}
