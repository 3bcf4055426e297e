#pragma once
// The integrity check of a dump: a consumer of an unfiltered walk that turns
// what the walk meets into findings, listed in dump order (by the file
// position of each record's type byte).
//
//   crc            error    a record of the walk whose CRC fails (exactly the
//                           records the report warns of)
//   mode-area-crc  error    a damaged record in the decimal-mode area, where
//                           the decimal-mode scan stops
//   decimal-flag   error    a variant-3 daily report whose decimal flag is
//                           neither 0xAA nor 0x55
//   gap, number-back, clock-back
//                  warning  between consecutive daily reports (SequenceCheck)
//   unknown-record warning  a record of an unknown type
//   cut-short      warning  the dump ends inside a record
//   rate-change    info     a tax-rate record that changes a rate in force
//   decimal-mode   info     a decimal-mode record of the decimal-mode area
//   not-a-dump     error    the file is no dump of this device family at all
//                           (NotADumpFinding): the only finding then
//
// It keeps only what the checks need: the report before (in SequenceCheck),
// the rates in force and which decimal-mode records it has seen (several
// model records scan the same area).
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "check/finding.h"
#include "check/sequence_check.h"
#include "fm/daily_report.h"

// The one finding for bytes that are no dump of this device family.
Finding NotADumpFinding(const std::string& reason);

class DumpCheck : public ReportSink {
 public:
  DumpCheck() : sequence_(&findings_) {}

  void OnFrame(const RecordFrame& frame) override;
  void OnDailyReport(const DailyReport& report) override;
  void OnTaxRates(const TaxRateRecord& rates) override;
  void OnModeAreaRecord(const ModeAreaRecord& record) override;
  void OnCutShort(const RecordFrame& frame, int64_t present) override;
  void OnTotals(const ReportTotals& totals) override;

  // Complete once the walk has handed over the totals.
  const std::vector<Finding>& Findings() const { return findings_; }

 private:
  void Add(FindingSeverity severity, const char* kind, int64_t offset, std::string detail);

  std::vector<Finding> findings_;
  SequenceCheck sequence_;
  std::optional<double> ratesInForce_[kTaxGroupCount];
  std::set<int64_t> modeAreaSeen_;
};
