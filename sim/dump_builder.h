#pragma once
// Builds fiscal-memory images byte by byte, the way the device lays them out,
// so tests can describe a dump record by record (with deliberate faults where
// they want them) and the simulator can stream a realistic one.
//
// Dump framing: erased memory reads 0xFF; a record starts with its type byte
// (never 0xFF), its length is fixed by the type, and its last two bytes are a
// CRC-16 of everything before them, high byte first. Multi-byte numbers inside
// records are little-endian.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// CRC-16 of a dump record: reflected polynomial 0x8408, initial 0xFFFF, no
// final XOR (table-driven). "123456789" gives 0x6F91.
uint16_t DumpCrc16(const uint8_t* bytes, size_t count);

// Packed report date-time word: minute bits 0-5, hour 6-10, day 11-15, month
// 16-19, year 20-31 (year as stored: the device writes the year within the
// century, e.g. 11 for 2011). No range checks: out-of-range fields are masked
// to their bits, so a test can store odd values deliberately.
uint32_t PackDateTime(int year, int month, int day, int hour, int minute);

// Size of a complete image as the device sends it (the host's cap).
constexpr size_t kDumpImageSize = 2101247;
// A variant-2 device's image: one 128 KiB part, less its last byte.
constexpr size_t kVariant2ImageSize = 0x1FFFF;
// Where the decimal-mode records live: 0x1F100 on variant 2, 0x1F1000 otherwise.
constexpr size_t kDecimalAreaVariant2 = 0x1F100;
constexpr size_t kDecimalAreaVariant3 = 0x1F1000;
size_t DecimalModeAreaOffset(int variant);
// Decimal mode bytes of type-1 and type-7 records and of a report's flag.
constexpr uint8_t kModeFractional = 0xAA;
constexpr uint8_t kModeWhole = 0x55;
// A tax rate that is not set.
constexpr uint16_t kRateUnset = 0xFFFF;

// name: up to 16 raw bytes, zero-padded; longer names are cut at 16.
struct Department { std::string name; uint32_t amount = 0; uint8_t fifth = 0; };
struct Payment { uint32_t amount = 0; uint8_t code = 0; };
struct ReportData {
  uint32_t dateTime = 0;      // packed, see PackDateTime
  uint16_t number = 0;
  uint32_t groups[8] = {};    // tax-group turnovers (hundredths or whole units, as stored)
  Department departments[9];
  Payment payments[4];
  uint8_t decimalFlag = 0xAA; // 0xAA fractional, 0x55 whole numbers (variant 3 only)
};

class DumpBuilder {
 public:
  DumpBuilder& Erased(size_t count);                     // count bytes of 0xFF
  DumpBuilder& Bytes(const std::vector<uint8_t>& raw);   // raw bytes, no CRC added
  // A record from its type byte and content (everything but the CRC); appends
  // the CRC, high byte first then low byte. content[0] is the type.
  DumpBuilder& Record(std::vector<uint8_t> content);
  // Type 0, 32 bytes: the marker's first 4 chars at offset 25 ("ZA02" = variant 2).
  DumpBuilder& ModelRecord(const char* marker = "ZA03");
  // Type 1, 38 bytes: mode at 5, rates (hundredths of a percent) at 20+2k.
  DumpBuilder& ModeAndRates(uint8_t mode, const uint16_t rates[8]);
  // Type 6, 25 bytes: rates at 7+2k.
  DumpBuilder& Rates(const uint16_t rates[8]);
  // Type 7, 11 bytes: first report number at 5, mode at 8.
  DumpBuilder& DecimalMode(uint16_t fromReport, uint8_t mode);
  // Type 4: 334 bytes (variant 3, also any variant other than 2) or 69 (variant 2).
  DumpBuilder& Report(const ReportData& report, int variant = 3);
  // A record of a type the reader skips (2,3,5,8,9,10,12,13) at its length with
  // plausible content. Any type with a fixed length is accepted; a type without
  // one (11, 14 and above) gets an 11-byte record.
  DumpBuilder& Filler(uint8_t type);
  DumpBuilder& PadTo(size_t offset);  // 0xFF up to offset (no-op if already there or past)
  // Flips the low bit of the last record's CRC so it no longer matches. Does
  // nothing before the first record.
  DumpBuilder& CorruptLastCrc();
  // Overwrites one byte already built (e.g. to damage a field after its CRC
  // was computed). Offsets past the end are ignored.
  DumpBuilder& Poke(size_t offset, uint8_t value);

  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // Offset of the last record's type byte (0 before any record).
  size_t lastRecordOffset() const { return lastRecord_; }
  // Writes the image; on failure fills *error with the file and the system's
  // reason and leaves no partial file behind.
  bool WriteFile(const std::string& path, std::string* error) const;

 private:
  std::vector<uint8_t> bytes_;
  size_t lastRecord_ = 0;
  size_t lastRecordEnd_ = 0;
  bool haveRecord_ = false;
  uint32_t fillerCount_ = 0;
};

// Whole-file helpers for images. On failure *error names the file and gives
// the system's reason; a failed write leaves no partial file behind.
bool WriteDumpFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);
bool ReadDumpFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Record lengths by type, as the reader frames them (type 4: 334, or 69 for
// variant 2). 0 for types without a fixed length (11, 14 and above).
int DumpRecordLength(int type, int variant);

// seed: any value; variant: 2 or 3 (anything but 2 is 3); reports: how many
// report records, clamped to what fits below the decimal-mode area.
// rates: the tax rates of groups 1..8 in hundredths of a percent (kRateUnset
// where a group has none); empty means 20.00, 9.00, 0.00 and five unset.
// largeAmounts: every group with a rate turns over close to the top of the
// 4-byte counter in each report, instead of a small shop's day.
struct GenerateOptions {
  uint32_t seed = 1;
  int variant = 3;
  int reports = 200;
  std::vector<uint16_t> rates;
  bool largeAmounts = false;
};
// A realistic whole image. Deterministic for a given seed: byte-identical on
// every platform and standard library. Layout in dump_generator.cpp.
std::vector<uint8_t> GenerateDump(const GenerateOptions& options);
// The same, telling how many reports it holds after the clamp.
std::vector<uint8_t> GenerateDump(const GenerateOptions& options, int* reportCount);
