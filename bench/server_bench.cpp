// taxoscope-server under load, the real process on the loopback (plain HTTP):
// new full dumps per second from 8 clients at once against `ledger add` of
// the same dumps in one process; the same dumps sent again; the 99th
// percentile of GET /api/v1/months on a ledger of 600,000 reports while 8
// clients upload; a new shop's upload and the monthly table while 200 slow,
// idle and hostile connections are held open, with the server's memory and
// the time SIGTERM takes; and the memory of 8 clients reading every report
// of a ledger at once.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ledger/ledger_add.h"
#include "server/ledger_service.h"
#include "sim/dump_builder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kClients = 8;
constexpr int kNewDumps = 48;
const std::string kWork = "/tmp/taxoscope-server-bench";

// Full images (about 6,000 reports each), one per device, made once.
const std::vector<DumpBytes>& Dumps(int count, uint32_t firstSeed) {
  static std::map<std::pair<int, uint32_t>, std::vector<DumpBytes>> made;  // its elements never move
  std::vector<DumpBytes>& set = made[{count, firstSeed}];
  for (int i = static_cast<int>(set.size()); i < count; ++i) {
    GenerateOptions options;
    options.seed = firstSeed + static_cast<uint32_t>(i);
    options.reports = 6500;
    std::vector<uint8_t> bytes = GenerateDump(options);
    set.emplace_back(bytes.begin(), bytes.end());
  }
  return set;
}

std::string Device(uint32_t seed) { return "DV" + std::to_string(100000 + seed); }

// The server on a port of its choosing; stopped with SIGTERM when it goes.
class Server {
 public:
  explicit Server(const std::string& state) {
    const std::string log = state + ".log";
    std::vector<std::string> args = {TAXOSCOPE_SERVER, "serve", "--state", state, "--listen", "127.0.0.1:0"};
    if (const char* program = std::getenv("TAXOSCOPE_BENCH_SERVER")) args[0] = program;  // another build's, to compare
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 3000 && pid_ > 0 && port_ == 0; ++i) {
      std::ifstream in(log);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const size_t at = text.find("http://127.0.0.1:");
      if (at != std::string::npos && text.find('\n', at) != std::string::npos) port_ = std::atoi(text.c_str() + at + 17);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Server() { Stop(); }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // SIGTERM; the seconds until it ended.
  double Stop() {
    if (pid_ <= 0) return 0;
    const Clock::time_point start = Clock::now();
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

std::string Token(const std::string& state) {
  const std::string line = std::string(TAXOSCOPE_SERVER) + " token add bench --role admin --state '" + state + "'";
  FILE* pipe = popen(line.c_str(), "r");
  char buffer[128] = "";
  if (pipe && fgets(buffer, sizeof buffer, pipe)) buffer[strcspn(buffer, "\n")] = 0;
  if (pipe) pclose(pipe);
  return buffer;
}

std::string FreshState(const std::string& name) {
  const std::string state = kWork + "/" + name;
  fs::remove_all(state);
  fs::create_directories(kWork);
  return state;
}

bool Post(httplib::Client& client, const std::string& token, const std::string& device, const DumpBytes& dump) {
  httplib::Headers headers = {{"Authorization", "Bearer " + token}};
  const std::string body(dump.begin(), dump.end());
  httplib::Result result = client.Post(("/api/v1/dumps?device=" + device).c_str(), headers, body,
                                       "application/octet-stream");
  return result && result->status == 200;
}

// kClients clients, each sending its share of the dumps one after another;
// the seconds the whole took, or < 0 when an upload failed.
double SendAll(int port, const std::string& token, const std::vector<DumpBytes>& dumps, uint32_t firstSeed) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(120, 0);
      client.set_write_timeout(120, 0);
      for (size_t i = next++; i < dumps.size(); i = next++)
        if (!Post(client, token, Device(firstSeed + static_cast<uint32_t>(i)), dumps[i])) failed = true;
    });
  }
  for (std::thread& client : clients) client.join();
  return failed ? -1 : std::chrono::duration<double>(Clock::now() - start).count();
}

