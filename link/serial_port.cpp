#include "link/serial_port.h"

#include <cstring>
#include <ctime>
#include "link/run_state.h"
#include "report/ui_services.h"

namespace {

// Whole seconds since `start` on the calendar clock, as the time-outs count.
int64_t SecondsSince(int64_t start) { return static_cast<int64_t>(std::time(nullptr)) - start; }

bool lastBlockFailed = false;

}  // namespace

bool DropQueuedInput(DeviceLine& line) {
  int32_t waiting = line.InputWaiting();
  if (waiting < 0) return false;
  char discard[4096];
  while (waiting > 0) {
    int32_t chunk = waiting < static_cast<int32_t>(sizeof discard) ? waiting : sizeof discard;
    int32_t got = line.Read(discard, chunk);
    if (got <= 0) break;
    waiting -= got;
  }
  return true;
}

int PurgeAndWrite(DeviceLine& line, const void* bytes, int32_t length) {
  DropQueuedInput(line);
  return line.Write(bytes, length) == length ? 1 : 0;
}

int ReadLine(DeviceLine& line, char* buffer, int capacity) {
  const int64_t start = std::time(nullptr);
  // Bytes beyond the caller's buffer land here and are dropped.
  char overflow = 0;
  auto slot = [&](int at) { return at < capacity ? buffer + at : &overflow; };
  auto result = [&](int length) { return length < capacity ? length : capacity; };

  int length = 0;
  for (;;) {
    char* target = slot(length);
    int32_t got = line.Read(target, 1);
    if (got < 0) return result(length);
    if (got == 1) {
      if (*target == '\n') return result(length);
      if (*target == '\r') break;
      ++length;
    }
    if (SecondsSince(start) >= readTimeout) return result(length);
  }
  // After a CR the next byte, normally the LF, ends the line; it is stored
  // after the CR but not counted.
  for (;;) {
    int32_t got = line.Read(slot(length + 1), 1);
    if (got != 0) return result(length);
    if (SecondsSince(start) >= readTimeout) return result(length);
  }
}

bool ReadBlockFailed() { return lastBlockFailed; }

int ReadBlock(DeviceLine& line, char* buffer, int count) {
  lastBlockFailed = false;
  if (count <= 0) return 0;
  std::memset(buffer, 0, static_cast<size_t>(count));
  const int64_t start = std::time(nullptr);
  int received = 0;
  for (;;) {
    int32_t got = line.Read(buffer + received, count - received);
    if (got < 0) {
      lastBlockFailed = true;
      return received;
    }
    received += got;
    const int64_t elapsed = SecondsSince(start);
    Ui().DispatchOneMessage();
    if (got == 0 && cancelFlag) return received;
    if (received >= count) return received;
    if (elapsed >= readTimeout) return received;
  }
}
