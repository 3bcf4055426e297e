// taxoscope-server as it runs: the real program on a loopback port chosen at
// run time, real files, the real taxoscope-cli beside it for the ledger it
// must equal.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "report/report_run.h"
#include "send/send_output.h"
#include "server/server_test_support.h"
#include "sim/dump_builder.h"
#include "testsupport/fake_ui.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

// A variant-2 image (128 KiB): realistic, and quick to send many of.
std::string SmallDump(uint32_t seed, int reports, int variant = 2) {
  GenerateOptions options;
  options.seed = seed;
  options.reports = reports;
  options.variant = variant;
  std::vector<uint8_t> bytes = GenerateDump(options);
  return std::string(bytes.begin(), bytes.end());
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state = dir.File("state");
    admin = AddToken("office", "admin");
    reader = AddToken("accountant", "read");
    shop = AddToken("shop-1", "upload", {"DV000001"});
    ASSERT_TRUE(server.Start(state, {"--read-timeout", "2", "--keep-alive", "2"})) << server.Log();
  }

  std::string AddToken(const std::string& name, const std::string& role, std::vector<std::string> devices = {}) {
    std::string line = Quote(TAXOSCOPE_SERVER) + " token add " + name + " --role " + role + " --state " + Quote(state);
    for (const std::string& device : devices) line += " --device " + Quote(device);
    int status = -1;
    std::string token = RunShell(line + " 2>/dev/null", &status);
    EXPECT_EQ(0, status);
    while (!token.empty() && token.back() == '\n') token.pop_back();
    return token;
  }

  httplib::Client Client() {
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(30, 0);
    return client;
  }

  httplib::Result Upload(const std::string& token, const std::string& device, const std::string& bytes) {
    httplib::Headers headers;
    if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
    return Client().Post(("/api/v1/dumps?device=" + httplib::detail::encode_query_param(device)).c_str(), headers,
                         bytes, "application/octet-stream");
  }

  httplib::Result Get(const std::string& token, const std::string& path) {
    httplib::Headers headers;
    if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
    return Client().Get(path.c_str(), headers);
  }

  // The dumps written as DEVICE.bin files, added with taxoscope-cli ledger add
  // to a ledger of their own: what the server's ledger must equal.
  std::string ReferenceLedger(const std::map<std::string, std::string>& dumps) {
    const std::string ledger = dir.File("reference.db");
    std::string line = Quote(TAXOSCOPE_CLI) + " ledger add " + Quote(ledger);
    for (const auto& dump : dumps) {
      const std::string path = dir.File(dump.first + ".bin");
      WriteFileBytes(path, dump.second);
      line += " " + Quote(path);
    }
    int status = -1;
    RunShell(line + " >/dev/null", &status);
    EXPECT_EQ(0, status);
    return ledger;
  }

  std::string CliExport(const std::string& ledger, const std::string& options) {
    return RunShell(Quote(TAXOSCOPE_CLI) + " ledger export " + Quote(ledger) + " " + options + " --out -");
  }

  TempDir dir;
  std::string state, admin, reader, shop;
  ServerProcess server;
};

