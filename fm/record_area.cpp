#include "fm/record_area.h"

#include <algorithm>

#include "fm/zelvanm_kl_bul.h"

namespace {

constexpr int64_t kAreaVariant2 = 0x1F100;
constexpr int64_t kAreaVariant3 = 0x1F1000;
constexpr int64_t kSecondsPerDay = 86400;
constexpr double kDaysPerMonth = 365.2425 / 12;

// The end of a record seen at offset, counted towards the area below limit.
void NoteEnd(int64_t offset, int64_t end, int64_t limit, int64_t* written) {
  if (offset < limit) *written = std::max(*written, std::min(end, limit));
}

}  // namespace

int64_t DecimalModeAreaStart(int32_t variant) { return variant == 2 ? kAreaVariant2 : kAreaVariant3; }

double RecordAreaUse::Share() const {
  if (areaStart <= 0) return 0;
  return static_cast<double>(std::min(written, areaStart)) / static_cast<double>(areaStart);
}

void RecordAreaGauge::OnFrame(const RecordFrame& frame) {
  const int64_t end = frame.offset + frame.length;
  NoteEnd(frame.offset, end, kAreaVariant2, &writtenBelow2_);
  NoteEnd(frame.offset, end, kAreaVariant3, &writtenBelow3_);
}

// The image ends inside a record: what it holds of it is written memory.
void RecordAreaGauge::OnCutShort(const RecordFrame& frame, int64_t present) {
  const int64_t end = frame.offset + present;
  NoteEnd(frame.offset, end, kAreaVariant2, &writtenBelow2_);
  NoteEnd(frame.offset, end, kAreaVariant3, &writtenBelow3_);
}

void RecordAreaGauge::OnDailyReport(const DailyReport& report) {
  // A damaged record's date says nothing reliable of when it was written.
  if (report.crcOk && report.time >= 0 && report.offset >= 0) marks_.push_back({report.time, report.offset});
}

RecordAreaUse RecordAreaGauge::Use(int64_t imageSize) const {
  RecordAreaUse use;
  use.modelVariant = modelVariant_;
  use.areaStart = DecimalModeAreaStart(modelVariant_);
  use.written = modelVariant_ == 2 ? writtenBelow2_ : writtenBelow3_;
  use.imageSize = imageSize;
  return use;
}

bool EstimateMonthsLeft(const RecordAreaUse& use, const std::vector<ReportMark>& marks, double* months) {
  if (use.Free() <= 0) {
    *months = 0;
    return true;
  }
  if (marks.empty()) return false;
  const ReportMark& newest = marks.back();
  const int64_t from = newest.time - static_cast<int64_t>(kPaceDays) * kSecondsPerDay;
  const ReportMark* first = nullptr;
  for (const ReportMark& mark : marks) {
    if (mark.time >= from && mark.time <= newest.time) {
      first = &mark;
      break;
    }
  }
  if (!first || first == &newest) return false;
  const int64_t seconds = newest.time - first->time;
  const int64_t bytes = newest.offset - first->offset;
  if (seconds < kSecondsPerDay || bytes <= 0) return false;
  const double bytesPerDay = static_cast<double>(bytes) * kSecondsPerDay / static_cast<double>(seconds);
  *months = static_cast<double>(use.Free()) / bytesPerDay / kDaysPerMonth;
  return true;
}

MemoryGauge GaugeMemory(const DumpBytes& bytes) {
  RecordAreaGauge gauge;
  {
    CZELVANM_KL_BUL reader(new CInputMemory(bytes.data(), static_cast<int64_t>(bytes.size())));
    reader.sink = &gauge;
    reader.Parse();
  }
  MemoryGauge result;
  result.use = gauge.Use(static_cast<int64_t>(bytes.size()));
  result.monthsKnown = EstimateMonthsLeft(result.use, gauge.marks(), &result.monthsLeft);
  return result;
}

std::string ShareText(const RecordAreaUse& use) {
  const int64_t permille = use.areaStart > 0 ? std::min(use.written, use.areaStart) * 1000 / use.areaStart : 0;
  return std::to_string(permille / 10) + "." + std::to_string(permille % 10) + "%";
}
