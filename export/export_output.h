#pragma once
// The base of every export: a consumer of one walk that builds its whole
// text in memory and, after the totals, writes it beside the dump (the dump's
// name with its own extension appended) or hands it to the caller.
#include <string>

#include "report/report_run.h"

// The filter of the run as the user typed it.
struct ExportFilter {
  int type = ReportAll;  // ReportAll, ReportByNumber or ReportByDate
  std::string from;
  std::string to;
};

class ExportOutput : public ReportOutput {
 public:
  // extension: ".csv", ".json" or ".html"; opensInViewer: "show result" opens
  // this file instead of the text report.
  ExportOutput(const char* extension, bool opensInViewer);

  // Starts a new export: a subclass that keeps more state clears it too.
  void Begin(const ReportRequest& request) override;
  bool Write(const std::string& dumpPath) override;
  std::string ViewPath(const std::string& dumpPath) const override;

  // The whole export; complete once the walk has handed over the totals.
  const std::string& Text() const { return text_; }
  const char* extension() const { return extension_; }

 protected:
  const std::string& dumpPath() const { return dumpPath_; }
  const ExportFilter& filter() const { return filter_; }
  std::string text_;

 private:
  const char* extension_;
  bool opensInViewer_;
  std::string dumpPath_;
  ExportFilter filter_;
};
