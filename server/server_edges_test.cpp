// taxoscope-server at its edges, the real process on a loopback port: bodies
// framed wrongly, header floods, clients that are slow, idle or hostile by
// the dozen, too many connections from one address, answers larger than any
// buffer, and SIGTERM with all of that open. Raw sockets, so that every byte
// is the test's.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "server/server_test_support.h"
#include "sim/dump_builder.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::string Dump(uint32_t seed, int reports) {
  GenerateOptions options;
  options.seed = seed;
  options.reports = reports;
  std::vector<uint8_t> bytes = GenerateDump(options);
  return std::string(bytes.begin(), bytes.end());
}

// A connection to the server from a loopback address of the test's choosing
// (127.0.0.N: each its own client address); -1 when it cannot be made.
int Connect(int port, const char* from = "127.0.0.1") {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, from, &local.sin_addr);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// What comes back until the server closes (*closed) or 20 seconds pass.
std::string ReadUntilClosed(int fd, bool* closed = nullptr) {
  std::string answer;
  char buffer[16384];
  const Clock::time_point until = Clock::now() + std::chrono::seconds(20);
  bool ended = false;
  while (Clock::now() < until) {
    pollfd ready = {fd, POLLIN, 0};
    if (poll(&ready, 1, 200) <= 0) continue;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      ended = true;
      break;
    }
    answer.append(buffer, static_cast<size_t>(got));
  }
  if (closed) *closed = ended;
  return answer;
}

// One request on its own connection: the answer, and whether the server
// closed the connection after it.
std::string Exchange(int port, const std::string& request, bool* closed = nullptr) {
  const int fd = Connect(port);
  if (fd < 0) return "no connection";
  SendAll(fd, request);
  std::string answer = ReadUntilClosed(fd, closed);
  close(fd);
  return answer;
}

