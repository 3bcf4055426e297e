#pragma once
// Shared by the reader's tests: a dump built record by record, written to a
// real file and walked by a real reader.
#include <cstdint>
#include <memory>
#include <string>

#include "fm/zelvanm_kl_bul.h"
#include "report/report_buffer.h"
#include "sim/dump_builder.h"
#include "testsupport/temp_dir.h"

struct WalkResult {
  int32_t parsed;
  std::string report;
};

inline std::string WriteDump(const TempDir& dir, const DumpBuilder& dump,
                             const std::string& name = "dump.bin") {
  std::string path = dir.File(name);
  std::string error;
  dump.WriteFile(path, &error);
  return path;
}

// Walks the dump with the given filter and gives the report text.
inline WalkResult Walk(const DumpBuilder& dump, int32_t reportType = 0, int64_t from = 0,
                       int64_t to = 0) {
  TempDir dir;
  std::string path = WriteDump(dir, dump);
  ResetReportBuffer();
  CZELVANM_KL_BUL reader(path.c_str());
  reader.reportType = reportType;
  reader.fromValue = from;
  reader.toValue = to;
  int32_t parsed = reader.Parse();
  return {parsed, std::string(ReportText(), ReportLength())};
}

// The report text from its first line up to the totals block.
inline std::string ReportLines(const std::string& report) {
  return report.substr(0, report.find("\xCE\xE1\xEE\xF0\xEE\xF2:\r\n_"));  // "Оборот:" + rule
}
