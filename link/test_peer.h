#pragma once
// For the network line tests: the far end of a TCP connection on the
// loopback, on a port chosen at run time. A test accepts the connection the
// code under test makes and then plays a device server by hand: sends bytes,
// reads what came, closes; or answers Telnet from a thread of its own.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/telnet.h"

class TestPeer {
 public:
  // backlog 0 and held() connections waiting: a server too busy to take
  // one more (its next connection hangs while opening). `host` and `port`:
  // another loopback address (127.0.0.2), a port chosen by another peer.
  explicit TestPeer(int backlog = 4, const char* host = "127.0.0.1", int port = 0) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host, &address.sin_addr);
    host_ = host;
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, backlog) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~TestPeer() {
    StopServing();
    Close();
    for (int fd : held_) close(fd);
    if (listener_ >= 0) close(listener_);
  }
  TestPeer(const TestPeer&) = delete;
  TestPeer& operator=(const TestPeer&) = delete;

  bool ok() const { return port_ != 0; }
  int port() const { return port_; }
  std::string Address(const char* scheme) const {
    return std::string(scheme) + "://" + host_ + ":" + std::to_string(port_);
  }

  // Takes the connection the code under test made (within ms).
  bool Accept(int ms = 3000) {
    pollfd p = {listener_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    connection_ = accept(listener_, nullptr, nullptr);
    return connection_ >= 0;
  }
  // Opens a connection of its own that stays in the queue, unaccepted.
  void Hold() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, host_.c_str(), &address.sin_addr);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    held_.push_back(fd);
  }

  void Send(const std::string& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
      ssize_t n = send(connection_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (n <= 0) return;
      at += static_cast<size_t>(n);
    }
  }
  // Sends each piece after its delay (milliseconds after the previous one),
  // from a thread of its own.
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

  // What arrived until `ms` milliseconds passed without more.
  std::string Receive(int ms = 200) {
    std::string got;
    for (;;) {
      pollfd p = {connection_, POLLIN, 0};
      if (poll(&p, 1, ms) <= 0) return got;
      char chunk[4096];
      ssize_t n = recv(connection_, chunk, sizeof chunk, 0);
      if (n <= 0) return got;
      got.append(chunk, static_cast<size_t>(n));
    }
  }

  void Close() {
    Join();
    if (connection_ >= 0) close(connection_);
    connection_ = -1;
  }

  // Plays a Telnet server from a thread of its own: every command that
  // arrives goes to `answer`, whose bytes are sent back; the line's bytes are
  // kept (data()).
  using Answer = std::function<std::vector<uint8_t>(const TelnetCommand&)>;
  void ServeTelnet(Answer answer) {
    serving_ = true;
    server_ = std::thread([this, answer] {
      TelnetDecoder decoder;
      while (serving_) {
        pollfd p = {connection_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        uint8_t chunk[4096];
        ssize_t n = recv(connection_, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        std::vector<uint8_t> data;
        std::vector<TelnetCommand> commands;
        decoder.Feed(chunk, static_cast<size_t>(n), &data, &commands);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          data_.insert(data_.end(), data.begin(), data.end());
        }
        for (const TelnetCommand& command : commands) {
          std::vector<uint8_t> reply = answer(command);
          Send(std::string(reply.begin(), reply.end()));
        }
      }
    });
  }
  void StopServing() {
    serving_ = false;
    if (server_.joinable()) server_.join();
  }
  std::vector<uint8_t> data() {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
  }

 private:
  std::string host_;
  int listener_ = -1;
  int connection_ = -1;
  int port_ = 0;
  std::vector<int> held_;
  std::thread sender_;
  std::thread server_;
  std::atomic<bool> serving_{false};
  std::mutex mutex_;
  std::vector<uint8_t> data_;
};
