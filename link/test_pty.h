#pragma once
// For the serial tests: a real pseudo-terminal whose master side plays the
// far end of the line. The code under test opens slavePath() like any port.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

class TestPty {
 public:
  TestPty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      const char* name = ptsname(master_);
      if (name) slavePath_ = name;
    }
  }
  ~TestPty() {
    Join();
    CloseMaster();
  }
  TestPty(const TestPty&) = delete;
  TestPty& operator=(const TestPty&) = delete;

  bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
  const std::string& slavePath() const { return slavePath_; }

  void Send(const std::string& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
      ssize_t n = write(master_, bytes.data() + at, bytes.size() - at);
      if (n <= 0) return;
      at += static_cast<size_t>(n);
    }
  }

  // Sends each piece after its delay (milliseconds after the previous one),
  // from a thread of its own, so the test can read meanwhile.
  void SendLater(std::vector<std::pair<int, std::string>> pieces) {
    Join();
    sender_ = std::thread([this, pieces] {
      for (const auto& piece : pieces) {
        std::this_thread::sleep_for(std::chrono::milliseconds(piece.first));
        Send(piece.second);
      }
    });
  }
  void Join() {
    if (sender_.joinable()) sender_.join();
  }

  // What the far end received within `ms` milliseconds of quiet.
  std::string Receive(int ms = 200) {
    std::string got;
    for (;;) {
      pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN)) return got;
      char chunk[4096];
      ssize_t n = read(master_, chunk, sizeof chunk);
      if (n <= 0) return got;
      got.append(chunk, static_cast<size_t>(n));
    }
  }

  // The far end hangs up.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string slavePath_;
  std::thread sender_;
};

// Milliseconds taken by f().
template <typename F>
long long MillisecondsOf(F&& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}
