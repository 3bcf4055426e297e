#include "fuzz/link_input.h"

#include <algorithm>

#include "link/device_protocol.h"
#include "sim/device_session.h"
#include "sim/dump_builder.h"

LinkInput DecodeLinkInput(const uint8_t* data, size_t size) {
  LinkInput input;
  uint8_t header[kLinkInputHeader] = {};
  std::copy(data, data + std::min(size, kLinkInputHeader), header);
  const uint8_t* rest = data + std::min(size, kLinkInputHeader);
  const size_t restLength = size - std::min(size, kLinkInputHeader);
  const size_t identifyLength = std::min<size_t>(header[2] | header[3] << 8, restLength);
  const size_t silence = header[4] | header[5] << 8;

  input.bytesPerRead = header[1];
  input.identify.bytes.assign(rest, rest + identifyLength);
  input.identify.failsAfter = header[0] & LinkFailsAfterIdentify;
  input.dump.bytes.assign(rest + identifyLength, rest + restLength);
  input.dump.failsAfter = header[0] & LinkFailsAfterDump;
  if (silence < input.dump.bytes.size()) input.dump.silenceBefore = silence;

  size_t padTo = 0;
  switch (header[0] & LinkPadMask) {
    case LinkPadToImage: padTo = kDumpImageSize; break;
    case LinkPadToCap: padTo = kDumpBufferSize; break;
    case LinkPadToOversize: padTo = DeviceSession::kOversizeLength; break;
    default: break;
  }
  if (input.dump.bytes.size() < padTo) input.dump.bytes.resize(padTo, 0xFF);
  return input;
}

std::vector<uint8_t> EncodeLinkInput(uint8_t flags, uint8_t bytesPerRead, uint16_t silenceBefore,
                                     const std::vector<uint8_t>& identifyReply,
                                     const std::vector<uint8_t>& dumpReply) {
  std::vector<uint8_t> input = {flags,
                                bytesPerRead,
                                static_cast<uint8_t>(identifyReply.size()),
                                static_cast<uint8_t>(identifyReply.size() >> 8),
                                static_cast<uint8_t>(silenceBefore),
                                static_cast<uint8_t>(silenceBefore >> 8)};
  input.insert(input.end(), identifyReply.begin(), identifyReply.end());
  input.insert(input.end(), dumpReply.begin(), dumpReply.end());
  return input;
}
