#pragma once
// How full a fiscal memory is. The device writes its records one after the
// other from the memory's start, into erased bytes, up to the decimal-mode
// area (0x1F1000, or 0x1F100 on model variant 2), which holds the decimal-mode
// records and is written from its own start. When the records reach that area
// the memory is full and the register can no longer close a day.
//
// The share written is where the last record before the area ends, over the
// length from the image's start to the area. The walk's records are those it
// frames (from offset 16 when the image starts with 11 erased bytes, else
// from 0), so an image with no record before the area has 0 written.
#include <cstdint>
#include <string>
#include <vector>

#include "fm/daily_report.h"
#include "fm/dump_image.h"

// Where the decimal-mode area starts for a model variant.
int64_t DecimalModeAreaStart(int32_t modelVariant);

// A daily report's calendar time (local standard time, seconds) and the file
// position of its record: a point of the memory's growth.
struct ReportMark {
  int64_t time = -1;
  int64_t offset = 0;
};

struct RecordAreaUse {
  int32_t modelVariant = 3;  // as the walk ends
  int64_t areaStart = 0;     // DecimalModeAreaStart(modelVariant)
  int64_t written = 0;       // where the last record before the area ends (at most areaStart)
  int64_t imageSize = 0;
  // The image ends before the area: the memory past its end is unknown, so
  // the share is a least value.
  bool ShortImage() const { return imageSize < areaStart; }
  // written over areaStart, 0 to 1.
  double Share() const;
  // The bytes between the last record and the area.
  int64_t Free() const { return areaStart - written; }
};

// A consumer of an unfiltered walk that measures the record area, and keeps
// the marks of the intact daily reports for the pace of the memory's growth.
class RecordAreaGauge : public ReportSink {
 public:
  void OnFrame(const RecordFrame& frame) override;
  void OnCutShort(const RecordFrame& frame, int64_t present) override;
  void OnDailyReport(const DailyReport& report) override;
  void OnTotals(const ReportTotals& totals) override { modelVariant_ = totals.modelVariant; }

  // Complete once the walk has handed over the totals; imageSize: the bytes walked.
  RecordAreaUse Use(int64_t imageSize) const;
  // In dump order.
  const std::vector<ReportMark>& marks() const { return marks_; }

 private:
  // The variant is known only when the walk ends, so the last record's end
  // is kept below either area start.
  int64_t writtenBelow2_ = 0;
  int64_t writtenBelow3_ = 0;
  int32_t modelVariant_ = 3;
  std::vector<ReportMark> marks_;
};

// The pace is taken over this many days before the newest daily report.
constexpr int kPaceDays = 90;

// The months (of 30.436875 days, a twelfth of the Gregorian year) until the
// record area is full, at the pace the memory grew in the kPaceDays days that
// end at the newest daily report (the last in dump order with a date in
// range): the bytes from the first report of those days to the newest one,
// over the days between their dates. False when there is no such pace: fewer
// than two dated reports in those days, less than a day between the first and
// the newest, or a newest report that does not stand after the first in the
// memory. A full area gives 0.
bool EstimateMonthsLeft(const RecordAreaUse& use, const std::vector<ReportMark>& marks, double* months);

// What the server shows for a register's newest dump: the area's use and the
// months left. Walks the bytes once.
struct MemoryGauge {
  RecordAreaUse use;
  bool monthsKnown = false;
  double monthsLeft = 0;
};
MemoryGauge GaugeMemory(const DumpBytes& bytes);

// The share as "93.1%": one decimal, rounded down, so that 100.0% means full.
std::string ShareText(const RecordAreaUse& use);