// `ledger add` of the same dumps into a new ledger, as the command does.
void BM_LedgerAddOfTheSameDumps(benchmark::State& state) {
  const std::vector<DumpBytes>& dumps = Dumps(kNewDumps, 500);
  for (auto _ : state) {
    const std::string ledgerPath = FreshState("add") + ".db";
    fs::remove(ledgerPath);
    LedgerFile ledger;
    std::string err;
    if (!ledger.Open(ledgerPath, LedgerReadWrite, &err)) return state.SkipWithError(err.c_str());
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < dumps.size(); ++i) {
      DumpAddition added;
      if (AddDumpImage(ledger, dumps[i], Device(500 + static_cast<uint32_t>(i)) + ".bin",
                       Device(500 + static_cast<uint32_t>(i)), "2024-01-01T00:00:00Z", &added, &err) != DumpAdded)
        return state.SkipWithError(err.c_str());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    state.counters["dumps_per_second"] = dumps.size() / seconds;
  }
}

// New dumps from 8 clients at once, then the very same dumps again.
void BM_ServerUploads(benchmark::State& state) {
  const std::vector<DumpBytes>& dumps = Dumps(kNewDumps, 500);
  for (auto _ : state) {
    const std::string stateDir = FreshState("uploads");
    const std::string token = Token(stateDir);
    Server server(stateDir);
    if (!server.port()) return state.SkipWithError("the server did not start");
    const double fresh = SendAll(server.port(), token, dumps, 500);
    const double again = SendAll(server.port(), token, dumps, 500);
    if (fresh < 0 || again < 0) return state.SkipWithError("an upload failed");
    state.SetIterationTime(fresh);
    state.counters["new_dumps_per_second"] = dumps.size() / fresh;
    state.counters["resent_dumps_per_second"] = dumps.size() / again;
  }
}

// GET /api/v1/months one after another on a ledger of 100 full dumps
// (600,000 reports) while 8 clients send new full dumps.
void BM_ServerMonthsWhileUploading(benchmark::State& state) {
  const std::vector<DumpBytes>& held = Dumps(100, 1000);
  const std::vector<DumpBytes>& incoming = Dumps(kNewDumps, 500);
  for (auto _ : state) {
    const std::string stateDir = FreshState("months");
    fs::create_directories(stateDir);
    int64_t reports = 0;
    {
      LedgerFile ledger;
      std::string err;
      if (!OpenLedgerForServer(stateDir + "/ledger.db", &ledger, &err)) return state.SkipWithError(err.c_str());
      for (size_t i = 0; i < held.size(); ++i) {
        DumpAddition added;
        const std::string device = Device(1000 + static_cast<uint32_t>(i));
        if (AddDumpImage(ledger, held[i], device + ".bin", device, "2024-01-01T00:00:00Z", &added, &err) != DumpAdded)
          return state.SkipWithError(err.c_str());
        reports += added.added;
      }
    }
    const std::string token = Token(stateDir);
    Server server(stateDir);
    if (!server.port()) return state.SkipWithError("the server did not start");
    std::atomic<bool> uploading{true};
    std::thread uploads([&] {
      SendAll(server.port(), token, incoming, 500);
      uploading = false;
    });
    std::vector<double> latencies;
    httplib::Client client("127.0.0.1", server.port());
    httplib::Headers headers = {{"Authorization", "Bearer " + token}};
    while (uploading) {
      const Clock::time_point start = Clock::now();
      httplib::Result result = client.Get("/api/v1/months", headers);
      if (!result || result->status != 200) break;
      latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    uploads.join();
    if (latencies.size() < 20) return state.SkipWithError("too few reads while the uploads ran");
    std::sort(latencies.begin(), latencies.end());
    const double p99 = latencies[latencies.size() * 99 / 100];
    state.SetIterationTime(p99 / 1000);
    state.counters["reports_held"] = static_cast<double>(reports);
    state.counters["reads"] = static_cast<double>(latencies.size());
    state.counters["median_ms"] = latencies[latencies.size() / 2];
    state.counters["p99_ms"] = p99;
  }
}

// The server's resident memory now and at its peak, in MiB, from /proc.
double MemoryMib(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, std::strlen(field), field) == 0) return std::atof(line.c_str() + std::strlen(field)) / 1024;
  return -1;
}

