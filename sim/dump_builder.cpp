#include "sim/dump_builder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct CrcTable {
  uint16_t entry[256];
  CrcTable() {
    for (int i = 0; i < 256; ++i) {
      uint16_t crc = static_cast<uint16_t>(i);
      for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
      entry[i] = crc;
    }
  }
};

void PutLe16(std::vector<uint8_t>& record, size_t offset, uint16_t value) {
  record[offset] = static_cast<uint8_t>(value);
  record[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(std::vector<uint8_t>& record, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Content of a record of the given type and full length, CRC not included.
std::vector<uint8_t> Content(uint8_t type, int length) {
  std::vector<uint8_t> content(static_cast<size_t>(length - 2), 0);
  content[0] = type;
  return content;
}

}  // namespace

uint16_t DumpCrc16(const uint8_t* bytes, size_t count) {
  static const CrcTable table;
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ table.entry[(crc ^ bytes[i]) & 0xFF]);
  return crc;
}

uint32_t PackDateTime(int year, int month, int day, int hour, int minute) {
  return (static_cast<uint32_t>(minute) & 0x3F) | ((static_cast<uint32_t>(hour) & 0x1F) << 6) |
         ((static_cast<uint32_t>(day) & 0x1F) << 11) | ((static_cast<uint32_t>(month) & 0x0F) << 16) |
         ((static_cast<uint32_t>(year) & 0xFFF) << 20);
}

size_t DecimalModeAreaOffset(int variant) {
  return variant == 2 ? kDecimalAreaVariant2 : kDecimalAreaVariant3;
}

int DumpRecordLength(int type, int variant) {
  switch (type) {
    case 0: return 32;
    case 1: return 38;
    case 2: case 3: case 12: return 68;
    case 4: return variant == 2 ? 69 : 334;
    case 5: case 7: case 9: case 10: case 13: return 11;
    case 6: return 25;
    case 8: return 40;
    default: return 0;
  }
}

DumpBuilder& DumpBuilder::Erased(size_t count) {
  bytes_.insert(bytes_.end(), count, 0xFF);
  return *this;
}

DumpBuilder& DumpBuilder::Bytes(const std::vector<uint8_t>& raw) {
  bytes_.insert(bytes_.end(), raw.begin(), raw.end());
  return *this;
}

DumpBuilder& DumpBuilder::Record(std::vector<uint8_t> content) {
  uint16_t crc = DumpCrc16(content.data(), content.size());
  lastRecord_ = bytes_.size();
  lastRecordEnd_ = lastRecord_ + content.size() + 2;
  haveRecord_ = true;
  bytes_.insert(bytes_.end(), content.begin(), content.end());
  bytes_.push_back(static_cast<uint8_t>(crc >> 8));
  bytes_.push_back(static_cast<uint8_t>(crc));
  return *this;
}

DumpBuilder& DumpBuilder::ModelRecord(const char* marker) {
  std::vector<uint8_t> content = Content(0, 32);
  for (size_t i = 0; marker && i < 4 && marker[i]; ++i) content[25 + i] = static_cast<uint8_t>(marker[i]);
  return Record(std::move(content));
}

DumpBuilder& DumpBuilder::ModeAndRates(uint8_t mode, const uint16_t rates[8]) {
  std::vector<uint8_t> content = Content(1, 38);
  content[5] = mode;
  for (int k = 0; k < 8; ++k) PutLe16(content, 20 + 2 * k, rates[k]);
  return Record(std::move(content));
}

DumpBuilder& DumpBuilder::Rates(const uint16_t rates[8]) {
  std::vector<uint8_t> content = Content(6, 25);
  for (int k = 0; k < 8; ++k) PutLe16(content, 7 + 2 * k, rates[k]);
  return Record(std::move(content));
}

DumpBuilder& DumpBuilder::DecimalMode(uint16_t fromReport, uint8_t mode) {
  std::vector<uint8_t> content = Content(7, 11);
  PutLe16(content, 5, fromReport);
  content[8] = mode;
  return Record(std::move(content));
}

DumpBuilder& DumpBuilder::Report(const ReportData& report, int variant) {
  std::vector<uint8_t> content = Content(4, DumpRecordLength(4, variant));
  PutLe32(content, 1, report.dateTime);
  PutLe16(content, 5, report.number);
  if (variant == 2) {
    for (int k = 0; k < 8; ++k) PutLe32(content, 8 + 4 * k, report.groups[k]);
    return Record(std::move(content));
  }
  for (int k = 0; k < 8; ++k) PutLe32(content, 7 + 4 * k, report.groups[k]);
  for (int d = 0; d < 9; ++d) {
    const Department& department = report.departments[d];
    size_t entry = 39 + 21 * static_cast<size_t>(d);
    size_t nameLength = department.name.size() < 16 ? department.name.size() : 16;
    std::memcpy(&content[entry], department.name.data(), nameLength);
    PutLe32(content, entry + 16, department.amount);
    content[entry + 20] = department.fifth;
  }
  for (int p = 0; p < 4; ++p) {
    size_t slot = 274 + 5 * static_cast<size_t>(p);
    PutLe32(content, slot, report.payments[p].amount);
    content[slot + 4] = report.payments[p].code;
  }
  content[331] = report.decimalFlag;
  return Record(std::move(content));
}

DumpBuilder& DumpBuilder::Filler(uint8_t type) {
  int length = DumpRecordLength(type, 3);
  if (length == 0) length = 11;
  std::vector<uint8_t> content = Content(type, length);
  // A running number, then a byte pattern that never forms a 0xFF run.
  ++fillerCount_;
  if (content.size() >= 3) PutLe16(content, 1, static_cast<uint16_t>(fillerCount_));
  for (size_t i = 3; i < content.size(); ++i)
    content[i] = static_cast<uint8_t>((fillerCount_ * 31 + i * 7 + type) & 0x7F);
  return Record(std::move(content));
}

DumpBuilder& DumpBuilder::PadTo(size_t offset) {
  if (offset > bytes_.size()) bytes_.resize(offset, 0xFF);
  return *this;
}

DumpBuilder& DumpBuilder::CorruptLastCrc() {
  if (haveRecord_) bytes_[lastRecordEnd_ - 1] ^= 0x01;
  return *this;
}

DumpBuilder& DumpBuilder::Poke(size_t offset, uint8_t value) {
  if (offset < bytes_.size()) bytes_[offset] = value;
  return *this;
}

bool DumpBuilder::WriteFile(const std::string& path, std::string* error) const {
  return WriteDumpFile(path, bytes_, error);
}

bool WriteDumpFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
  int writeErrno = errno;
  bool ok = written == bytes.size();
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    writeErrno = errno;
  }
  if (!ok) {
    std::remove(path.c_str());
    if (error) *error = "cannot write " + path + ": " + std::strerror(writeErrno);
  }
  return ok;
}

bool ReadDumpFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes->clear();
  uint8_t buffer[65536];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) bytes->insert(bytes->end(), buffer, buffer + count);
  bool ok = !std::ferror(file);
  int readErrno = errno;
  std::fclose(file);
  if (!ok && error) *error = "cannot read " + path + ": " + std::strerror(readErrno);
  return ok;
}
