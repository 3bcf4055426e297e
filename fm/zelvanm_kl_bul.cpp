// Framing of the device's dump: erased gaps, record lengths by type, the CRC,
// the decimal-mode history and the report filter.
#include "fm/zelvanm_kl_bul.h"

#include <cstring>

#include "fm/crc16.h"
#include "report/text_report.h"

int32_t modelVariant = 3;
DecimalModeEntry* decimalModeHistory = nullptr;

namespace {

constexpr int32_t kLookAhead = 11;  // an erased block is 11 bytes of 0xFF
constexpr int32_t kDecimalAreaVariant2 = 0x1F100;
constexpr int32_t kDecimalAreaVariant3 = 0x1F1000;

DecimalModeEntry* decimalModeTail = nullptr;

void ClearDecimalModeHistory() {
  while (decimalModeHistory) {
    DecimalModeEntry* next = decimalModeHistory->next;
    delete decimalModeHistory;
    decimalModeHistory = next;
  }
  decimalModeTail = nullptr;
}

void AppendDecimalMode(uint8_t fractional, int32_t fromReport) {
  auto* entry = new DecimalModeEntry{fractional, fromReport, nullptr};
  if (decimalModeTail)
    decimalModeTail->next = entry;
  else
    decimalModeHistory = entry;
  decimalModeTail = entry;
}

// Index of the first byte that is not 0xFF, or count when all are.
int32_t FirstNonErased(const uint8_t* bytes, int32_t count) {
  int32_t i = 0;
  while (i < count && bytes[i] == 0xFF) ++i;
  return i;
}

}  // namespace

void PushDecimalModeFront(uint8_t fractional, int32_t fromReport) {
  decimalModeHistory = new DecimalModeEntry{fractional, fromReport, decimalModeHistory};
  if (!decimalModeTail) decimalModeTail = decimalModeHistory;
}

CZELVANM_KL_BUL::CZELVANM_KL_BUL(const char* path) : CZELVANM_KL_BUL(new CInputFileBin(path)) {}

CZELVANM_KL_BUL::CZELVANM_KL_BUL(CInputFileBase* source) : CFM(source), sink(&TheTextReport()) {
  // A variant-2 dump read earlier in this process must not make this one
  // parse with 69-byte reports.
  modelVariant = 3;
  ClearDecimalModeHistory();

  uint8_t* buffer = record->data;
  input->Seek(0);
  if (!input->Read(buffer, kLookAhead)) return;
  nextOffset = FirstNonErased(buffer, kLookAhead) == kLookAhead ? 16 : 0;
  input->Seek(static_cast<int32_t>(nextOffset));
}

CZELVANM_KL_BUL::~CZELVANM_KL_BUL() { ClearDecimalModeHistory(); }

int32_t CZELVANM_KL_BUL::GetRecordSize(uint32_t type) {
  switch (type) {
    case 0: return 32;
    case 1: return 38;
    case 2: case 3: case 12: return 68;
    case 4: return modelVariant == 2 ? 69 : 334;
    case 5: case 7: case 9: case 10: case 13: return 11;
    case 6: return 25;
    case 8: return 40;
    default: return recordSize;  // unknown: framed with the previous length
  }
}

int CZELVANM_KL_BUL::FrameNextRecord() {
  uint8_t* buffer = record->data;
  if (!input->Read(buffer, kLookAhead)) return kLookAheadShort;
  int32_t start = FirstNonErased(buffer, kLookAhead);
  if (start == kLookAhead) {
    nextOffset += kLookAhead;
    return 0;
  }
  recordStart = start;
  recordType = buffer[start];
  recordSize = GetRecordSize(static_cast<uint32_t>(recordType));
  recordEnd = recordStart + recordSize;
  recordOffset = nextOffset + start;
  if (recordEnd > CRecord::kDataSize) return kRestShort;  // cannot happen: records are at most 334 bytes
  if (!input->Read(buffer + kLookAhead, recordEnd - kLookAhead)) return kRestShort;
  nextOffset += recordEnd;
  return 1;
}

void CZELVANM_KL_BUL::AnnounceCutShort(int framed) {
  int64_t end = input->Tell();  // a failed read leaves the stream at the end
  RecordFrame frame;
  frame.crcOk = false;
  if (framed == kRestShort) {
    frame.type = static_cast<uint32_t>(recordType);
    frame.offset = recordOffset;
    frame.length = recordSize;
  } else {
    // Fewer bytes than a look-ahead are left: a record starts among them
    // unless they are all erased.
    int64_t left = end - nextOffset;
    if (left <= 0 || left >= kLookAhead) return;
    uint8_t* buffer = record->data;
    input->Seek(static_cast<int32_t>(nextOffset));
    input->Read(buffer, static_cast<int32_t>(left));
    int32_t start = FirstNonErased(buffer, static_cast<int32_t>(left));
    if (start == left) return;
    frame.type = buffer[start];
    frame.offset = nextOffset + start;
    frame.length = GetRecordSize(frame.type);
  }
  if (end > frame.offset) sink->OnCutShort(frame, end - frame.offset);
}

