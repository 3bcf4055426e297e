#include "check/check_output.h"

#include "report/file_system.h"

std::string CheckFileName(const std::string& dumpPath) { return dumpPath + ".check.txt"; }

bool CheckOutput::Faulty() const {
  FindingCounts counts = CountFindings(check_.Findings());
  return counts.errors || counts.warnings;
}

bool CheckOutput::Write(const std::string& dumpPath) {
  const std::string name = CheckFileName(dumpPath);
  if (!Faulty()) {
    Files().Remove(name);
    return true;
  }
  std::string text = FindingsText(check_.Findings(), "\r\n");
  return WriteBufferToFile(name.c_str(), text.data(), static_cast<int64_t>(text.size()));
}

std::string CheckOutput::SuccessNote(const std::string& dumpPath) const {
  if (!Faulty()) return std::string();
  FindingCounts counts = CountFindings(check_.Findings());
  std::string name = CheckFileName(dumpPath);
  name = name.substr(name.find_last_of("\\/") + 1);  // npos + 1 is 0: the whole name
  return "Check: " + CountOf(counts.errors, "error") + ", " + CountOf(counts.warnings, "warning") + " (see " + name +
         ")";
}

std::string CheckOutput::FollowUpPath(const std::string& dumpPath) const {
  return Faulty() ? CheckFileName(dumpPath) : std::string();
}
