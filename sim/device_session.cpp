#include "sim/device_session.h"

#include <cstring>

#include "sim/dump_builder.h"

namespace {

constexpr uint8_t kStart = 0xAA;
constexpr uint8_t kEnd = 0x0A;
constexpr uint8_t kDumpCommand = 0x43;
constexpr uint8_t kAccept = 0x0E;
constexpr uint8_t kRefuse = 0x15;
constexpr size_t kDumpFrameLength = 11;
constexpr size_t kLongReplyLength = 2000;
// The rest of the identify line after the id; the host does not use it.
constexpr char kIdentifyTail[] = ",ZA03,BG,1.00";

const char* const kModeNames[] = {"normal", "silent", "bad-receipt", "long-reply", "refuse",
                                  "no-dump", "pause", "oversize", "hang-up"};
constexpr int kModeCount = sizeof(kModeNames) / sizeof(kModeNames[0]);

uint8_t High(uint8_t x) { return static_cast<uint8_t>(0x30 | (x >> 4)); }
uint8_t Low(uint8_t x) { return static_cast<uint8_t>(0x30 | (x & 0x0F)); }

}  // namespace

const uint8_t kIdentifyFrame[5] = {0xAA, 0x3F, 0x39, 0x35, 0x0A};

const char* DeviceModeName(DeviceMode mode) {
  int index = static_cast<int>(mode);
  return index >= 0 && index < kModeCount ? kModeNames[index] : "?";
}

bool ParseDeviceMode(const std::string& name, DeviceMode* mode) {
  for (int i = 0; i < kModeCount; ++i) {
    if (name == kModeNames[i]) {
      *mode = static_cast<DeviceMode>(i);
      return true;
    }
  }
  return false;
}

std::vector<uint8_t> DumpCommandFrame(const std::string& id) {
  std::vector<uint8_t> frame;
  frame.reserve(id.size() + 5);
  frame.push_back(kStart);
  for (char byte : id) frame.push_back(static_cast<uint8_t>(byte));
  frame.push_back(kDumpCommand);
  uint8_t x = 0;
  for (uint8_t byte : frame) x ^= byte;
  frame.push_back(High(x));
  frame.push_back(Low(x));
  frame.push_back(kEnd);
  return frame;
}

CommandScanner::Command CommandScanner::Feed(uint8_t byte) {
  if (filled_ == sizeof(window_)) {
    std::memmove(window_, window_ + 1, sizeof(window_) - 1);
    --filled_;
  }
  window_[filled_++] = byte;
  if (byte != kEnd) return None;

  if (filled_ >= sizeof(kIdentifyFrame) &&
      std::memcmp(window_ + filled_ - sizeof(kIdentifyFrame), kIdentifyFrame, sizeof(kIdentifyFrame)) == 0) {
    filled_ = 0;
    return Identify;
  }
  if (filled_ == kDumpFrameLength && window_[0] == kStart && window_[7] == kDumpCommand) {
    uint8_t x = 0;
    for (int i = 0; i < 8; ++i) x ^= window_[i];
    if (window_[8] == High(x) && window_[9] == Low(x)) {
      dumpId_.assign(reinterpret_cast<const char*>(window_ + 1), 6);
      filled_ = 0;
      return Dump;
    }
  }
  return None;
}

DeviceSession::DeviceSession(const DeviceOptions& options) : options_(options) {
  if (options_.image.empty()) options_.image = GenerateDump(GenerateOptions());

  identifyReply_.push_back(kAccept);
  identifyReply_.insert(identifyReply_.end(), options_.id.begin(), options_.id.end());
  if (options_.mode == DeviceMode::LongReply) {
    for (size_t i = options_.id.size(); i < kLongReplyLength; ++i)
      identifyReply_.push_back(static_cast<uint8_t>('0' + i % 10));
  } else {
    identifyReply_.insert(identifyReply_.end(), kIdentifyTail, kIdentifyTail + sizeof(kIdentifyTail) - 1);
  }
  identifyReply_.push_back('\r');
  identifyReply_.push_back('\n');
  if (options_.mode == DeviceMode::BadReceipt) {
    const std::string& line = options_.badReceiptLine;
    if (line.empty())
      identifyReply_ = {kRefuse, 'A', 'B', '\r', '\n'};
    else
      identifyReply_.assign(line.begin(), line.end());
  }

  refusal_ = {kRefuse, 0x0A};
  if (options_.mode == DeviceMode::Oversize) {
    oversize_ = options_.image;
    if (oversize_.size() < kOversizeLength) oversize_.resize(kOversizeLength, 0xFF);
  }
}

void DeviceSession::Start(const std::vector<uint8_t>* bytes, bool dump) {
  if (active_) Finish();  // cut short by the new command
  transmission_ = Transmission();
  transmission_.bytes = bytes;
  transmission_.length = bytes->size();
  transmission_.dump = dump;
  transmission_.generation = ++generation_;
  active_ = true;
}

void DeviceSession::Receive(const uint8_t* bytes, size_t count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.insert(received_.end(), bytes, bytes + count);
  }
  for (size_t i = 0; i < count; ++i) {
    CommandScanner::Command command = scanner_.Feed(bytes[i]);
    if (command == CommandScanner::Identify) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++identifyRequests_;
      }
      if (options_.mode != DeviceMode::Silent) Start(&identifyReply_, false);
    } else if (command == CommandScanner::Dump && scanner_.dumpId() == options_.id) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++dumpRequests_;
      }
      switch (options_.mode) {
        case DeviceMode::Silent:
        case DeviceMode::NoDump:
          break;
        case DeviceMode::Refuse:
          Start(&refusal_, true);
          break;
        case DeviceMode::Oversize:
          Start(&oversize_, true);
          break;
        case DeviceMode::Pause:
          Start(&options_.image, true);
          transmission_.pauseAt = options_.pauseAt ? options_.pauseAt : options_.image.size() / 2;
          transmission_.pauseMs = options_.pauseMs;
          break;
        case DeviceMode::HangUp:
          Start(&options_.image, true);
          transmission_.length = options_.image.size() / 2;
          transmission_.hangUpAfter = true;
          break;
        default:
          Start(&options_.image, true);
          break;
      }
    }
  }
}

void DeviceSession::Finish() {
  if (!active_) return;
  active_ = false;
  if (transmission_.dump) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++transfersEnded_;
  }
}

std::vector<uint8_t> DeviceSession::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

int DeviceSession::IdentifyRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return identifyRequests_;
}

int DeviceSession::DumpRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dumpRequests_;
}

int DeviceSession::TransfersEnded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transfersEnded_;
}
