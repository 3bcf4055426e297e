#pragma once
// Findings of an integrity check, and their two written forms.
//
// A finding says what is wrong (or worth knowing) at one place of a dump or
// of a ledger: its severity, its kind ("crc", "gap", "clock-back", ...), and
// where it lies: the file position of the record's type byte in a dump (none
// for a ledger), and for a daily report its number and its date-time as the
// exports write it (YYYY-MM-DD HH:MM). These types know nothing of the walk:
// `taxoscope-cli check` fills them from a dump, `ledger check` from stored
// reports, and both print them with FindingsText or FindingsJson.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

enum FindingSeverity {
  FindingError = 0,
  FindingWarning = 1,
  FindingInfo = 2,  // a note: counted as such, never a fault
};

// "error", "warning" or "info": the text and JSON name of a severity.
const char* SeverityName(FindingSeverity severity);

struct Finding {
  FindingSeverity severity = FindingInfo;
  std::string kind;
  std::optional<int64_t> offset;  // file position of the record's type byte
  std::optional<int32_t> report;  // daily reports only
  std::optional<std::string> date;  // daily reports only: YYYY-MM-DD HH:MM
  std::string detail;  // plain ASCII
};

struct FindingCounts {
  uint64_t errors = 0;
  uint64_t warnings = 0;
  uint64_t notes = 0;
};
FindingCounts CountFindings(const std::vector<Finding>& findings);

// "N errors, N warnings, N notes", without a line end; one is "1 error",
// "1 warning", "1 note".
std::string CountsText(const FindingCounts& counts);
// "N things", or "1 thing" for one.
std::string CountOf(uint64_t count, const char* thing);

// Exit statuses of a check: notes alone keep a dump sound.
constexpr int kExitCheckSound = 0;
constexpr int kExitCheckWarnings = 10;
constexpr int kExitCheckErrors = 11;
int CheckExitStatus(const FindingCounts& counts);

// Where findings go as they are made.
class FindingSink {
 public:
  virtual ~FindingSink();
  virtual void Add(const Finding& finding) = 0;
};

// Keeps every finding.
class FindingList : public FindingSink {
 public:
  void Add(const Finding& finding) override { findings.push_back(finding); }
  std::vector<Finding> findings;
};

// Counts them only.
class FindingCounter : public FindingSink {
 public:
  void Add(const Finding& finding) override;
  FindingCounts counts;
};

// Writes the findings in one of the two forms below as they come, each as
// soon as it is added, so that nothing grows with their number; Finish
// writes the end (the counts).
class FindingsWriter : public FindingSink {
 public:
  using Out = std::function<void(const std::string& text)>;
  // The text form; every line ends with newline.
  static FindingsWriter Text(Out out, const char* newline = "\n");
  // The JSON form, with source under sourceKey.
  static FindingsWriter Json(Out out, const std::string& sourceKey, const std::string& source);

  void Add(const Finding& finding) override;
  void Finish();
  const FindingCounts& counts() const { return counts_; }

 private:
  FindingsWriter(Out out, bool json, const char* newline) : out_(std::move(out)), json_(json), newline_(newline) {}

  Out out_;
  bool json_;
  const char* newline_;
  FindingCounts counts_;
};

// One line per finding, "SEVERITY KIND @OFFSET report N (DATE): detail" (the
// offset and the report part only where the finding has them), then the
// counts line. Every line ends with `newline`.
std::string FindingsText(const std::vector<Finding>& findings, const char* newline = "\n");

// {"<sourceKey>": source, "findings": [{"severity", "kind", "offset",
// "report", "date", "detail"}...], "counts": {"error", "warning", "info"}},
// with null where a finding has no offset, report or date; two-space
// indentation and a final line end. source is UTF-8 (a dump's path as
// PathAsUtf8 gives it, for instance).
std::string FindingsJson(const std::vector<Finding>& findings, const std::string& sourceKey,
                         const std::string& source);
