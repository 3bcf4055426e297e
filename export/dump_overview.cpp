#include "export/dump_overview.h"

#include <utility>

#include "export/report_fields.h"
#include "fm/dump_family.h"

namespace {

std::string SizeText(uint64_t size) {
  if (size > static_cast<uint64_t>(kDumpImageCap)) return "more than " + std::to_string(kDumpImageCap);
  return std::to_string(size);
}

}  // namespace

DumpOverview::DumpOverview(std::string path, uint64_t size) : path_(std::move(path)), size_(size) {}

void DumpOverview::OnFrame(const RecordFrame& frame) {
  const uint32_t type = frame.type;
  crcFailures_ += !frame.crcOk;
  dailyReports_ += type == 4;
  decimalModeRecords_ += type == 7;
  taxRateRecords_ += type == 1 || type == 6;
  unknownRecords_ += type == 11 || type >= 14;
  area_.OnFrame(frame);
}

void DumpOverview::OnCutShort(const RecordFrame& frame, int64_t present) { area_.OnCutShort(frame, present); }

void DumpOverview::OnDailyReport(const DailyReport& report) {
  if (!haveReport_) {
    firstNumber_ = report.number;
    firstDate_ = DateTimeText(report);
    haveReport_ = true;
  }
  lastNumber_ = report.number;
  lastDate_ = DateTimeText(report);
}

void DumpOverview::OnTotals(const ReportTotals& totals) {
  modelVariant_ = totals.modelVariant;
  area_.OnTotals(totals);
}

std::string DumpOverview::Text() const {
  std::string text;
  auto line = [&](const char* key, const std::string& value) { text += std::string(key) + ": " + value + "\n"; };
  line("file", path_);
  line("size", SizeText(size_));
  line("model variant", std::to_string(modelVariant_));
  line("daily reports", std::to_string(dailyReports_));
  line("report numbers",
       haveReport_ ? std::to_string(firstNumber_) + "-" + std::to_string(lastNumber_) : std::string("none"));
  line("dates", haveReport_ ? firstDate_ + " - " + lastDate_ : std::string("none"));
  line("crc failures", std::to_string(crcFailures_));
  line("unknown records", std::to_string(unknownRecords_));
  line("decimal-mode changes", std::to_string(decimalModeRecords_));
  line("tax-rate records", std::to_string(taxRateRecords_));
  line("record area", RecordAreaText(area_.Use(static_cast<int64_t>(size_))));
  return text;
}

std::string DumpOverview::NotADumpText(const std::string& reason) const {
  return "file: " + path_ + "\nsize: " + SizeText(size_) + "\n" + ::NotADumpText(reason) + "\n";
}

std::string RecordAreaText(const RecordAreaUse& use) {
  if (!use.ShortImage()) return ShareText(use) + " written";
  return "at least " + ShareText(use) + " written (the image ends at " + std::to_string(use.imageSize) +
         ", before the decimal-mode area at " + std::to_string(use.areaStart) + ")";
}