int32_t CZELVANM_KL_BUL::ReadRecord() {
  int framed = FrameNextRecord();
  if (framed < 0) {
    AnnounceCutShort(framed);
    return RecordEndOfInput;
  }
  if (framed == 0) return RecordErasedBlock;
  // A record whose CRC fails is still processed, after the consumers have
  // been told (the text report warns).
  recordCrcOk = CheckRecord() == 1;
  RecordFrame frame;
  frame.type = static_cast<uint32_t>(recordType);
  frame.offset = recordOffset;
  frame.length = recordSize;
  frame.crcOk = recordCrcOk;
  sink->OnFrame(frame);
  int32_t processed = ProcessRecord(static_cast<uint32_t>(recordType));
  return recordCrcOk ? processed : RecordCrcMismatch;
}

int32_t CZELVANM_KL_BUL::CheckRecord() {
  const uint8_t* bytes = record->data;
  int32_t covered = recordSize - 2;
  uint16_t computed = RecordCrc16(bytes + recordStart, covered > 0 ? static_cast<size_t>(covered) : 0);
  uint16_t stored = static_cast<uint16_t>(bytes[recordEnd - 2] << 8 | bytes[recordEnd - 1]);
  return computed == stored ? 1 : 0;
}

void CZELVANM_KL_BUL::ScanDecimalModes() {
  // The area's content never changes within a walk, so a scan's outcome
  // depends only on the model variant, the decimal mode and the record
  // length it starts from (an unknown type is framed with the latter). A dump full of model records therefore costs a few scans, not one
  // each.
  DecimalScan* scan = nullptr;
  for (DecimalScan& known : scans)
    if (known.variant == modelVariant && known.fractionalBefore == fractional &&
        known.recordSizeBefore == recordSize)
      scan = &known;
  if (!scan) {
    scans.push_back(RunDecimalScan());
    scan = &scans.back();
  }
  fractional = scan->fractionalAfter;
  recordStart = scan->recordStart;
  recordEnd = scan->recordEnd;
  recordType = scan->recordType;
  recordSize = scan->recordSize;

  // The same entries appended again right behind themselves would change no
  // lookup: a walk through the first copy either stops inside it or leaves
  // it with the mode the second copy would give. So they are kept once.
  if (scan == lastAppendedScan && !scan->entries.empty()) return;
  for (const DecimalModeEntry& entry : scan->entries) AppendDecimalMode(entry.fractional, entry.fromReport);
  lastAppendedScan = scan->entries.empty() ? lastAppendedScan : scan;
}

CZELVANM_KL_BUL::DecimalScan CZELVANM_KL_BUL::RunDecimalScan() {
  DecimalScan scan;
  scan.variant = modelVariant;
  scan.fractionalBefore = fractional;
  scan.recordSizeBefore = recordSize;
  int32_t kept = input->Tell();
  const int64_t keptNext = nextOffset, keptRecord = recordOffset;
  nextOffset = modelVariant == 2 ? kDecimalAreaVariant2 : kDecimalAreaVariant3;
  input->Seek(static_cast<int32_t>(nextOffset));
  // The area ends at the first erased block; a bad record ends it silently
  // (the sink hears of it).
  while (FrameNextRecord() == 1) {
    ModeAreaRecord area;
    area.frame.type = static_cast<uint32_t>(recordType);
    area.frame.offset = recordOffset;
    area.frame.length = recordSize;
    area.frame.crcOk = CheckRecord() == 1;
    if (!area.frame.crcOk) {
      sink->OnModeAreaRecord(area);
      break;
    }
    if (recordType == 7) {
      uint8_t mode = static_cast<uint8_t>(record->Decode(recordStart + 8, 1, DecodeRaw, 0)[0]);
      if (mode == 0x55) fractional = 0;
      if (mode == 0xAA) fractional = 1;
      const char* number = record->Decode(recordStart + 5, 2, DecodeBinary, DecodeReverse);
      int32_t fromReport = 0;
      for (const char* p = number; *p >= '0' && *p <= '9'; ++p) fromReport = fromReport * 10 + (*p - '0');
      scan.entries.push_back({static_cast<uint8_t>(fractional), fromReport, nullptr});
      area.fromReport = fromReport;
      area.modeByte = mode;
      area.fractional = static_cast<uint8_t>(fractional);
    }
    sink->OnModeAreaRecord(area);
  }
  input->Seek(kept);
  nextOffset = keptNext;
  recordOffset = keptRecord;
  scan.fractionalAfter = fractional;
  scan.recordStart = recordStart;
  scan.recordEnd = recordEnd;
  scan.recordType = recordType;
  scan.recordSize = recordSize;
  fractional = scan.fractionalBefore;
  return scan;
}

uint8_t CZELVANM_KL_BUL::FractionalFor(int32_t reportNumber) const {
  uint8_t result = 1;
  for (const DecimalModeEntry* entry = decimalModeHistory;
       entry && entry->fromReport <= reportNumber; entry = entry->next)
    result = entry->fractional;
  return result;
}

bool CZELVANM_KL_BUL::MatchesFilter(int32_t reportNumber, int64_t dateTime) const {
  int64_t value;
  switch (reportType) {
    case 2: value = dateTime; break;
    case 1: value = reportNumber; break;
    default: return true;
  }
  return fromValue <= value && value <= toValue;
}
