#pragma once
// The time the collection runs by. The server reads the system's clock; its
// tests drive the window and the retries with a clock of their own.
#include <chrono>
#include <cstdint>

class CollectClock {
 public:
  virtual ~CollectClock() = default;
  // Milliseconds since 1970 UTC.
  virtual int64_t NowMs() const = 0;
};

class SystemCollectClock : public CollectClock {
 public:
  int64_t NowMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
};