TEST_F(ServerTest, UploadsEqualLedgerAddAndSendingAgainChangesNothing) {
  std::map<std::string, std::string> dumps = {
      {"DV000001", SmallDump(11, 40)}, {"DV000002", SmallDump(12, 25)}, {"DV000003", SmallDump(13, 60, 3)}};
  // The sums read before the last upload are not the ones read after it.
  ASSERT_EQ(200, Upload(admin, "DV000002", dumps["DV000002"])->status);
  EXPECT_EQ(200, Get(reader, "/api/v1/months?format=csv&per-device=1")->status);
  for (const auto& dump : dumps) {
    if (dump.first == "DV000002") continue;
    httplib::Result result = Upload(dump.first == "DV000001" ? shop : admin, dump.first, dump.second);
    ASSERT_TRUE(result);
    ASSERT_EQ(200, result->status) << result->body;
    Json answer = Json::parse(result->body);
    EXPECT_EQ(dump.first, answer["device"]);
    EXPECT_GT(answer["new"].get<int>(), 0);
    EXPECT_EQ(0, answer["already"].get<int>());
  }
  const std::string reference = ReferenceLedger(dumps);
  const std::string reports = Get(reader, "/api/v1/reports?format=csv")->body;
  const std::string months = Get(reader, "/api/v1/months?format=csv&per-device=1")->body;
  EXPECT_EQ(CliExport(reference, ""), reports);
  EXPECT_EQ(CliExport(reference, "--months --per-device"), months);
  EXPECT_EQ(CliExport(reference, "--months"), Get(reader, "/api/v1/months?format=csv")->body);

  // The same bytes again, also under the file name instead of ?device=.
  httplib::Headers named = {{"Authorization", "Bearer " + admin}, {"X-Dump-Name", "DV000002.bin"}};
  httplib::Result again = Client().Post("/api/v1/dumps", named, dumps["DV000002"], "application/octet-stream");
  ASSERT_TRUE(again);
  ASSERT_EQ(200, again->status) << again->body;
  Json answer = Json::parse(again->body);
  EXPECT_EQ("DV000002", answer["device"]);
  EXPECT_EQ(0, answer["new"].get<int>());
  EXPECT_EQ(25, answer["already"].get<int>());
  EXPECT_EQ(reports, Get(reader, "/api/v1/reports?format=csv")->body);
  EXPECT_EQ(months, Get(reader, "/api/v1/months?format=csv&per-device=1")->body);
  EXPECT_EQ(3u, Json::parse(Get(reader, "/api/v1/devices")->body)["devices"].size());

  // Another program adding to the server's ledger is seen at the next read.
  dumps["DV000004"] = SmallDump(14, 10);
  const std::string path = dir.File("DV000004.bin");
  WriteFileBytes(path, dumps["DV000004"]);
  int status = -1;
  RunShell(Quote(TAXOSCOPE_CLI) + " ledger add " + Quote(state + "/ledger.db") + " " + Quote(path) + " >/dev/null",
           &status);
  ASSERT_EQ(0, status);
  fs::remove(dir.File("reference.db"));
  EXPECT_EQ(CliExport(ReferenceLedger(dumps), "--months"), Get(reader, "/api/v1/months?format=csv")->body);
}