// Whether the server has closed this connection (without a wait).
bool ClosedByServer(int fd) {
  char byte;
  const ssize_t got = recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
  return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

class ServerEdges : public ::testing::Test {
 protected:
  void SetUp() override {
    state = dir.File("state");
    reader = AddToken("accountant", "read");
    shop = AddToken("shop-1", "upload", "DV000001");
  }

  std::string AddToken(const std::string& name, const std::string& role, const std::string& device = "") {
    std::string line = Quote(TAXOSCOPE_SERVER) + " token add " + name + " --role " + role + " --state " + Quote(state);
    if (!device.empty()) line += " --device " + device;
    int status = -1;
    std::string token = RunShell(line + " 2>/dev/null", &status);
    EXPECT_EQ(0, status);
    while (!token.empty() && token.back() == '\n') token.pop_back();
    return token;
  }

  std::string UploadHead(const std::string& token, size_t length, const std::string& extra = "") {
    return "POST /api/v1/dumps?device=DV000001 HTTP/1.1\r\nHost: x\r\n" +
           (token.empty() ? std::string() : "Authorization: Bearer " + token + "\r\n") +
           "Content-Type: application/octet-stream\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra +
           "\r\n";
  }

  std::string Get(const std::string& path, const std::string& token) {
    return "GET " + path + " HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token + "\r\nConnection: close\r\n\r\n";
  }

  size_t StoredDumps() {
    size_t count = 0;
    if (fs::exists(state + "/dumps"))
      for (const auto& entry : fs::recursive_directory_iterator(state + "/dumps"))
        count += entry.path().extension() == ".bin";
    return count;
  }

  TempDir dir;
  std::string state, reader, shop;
  ServerProcess server;
};

TEST_F(ServerEdges, BodiesFramedWronglyAreRefusedAtOnceAndTheConnectionClosed) {
  ASSERT_TRUE(server.Start(state, {"--read-timeout", "5"})) << server.Log();
  const std::string post = "POST /api/v1/dumps?device=DV000001 HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + shop +
                           "\r\nContent-Type: application/octet-stream\r\n";
  const std::string body = Dump(5, 50);
  struct Case {
    std::string headers;
    const char* status;
  } cases[] = {
      // Neither a length nor chunks: the body would end only with the connection.
      {"", "411"},
      {"Content-Length: 20000\r\nContent-Length: 20001\r\n", "400"},
      {"Content-Length: abc\r\n", "400"},
      {"Content-Length: -1\r\n", "400"},
      {"Content-Length: 20000\r\nTransfer-Encoding: chunked\r\n", "400"},
      {"Transfer-Encoding: gzip, chunked\r\n", "501"},
  };
  for (const Case& c : cases) {
    bool closed = false;
    const std::string answer = Exchange(server.port(), post + c.headers + "\r\n" + body, &closed);
    EXPECT_EQ(0u, answer.find(std::string("HTTP/1.1 ") + c.status + " ")) << c.headers << answer.substr(0, 300);
    EXPECT_NE(std::string::npos, answer.find("\"error\":")) << c.headers;
    EXPECT_TRUE(closed) << c.headers;
  }
  EXPECT_EQ(0u, StoredDumps());

  // Expect: 100-continue: the server says so before the body comes.
  const int fd = Connect(server.port());
  ASSERT_GE(fd, 0);
  SendAll(fd, UploadHead(shop, body.size(), "Expect: 100-continue\r\nConnection: close\r\n"));
  char interim[64] = {};
  pollfd ready = {fd, POLLIN, 0};
  ASSERT_EQ(1, poll(&ready, 1, 20000));
  ASSERT_GT(recv(fd, interim, sizeof interim - 1, 0), 0);
  EXPECT_EQ(0, std::strncmp(interim, "HTTP/1.1 100 Continue\r\n\r\n", 25)) << interim;
  SendAll(fd, body);
  const std::string added = ReadUntilClosed(fd);
  close(fd);
  EXPECT_EQ(0u, added.find("HTTP/1.1 200 ")) << added.substr(0, 300);
  EXPECT_EQ(1u, StoredDumps());
}

TEST_F(ServerEdges, HeaderFloodsEndAtTheCap) {
  ASSERT_TRUE(server.Start(state)) << server.Log();
  // Too many lines, each short.
  std::string many = "GET /healthz HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; i < 150; ++i) many += "X-" + std::to_string(i) + ": y\r\n";
  std::string answer = Exchange(server.port(), many + "\r\n");
  EXPECT_EQ(0u, answer.find("HTTP/1.1 431 ")) << answer.substr(0, 300);
  EXPECT_NE(std::string::npos, answer.find("\"error\":\"header_fields_too_large\""));

  // Two million header lines: the server answers and closes long before
  // the client is through, however many times it is tried, and stays as
  // it was.
  for (int round = 0; round < 3; ++round) {
    const int fd = Connect(server.port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, "GET /healthz HTTP/1.1\r\nHost: x\r\n"));
    std::string lines;
    for (int i = 0; i < 1000; ++i) lines += "X-Flood: 0123456789\r\n";
    int sent = 0;
    while (sent < 2000 && SendAll(fd, lines)) ++sent;
    EXPECT_LT(sent, 2000) << "two million lines were taken in";
    close(fd);
  }
  const std::string healthy = Exchange(server.port(), "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(0u, healthy.find("HTTP/1.1 200 ")) << healthy;
}

TEST_F(ServerEdges, ARefusedUploadIsAnsweredBeforeItsBody) {
  ASSERT_TRUE(server.Start(state, {"--read-timeout", "3"})) << server.Log();
  // No token, a full image declared, not a byte of it sent: the answer comes.
  const int fd = Connect(server.port());
  ASSERT_GE(fd, 0);
  SendAll(fd, UploadHead("", 2000000));
  pollfd ready = {fd, POLLIN, 0};
  ASSERT_EQ(1, poll(&ready, 1, 20000));
  char head[32] = {};
  ASSERT_GT(recv(fd, head, sizeof head - 1, 0), 0);
  EXPECT_EQ(0, std::strncmp(head, "HTTP/1.1 401 ", 13)) << head;
  // What the client goes on sending is not waited for long.
  bool closed = false;
  ReadUntilClosed(fd, &closed);
  EXPECT_TRUE(closed);
  close(fd);
  EXPECT_NE(std::string::npos, server.Log().find(" - POST /api/v1/dumps 401 in=0 "));
}

// The slow, the idle and the hostile, by the dozen, and none of them stops a
// shop: its full dump is added and the monthly table read while they all
// hold their connections; then SIGTERM ends the server.
TEST_F(ServerEdges, SlowIdleAndHostileClientsStopNobody) {
  ASSERT_TRUE(server.Start(state, {"--threads", "4", "--read-timeout", "10", "--keep-alive", "60"})) << server.Log();
  const std::string full = Dump(7, 6500);
  const int each = 12;  // of four kinds: three times the workers each
  std::vector<int> hostile;
  auto open = [&](const std::string& first, int index) {
    // From addresses of their own, as a crowd would come.
    const std::string from = "127.0.0." + std::to_string(10 + index % 20);
    const int fd = Connect(server.port(), from.c_str());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, first));
    hostile.push_back(fd);
  };
  for (int i = 0; i < each; ++i) {
    open(UploadHead("", 2000000), i);                                 // unauthenticated, trickling
    open("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n", i + 1);           // kept alive, idle
    open(UploadHead(shop, full.size()), i + 2);                       // authenticated, slow
    open("GET /api/v1/months HTTP/1.1\r\nHo", i + 3);                  // headers a byte a second
  }
  // Uploads at 10 KB/s (the refused ones and the slow ones, which keep above
  // the least pace), headers a byte a second.
  std::atomic<bool> trickling{true};
  std::thread trickle([&] {
    const std::string kilobyte(1024, '\xff');
    for (int tick = 0; trickling; ++tick) {
      for (size_t i = 0; i < hostile.size(); ++i) {
        if (i % 4 == 0 || i % 4 == 2) send(hostile[i], kilobyte.data(), kilobyte.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (i % 4 == 3 && tick % 10 == 0) send(hostile[i], "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(1));

  const std::string dump = dir.File("DV000001.bin"), token = dir.File("shop.token");
  WriteFileBytes(dump, full);
  WriteFileBytes(token, shop + "\n");
  int status = -1;
  const std::string out = RunShell(Quote(TAXOSCOPE_CLI) + " send http://127.0.0.1:" + std::to_string(server.port()) +
                                       " " + Quote(dump) + " --token-file " + Quote(token) + " 2>&1",
                                   &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_NE(std::string::npos, out.find("device DV000001, 6001 new")) << out;
  const std::string months = Exchange(server.port(), Get("/api/v1/months", reader));
  EXPECT_EQ(0u, months.find("HTTP/1.1 200 ")) << months.substr(0, 300);

  // The idle ones and the slow authenticated uploads are still open: they
  // were not cut to make room; the refused ones were answered and closed.
  int stillOpen = 0;
  for (size_t i = 0; i < hostile.size(); ++i)
    if (i % 4 == 1 || i % 4 == 2) stillOpen += !ClosedByServer(hostile[i]);
  EXPECT_EQ(2 * each, stillOpen);

  const Clock::time_point stop = Clock::now();
  EXPECT_EQ(0, server.Stop());
  EXPECT_LT(Clock::now() - stop, std::chrono::seconds(40)) << "SIGTERM ends it within its grace";
  trickling = false;
  trickle.join();
  for (int fd : hostile) close(fd);
  // Nothing of the slow uploads was kept: only the shop's dump.
  EXPECT_EQ(1u, StoredDumps());
}

TEST_F(ServerEdges, ConnectionsFromOneAddressAreCapped) {
  ASSERT_TRUE(server.Start(state, {"--connections-per-address", "3"})) << server.Log();
  std::vector<int> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(Connect(server.port(), "127.0.0.2"));
    ASSERT_GE(held.back(), 0);
  }
  // The fourth from that address is closed at once, before a byte is read.
  const int fourth = Connect(server.port(), "127.0.0.2");
  ASSERT_GE(fourth, 0);
  bool closed = false;
  EXPECT_EQ("", ReadUntilClosed(fourth, &closed));
  EXPECT_TRUE(closed);
  close(fourth);
  // Another address is served, and a place freed is taken again.
  std::string answer = Exchange(server.port(), "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(0u, answer.find("HTTP/1.1 200 ")) << answer;
  const std::string metrics = Exchange(server.port(), Get("/metrics", reader));
  EXPECT_NE(std::string::npos, metrics.find("taxoscope_connections_refused_total 1\n")) << metrics;
  close(held[0]);
  for (int i = 0; i < 100; ++i) {
    const int fd = Connect(server.port(), "127.0.0.2");
    SendAll(fd, "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    answer = ReadUntilClosed(fd);
    close(fd);
    if (!answer.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the server has yet to see the close
  }
  EXPECT_EQ(0u, answer.find("HTTP/1.1 200 ")) << answer;
  for (size_t i = 1; i < held.size(); ++i) close(held[i]);
}

// /api/v1/reports is written as the client takes it: larger than every
// buffer between the two, it comes whole to a client that reads, and a
// client that stops reading holds its worker only until the write time-out.
TEST_F(ServerEdges, LargeAnswersAreStreamedAsTheClientTakesThem) {
  ASSERT_TRUE(server.Start(state, {"--threads", "1", "--write-timeout", "2"})) << server.Log();
  const std::string admin = AddToken("office", "admin");
  for (int d = 0; d < 4; ++d) {
    const std::string device = "DV00010" + std::to_string(d);
    const std::string dump = Dump(20 + d, 6500);
    const std::string answer =
        Exchange(server.port(), "POST /api/v1/dumps?device=" + device + " HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " +
                                    admin + "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                                    std::to_string(dump.size()) + "\r\nConnection: close\r\n\r\n" + dump);
    ASSERT_EQ(0u, answer.find("HTTP/1.1 200 ")) << answer.substr(0, 300);
  }
  // Whole, in chunks, the same as the ledger's own export.
  const std::string csv = Exchange(server.port(), Get("/api/v1/reports?format=csv", reader));
  ASSERT_EQ(0u, csv.find("HTTP/1.1 200 ")) << csv.substr(0, 300);
  EXPECT_NE(std::string::npos, csv.find("Transfer-Encoding: chunked\r\n"));
  std::string body;
  for (size_t at = csv.find("\r\n\r\n") + 4;;) {
    const size_t size = std::strtoul(csv.c_str() + at, nullptr, 16);
    at = csv.find("\r\n", at) + 2;
    if (size == 0) break;
    body += csv.substr(at, size);
    at += size + 2;
  }
  EXPECT_EQ(RunShell(Quote(TAXOSCOPE_CLI) + " ledger export " + Quote(state + "/ledger.db") + " --out -"), body);

  // A client that asks for every report as JSON and reads nothing.
  const int stalled = Connect(server.port());
  ASSERT_GE(stalled, 0);
  int small = 4096;
  setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  SendAll(stalled, Get("/api/v1/reports", reader));
  // The one worker is freed by the write time-out: the next request is answered.
  const std::string healthy = Exchange(server.port(), "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(0u, healthy.find("HTTP/1.1 200 ")) << healthy;
  close(stalled);
  const std::string devices = Exchange(server.port(), Get("/api/v1/devices", reader));
  EXPECT_EQ(0u, devices.find("HTTP/1.1 200 ")) << devices.substr(0, 200);
}

TEST_F(ServerEdges, RequestsWaitingForAWorkerAreNeverCut) {
  // One worker, short time-outs, eight uploads at once: those that wait
  // their turn are answered all the same.
  ASSERT_TRUE(server.Start(state, {"--threads", "1", "--read-timeout", "1", "--keep-alive", "1"})) << server.Log();
  const std::string admin = AddToken("office", "admin");
  std::atomic<int> added{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      const std::string dump = Dump(40 + c, 1500);
      const std::string answer = Exchange(
          server.port(), "POST /api/v1/dumps?device=DV0003" + std::to_string(c) +
                             " HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + admin +
                             "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                             std::to_string(dump.size()) + "\r\nConnection: close\r\n\r\n" + dump);
      added += answer.find("HTTP/1.1 200 ") == 0;
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(8, added.load());
}

}  // namespace
