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
// model records scan the same area). Its findings are kept and sorted at the
// end, or handed on as they are made: in dump order, but for those of the
// decimal-mode area, which is scanned when a model record is met, often long
// before the walk gets there and sometimes after. DumpOrder puts them in
// place from an earlier walk of the same bytes.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check/finding.h"
#include "check/sequence_check.h"
#include "fm/daily_report.h"

// The one finding for bytes that are no dump of this device family.
Finding NotADumpFinding(const std::string& reason);

// Whether a finding is one of the decimal-mode area's (mode-area-crc,
// decimal-mode).
bool IsModeAreaFinding(const Finding& finding);

class DumpCheck : public ReportSink {
 public:
  // Findings kept: Findings(), in dump order once the walk is over.
  DumpCheck() : DumpCheck(nullptr) {}
  // Findings handed to *out as they are made.
  explicit DumpCheck(FindingSink* out) : out_(out), sequence_(&sequenced_) {}

  void OnFrame(const RecordFrame& frame) override;
  void OnDailyReport(const DailyReport& report) override;
  void OnTaxRates(const TaxRateRecord& rates) override;
  void OnModeAreaRecord(const ModeAreaRecord& record) override;
  void OnCutShort(const RecordFrame& frame, int64_t present) override;
  void OnTotals(const ReportTotals& totals) override;

  // Findings kept (the first constructor); complete once the walk has
  // handed over the totals.
  const std::vector<Finding>& Findings() const { return kept_.findings; }

 private:
  void Add(FindingSeverity severity, const char* kind, int64_t offset, std::string detail);
  void Emit(Finding finding);

  FindingSink* out_;
  FindingList kept_;
  std::vector<Finding> sequenced_;  // what SequenceCheck found for the last report
  SequenceCheck sequence_;
  std::optional<double> ratesInForce_[kTaxGroupCount];
  std::set<int64_t> modeAreaSeen_;
};

// The decimal-mode area's findings of one walk, each with its place among
// all the walk's findings (the how-manieth it was).
class ModeAreaFindings : public FindingSink {
 public:
  void Add(const Finding& finding) override;
  struct Placed {
    Finding finding;
    uint64_t sequence;
  };
  std::vector<Placed> placed;

 private:
  uint64_t next_ = 0;
};

// A second walk of the same bytes, its findings handed on in dump order as
// they come: the decimal-mode area's, known from the first walk, where they
// lie (before a finding of the walk at a later offset, or at the same offset
// but made later), the walk's own copies of them dropped. Equal to the kept
// findings sorted at the end, without keeping them.
class DumpOrder : public FindingSink {
 public:
  DumpOrder(ModeAreaFindings firstWalk, FindingSink* out);
  void Add(const Finding& finding) override;
  // The area's findings after the last of the walk.
  void Finish();

 private:
  std::vector<ModeAreaFindings::Placed> pending_;  // in dump order
  size_t nextPending_ = 0;
  uint64_t next_ = 0;
  FindingSink* out_;
};
