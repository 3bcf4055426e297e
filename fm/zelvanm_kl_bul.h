#pragma once
// The reader of the one device family this tool serves. It replaces the
// base framing with the device's own and knows what each record type holds.
//
// Dump file layout: the fiscal-memory image exactly as the device sent it.
// Erased memory reads 0xFF, and any number of 0xFF bytes may stand before a
// record. A record starts with its type byte (0x00..0xFE), whose value fixes
// the record's length; the last two bytes hold a CRC-16 of everything before
// them, high byte first. When the first 11 bytes of the file are all 0xFF, the
// walk starts at offset 16 instead of 0. The decimal-mode area, a run of
// records ending at the first erased block, starts at 0x1F1000 (0x1F100 for
// model variant 2); its type-7 records say from which report on amounts carry
// two decimals.
#include <cstdint>
#include <deque>
#include <vector>

#include "fm/daily_report.h"
#include "fm/fm.h"

// Result codes of ReadRecord besides a record type (0..13).
enum ReadRecordResult : int32_t {
  RecordEndOfInput = -1,
  RecordCrcMismatch = -2,
  RecordUnknownType = -3,
  RecordErasedBlock = -4,
};

// The device model: 3 unless a model record carries the marker "ZA02"; it
// selects the report record's length and layout and where the decimal-mode
// area starts. Every reader starts again from 3.
extern int32_t modelVariant;

// Which report numbers carry amounts in hundredths, in the order found.
struct DecimalModeEntry {
  uint8_t fractional;
  int32_t fromReport;
  DecimalModeEntry* next;
};
extern DecimalModeEntry* decimalModeHistory;
// A type-1 record's entry goes to the front of the history.
void PushDecimalModeFront(uint8_t fractional, int32_t fromReport);

class CZELVANM_KL_BUL : public CFM {
 public:
  explicit CZELVANM_KL_BUL(const char* path);
  explicit CZELVANM_KL_BUL(CInputFileBase* input);  // owns it
  ~CZELVANM_KL_BUL() override;

  void PrintTotals() override;
  int32_t GetRecordSize(uint32_t type) override;
  int32_t ProcessRecord(uint32_t type) override;
  int32_t ReadRecord() override;
  int32_t CheckRecord() override;

  void ScanDecimalModes();
  uint8_t FractionalFor(int32_t reportNumber) const;
  bool MatchesFilter(int32_t reportNumber, int64_t dateTime) const;

  int32_t recordStart = 0;  // index of the type byte in the record buffer (0..10)
  int32_t recordEnd = 0;    // recordStart + recordSize
  int32_t recordType = 0;

  // Where the walk's records, daily reports and totals go: the text report of
  // the report buffer unless the run names other consumers.
  ReportSink* sink;

 private:
  // What one scan of the decimal-mode area found and left behind.
  struct DecimalScan {
    int32_t variant = 0;
    int32_t fractionalBefore = 0;
    int32_t recordSizeBefore = 0;
    std::vector<DecimalModeEntry> entries;
    int32_t fractionalAfter = 0;
    int32_t recordStart = 0, recordEnd = 0, recordType = 0, recordSize = 0;
  };
  DecimalScan RunDecimalScan();
  std::deque<DecimalScan> scans;  // stable addresses
  const DecimalScan* lastAppendedScan = nullptr;

  // Reads the next record's look-ahead and rest into the record buffer.
  // Gives 1 for a record, 0 for an erased block, kLookAheadShort or
  // kRestShort at the end of the input.
  static constexpr int kLookAheadShort = -1;
  static constexpr int kRestShort = -2;
  int FrameNextRecord();
  // Tells the sink of a record that the end of the input cut short, if any.
  void AnnounceCutShort(int framed);
  void ProcessModelRecord();
  void ProcessModeAndRates();
  void ProcessRates(int32_t firstOffset);
  void ProcessReport();
  void ReadVariant3Fields(DailyReport& report, int32_t amountFlags);
  void ReadAmount(int32_t offset, int32_t length, int32_t flags, ReportAmount* amount);

  bool recordCrcOk = true;  // the CRC of the record being processed matched
  // File positions: of the next look-ahead, and of the current record's type
  // byte (counted here rather than asked of the stream for every record).
  int64_t nextOffset = 0;
  int64_t recordOffset = 0;
};
