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

std::string CountsText(const FindingCounts& counts) {
  return std::to_string(counts.errors) + " errors, " + std::to_string(counts.warnings) + " warnings, " +
         std::to_string(counts.notes) + " notes";
}

int CheckExitStatus(const FindingCounts& counts) {
  if (counts.errors) return kExitCheckErrors;
  return counts.warnings ? kExitCheckWarnings : kExitCheckSound;
}

std::string FindingsText(const std::vector<Finding>& findings, const char* newline) {
  std::string text;
  for (const Finding& finding : findings) {
    text += SeverityName(finding.severity);
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
  }
  text += CountsText(CountFindings(findings));
  text += newline;
  return text;
}

std::string FindingsJson(const std::vector<Finding>& findings, const std::string& sourceKey,
                         const std::string& source) {
  using nlohmann::ordered_json;
  ordered_json list = ordered_json::array();
  for (const Finding& finding : findings) {
    ordered_json item;
    item["severity"] = SeverityName(finding.severity);
    item["kind"] = finding.kind;
    item["offset"] = finding.offset ? ordered_json(*finding.offset) : ordered_json(nullptr);
    item["report"] = finding.report ? ordered_json(*finding.report) : ordered_json(nullptr);
    item["date"] = finding.date ? ordered_json(*finding.date) : ordered_json(nullptr);
    item["detail"] = finding.detail;
    list.push_back(std::move(item));
  }
  FindingCounts counts = CountFindings(findings);
  ordered_json document;
  document[sourceKey] = source;
  document["findings"] = std::move(list);
  document["counts"] = {{"error", counts.errors}, {"warning", counts.warnings}, {"info", counts.notes}};
  // A source name that is not valid UTF-8 becomes U+FFFD, never bad bytes.
  return document.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}
