// libFuzzer target: the device link on arbitrary device bytes. The real port
// transfers and device protocol run over the in-memory line
// (serial_line_memory.h) as the acquisition run drives them: identify, then
// the dump. The reply buffer and the image buffer must hold whatever comes,
// the image must never pass the cap, and what the host keeps must be what
// the device said.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/link_input.h"
#include "fuzz/serial_line_memory.h"
#include "link/device_protocol.h"
#include "link/run_state.h"
#include "link/serial_port.h"
#include "sim/device_session.h"

namespace {

constexpr int kReplyCapacity = 1024;  // the acquisition run's reply buffer
constexpr int32_t kBlockSize = 256;   // the dump arrives in blocks of this size
constexpr size_t kRefusalBelow = 20;

void Check(bool condition) {
  if (!condition) std::abort();
}

// The progress bar stays within its range and never runs back.
class ProgressUi : public NullUi {
 public:
  void SetProgress(UiWindow, int, int position) override {
    Check(position >= 0 && position <= 100 && position >= last);
    last = position;
  }
  int last = 0;
};

ProgressUi ui;

// Length of the line from `from` on: up to CR or LF, or to the end.
size_t LineLength(const std::vector<uint8_t>& bytes, size_t from) {
  size_t end = from;
  while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
  return end - from;
}

// The first byte decides; the line after it lands behind it on acceptance and
// over the reply's start on a bad receipt.
void CheckIdentify(const std::vector<uint8_t>& said, const char* reply, int identified, int length) {
  const auto& writes = MemoryLineWrites();
  Check(writes.size() == 1 && std::equal(writes[0].begin(), writes[0].end(), kIdentifyFrame,
                                         kIdentifyFrame + sizeof kIdentifyFrame));
  Check(length >= 0 && length <= kReplyCapacity);
  const bool accepted = !said.empty() && said[0] == kReplyAccept;
  Check(identified == (accepted ? 1 : 0));
  if (said.empty()) {
    Check(length == 0);
    return;
  }
  const int at = accepted ? 1 : 0;
  const size_t line = std::min(LineLength(said, 1), static_cast<size_t>(kReplyCapacity - at));
  Check(static_cast<size_t>(length) == at + line);
  Check(std::equal(said.begin() + 1, said.begin() + 1 + static_cast<long>(line), reply + at,
                   [](uint8_t byte, char kept) { return byte == static_cast<uint8_t>(kept); }));
}

void CheckDump(const LineReply& said, const char* deviceId, bool lineGone, int total) {
  const auto& writes = MemoryLineWrites();
  if (lineGone) {  // the identify reply ended with the line failing
    Check(writes.size() == 1 && total == 0);
    return;
  }
  Check(writes.size() == 2 && writes[1] == DumpCommandFrame(std::string(deviceId, kDeviceIdSize)));
  Check(readTimeout == 1);
  const std::vector<uint8_t>& bytes = said.bytes;
  Check(total >= 0 && total < kDumpBufferSize && static_cast<size_t>(total) <= bytes.size());
  Check(total == 0 || std::memcmp(dumpBuffer, bytes.data(), static_cast<size_t>(total)) == 0);
  if (said.silenceBefore < bytes.size()) return;  // where the blocks end then is the protocol's business

  // Without a pause the blocks are whole: the one that reaches the cap is
  // dropped, a short first block of 0x15 is a refusal, a failing line keeps nothing.
  int32_t expected = static_cast<int32_t>(bytes.size());
  if (bytes.size() >= static_cast<size_t>(kDumpBufferSize))
    expected = (kDumpBufferSize - 1) / kBlockSize * kBlockSize;
  else if (said.failsAfter || (!bytes.empty() && bytes.size() < kRefusalBelow && bytes[0] == kReplyRefuse))
    expected = 0;
  Check(total == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LinkInput input = DecodeLinkInput(data, size);
  LoadMemoryLine({std::move(input.identify), std::move(input.dump)}, input.bytesPerRead);
  const LineReply& identifyReply = MemoryLineReplies()[0];
  const LineReply& dumpReply = MemoryLineReplies()[1];

  // The state the acquisition run sets before it talks to the device.
  SetUi(&ui);
  ui.last = 0;
  busyFlag = 1;
  cancelFlag = 0;
  readTimeout = 5;
  std::unique_ptr<DeviceLine> port = OpenMemoryLine();
  Check(port != nullptr);
  Check(DropQueuedInput(*port));

  // On the heap at its exact size, so a byte stored past it is caught.
  std::unique_ptr<char[]> reply(new char[kReplyCapacity]);
  int length = -1;
  int identified = IdentifyDevice(*port, reply.get(), kReplyCapacity, &length);
  CheckIdentify(identifyReply.bytes, reply.get(), identified, length);
  if (identified) {
    const bool lineGone = MemoryLineFailed();
    CheckDump(dumpReply, reply.get() + 1, lineGone, ReceiveDump(*port, nullptr, reply.get() + 1));
  }
  port.reset();
  return 0;
}
