#pragma once
// The turnover report as text: the consumer of the record stream that writes
// the report's lines into the report buffer, in Windows-1251 with CR LF.
#include "fm/daily_report.h"

class TextReport : public ReportSink {
 public:
  // A record whose CRC failed gets a warning line before its own lines.
  void OnFrame(const RecordFrame& frame) override;
  // The date, the number and each counted amount of the report.
  void OnDailyReport(const DailyReport& report) override;
  // The totals by tax group (with the tax), department and payment type.
  void OnTotals(const ReportTotals& totals) override;
};

// The one text report of this process, which a reader writes to unless its
// run names other consumers.
TextReport& TheTextReport();
