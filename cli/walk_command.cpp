#include "cli/walk_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"

WalkCommand::WalkCommand(const char* name, const char* usage, bool takesFilter, void (*help)(), bool takesOpen)
    : name_(name), usage_(usage), takesFilter_(takesFilter), help_(help), options_(ui_, takesOpen) {}

int WalkCommand::Usage(const std::string& problem) const {
  std::fprintf(stderr, "taxoscope-cli %s: %s\nusage: %s\n", name_, problem.c_str(), usage_);
  return kExitUsage;
}

bool WalkCommand::Parse(int argc, char** argv, const OwnOption& own) {
  parseStatus_ = kExitUsage;
  auto fail = [this](const std::string& problem) {
    Usage(problem);
    return false;
  };
  for (int i = 0; i < argc; ++i)
    if (!argv[i][0]) return fail("an empty argument");
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && IsOption(arg)) {
      if (!std::strcmp(arg, "--")) {
        optionsEnded = true;
        continue;
      }
      if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
        help_();
        parseStatus_ = kExitOk;
        return false;
      }
      std::string problem;
      ReportOptionResult taken = takesFilter_ ? options_.Take(argc, argv, &i) : NotReportOption;
      if (taken == ReportOptionError) return fail(options_.problem());
      if (taken == ReportOptionTaken) continue;
      taken = own ? own(argc, argv, &i, &problem) : NotReportOption;
      if (taken == ReportOptionError) return fail(problem);
      if (taken == ReportOptionTaken) continue;
      return fail(std::string("unknown option ") + arg);
    }
    if (!dump_.empty()) return fail("give one dump file");
    dump_ = arg;
  }
  if (dump_.empty()) return fail("no dump file given");
  return true;
}

ReportRequest WalkCommand::Request() {
  ReportRequest request = ReportRequestFromDialog(&ui_, dump_);
  if (loaded_) request.dumpImage = &image_;
  return request;
}

int WalkCommand::GuardOutput(const std::string& out) const {
  std::string problem = OutputOverDump(out, dump_);
  return problem.empty() ? kExitOk : Usage(problem);
}

int WalkCommand::Load() {
  ReportFilter filter;
  if (!ParseReportFilter(Request(), &filter)) return kExitInvalidBound;
  int error = 0;
  loaded_ = true;
  switch (LoadDumpImage(dump_, &image_, &error)) {
    case DumpOpenFailed:
      PrintDumpOpenError(dump_, error);
      return kExitDumpUnreadable;
    case DumpOverCap:
      overCap_ = true;
      break;
    case DumpLoaded:
      break;
  }
  return kExitOk;
}

int WalkCommand::Walk(ReportSink& sink) {
  family_ = DumpFamilyCheck();
  ReportSinks both;
  both.Add(&sink);
  both.Add(&family_);
  // The bytes are in memory: the walk cannot fail to open them.
  return ReportExitStatus(WalkDump(Request(), both));
}

std::string WalkCommand::NotADump() const { return NotADumpReason(image_, overCap_, family_); }

int WalkCommand::RefuseNotADump() const {
  std::string reason = NotADump();
  if (reason.empty()) return kExitOk;
  std::fprintf(stderr, "%s\n", NotADumpMessage(dump_, reason).c_str());
  return kExitDumpUnreadable;
}

bool WriteCommandOutput(const std::string& out, const std::string& text) {
  if (out != "-") return WriteBufferToFile(out.c_str(), text.data(), static_cast<int64_t>(text.size()));
  return WriteCommandContent(out, [&text](const FileBytesSink& write) { write(text.data(), text.size()); });
}

bool WriteCommandContent(const std::string& out, const FileContent& content) {
  if (out != "-") return WriteFileContent(out.c_str(), content);
  ConsoleBinaryStdout();  // CR LF stay as written
  int error = 0;
  content([&error](const char* bytes, size_t length) {
    if (!error && std::fwrite(bytes, 1, length, stdout) != length) error = errno ? errno : EIO;
    return error == 0;
  });
  if (!error && std::fflush(stdout) != 0) error = errno ? errno : EIO;
  if (!error) return true;
  std::fprintf(stderr, "taxoscope-cli: cannot write to standard output: %s\n", std::strerror(error));
  return false;
}
