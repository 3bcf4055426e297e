#pragma once
// The link target's input: everything the device says, and how the line
// carries it.
//
//   byte 0     flags (LinkInputFlags)
//   byte 1     bytes per read: 0 as many as asked for, n at most n (a slow line)
//   bytes 2-3  length of the identify reply, little-endian (cut to what follows)
//   bytes 4-5  a silent second in the dump reply before this offset,
//              little-endian; none when past the reply's end
//   then       the identify reply, then the dump reply
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/serial_line_memory.h"

enum LinkInputFlags : uint8_t {
  LinkFailsAfterIdentify = 0x01,  // the line fails once the identify reply is used up
  LinkFailsAfterDump = 0x02,      // the line fails once the dump reply is used up
  LinkPadMask = 0x1C,             // the dump reply padded with erased bytes up to:
  LinkPadToImage = 0x14,          //   the device's whole image, 2,101,247 bytes
  LinkPadToCap = 0x18,            //   one byte more: the host's cap
  LinkPadToOversize = 0x1C,       //   an over-long stream of 2,200,000 bytes
};

constexpr size_t kLinkInputHeader = 6;

struct LinkInput {
  LineReply identify;
  LineReply dump;
  size_t bytesPerRead = 0;
};

LinkInput DecodeLinkInput(const uint8_t* data, size_t size);
std::vector<uint8_t> EncodeLinkInput(uint8_t flags, uint8_t bytesPerRead, uint16_t silenceBefore,
                                     const std::vector<uint8_t>& identifyReply,
                                     const std::vector<uint8_t>& dumpReply);
