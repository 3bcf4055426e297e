#pragma once
// What a service technician checks first in a dump: one "key: value" line
// each for the file, its size, the model variant, the daily reports (their
// count, first and last numbers and dates in dump order) and the records
// that tell of damage or of changes: CRC failures, unknown records,
// decimal-mode records and tax-rate records, and how much of the record
// area is written. Fed by an unfiltered walk.
#include <cstdint>
#include <string>

#include "fm/daily_report.h"
#include "fm/record_area.h"

class DumpOverview : public ReportSink {
 public:
  // size: the bytes read; more than kDumpImageCap stands for "more than
  // 2101247", since a longer input is not read to its end.
  DumpOverview(std::string path, uint64_t size);
  void OnFrame(const RecordFrame& frame) override;
  void OnDailyReport(const DailyReport& report) override;
  void OnTotals(const ReportTotals& totals) override;
  void OnCutShort(const RecordFrame& frame, int64_t present) override;
  // The lines; complete once the walk has handed over the totals.
  std::string Text() const;
  // For bytes that are no dump of this device family: the file and its size,
  // then "not a dump of this device family (REASON)" on a line of its own.
  std::string NotADumpText(const std::string& reason) const;

 private:
  std::string path_;
  uint64_t size_;
  int32_t modelVariant_ = 3;
  uint64_t dailyReports_ = 0;
  uint64_t crcFailures_ = 0;
  uint64_t unknownRecords_ = 0;
  uint64_t decimalModeRecords_ = 0;
  uint64_t taxRateRecords_ = 0;
  bool haveReport_ = false;
  int32_t firstNumber_ = 0, lastNumber_ = 0;
  std::string firstDate_, lastDate_;
  RecordAreaGauge area_;
};

// "93.1% written"; for an image that ends before the decimal-mode area,
// "at least 41.2% written (the image ends at 56985, before the decimal-mode
// area at 127232)": the memory past the image's end is unknown.
std::string RecordAreaText(const RecordAreaUse& use);
