// taxoscope-server under load, the real process on the loopback (plain HTTP):
// new full dumps per second from 8 clients at once against `ledger add` of
// the same dumps in one process; the same dumps sent again; and the 99th
// percentile of GET /api/v1/months on a ledger of 600,000 reports while 8
// clients upload.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
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
  ~Server() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  int port() const { return port_; }

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

}  // namespace

BENCHMARK(BM_LedgerAddOfTheSameDumps)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerUploads)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerMonthsWhileUploading)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
