#pragma once
// The integrity check beside the report of a dialog's run. When the check
// finds errors or warnings, DUMP.check.txt (the findings, CR LF) goes beside
// the report, the success box says so on a second line, and "show result"
// opens the file after the report. A sound dump (notes at most) changes
// nothing, except that a DUMP.check.txt left from an earlier dump of that
// name is removed: it no longer tells the truth.
#include <string>

#include "check/dump_check.h"
#include "report/report_run.h"

class CheckOutput : public ReportOutput {
 public:
  void OnFrame(const RecordFrame& frame) override { check_.OnFrame(frame); }
  void OnDailyReport(const DailyReport& report) override { check_.OnDailyReport(report); }
  void OnTaxRates(const TaxRateRecord& rates) override { check_.OnTaxRates(rates); }
  void OnModeAreaRecord(const ModeAreaRecord& record) override { check_.OnModeAreaRecord(record); }
  void OnCutShort(const RecordFrame& frame, int64_t present) override { check_.OnCutShort(frame, present); }
  void OnTotals(const ReportTotals& totals) override { check_.OnTotals(totals); }

  bool Write(const std::string& dumpPath) override;
  std::string SuccessNote(const std::string& dumpPath) const override;
  std::string FollowUpPath(const std::string& dumpPath) const override;

  const std::vector<Finding>& Findings() const { return check_.Findings(); }

 private:
  bool Faulty() const;

  DumpCheck check_;
};

// DUMP.check.txt: the dump's full name with ".check.txt" appended.
std::string CheckFileName(const std::string& dumpPath);
