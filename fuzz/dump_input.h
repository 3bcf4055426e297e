#pragma once
// The dump target's input, laid out sparsely over an erased image so that a
// short input reaches both ends of the device's memory: the records at the
// start and the decimal-mode area near the end.
//
//   byte 0     flags (DumpInputFlags)
//   bytes 1-2  length of the record part, little-endian (cut to what follows)
//   then       the record part, then the area part
//
// The record part lands at offset 0, or behind the model record the flags
// ask for. A whole image is the variant's full size with the area part at its
// decimal-mode area; any other image ends where the record part (and a model
// record behind it) ends. Every byte not given is erased (0xFF).
#include <cstddef>
#include <cstdint>
#include <vector>

enum DumpInputFlags : uint8_t {
  DumpVariant2 = 0x01,          // marker "ZA02", area at 0x1F100, image 0x1FFFF bytes; else variant 3
  DumpModelMask = 0x06,         // where the harness puts a model record:
  DumpModelNone = 0x00,         //   nowhere (the record part may hold one)
  DumpModelAtStart = 0x02,      //   at offset 0, the record part behind it
  DumpModelAfterErased = 0x04,  //   at 16 behind erased bytes, as the device writes it
  DumpModelAfterRecords = 0x06, //   behind the record part: the variant changes mid-walk
  DumpModelCrcDamaged = 0x08,
  DumpFixRecordCrcs = 0x10,     // CRCs of the record part's records made right
  DumpFixAreaCrcs = 0x20,       // CRCs of the area part's records made right
  DumpWholeImageMask = 0xC0,    // both bits: the whole image with its area part
};

constexpr size_t kDumpInputHeader = 3;

struct DumpImage {
  std::vector<uint8_t> head;  // bytes from offset 0
  std::vector<uint8_t> area;  // bytes at areaOffset; empty for an image without them
  size_t areaOffset = 0;
  size_t size = 0;            // the image's length
};

DumpImage DecodeDumpInput(const uint8_t* data, size_t size);
std::vector<uint8_t> EncodeDumpInput(uint8_t flags, const std::vector<uint8_t>& recordPart,
                                     const std::vector<uint8_t>& areaPart);
