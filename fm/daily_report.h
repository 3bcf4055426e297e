#pragma once
// The report model: what the record stream hands to the outputs of a run.
// The reader decodes every daily report that passes the filter once into a
// DailyReport and, at the end of the walk, the run's totals into a
// ReportTotals. The text report and the exports are consumers (ReportSink)
// of these values; none of them decodes a record field itself.
#include <cstdint>
#include <ctime>
#include <vector>

constexpr int kTaxGroupCount = 8;
constexpr int kDepartmentCount = 9;
constexpr int kPaymentSlotCount = 4;
constexpr int kPaymentCodeCount = 11;  // payment codes 0..10

// One amount field as the decoder gave it. `text` is the decimal text (with a
// point before the last two digits in fractional mode, "42949672.95" at the
// most); `value` is that text as a double. `counted` says whether the amount
// goes into the run's totals: in model variant 3 only amounts above 0 do (and
// payments only with a code of 0..10), in variant 2 every tax group does.
struct ReportAmount {
  char text[12] = "0";
  double value = 0;
  bool counted = false;
};

struct DepartmentAmount {
  ReportAmount amount;
  // Only for counted departments: the name as stored (a zero byte ends it),
  // and the same bytes through the device's character map, in Windows-1251.
  char name[17] = "";
  char mappedName[17] = "";
};

struct PaymentSlot {
  ReportAmount amount;
  uint8_t code = 0;  // as stored; 11 and above are no payment type
};

// The date and time fields of a report as the device stored them; the year is
// within the century (0..100, where 100 stands for 2100). They are not range
// checked: a day of 0 or a month of 13 come through as they are.
struct RecordedDateTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
};

// The same fields carried over as on a calendar, with the full year: day 0
// is the last day of the month before, month 13 January of the next year,
// minute 60 the next hour. No time zone or daylight saving is involved.
struct CivilDateTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
};
CivilDateTime ToCivil(const RecordedDateTime& recorded);

struct DailyReport {
  int32_t number = 0;
  int32_t modelVariant = 3;  // 2: 69-byte reports with tax groups only
  uint8_t fractional = 1;    // the decimal mode the amounts were read with
  bool crcOk = true;

  RecordedDateTime recorded;
  char dateText[15] = "";    // DD-MM-YY HH:MM, as the report prints it
  int64_t time = -1;         // calendar time (local standard time), -1 if out of range
  std::tm local = {};        // its broken-down local time, as the conversion normalised it

  ReportAmount groups[kTaxGroupCount];
  double tax[kTaxGroupCount] = {};  // each group's tax at the rates in force
  double rates[kTaxGroupCount] = {};  // those rates, percent

  // Model variant 3 only; all zero and uncounted in variant 2.
  DepartmentAmount departments[kDepartmentCount];
  PaymentSlot slots[kPaymentSlotCount];
  double payments[kPaymentCodeCount] = {};  // counted slot amounts summed by code
  int32_t decimalFlag = 0;  // 170 fractional, 85 whole numbers, anything else an error

  int64_t offset = -1;  // file position of the record's type byte; -1 when not read from a dump

  CivilDateTime Civil() const { return ToCivil(recorded); }
};

// The totals of a run, exactly as the reader summed them.
struct ReportTotals {
  double groupTurnover[kTaxGroupCount] = {};
  double groupTax[kTaxGroupCount] = {};
  double departments[kDepartmentCount] = {};
  double payments[kPaymentCodeCount] = {};
  int32_t modelVariant = 3;  // the model variant at the end of the walk
};

// The name of a payment code (0..10) in Windows-1251, six characters.
const char* PaymentName(int code);

// Where a framed record lies: offset is the file position of its type byte,
// length the length it was framed with (an unknown type takes the length of
// the record before).
struct RecordFrame {
  uint32_t type = 0;
  int64_t offset = 0;
  int32_t length = 0;
  bool crcOk = true;
};

// A record that carries tax rates (type 1 or 6) as the reader applied it.
struct TaxRateRecord {
  int64_t offset = 0;
  bool set[kTaxGroupCount] = {};       // false: stored 0xFFFF, the group keeps its rate
  double rates[kTaxGroupCount] = {};   // percent, where set
};

// A record of the decimal-mode area as its scan read it. The scan ends at
// the first record whose CRC fails (announced with crcOk false) or at the
// first erased block.
struct ModeAreaRecord {
  RecordFrame frame;
  // Decimal-mode records (type 7) with a good CRC only:
  int32_t fromReport = 0;  // the first report number the mode applies to
  uint8_t modeByte = 0;    // as stored: 0xAA hundredths, 0x55 whole numbers
  uint8_t fractional = 0;  // the mode from fromReport on (unchanged by another byte)
};

// A consumer of one walk. Every record the walk reads is announced (OnFrame)
// before its handler runs (the decimal-mode scan's reads are not), then each
// daily report that passes the filter, then the totals once at the end.
class ReportSink {
 public:
  virtual ~ReportSink();
  virtual void OnFrame(const RecordFrame& frame);
  virtual void OnDailyReport(const DailyReport& report);
  virtual void OnTotals(const ReportTotals& totals);

  // For consumers that need more of the dump (the integrity check); the
  // others ignore these.
  // A tax-rate record, after its rates were applied.
  virtual void OnTaxRates(const TaxRateRecord& rates);
  // Each record the decimal-mode scan reads. A scan's outcome is kept and
  // reused by later model records, so an area is announced once per walk
  // (once per model variant).
  virtual void OnModeAreaRecord(const ModeAreaRecord& record);
  // The dump ends inside this record (frame.length is what its type needs,
  // present how many of its bytes the file holds); it is not processed.
  virtual void OnCutShort(const RecordFrame& frame, int64_t present);
};

// Hands everything to several consumers, in the order they were added.
class ReportSinks : public ReportSink {
 public:
  void Add(ReportSink* sink) { sinks_.push_back(sink); }
  void OnDailyReport(const DailyReport& report) override;
  void OnTotals(const ReportTotals& totals) override;
  void OnFrame(const RecordFrame& frame) override;
  void OnTaxRates(const TaxRateRecord& rates) override;
  void OnModeAreaRecord(const ModeAreaRecord& record) override;
  void OnCutShort(const RecordFrame& frame, int64_t present) override;

 private:
  std::vector<ReportSink*> sinks_;
};
