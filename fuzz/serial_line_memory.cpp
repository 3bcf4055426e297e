#include "fuzz/serial_line_memory.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {

struct MemoryLine {
  std::vector<LineReply> replies;
  size_t bytesPerRead = 0;
  bool open = false;
  bool failed = false;
  size_t next = 0;                 // index of the reply the next write starts
  const LineReply* reply = nullptr;
  size_t at = 0;                   // bytes of the reply read so far
  bool silencePending = false;
  std::vector<std::vector<uint8_t>> writes;
};

MemoryLine line;
time_t clockSeconds = 1600000000;  // any start: the port code only counts changes

bool Usable() { return line.open && !line.failed; }

// Bytes that can be read before the next silence or the end of the reply.
size_t Ready() {
  if (!line.reply) return 0;
  size_t stop = line.silencePending ? line.reply->silenceBefore : line.reply->bytes.size();
  return stop - line.at;
}

}  // namespace

// The calendar clock of this process: it moves only with the line's silence.
extern "C" time_t time(time_t* out) noexcept {
  if (out) *out = clockSeconds;
  return clockSeconds;
}

void LoadMemoryLine(std::vector<LineReply> replies, size_t bytesPerRead) {
  line = MemoryLine();
  line.replies = std::move(replies);
  line.bytesPerRead = bytesPerRead;
}

const std::vector<LineReply>& MemoryLineReplies() { return line.replies; }

bool MemoryLineFailed() { return line.failed; }

const std::vector<std::vector<uint8_t>>& MemoryLineWrites() { return line.writes; }

namespace {

class MemoryDeviceLine : public DeviceLine {
 public:
  MemoryDeviceLine() { line.open = true; }
  ~MemoryDeviceLine() override { line.open = false; }

  int32_t Read(void* buffer, int32_t count) override {
    if (!Usable()) return -1;
    if (count <= 0) return 0;
    size_t ready = Ready();
    if (ready == 0) {
      if (line.silencePending) {
        line.silencePending = false;
      } else if (line.reply && line.reply->failsAfter) {
        line.failed = true;
        return -1;
      }
      ++clockSeconds;
      return 0;
    }
    size_t n = std::min(ready, static_cast<size_t>(count));
    if (line.bytesPerRead > 0) n = std::min(n, line.bytesPerRead);
    std::memcpy(buffer, line.reply->bytes.data() + line.at, n);
    line.at += n;
    return static_cast<int32_t>(n);
  }

  int32_t Write(const void* bytes, int32_t count) override {
    if (!Usable() || count < 0) return -1;
    const uint8_t* first = static_cast<const uint8_t*>(bytes);
    line.writes.emplace_back(first, first + count);
    line.reply = line.next < line.replies.size() ? &line.replies[line.next] : nullptr;
    ++line.next;
    line.at = 0;
    line.silencePending = line.reply && line.reply->silenceBefore < line.reply->bytes.size();
    return count;
  }

  int32_t InputWaiting() override {
    if (!Usable()) return -1;
    return static_cast<int32_t>(std::min<size_t>(Ready(), INT32_MAX));
  }
};

}  // namespace

std::unique_ptr<DeviceLine> OpenMemoryLine() {
  if (line.open) return nullptr;
  return std::make_unique<MemoryDeviceLine>();
}
