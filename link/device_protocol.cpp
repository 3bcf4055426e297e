#include "link/device_protocol.h"

#include <chrono>
#include <cstring>

#include "link/run_state.h"
#include "link/serial_port.h"
#include "res/resource.h"

char dumpBuffer[kDumpBufferSize];

namespace {

constexpr int32_t kBlockSize = 256;
// A refusal is a short first block; a real image is never this small.
constexpr int32_t kRefusalBelow = 20;

}  // namespace

int BuildFrame(const uint8_t* address, int addressSize, uint8_t command, uint8_t* frame) {
  int at = 0;
  frame[at++] = kFrameStart;
  for (int i = 0; i < addressSize; ++i) frame[at++] = address[i];
  frame[at++] = command;
  uint8_t check = 0;
  for (int i = 0; i < at; ++i) check ^= frame[i];
  frame[at++] = static_cast<uint8_t>(0x30 | (check >> 4));
  frame[at++] = static_cast<uint8_t>(0x30 | (check & 0x0F));
  frame[at++] = kFrameEnd;
  return at;
}

int DumpProgress(int32_t total) { return 100 - (2097337 - total) / 20973; }

int IdentifyDevice(DeviceLine& line, char* reply, int capacity, int* replyLength) {
  std::memset(reply, 0, static_cast<size_t>(capacity));
  uint8_t frame[kIdentifyFrameSize];
  int size = BuildFrame(nullptr, 0, kIdentifyCommand, frame);
  PurgeAndWrite(line, frame, size);

  int got = ReadBlock(line, reply, 1);
  if (got == 1 && static_cast<uint8_t>(reply[0]) == kReplyAccept) {
    *replyLength = 1 + ReadLine(line, reply + 1, capacity - 1);
    return 1;
  }
  // Ctrl-C came while the device was silent: the line read below would keep
  // the user waiting for its whole time-out for nothing.
  if (got == 0 && interruptFlag) {
    *replyLength = 0;
    return 0;
  }
  *replyLength = ReadLine(line, reply, capacity);
  return 0;
}

int ReceiveDump(DeviceLine& line, UiWindow dialog, const char* deviceId, DumpTransfer* transfer) {
  uint8_t frame[kDumpFrameSize];
  int size =
      BuildFrame(reinterpret_cast<const uint8_t*>(deviceId), kDeviceIdSize, kDumpCommand, frame);
  readTimeout = 1;
  DropQueuedInput(line);
  line.TakeFaults();  // what the line lost before the dump is no hole in it
  line.Write(frame, size);

  DumpTransfer found;
  auto end = [&](int32_t result) {
    found.faults += line.TakeFaults();
    if (transfer) *transfer = found;
    return result;
  };

  // A silent block ends the image once the device has been silent for the
  // line's end-of-image silence (at once on a local port).
  using Clock = std::chrono::steady_clock;
  const auto endSilence = std::chrono::milliseconds(line.ImageEndSilenceMs());
  Clock::time_point lastBytes = Clock::now();

  int32_t total = 0;
  int lastProgress = 0;
  bool first = true;
  for (;;) {
    // The last block is cut to the room left, so no read passes the buffer's
    // end; a block that fills it would reach the cap and is not kept.
    int32_t room = kDumpBufferSize - total;
    int32_t d = ReadBlock(line, dumpBuffer + total, room < kBlockSize ? room : kBlockSize);
    found.faults += line.TakeFaults();
    // A line that fails is not a device that finished: what came is only a
    // part of the image and must not pass for the whole.
    if (ReadBlockFailed()) return end(0);
    // The first block that may carry the answer decides on a refusal; on a
    // line that waits out a longer silence that is the first with bytes.
    if (first && (d > 0 || endSilence.count() == 0)) {
      if (d < kRefusalBelow && static_cast<uint8_t>(dumpBuffer[0]) == kReplyRefuse) return end(0);
      first = false;
    }
    if (d > 0) lastBytes = Clock::now();
    if (total + d >= kDumpBufferSize) {
      found.capReached = true;
      return end(total);
    }
    total += d;

    int progress = DumpProgress(total);
    if (progress != lastProgress) {
      Ui().SetProgress(dialog, IDC_PROGRESS, progress);
      lastProgress = progress;
    }
    Ui().DispatchOneMessage();
    // STOP (or Close) wins even over the final, empty block.
    if (!busyFlag) return end(0);
    if (d == 0 && Clock::now() - lastBytes >= endSilence) return end(total);
  }
}