// A ledger of `count` full dumps in a fresh state folder; its reports.
int64_t PreparedState(const std::string& stateDir, int count, std::string* err) {
  fs::create_directories(stateDir);
  const std::vector<DumpBytes>& held = Dumps(count, 1000);
  LedgerFile ledger;
  if (!OpenLedgerForServer(stateDir + "/ledger.db", &ledger, err)) return -1;
  int64_t reports = 0;
  for (size_t i = 0; i < held.size(); ++i) {
    DumpAddition added;
    const std::string device = Device(1000 + static_cast<uint32_t>(i));
    if (AddDumpImage(ledger, held[i], device + ".bin", device, "2024-01-01T00:00:00Z", &added, err) != DumpAdded)
      return -1;
    reports += added.added;
  }
  return reports;
}

// Connections that hold on: unauthenticated uploads trickling a declared
// image at 10 KB/s, connections kept alive with a /healthz every 4 seconds,
// authenticated uploads at 10 KB/s, and headers sent a byte a second; each
// opened again whenever the server closes it, so that all stay open.
class HostileCrowd {
 public:
  HostileCrowd(int port, const std::string& token, int count) : port_(port), token_(token) {
    for (int i = 0; i < count; ++i) clients_.push_back({-1, i % 4, 0, Clock::now()});
    for (Client& client : clients_) Open(client);
    thread_ = std::thread([this] { Run(); });
  }
  ~HostileCrowd() {
    running_ = false;
    thread_.join();
    for (Client& client : clients_)
      if (client.fd >= 0) close(client.fd);
  }
  // Connections open now, and how often one was opened again.
  int open() const { return open_; }
  int reopened() const { return reopened_; }

 private:
  struct Client {
    int fd;
    int kind;
    int index;
    Clock::time_point last;
  };

  std::string Opening(int kind) const {
    const std::string upload = "POST /api/v1/dumps?device=DV999999 HTTP/1.1\r\nHost: x\r\n"
                               "Content-Type: application/octet-stream\r\nContent-Length: 2000000\r\n";
    switch (kind) {
      case 0: return upload + "\r\n";
      case 1: return "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";
      case 2: return upload + "Authorization: Bearer " + token_ + "\r\n\r\n";
    }
    return "GET /api/v1/months HTTP/1.1\r\nHo";
  }

