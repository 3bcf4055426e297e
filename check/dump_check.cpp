#include "check/dump_check.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "export/report_fields.h"
#include "fm/dump_family.h"

namespace {

constexpr uint32_t kReportType = 4;

std::string Format(const char* format, double a, double b) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

bool KnownType(uint32_t type) { return type <= 10 || type == 12 || type == 13; }

}  // namespace

Finding NotADumpFinding(const std::string& reason) {
  Finding finding;
  finding.severity = FindingError;
  finding.kind = "not-a-dump";
  finding.detail = NotADumpText(reason);
  return finding;
}

bool IsModeAreaFinding(const Finding& finding) {
  return finding.kind == "mode-area-crc" || finding.kind == "decimal-mode";
}

void DumpCheck::Emit(Finding finding) {
  if (out_) {
    out_->Add(finding);
  } else {
    kept_.findings.push_back(std::move(finding));
  }
}

void DumpCheck::Add(FindingSeverity severity, const char* kind, int64_t offset, std::string detail) {
  Finding finding;
  finding.severity = severity;
  finding.kind = kind;
  finding.offset = offset;
  finding.detail = std::move(detail);
  Emit(std::move(finding));
}

void DumpCheck::OnFrame(const RecordFrame& frame) {
  const std::string type = "type " + std::to_string(frame.type);
  // A daily report's CRC finding waits for its number and date.
  if (!frame.crcOk && frame.type != kReportType)
    Add(FindingError, "crc", frame.offset, "CRC mismatch in a " + type + " record");
  if (!KnownType(frame.type))
    Add(FindingWarning, "unknown-record", frame.offset,
        type + ", framed with the length of the record before (" + std::to_string(frame.length) + " bytes)");
}

void DumpCheck::OnDailyReport(const DailyReport& report) {
  const std::string date = DateTimeText(report);
  auto add = [&](FindingSeverity severity, const char* kind, std::string detail) {
    Finding finding;
    finding.severity = severity;
    finding.kind = kind;
    finding.offset = report.offset;
    finding.report = report.number;
    finding.date = date;
    finding.detail = std::move(detail);
    Emit(std::move(finding));
  };
  if (!report.crcOk) add(FindingError, "crc", "CRC mismatch in a daily report");
  if (report.modelVariant != 2 && report.decimalFlag != 170 && report.decimalFlag != 85) {
    char detail[64];
    std::snprintf(detail, sizeof detail, "decimal flag 0x%02X, neither 0xAA nor 0x55",
                  static_cast<unsigned>(report.decimalFlag) & 0xFF);
    add(FindingError, "decimal-flag", detail);
  }
  sequence_.Add(report.number, date, report.offset);
  for (Finding& finding : sequenced_) Emit(std::move(finding));
  sequenced_.clear();
}

void DumpCheck::OnTaxRates(const TaxRateRecord& rates) {
  std::string changes;
  for (int g = 0; g < kTaxGroupCount; ++g) {
    if (!rates.set[g]) continue;
    // A group's first rate sets it; only a rate in force can change.
    if (ratesInForce_[g] && *ratesInForce_[g] != rates.rates[g]) {
      if (!changes.empty()) changes += ", ";
      changes += "group " + std::to_string(g + 1) + Format(" %.2f%% -> %.2f%%", *ratesInForce_[g], rates.rates[g]);
    }
    ratesInForce_[g] = rates.rates[g];
  }
  if (!changes.empty()) Add(FindingInfo, "rate-change", rates.offset, changes);
}

void DumpCheck::OnModeAreaRecord(const ModeAreaRecord& record) {
  if (!modeAreaSeen_.insert(record.frame.offset).second) return;
  if (!record.frame.crcOk) {
    Add(FindingError, "mode-area-crc", record.frame.offset,
        "CRC mismatch in a type " + std::to_string(record.frame.type) +
            " record of the decimal-mode area; the decimal-mode scan stops here");
    return;
  }
  if (record.frame.type != 7) return;
  std::string detail = "from report " + std::to_string(record.fromReport) + " amounts are " +
                       (record.fractional ? "in hundredths" : "whole numbers");
  if (record.modeByte != 0xAA && record.modeByte != 0x55) {
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", record.modeByte);
    detail += std::string(" (mode byte ") + byte + " is neither 0xAA nor 0x55: the mode before stays)";
  }
  Add(FindingInfo, "decimal-mode", record.frame.offset, detail);
}

void DumpCheck::OnCutShort(const RecordFrame& frame, int64_t present) {
  Add(FindingWarning, "cut-short", frame.offset,
      "the dump ends inside a type " + std::to_string(frame.type) + " record of " + std::to_string(frame.length) +
          " bytes, after " + std::to_string(present));
}

void DumpCheck::OnTotals(const ReportTotals&) {
  // The decimal-mode area is announced when a model record is processed,
  // usually long before the walk gets there.
  std::stable_sort(kept_.findings.begin(), kept_.findings.end(),
                   [](const Finding& a, const Finding& b) { return a.offset < b.offset; });
}

void ModeAreaFindings::Add(const Finding& finding) {
  const uint64_t sequence = next_++;
  if (IsModeAreaFinding(finding)) placed.push_back({finding, sequence});
}

namespace {

// Dump order: by offset, and at one offset in the order they were made.
bool Before(const Finding& a, uint64_t aSequence, const Finding& b, uint64_t bSequence) {
  if (a.offset != b.offset) return a.offset < b.offset;
  return aSequence < bSequence;
}

}  // namespace

DumpOrder::DumpOrder(ModeAreaFindings firstWalk, FindingSink* out) : pending_(std::move(firstWalk.placed)), out_(out) {
  std::sort(pending_.begin(), pending_.end(), [](const ModeAreaFindings::Placed& a, const ModeAreaFindings::Placed& b) {
    return Before(a.finding, a.sequence, b.finding, b.sequence);
  });
}

void DumpOrder::Add(const Finding& finding) {
  const uint64_t sequence = next_++;
  if (IsModeAreaFinding(finding)) return;  // handed on from the first walk
  // The walk's own findings come in the order of their offsets.
  while (nextPending_ < pending_.size() &&
         Before(pending_[nextPending_].finding, pending_[nextPending_].sequence, finding, sequence))
    out_->Add(pending_[nextPending_++].finding);
  out_->Add(finding);
}

void DumpOrder::Finish() {
  while (nextPending_ < pending_.size()) out_->Add(pending_[nextPending_++].finding);
}
