#include "fuzz/dump_input.h"

#include <algorithm>

#include "sim/dump_builder.h"

namespace {

constexpr size_t kLookAhead = 11;     // the reader's look-ahead: an erased block
constexpr size_t kModelRecordSize = 32;
constexpr int kFirstUnknownLength = 48;  // the reader frames an unknown type with the last length

// Rewrites the CRC of every record the reader would frame in bytes[from, to),
// walking from `start` the way the reader does: erased blocks of 11 bytes, a
// record at the first byte that is not 0xFF, its length by type and variant.
// Only what can be predicted is fixed; the rest keeps the fuzzer's bytes.
void FixCrcs(std::vector<uint8_t>* bytes, size_t start, size_t from, size_t to, int variant,
             int unknownLength) {
  size_t pos = start;
  while (pos + kLookAhead <= bytes->size()) {
    size_t first = 0;
    while (first < kLookAhead && (*bytes)[pos + first] == 0xFF) ++first;
    if (first == kLookAhead) {
      pos += kLookAhead;
      continue;
    }
    const size_t record = pos + first;
    const int type = (*bytes)[record];
    int length = DumpRecordLength(type, variant);
    if (length == 0) length = unknownLength;
    unknownLength = length;
    const size_t end = record + static_cast<size_t>(length);
    if (end > bytes->size()) return;
    if (record >= from && end <= to) {
      uint16_t crc = DumpCrc16(bytes->data() + record, static_cast<size_t>(length) - 2);
      (*bytes)[end - 2] = static_cast<uint8_t>(crc >> 8);
      (*bytes)[end - 1] = static_cast<uint8_t>(crc);
    }
    if (type == 0 && std::equal(bytes->data() + record + 25, bytes->data() + record + 29, "ZA02"))
      variant = 2;
    pos = end;
  }
}

std::vector<uint8_t> ModelRecord(int variant, bool damaged) {
  DumpBuilder model;
  model.ModelRecord(variant == 2 ? "ZA02" : "ZA03");
  if (damaged) model.CorruptLastCrc();
  return model.bytes();
}

}  // namespace

DumpImage DecodeDumpInput(const uint8_t* data, size_t size) {
  DumpImage image;
  const uint8_t flags = size > 0 ? data[0] : 0;
  size_t recordLength = size >= kDumpInputHeader ? data[1] | data[2] << 8 : 0;
  const uint8_t* rest = data + std::min(size, kDumpInputHeader);
  const size_t restLength = size - std::min(size, kDumpInputHeader);
  recordLength = std::min(recordLength, restLength);

  const int variant = flags & DumpVariant2 ? 2 : 3;
  const std::vector<uint8_t> model = ModelRecord(variant, flags & DumpModelCrcDamaged);
  const uint8_t placement = flags & DumpModelMask;
  if (placement == DumpModelAfterErased) image.head.assign(16, 0xFF);
  if (placement == DumpModelAtStart || placement == DumpModelAfterErased)
    image.head.insert(image.head.end(), model.begin(), model.end());
  const size_t recordsAt = image.head.size();
  image.head.insert(image.head.end(), rest, rest + recordLength);
  const size_t recordsEnd = image.head.size();
  if (placement == DumpModelAfterRecords) image.head.insert(image.head.end(), model.begin(), model.end());

  if (flags & DumpFixRecordCrcs) {
    // The walk starts at 16 when the first look-ahead is all erased.
    bool erasedStart = image.head.size() >= kLookAhead &&
                       std::all_of(image.head.begin(), image.head.begin() + kLookAhead,
                                   [](uint8_t b) { return b == 0xFF; });
    FixCrcs(&image.head, erasedStart ? 16 : 0, recordsAt, recordsEnd, 3, kFirstUnknownLength);
  }

  image.size = image.head.size();
  if ((flags & DumpWholeImageMask) != DumpWholeImageMask) return image;

  image.areaOffset = DecimalModeAreaOffset(variant);
  image.size = variant == 2 ? kVariant2ImageSize : kDumpImageSize;
  // The head never reaches the area: a 16-bit record part keeps it below 0x1F100.
  image.area.assign(rest + recordLength, rest + restLength);
  if (image.area.size() > image.size - image.areaOffset) image.area.resize(image.size - image.areaOffset);
  if (flags & DumpFixAreaCrcs)
    FixCrcs(&image.area, 0, 0, image.area.size(), variant, static_cast<int>(kModelRecordSize));
  return image;
}

std::vector<uint8_t> EncodeDumpInput(uint8_t flags, const std::vector<uint8_t>& recordPart,
                                     const std::vector<uint8_t>& areaPart) {
  std::vector<uint8_t> input = {flags, static_cast<uint8_t>(recordPart.size()),
                                static_cast<uint8_t>(recordPart.size() >> 8)};
  input.insert(input.end(), recordPart.begin(), recordPart.end());
  input.insert(input.end(), areaPart.begin(), areaPart.end());
  return input;
}