  void Open(Client& client) {
    if (client.fd >= 0) close(client.fd);
    client.fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = {}, address = {};
    local.sin_family = address.sin_family = AF_INET;
    const std::string from = "127.0.1." + std::to_string(1 + client.index++ % 200);
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(client.fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    if (connect(client.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    fcntl(client.fd, F_SETFL, O_NONBLOCK);
    const std::string opening = Opening(client.kind);
    send(client.fd, opening.data(), opening.size(), MSG_NOSIGNAL);
    client.last = Clock::now();
  }

  void Run() {
    const std::string kilobyte(1024, '\xff');
    char sink[65536];
    while (running_) {
      int open = 0;
      const Clock::time_point now = Clock::now();
      for (Client& client : clients_) {
        // What the server says is read and dropped; a close is opened again.
        ssize_t got;
        bool closed = false;
        while ((got = recv(client.fd, sink, sizeof sink, 0)) > 0) {
        }
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) closed = true;
        bool failed = false;
        if (!closed && client.kind != 1 && client.kind != 3)
          failed = send(client.fd, kilobyte.data(), kilobyte.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN;
        if (!closed && client.kind == 3 && now - client.last >= std::chrono::seconds(1)) {
          failed = send(client.fd, "x", 1, MSG_NOSIGNAL) < 0 && errno != EAGAIN;
          client.last = now;
        }
        if (!closed && client.kind == 1 && now - client.last >= std::chrono::seconds(4)) {
          const std::string again = Opening(1);
          failed = send(client.fd, again.data(), again.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN;
          client.last = now;
        }
        if (closed || failed) {
          Open(client);
          ++reopened_;
        }
        open += client.fd >= 0;
      }
      open_ = open;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  const int port_;
  const std::string token_;
  std::vector<Client> clients_;
  std::atomic<bool> running_{true};
  std::atomic<int> open_{0}, reopened_{0};
  std::thread thread_;
};

// A new shop's full dump and the monthly table, with 200 hostile
// connections held open; the server's memory; SIGTERM's time.
void BM_ServerWithHostileConnections(benchmark::State& state) {
  const std::vector<DumpBytes>& shops = Dumps(5, 700);
  for (auto _ : state) {
    const std::string stateDir = FreshState("hostile");
    std::string err;
    const int64_t reports = PreparedState(stateDir, 10, &err);
    if (reports < 0) return state.SkipWithError(err.c_str());
    const std::string token = Token(stateDir);
    Server server(stateDir);
    if (!server.port()) return state.SkipWithError("the server did not start");
    HostileCrowd crowd(server.port(), token, 200);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    // A failure is counted, with the time it took to fail.
    double uploadMax = 0, monthsMax = 0;
    int failed = 0;
    for (size_t i = 0; i < shops.size(); ++i) {
      httplib::Client client("127.0.0.1", server.port());
      client.set_read_timeout(60, 0);
      client.set_write_timeout(60, 0);
      Clock::time_point start = Clock::now();
      failed += !Post(client, token, Device(700 + static_cast<uint32_t>(i)), shops[i]);
      uploadMax = std::max(uploadMax, std::chrono::duration<double>(Clock::now() - start).count());
      for (int r = 0; r < 4; ++r) {
        httplib::Client reader("127.0.0.1", server.port());
        reader.set_read_timeout(60, 0);
        start = Clock::now();
        httplib::Result result = reader.Get("/api/v1/months", {{"Authorization", "Bearer " + token}});
        failed += !result || result->status != 200;
        monthsMax = std::max(monthsMax, std::chrono::duration<double>(Clock::now() - start).count());
      }
    }
    state.counters["requests_failed"] = failed;
    state.counters["hostile_open"] = crowd.open();
    state.counters["hostile_reopened"] = crowd.reopened();
    state.counters["upload_max_s"] = uploadMax;
    state.counters["months_max_ms"] = monthsMax * 1000;
    state.counters["rss_mib"] = MemoryMib(server.pid(), "VmRSS:");
    state.counters["peak_rss_mib"] = MemoryMib(server.pid(), "VmHWM:");
    const double stop = server.Stop();
    state.counters["sigterm_s"] = stop;
    state.SetIterationTime(uploadMax);
  }
}

// 8 clients read every report of a ledger of 60,000 as JSON at once: the
// server's peak memory.
void BM_ServerReportsMemory(benchmark::State& state) {
  for (auto _ : state) {
    const std::string stateDir = FreshState("reports");
    std::string err;
    const int64_t reports = PreparedState(stateDir, 10, &err);
    if (reports < 0) return state.SkipWithError(err.c_str());
    const std::string token = Token(stateDir);
    Server server(stateDir);
    if (!server.port()) return state.SkipWithError("the server did not start");
    const double before = MemoryMib(server.pid(), "VmRSS:");
    std::atomic<bool> failed{false};
    std::atomic<size_t> bytes{0};
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&] {
        httplib::Client client("127.0.0.1", server.port());
        client.set_read_timeout(120, 0);
        size_t got = 0;
        httplib::Result result = client.Get("/api/v1/reports", {{"Authorization", "Bearer " + token}},
                                            [&](const char*, size_t length) {
                                              got += length;
                                              return true;
                                            });
        if (!result || result->status != 200) failed = true;
        bytes += got;
      });
    }
    for (std::thread& client : clients) client.join();
    if (failed) return state.SkipWithError("a read failed");
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    state.counters["reports_held"] = static_cast<double>(reports);
    state.counters["answer_mib"] = static_cast<double>(bytes) / kClients / (1 << 20);
    state.counters["rss_before_mib"] = before;
    state.counters["peak_rss_mib"] = MemoryMib(server.pid(), "VmHWM:");
  }
}

}  // namespace

BENCHMARK(BM_ServerWithHostileConnections)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerReportsMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LedgerAddOfTheSameDumps)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerUploads)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerMonthsWhileUploading)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
