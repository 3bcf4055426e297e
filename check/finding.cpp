#include "check/finding.h"

#include <nlohmann/json.hpp>

const char* SeverityName(FindingSeverity severity) {
  switch (severity) {
    case FindingError: return "error";
    case FindingWarning: return "warning";
    case FindingInfo: break;
  }
  return "info";
}

FindingCounts CountFindings(const std::vector<Finding>& findings) {
  FindingCounts counts;
  for (const Finding& finding : findings) {
    counts.errors += finding.severity == FindingError;
    counts.warnings += finding.severity == FindingWarning;
    counts.notes += finding.severity == FindingInfo;
  }
  return counts;
}

std::string CountOf(uint64_t count, const char* thing) {
  return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

std::string CountsText(const FindingCounts& counts) {
  return CountOf(counts.errors, "error") + ", " + CountOf(counts.warnings, "warning") + ", " +
         CountOf(counts.notes, "note");
}

int CheckExitStatus(const FindingCounts& counts) {
  if (counts.errors) return kExitCheckErrors;
  return counts.warnings ? kExitCheckWarnings : kExitCheckSound;
}

namespace {

std::string FindingLine(const Finding& finding, const char* newline) {
  std::string text = SeverityName(finding.severity);
  text += ' ';
  text += finding.kind;
  if (finding.offset) text += " @" + std::to_string(*finding.offset);
  if (finding.report) {
    text += " report " + std::to_string(*finding.report);
    if (finding.date) text += " (" + *finding.date + ")";
  }
  text += ": ";
  text += finding.detail;
  text += newline;
  return text;
}

// A value as a JSON text; a string that is not valid UTF-8 gets U+FFFD for
// its bad bytes, never the bytes themselves.
std::string JsonText(const nlohmann::ordered_json& value, int indent = -1) {
  return value.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// One finding as an element of the "findings" array: two-space indented,
// four spaces in.
std::string FindingObject(const Finding& finding) {
  using nlohmann::ordered_json;
  ordered_json item;
  item["severity"] = SeverityName(finding.severity);
  item["kind"] = finding.kind;
  item["offset"] = finding.offset ? ordered_json(*finding.offset) : ordered_json(nullptr);
  item["report"] = finding.report ? ordered_json(*finding.report) : ordered_json(nullptr);
  item["date"] = finding.date ? ordered_json(*finding.date) : ordered_json(nullptr);
  item["detail"] = finding.detail;
  std::string lines = JsonText(item, 2);
  std::string text = "    ";
  for (char c : lines) {
    text += c;
    if (c == '\n') text += "    ";
  }
  return text;
}

}  // namespace

FindingSink::~FindingSink() = default;

void FindingCounter::Add(const Finding& finding) {
  counts.errors += finding.severity == FindingError;
  counts.warnings += finding.severity == FindingWarning;
  counts.notes += finding.severity == FindingInfo;
}

FindingsWriter FindingsWriter::Text(Out out, const char* newline) { return FindingsWriter(std::move(out), false, newline); }

FindingsWriter FindingsWriter::Json(Out out, const std::string& sourceKey, const std::string& source) {
  FindingsWriter writer(std::move(out), true, "\n");
  writer.out_("{\n  " + JsonText(sourceKey) + ": " + JsonText(source) + ",\n  \"findings\": [");
  return writer;
}

void FindingsWriter::Add(const Finding& finding) {
  const bool first = counts_.errors + counts_.warnings + counts_.notes == 0;
  counts_.errors += finding.severity == FindingError;
  counts_.warnings += finding.severity == FindingWarning;
  counts_.notes += finding.severity == FindingInfo;
  if (json_) {
    out_((first ? "\n" : ",\n") + FindingObject(finding));
  } else {
    out_(FindingLine(finding, newline_));
  }
}

void FindingsWriter::Finish() {
  if (!json_) {
    out_(CountsText(counts_) + newline_);
    return;
  }
  const bool none = counts_.errors + counts_.warnings + counts_.notes == 0;
  out_(std::string(none ? "],\n" : "\n  ],\n") + "  \"counts\": {\n    \"error\": " + std::to_string(counts_.errors) +
       ",\n    \"warning\": " + std::to_string(counts_.warnings) + ",\n    \"info\": " +
       std::to_string(counts_.notes) + "\n  }\n}\n");
}

std::string FindingsText(const std::vector<Finding>& findings, const char* newline) {
  std::string text;
  FindingsWriter writer = FindingsWriter::Text([&text](const std::string& piece) { text += piece; }, newline);
  for (const Finding& finding : findings) writer.Add(finding);
  writer.Finish();
  return text;
}

std::string FindingsJson(const std::vector<Finding>& findings, const std::string& sourceKey,
                         const std::string& source) {
  std::string text;
  FindingsWriter writer =
      FindingsWriter::Json([&text](const std::string& piece) { text += piece; }, sourceKey, source);
  for (const Finding& finding : findings) writer.Add(finding);
  writer.Finish();
  return text;
}