TEST_F(ServerTest, ThirtyTwoClientsAtOnceEachReportHeldOnce) {
  // Ten registers; client c sends registers c..c+4, so every register comes
  // from sixteen clients, several at the same moment.
  std::map<std::string, std::string> dumps;
  for (int r = 0; r < 10; ++r) dumps["DV00010" + std::to_string(r)] = SmallDump(100 + r, 20 + r);
  std::vector<std::string> devices;
  for (const auto& dump : dumps) devices.push_back(dump.first);
  std::atomic<int> acknowledged{0}, refused{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 32; ++c) {
    clients.emplace_back([&, c] {
      for (int k = 0; k < 5; ++k) {
        const std::string& device = devices[(c + k) % devices.size()];
        httplib::Result result = Upload(admin, device, dumps[device]);
        (result && result->status == 200 ? acknowledged : refused)++;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(160, acknowledged.load());
  EXPECT_EQ(0, refused.load());
  const std::string reference = ReferenceLedger(dumps);
  EXPECT_EQ(CliExport(reference, ""), Get(reader, "/api/v1/reports?format=csv")->body);
  EXPECT_EQ(CliExport(reference, "--months --per-device"), Get(reader, "/api/v1/months?format=csv&per-device=1")->body);
  Json listed = Json::parse(Get(reader, "/api/v1/devices")->body)["devices"];
  ASSERT_EQ(10u, listed.size());
  for (size_t r = 0; r < listed.size(); ++r) {
    EXPECT_EQ(20 + static_cast<int>(r), listed[r]["reports"].get<int>()) << listed[r];
    EXPECT_EQ(1, listed[r]["dumps"].get<int>()) << listed[r];
  }
}

TEST_F(ServerTest, KilledDuringUploadsKeepsEveryAcknowledgedDumpAndRebuildGivesTheSameLedger) {
  std::vector<std::pair<std::string, std::string>> dumps;
  for (int r = 0; r < 48; ++r) dumps.emplace_back("DV0002" + std::to_string(10 + r), SmallDump(200 + r, 15));
  std::mutex mutex;
  std::set<std::string> acknowledged;
  std::atomic<size_t> next{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 6; ++c) {
    clients.emplace_back([&] {
      for (size_t i = next++; i < dumps.size(); i = next++) {
        httplib::Result result = Upload(admin, dumps[i].first, dumps[i].second);
        if (result && result->status == 200) {
          std::lock_guard<std::mutex> lock(mutex);
          acknowledged.insert(dumps[i].first);
        }
      }
    });
  }
  // Killed once a few uploads are in, with others on their way.
  for (int i = 0; i < 2000; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (acknowledged.size() >= 8) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  server.Kill();
  for (std::thread& client : clients) client.join();
  ASSERT_GE(acknowledged.size(), 8u);
  ASSERT_LT(acknowledged.size(), dumps.size()) << "the kill came after the last upload";

  ASSERT_TRUE(server.Start(state)) << server.Log();
  Json listed = Json::parse(Get(reader, "/api/v1/devices")->body)["devices"];
  std::set<std::string> held;
  for (const Json& device : listed) {
    EXPECT_EQ(15, device["reports"].get<int>()) << device;
    held.insert(device["device"].get<std::string>());
  }
  for (const std::string& device : acknowledged) EXPECT_EQ(1u, held.count(device)) << device;
  const std::string before = Get(reader, "/api/v1/reports?format=csv")->body;
  ASSERT_EQ(0, server.Stop());

  int status = -1;
  RunShell(Quote(TAXOSCOPE_CLI) + " ledger check " + Quote(state + "/ledger.db") + " >/dev/null", &status);
  EXPECT_EQ(0, status);
  RunShell(Quote(TAXOSCOPE_SERVER) + " rebuild --state " + Quote(state) + " >/dev/null", &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ(before, CliExport(state + "/ledger.db", ""));
  EXPECT_EQ(held.size(), static_cast<size_t>(std::count(before.begin(), before.end(), '\n') - 1) / 15);
}

TEST_F(ServerTest, TokensAndRoles) {
  const std::string dump = SmallDump(31, 10);
  httplib::Result none = Upload("", "DV000001", dump);
  ASSERT_TRUE(none);
  EXPECT_EQ(401, none->status);
  EXPECT_EQ("unauthorized", Json::parse(none->body)["error"]);
  EXPECT_EQ(401, Upload(shop + "x", "DV000001", dump)->status);
  EXPECT_EQ(401, Get("wrong", "/api/v1/devices")->status);
  // A shop's token sends its own register only, and reads nothing.
  httplib::Result other = Upload(shop, "DV000002", dump);
  EXPECT_EQ(403, other->status);
  EXPECT_NE(std::string::npos, Json::parse(other->body)["detail"].get<std::string>().find("DV000002"));
  for (const char* path : {"/api/v1/devices", "/api/v1/months", "/api/v1/reports", "/api/v1/check", "/metrics"})
    EXPECT_EQ(403, Get(shop, path)->status) << path;
  EXPECT_EQ(403, Get(shop, "/")->status);
  EXPECT_EQ(403, Upload(reader, "DV000001", dump)->status);
  EXPECT_EQ(200, Upload(shop, "DV000001", dump)->status);
  EXPECT_EQ(200, Get("", "/healthz")->status);

  // A token removed is refused from the next request on.
  int status = -1;
  RunShell(Quote(TAXOSCOPE_SERVER) + " token remove accountant --state " + Quote(state) + " 2>/dev/null", &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ(401, Get(reader, "/api/v1/devices")->status);
  EXPECT_EQ(200, Get(admin, "/api/v1/devices")->status);

  // The log names the token, never the token itself.
  const std::string log = server.Log();
  EXPECT_NE(std::string::npos, log.find(" shop-1 POST /api/v1/dumps 200 in="));
  EXPECT_NE(std::string::npos, log.find(" - POST /api/v1/dumps 401 "));
  for (const std::string& token : {admin, reader, shop}) EXPECT_EQ(std::string::npos, log.find(token));
  EXPECT_EQ(std::string::npos, ReadFileBytes(state + "/tokens").find(shop));
}

// One request on a raw socket: what comes back before the server closes, or
// the wait runs out.
std::string RawExchange(int port, const std::string& request, int pauseMs = 0, int trickle = 0) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "no connection";
  timeval wait = {15, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  // A byte every pauseMs until the server answers or closes.
  for (int i = 0; i < trickle; ++i) {
    pollfd answer = {fd, POLLIN, 0};
    if (poll(&answer, 1, pauseMs) != 0 || send(fd, "x", 1, MSG_NOSIGNAL) != 1) break;
  }
  std::string answer;
  char buffer[4096];
  ssize_t got;
  while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(got));
  close(fd);
  return answer;
}

TEST_F(ServerTest, RefusedWithoutHarm) {
  ASSERT_EQ(200, Upload(admin, "DV000009", SmallDump(41, 12))->status);
  const std::string before = Get(reader, "/api/v1/reports?format=csv")->body;
  const std::string auth = "Authorization: Bearer " + admin + "\r\n";
  const std::string post = "POST /api/v1/dumps?device=DV000010 HTTP/1.1\r\nHost: x\r\n" + auth;

  // Over the image cap: refused on its length, before a byte of the body.
  const auto start = std::chrono::steady_clock::now();
  std::string answer = RawExchange(server.port(), post + "Content-Length: 2101248\r\n\r\n");
  EXPECT_EQ(0u, answer.find("HTTP/1.1 413 ")) << answer;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  answer = RawExchange(server.port(), post + "Content-Length: 3000000\r\nExpect: 100-continue\r\n\r\n");
  EXPECT_EQ(0u, answer.find("HTTP/1.1 413 ")) << answer;
  // Chunks past the cap.
  std::string chunked = post + "Transfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 33; ++i) chunked += "10000\r\n" + std::string(0x10000, '\xff') + "\r\n";
  answer = RawExchange(server.port(), chunked + "0\r\n\r\n");
  EXPECT_EQ(0u, answer.find("HTTP/1.1 413 ")) << answer.substr(0, 200);
  // A body cut off half-way, and one that comes a byte a second.
  answer = RawExchange(server.port(), post + "Content-Length: 1000\r\n\r\n" + std::string(500, 'x'));
  EXPECT_EQ(0u, answer.find("HTTP/1.1 408 ")) << answer;
  answer = RawExchange(server.port(), post + "Content-Length: 1000\r\n\r\n", 1000, 10);
  EXPECT_EQ(0u, answer.find("HTTP/1.1 408 ")) << answer;
  // Header lines of 100 KB (over the headers' cap); headers a byte at a time.
  answer = RawExchange(server.port(), "GET /api/v1/devices HTTP/1.1\r\nX-Long: " + std::string(100000, 'a') + "\r\n\r\n");
  EXPECT_EQ(0u, answer.find("HTTP/1.1 431 ")) << answer.substr(0, 200);
  EXPECT_NE(std::string::npos, answer.find("\"error\":\"header_fields_too_large\""));
  const auto slowStart = std::chrono::steady_clock::now();
  RawExchange(server.port(), "GET /api/v1/devices HTTP/1.1\r\nHost: ", 500, 30);
  EXPECT_LT(std::chrono::steady_clock::now() - slowStart, std::chrono::seconds(8));
  // Bytes that are no dump of this device family: nothing kept.
  for (const std::string& garbage : {std::string(), std::string(4096, '\xff'), std::string(70000, 'x')}) {
    httplib::Result refused = Upload(admin, "DV000010", garbage);
    ASSERT_TRUE(refused);
    EXPECT_EQ(400, refused->status) << garbage.size();
    EXPECT_EQ("not_a_dump", Json::parse(refused->body)["error"]) << refused->body;
  }
  // Not octet-stream; no device; a device id with control bytes.
  httplib::Headers headers = {{"Authorization", "Bearer " + admin}};
  EXPECT_EQ(415, Client().Post("/api/v1/dumps?device=A", headers, "x", "text/plain")->status);
  EXPECT_EQ(400, Client().Post("/api/v1/dumps", headers, "x", "application/octet-stream")->status);
  EXPECT_EQ(400, Upload(admin, "A\nB", "x")->status);
  EXPECT_EQ(405, Client().Delete("/api/v1/devices", headers)->status);
  EXPECT_EQ(404, Get(admin, "/api/v2/devices")->status);
  EXPECT_EQ(400, Get(admin, "/api/v1/months?from=1/1/2013")->status);
  EXPECT_EQ(400, Get(admin, "/api/v1/months?from=x&to=1/3/2013")->status);
  EXPECT_EQ(404, Get(admin, "/api/v1/reports?device=nothing")->status);

  // None of it changed the ledger, and the server still serves.
  EXPECT_EQ(before, Get(reader, "/api/v1/reports?format=csv")->body);
  EXPECT_EQ(1u, Json::parse(Get(reader, "/api/v1/devices")->body)["devices"].size());
  for (const fs::directory_entry& entry : fs::directory_iterator(state + "/dumps"))
    EXPECT_EQ("DV000009", entry.path().filename().string());
}

TEST_F(ServerTest, DeviceIdsAreTextNeverPaths) {
  const std::string traversal = "../../etc/passwd", markup = "<script>alert(1)</script>\"&";
  ASSERT_EQ(200, Upload(admin, traversal, SmallDump(51, 5))->status);
  ASSERT_EQ(200, Upload(admin, markup, SmallDump(52, 5))->status);
  // Everything written stays in the state folder, each device in a folder of
  // its own inside dumps/.
  std::set<std::string> folders;
  for (const fs::directory_entry& entry : fs::directory_iterator(state + "/dumps"))
    folders.insert(entry.path().filename().string());
  EXPECT_EQ((std::set<std::string>{"%2E%2E%2F%2E%2E%2Fetc%2Fpasswd", "%3Cscript%3Ealert%281%29%3C%2Fscript%3E%22%26"}),
            folders);
  for (const fs::directory_entry& entry : fs::directory_iterator(dir.path()))
    EXPECT_TRUE(entry.path().filename() == "state" || entry.path().filename() == "state.log") << entry.path();

  Json listed = Json::parse(Get(reader, "/api/v1/devices")->body)["devices"];
  ASSERT_EQ(2u, listed.size());
  EXPECT_EQ(traversal, listed[0]["device"]);
  EXPECT_EQ(markup, listed[1]["device"]);
  const std::string page = Get(reader, "/")->body;
  EXPECT_EQ(std::string::npos, page.find("<script>alert"));
  EXPECT_NE(std::string::npos, page.find("&lt;script&gt;alert(1)&lt;/script&gt;&quot;&amp;"));
  EXPECT_NE(std::string::npos, page.find("href=\"/devices/..%2F..%2Fetc%2Fpasswd\""));
  httplib::Result own = Get(reader, "/devices/..%2F..%2Fetc%2Fpasswd");
  ASSERT_EQ(200, own->status);
  EXPECT_NE(std::string::npos, own->body.find("<h1>Каса ../../etc/passwd</h1>"));
  EXPECT_EQ(404, Get(reader, "/devices/nothing")->status);
}

TEST_F(ServerTest, SigtermLetsTheRunningUploadFinish) {
  const std::string dump = SmallDump(61, 10);
  // The body comes in two halves; SIGTERM arrives between them.
  std::string answer;
  std::thread client([&] {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(server.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    const std::string head = "POST /api/v1/dumps?device=DV000001 HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + shop +
                             "\r\nContent-Length: " + std::to_string(dump.size()) + "\r\nConnection: close\r\n\r\n";
    send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    send(fd, dump.data(), dump.size() / 2, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    send(fd, dump.data() + dump.size() / 2, dump.size() - dump.size() / 2, MSG_NOSIGNAL);
    char buffer[4096];
    ssize_t got;
    while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(got));
    close(fd);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(0, server.Stop());
  client.join();
  EXPECT_EQ(0u, answer.find("HTTP/1.1 200 ")) << answer;
  EXPECT_NE(std::string::npos, server.Log().find("finishing the running requests"));
  EXPECT_FALSE(httplib::Client("127.0.0.1", server.port()).Get("/healthz"));
  // What it acknowledged is there after a start.
  ASSERT_TRUE(server.Start(state));
  EXPECT_EQ(10, Json::parse(Get(reader, "/api/v1/devices")->body)["devices"][0]["reports"].get<int>());
}

TEST_F(ServerTest, MetricsInThePrometheusTextFormat) {
  ASSERT_EQ(200, Upload(shop, "DV000001", SmallDump(71, 7))->status);
  EXPECT_EQ(401, Get("", "/metrics")->status);
  // A request is counted once its answer is out: the client may be faster.
  httplib::Result metrics = Get(reader, "/metrics");
  for (int i = 0; i < 100 && metrics && metrics->body.find("{code=\"401\"}") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    metrics = Get(reader, "/metrics");
  }
  ASSERT_TRUE(metrics);
  ASSERT_EQ(200, metrics->status);
  EXPECT_EQ(0u, metrics->get_header_value("Content-Type").find("text/plain; version=0.0.4"));
  const std::string& text = metrics->body;
  EXPECT_NE(std::string::npos, text.find("taxoscope_uploads_total 1\n"));
  EXPECT_NE(std::string::npos, text.find("taxoscope_reports_held 7\n"));
  EXPECT_NE(std::string::npos, text.find("taxoscope_http_requests_total{code=\"401\"} 1\n"));
  EXPECT_NE(std::string::npos, text.find("taxoscope_upload_duration_seconds_bucket{le=\"+Inf\"} 1\n"));
  EXPECT_NE(std::string::npos, text.find("taxoscope_upload_duration_seconds_count 1\n"));
  // Every line a comment or "name{labels} value".
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    EXPECT_TRUE(line.rfind("# ", 0) == 0 || line.rfind("taxoscope_", 0) == 0) << line;
}

}  // namespace

namespace {

// Three daily reports; report 2 with other amounts when `changed`.
std::string ThreeReports(bool changed) {
  const uint16_t rates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  DumpBuilder dump;
  dump.Erased(16).ModelRecord().ModeAndRates(kModeFractional, rates);
  for (uint16_t n = 1; n <= 3; ++n) {
    ReportData report;
    report.number = n;
    report.dateTime = PackDateTime(24, 3, n, 20, 0);
    report.groups[0] = 1000u * n + (changed && n == 2 ? 1 : 0);
    dump.Report(report);
  }
  return std::string(dump.bytes().begin(), dump.bytes().end());
}

TEST_F(ServerTest, SendPrintsTheAddAndExitsAsLedgerAddDoes) {
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port());
  const std::string shopToken = dir.File("shop.token"), adminToken = dir.File("admin.token");
  WriteFileBytes(shopToken, shop + "\n");
  WriteFileBytes(adminToken, admin + "\n");
  chmod(shopToken.c_str(), 0600);  // for the owner alone, or send warns
  chmod(adminToken.c_str(), 0600);
  const std::string one = dir.File("DV000001.bin"), two = dir.File("DV000002.bin");
  WriteFileBytes(one, SmallDump(81, 30));
  WriteFileBytes(two, SmallDump(82, 20));
  const std::string send = Quote(TAXOSCOPE_CLI) + " send " + url + " ";
  int status = -1;
  std::string out = RunShell(send + Quote(one) + " --token-file " + Quote(shopToken) + " 2>&1", &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_EQ(one + ": device DV000001, 30 new, 0 already in the ledger, 0 repaired, 0 conflicts\n", out);
  out = RunShell(send + Quote(one) + " --token-file " + Quote(shopToken) + " 2>&1", &status);
  EXPECT_EQ(one + ": device DV000001, 0 new, 30 already in the ledger, 0 repaired, 0 conflicts\n", out);
  // From a pipe, under the device given.
  out = RunShell("cat " + Quote(two) + " | " + send + "/dev/stdin --device DV000002 --token-file " + Quote(adminToken),
                 &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ("/dev/stdin: device DV000002, 20 new, 0 already in the ledger, 0 repaired, 0 conflicts\n", out);
  const std::string reference = ReferenceLedger({{"DV000001", ReadFileBytes(one)}, {"DV000002", ReadFileBytes(two)}});
  EXPECT_EQ(CliExport(reference, ""), Get(reader, "/api/v1/reports?format=csv")->body);

  // A conflict: another report 2 under the same number and date-time.
  const std::string first = dir.File("DV000003.bin"), other = dir.File("other/DV000003.bin");
  fs::create_directory(dir.File("other"));
  WriteFileBytes(first, ThreeReports(false));
  WriteFileBytes(other, ThreeReports(true));
  RunShell(send + Quote(first) + " --token-file " + Quote(adminToken), &status);
  EXPECT_EQ(0, status);
  out = RunShell(send + Quote(other) + " --token-file " + Quote(adminToken) + " 2>&1", &status);
  EXPECT_EQ(13, status) << out;
  EXPECT_NE(std::string::npos, out.find(other + ": refused: its reports numbered 2 differ")) << out;
  EXPECT_NE(std::string::npos, out.find(": device DV000003, 0 new, 0 already in the ledger, 0 repaired, 1 conflict\n"))
      << out;

  // The refusals: each with its own status, the other dumps still sent.
  RunShell(send + Quote(two) + " --token-file " + Quote(shopToken) + " 2>/dev/null", &status);
  EXPECT_EQ(21, status) << "another shop's register";
  RunShell(send + Quote(one) + " 2>/dev/null", &status);
  EXPECT_EQ(21, status) << "no token";
  out = RunShell(send + Quote(dir.File("missing.bin")) + " " + Quote(one) + " --token-file " + Quote(shopToken) +
                     " 2>/dev/null",
                 &status);
  EXPECT_EQ(3, status);
  EXPECT_NE(std::string::npos, out.find("DV000001.bin: device DV000001, 0 new, 30 already"));
  WriteFileBytes(dir.File("big.bin"), std::string(2101248, '\xff'));
  RunShell(send + Quote(dir.File("big.bin")) + " --device X --token-file " + Quote(adminToken) + " 2>/dev/null", &status);
  EXPECT_EQ(3, status) << "longer than the image cap";
  WriteFileBytes(dir.File("notes.txt"), "not a dump\n");
  out = RunShell(send + Quote(dir.File("notes.txt")) + " --device X --token-file " + Quote(adminToken) + " 2>&1",
                 &status);
  EXPECT_EQ(3, status) << out;
  EXPECT_NE(std::string::npos, out.find("notes.txt: not a dump of this device family (")) << out;
  RunShell(send + "/dev/stdin --token-file " + Quote(adminToken) + " </dev/null 2>/dev/null", &status);
  EXPECT_EQ(3, status) << "a pipe names no device";
  RunShell(Quote(TAXOSCOPE_CLI) + " send http://192.0.2.1:8640 " + Quote(one) + " 2>/dev/null", &status);
  EXPECT_EQ(2, status) << "plain http off this machine";
  RunShell(send + Quote(one) + " --token-file --help >/dev/null 2>&1", &status);
  EXPECT_EQ(2, status) << "--help as an option's value is no help";
  out = RunShell(send + "--token-file " + Quote(adminToken) + " -- --help 2>&1", &status);
  EXPECT_EQ(3, status) << "after --, --help is a dump's name";
  EXPECT_NE(std::string::npos, out.find("cannot open '--help'")) << out;
  server.Stop();
  out = RunShell(send + Quote(one) + " --token-file " + Quote(shopToken) + " 2>&1", &status);
  EXPECT_EQ(20, status) << out;
  EXPECT_NE(std::string::npos, out.find("no connection to http://127.0.0.1:"));
}

// A certificate authority of the office's own and a certificate from it for
// "localhost" alone.
bool MakeCertificates(const std::string& folder) {
  const std::string in = "cd " + Quote(folder) + " && ";
  int status = -1;
  RunShell(in + "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=Office-CA "
                "2>/dev/null && openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr "
                "-subj /CN=localhost 2>/dev/null && printf 'subjectAltName=DNS:localhost\\n' >ext && "
                "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
                "-extfile ext 2>/dev/null",
           &status);
  return status == 0;
}

TEST(ServerTls, CertificatesAreVerifiedWithTheOfficesAuthority) {
  TempDir dir;
  ASSERT_TRUE(MakeCertificates(dir.path()));
  const std::string state = dir.File("state");
  int status = -1;
  std::string token = RunShell(Quote(TAXOSCOPE_SERVER) + " token add till --role upload --state " + Quote(state) +
                               " 2>/dev/null");
  WriteFileBytes(dir.File("token"), token);
  ServerProcess server;
  ASSERT_FALSE(server.Start(state, {"--cert", dir.File("server.pem")})) << "a certificate needs its key";
  ASSERT_TRUE(server.Start(state, {"--cert", dir.File("server.pem"), "--key", dir.File("server.key")}));
  EXPECT_NE(std::string::npos, server.Log().find("listening on https://127.0.0.1:"));
  const std::string port = std::to_string(server.port());
  const std::string dump = dir.File("DV000001.bin");
  WriteFileBytes(dump, SmallDump(91, 5));
  const std::string send = Quote(TAXOSCOPE_CLI) + " send ";
  const std::string args2 = " " + Quote(dump) + " --token-file " + Quote(dir.File("token"));
  std::string out = RunShell(send + "https://localhost:" + port + args2 + " --ca " + Quote(dir.File("ca.pem")), &status);
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos, out.find("device DV000001, 5 new"));
  out = RunShell(send + "https://localhost:" + port + args2 + " 2>&1", &status);
  EXPECT_EQ(20, status) << "not an authority of the system";
  EXPECT_NE(std::string::npos, out.find("not from a trusted authority"));
  out = RunShell(send + "https://127.0.0.1:" + port + args2 + " --ca " + Quote(dir.File("ca.pem")) + " 2>&1", &status);
  EXPECT_EQ(20, status) << "the certificate names localhost, not 127.0.0.1";
}

}  // namespace

namespace {

// The Windows program's "send" box as a report run's output, against the
// real server (the same code as in taxoscope.exe, the HTTP client aside).
TEST_F(ServerTest, ASendOutputSendsTheWholeDumpAfterTheReportAndAFailureCostsNothing) {
  FakeUi ui;
  const std::string dump = dir.File("DV000001.bin");
  WriteFileBytes(dump, SmallDump(95, 12));
  SendTarget target;
  std::string err;
  ASSERT_TRUE(ParseServerUrl("http://127.0.0.1:" + std::to_string(server.port()), &target.url, &err)) << err;
  target.token = shop;

  // A filtered run: the report has its filter, the server the whole dump.
  SendOutput send(target);
  ReportRequest request;
  request.dumpPath = dump;
  request.reportType = ReportByNumber;
  request.fromText = "1";
  request.toText = "2";
  request.outputs = {&send};
  EXPECT_EQ(ReportWritten, RunReportWithOutcome(request));
  EXPECT_TRUE(FileExists(dump + ".txt"));
  EXPECT_NE(std::string::npos, send.SuccessNote(dump).find("12 new, 0 already held")) << send.SuccessNote(dump);
  EXPECT_EQ(12, Json::parse(Get(reader, "/api/v1/devices")->body)["devices"][0]["reports"].get<int>());
  // The success box says where it went.
  ASSERT_EQ(1u, ui.messages.size());
  EXPECT_NE(std::string::npos, ui.messages[0].text.find("Sent to http://127.0.0.1:")) << ui.messages[0].text;
  ui.messages.clear();

  // A token the server does not know: forgotten, said so, the report kept.
  bool forgotten = false;
  target.token = "not-a-token";
  SendOutput refused(target, [&] { forgotten = true; });
  request.outputs = {&refused};
  std::remove((dump + ".txt").c_str());
  EXPECT_EQ(ReportWriteFailed, RunReportWithOutcome(request));
  EXPECT_TRUE(FileExists(dump + ".txt"));
  EXPECT_TRUE(forgotten);
  ASSERT_EQ(1u, ui.messages.size());
  EXPECT_EQ("Error", ui.messages[0].caption);
  EXPECT_EQ(MessageIconError, ui.messages[0].icon);
  EXPECT_NE(std::string::npos, ui.messages[0].text.find("asked for again")) << ui.messages[0].text;

  // No server: the dump can be sent again later, and counts nothing twice.
  server.Stop();
  target.token = shop;
  SendOutput unreachable(target);
  request.outputs = {&unreachable};
  EXPECT_EQ(ReportWriteFailed, RunReportWithOutcome(request));
  ASSERT_EQ(2u, ui.messages.size());
  EXPECT_NE(std::string::npos, ui.messages[1].text.find("no connection")) << ui.messages[1].text;
  EXPECT_NE(std::string::npos, ui.messages[1].text.find("sent again")) << ui.messages[1].text;
  ASSERT_TRUE(server.Start(state));
  ASSERT_TRUE(ParseServerUrl("http://127.0.0.1:" + std::to_string(server.port()), &target.url, &err));
  SendOutput again(target);
  EXPECT_TRUE(again.Write(dump));
  EXPECT_NE(std::string::npos, again.SuccessNote(dump).find("0 new, 12 already held"));
}

}  // namespace
