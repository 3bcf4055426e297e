// The server's state at its edges, against the real program on a loopback
// port: totals that follow every change of the ledger, dumps/ that holds
// exactly what was acknowledged, withdrawals that survive a kill, a rebuild
// that loses nothing, tokens that fail closed, ids that pose as nothing.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "ledger/sha256.h"
#include "server/server_test_support.h"
#include "sim/dump_builder.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

// Three daily reports of a register; report 2 with other amounts when
// `changed` (the same counts, numbers and dates: another register under the
// same id, or the wrong file).
std::string ThreeReports(bool changed) {
  const uint16_t rates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  DumpBuilder dump;
  dump.Erased(16).ModelRecord().ModeAndRates(kModeFractional, rates);
  for (uint16_t n = 1; n <= 3; ++n) {
    ReportData report;
    report.number = n;
    report.dateTime = PackDateTime(24, 3, n, 20, 0);
    report.groups[0] = 100000u * n + (changed && n == 2 ? 100000 : 0);
    dump.Report(report);
  }
  return std::string(dump.bytes().begin(), dump.bytes().end());
}

std::string SmallDump(uint32_t seed, int reports) {
  GenerateOptions options;
  options.seed = seed;
  options.reports = reports;
  options.variant = 2;
  std::vector<uint8_t> bytes = GenerateDump(options);
  return std::string(bytes.begin(), bytes.end());
}

std::string Sha256Of(const std::string& bytes) { return Sha256Hex(bytes.data(), bytes.size()); }

// The files of a folder tree, relative to it.
std::set<std::string> FilesUnder(const std::string& folder) {
  std::set<std::string> files;
  if (!fs::exists(folder)) return files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), folder).string());
  return files;
}

class ServerState : public ::testing::Test {
 protected:
  void SetUp() override {
    state = dir.File("state");
    admin = AddToken("office", "admin");
    reader = AddToken("accountant", "read");
  }

  // `taxoscope-server ARGS` with its status; its standard output, stderr after it.
  std::string Server(const std::string& args, int* status) {
    return RunShell(Quote(TAXOSCOPE_SERVER) + " " + args + " 2>&1", status);
  }

  std::string AddToken(const std::string& name, const std::string& role, const std::string& more = "") {
    int status = -1;
    std::string token = RunShell(Quote(TAXOSCOPE_SERVER) + " token add " + name + " --role " + role + " " + more +
                                     " --state " + Quote(state) + " 2>/dev/null",
                                 &status);
    EXPECT_EQ(0, status) << name;
    while (!token.empty() && token.back() == '\n') token.pop_back();
    return token;
  }

  httplib::Client Client() {
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(30, 0);
    return client;
  }

  httplib::Headers Bearer(const std::string& token) { return {{"Authorization", "Bearer " + token}}; }

  httplib::Result Upload(const std::string& token, const std::string& deviceQuery, const std::string& bytes) {
    return Client().Post(("/api/v1/dumps?device=" + deviceQuery).c_str(), Bearer(token), bytes,
                         "application/octet-stream");
  }

  int Status(const httplib::Result& result) { return result ? result->status : -1; }

  std::string Months() { return Client().Get("/api/v1/months?format=csv&per-device=1", Bearer(reader))->body; }

  // What `taxoscope-cli ledger export` makes of the server's ledger.
  std::string Export(const std::string& options = "") {
    return RunShell(Quote(TAXOSCOPE_CLI) + " ledger export " + Quote(state + "/ledger.db") + " " + options +
                    " --out -");
  }

  TempDir dir;
  std::string state, admin, reader;
  ServerProcess server;
};

// The wrong totals: one dump taken back and another of the same
// counts, numbers and dates added in its place within a second, by the
// server itself and by another program.
TEST_F(ServerState, TotalsFollowEveryChangeOfTheLedger) {
  ASSERT_TRUE(server.Start(state)) << server.Log();
  const std::string wrong = ThreeReports(true), right = ThreeReports(false);
  ASSERT_EQ(200, Status(Upload(admin, "DV1", wrong)));
  const std::string before = Months();
  ASSERT_NE(std::string::npos, before.find("DV1,2024-03,3,1,3,")) << before;
  httplib::Result withdrawn = Client().Delete(("/api/v1/dumps/" + Sha256Of(wrong)).c_str(), Bearer(admin));
  ASSERT_EQ(200, Status(withdrawn)) << withdrawn->body;
  ASSERT_EQ(200, Status(Upload(admin, "DV1", right)));
  EXPECT_EQ(Export("--months --per-device"), Months());
  EXPECT_NE(before, Months());

  // The same done beside the server with taxoscope-cli, on its ledger.
  const std::string path = dir.File("DV1.bin");
  WriteFileBytes(path, right);
  int status = -1;
  RunShell(Quote(TAXOSCOPE_CLI) + " ledger remove " + Quote(state + "/ledger.db") + " " + Quote(path) + " >/dev/null",
           &status);
  ASSERT_EQ(0, status);
  WriteFileBytes(path, ThreeReports(true));
  RunShell(Quote(TAXOSCOPE_CLI) + " ledger add " + Quote(state + "/ledger.db") + " " + Quote(path) + " >/dev/null",
           &status);
  ASSERT_EQ(0, status);
  EXPECT_EQ(Export("--months --per-device"), Months());
  EXPECT_EQ(before, Months());
}

// Readers read the daily reports (each report's date made into a calendar
// time again) on several threads while uploads come in: every answer is the
// ledger as it stood after some number of the uploads, never a mixture.
// Under ThreadSanitizer this is the test that meets the core's shared state.
TEST_F(ServerState, ReadersOnManyThreadsEachReadOneStateOfTheLedger) {
  ASSERT_TRUE(server.Start(state)) << server.Log();
  std::vector<std::string> dumps;
  for (int i = 0; i < 6; ++i) dumps.push_back(SmallDump(20 + i, 10 + 5 * i));
  ASSERT_EQ(200, Status(Upload(admin, "DV0", dumps[0])));
  std::vector<std::string> answers[4];
  std::vector<std::thread> readers;
  std::atomic<bool> uploading{true};
  for (std::vector<std::string>& seen : answers) {
    readers.emplace_back([&] {
      do {
        httplib::Result read = Client().Get("/api/v1/reports?format=csv", Bearer(reader));
        seen.push_back(read && read->status == 200 ? read->body : "failed");
      } while (uploading || seen.size() < 3);
    });
  }
  for (size_t i = 1; i < dumps.size(); ++i)
    EXPECT_EQ(200, Status(Upload(admin, "DV" + std::to_string(i), dumps[i]))) << i;
  uploading = false;
  for (std::thread& thread : readers) thread.join();

  // The states the ledger went through, as taxoscope-cli makes them.
  std::set<std::string> states;
  std::string last;
  for (size_t count = 1; count <= dumps.size(); ++count) {
    const std::string ledger = dir.File("states" + std::to_string(count) + ".db");
    std::string line = Quote(TAXOSCOPE_CLI) + " ledger add " + Quote(ledger);
    for (size_t i = 0; i < count; ++i) {
      WriteFileBytes(dir.File("DV" + std::to_string(i) + ".bin"), dumps[i]);
      line += " " + Quote(dir.File("DV" + std::to_string(i) + ".bin"));
    }
    int status = -1;
    RunShell(line + " >/dev/null", &status);
    ASSERT_EQ(0, status);
    last = RunShell(Quote(TAXOSCOPE_CLI) + " ledger export " + Quote(ledger) + " --out -");
    states.insert(last);
  }
  for (const std::vector<std::string>& seen : answers)
    for (const std::string& answer : seen) EXPECT_EQ(1u, states.count(answer)) << answer.substr(0, 300);
  EXPECT_EQ(last, Export());
}

// An add that fails (the disk full under the ledger's log) is answered 503
// with a reason that names no path, and keeps nothing: dumps/ holds what was
// acknowledged, so a start and a rebuild give what the answers said.
TEST_F(ServerState, AFailedAddKeepsNothingOfItsDump) {
  if (geteuid() != 0) GTEST_SKIP() << "a full disk needs a tmpfs of its own, which root mounts";
  const std::string disk = dir.File("disk");
  fs::create_directory(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  state = disk + "/state";
  admin = AddToken("office", "admin");
  reader = AddToken("accountant", "read");
  ASSERT_TRUE(server.Start(state)) << server.Log();

  // Room for the dump and its note, none for the ledger's log.
  const std::string failing = ThreeReports(true);
  struct statvfs room;
  ASSERT_EQ(0, statvfs(disk.c_str(), &room));
  const uint64_t keep = 3 * room.f_bsize;
  const uint64_t fill = room.f_bavail * room.f_bsize - keep;
  WriteFileBytes(disk + "/filler", std::string(fill, 'x'));
  httplib::Result full = Upload(admin, "DV1", failing);
  ASSERT_EQ(503, Status(full)) << (full ? full->body : "");
  const std::string detail = Json::parse(full->body)["detail"];
  EXPECT_EQ(std::string::npos, detail.find(disk)) << detail;
  EXPECT_NE(std::string::npos, detail.find("the ledger cannot be written")) << detail;
  EXPECT_NE(std::string::npos, detail.find("nothing was kept")) << detail;
  EXPECT_EQ(std::set<std::string>(), FilesUnder(state + "/dumps"));
  EXPECT_NE(std::string::npos, server.Log().find(state)) << "the log has the whole reason";

  // Room again: a later dump of the register, which the first disagrees
  // with, is acknowledged; a start and a rebuild keep it.
  fs::remove(disk + "/filler");
  const std::string later = ThreeReports(false);
  httplib::Result added = Upload(admin, "DV1", later);
  ASSERT_EQ(200, Status(added));
  EXPECT_FALSE(Json::parse(added->body)["refused"].get<bool>());
  const std::string months = Months();
  EXPECT_EQ(0, server.Stop());
  ASSERT_TRUE(server.Start(state)) << server.Log();
  EXPECT_EQ(months, Months());
  EXPECT_EQ(0, server.Stop());
  int status = -1;
  Server("rebuild --state " + Quote(state), &status);
  EXPECT_EQ(0, status);
  ASSERT_TRUE(server.Start(state)) << server.Log();
  EXPECT_EQ(months, Months());
}

// Killed between storing a dump and adding it, the server answered nothing;
// its next start adds what it stored, and says so in the singular.
TEST_F(ServerState, AnUploadKilledBeforeItsAddIsAddedAtTheNextStart) {
  ASSERT_TRUE(server.Start(state, {}, {"env", "TAXOSCOPE_CRASH_AT=upload-stored"})) << server.Log();
  const std::string dump = SmallDump(13, 9);
  EXPECT_EQ(-1, Status(Upload(admin, "DV1", dump)));
  server.Kill();
  EXPECT_EQ((std::set<std::string>{Sha256Of(dump) + ".bin", Sha256Of(dump) + ".json"}), FilesUnder(state + "/dumps/DV1"));
  ASSERT_TRUE(server.Start(state)) << server.Log();
  EXPECT_NE(std::string::npos, server.Log().find("taxoscope-server: added 1 stored dump the ledger lacked\n"))
      << server.Log();
  httplib::Result again = Upload(admin, "DV1", dump);
  ASSERT_EQ(200, Status(again));
  EXPECT_EQ(9, Json::parse(again->body)["already"].get<int>());
}

// A wrong upload withdrawn by the admin call: out of dumps/ into withdrawn/
// with the reason, out of the ledger and its check, never taken again, and
// left out by a start and a rebuild.
TEST_F(ServerState, AWithdrawnUploadStaysWithdrawn) {
  ASSERT_TRUE(server.Start(state)) << server.Log();
  const std::string right = ThreeReports(false), wrong = ThreeReports(true), other = SmallDump(5, 12);
  ASSERT_EQ(200, Status(Upload(admin, "DV1", right)));
  ASSERT_EQ(200, Status(Upload(admin, "DV2", other)));
  const std::string clean = Export();
  // The wrong file for DV1, refused by the ledger and kept; DV2's dump sent
  // under DV4 by mistake, added.
  httplib::Result refused = Upload(admin, "DV1", wrong);
  ASSERT_EQ(200, Status(refused));
  EXPECT_TRUE(Json::parse(refused->body)["refused"].get<bool>());
  ASSERT_EQ(200, Status(Upload(admin, "DV4", other)));
  EXPECT_EQ(1, Json::parse(Client().Get("/api/v1/check", Bearer(reader))->body)["counts"]["errors"].get<int>());

  const std::string path = "/api/v1/dumps/" + Sha256Of(other);
  EXPECT_EQ(403, Status(Client().Delete(path.c_str(), Bearer(reader))));
  httplib::Result ambiguous = Client().Delete(path.c_str(), Bearer(admin));
  ASSERT_EQ(409, Status(ambiguous)) << ambiguous->body;
  EXPECT_NE(std::string::npos, ambiguous->body.find("'DV2' 'DV4'")) << ambiguous->body;
  httplib::Result withdrawn = Client().Delete((path + "?device=DV4&why=sent%20under%20DV4").c_str(), Bearer(admin));
  ASSERT_EQ(200, Status(withdrawn)) << withdrawn->body;
  Json answer = Json::parse(withdrawn->body);
  EXPECT_EQ("DV4", answer["device"]);
  EXPECT_EQ(12, answer["removed"].get<int>());
  EXPECT_EQ(0, answer["kept"].get<int>());
  EXPECT_EQ("sent under DV4", answer["why"]);
  withdrawn = Client().Delete(("/api/v1/dumps/" + Sha256Of(wrong)).c_str(), Bearer(admin));
  ASSERT_EQ(200, Status(withdrawn)) << withdrawn->body;
  EXPECT_TRUE(Json::parse(withdrawn->body)["refused_note"].get<bool>());
  EXPECT_EQ(404, Status(Client().Delete(("/api/v1/dumps/" + std::string(64, 'a')).c_str(), Bearer(admin))));
  EXPECT_EQ(400, Status(Client().Delete("/api/v1/dumps/xyz", Bearer(admin))));

  const std::string one = Sha256Of(other) + ".", two = Sha256Of(wrong) + ".";
  EXPECT_EQ((std::set<std::string>{"DV4/" + one + "bin", "DV4/" + one + "json", "DV4/" + one + "withdrawn.json",
                                   "DV1/" + two + "bin", "DV1/" + two + "json", "DV1/" + two + "withdrawn.json"}),
            FilesUnder(state + "/withdrawn"));
  EXPECT_NE(std::string::npos, ReadFileBytes(state + "/withdrawn/DV4/" + one + "withdrawn.json").find("sent under DV4"));
  EXPECT_EQ(2u, FilesUnder(state + "/dumps/DV1").size());
  EXPECT_FALSE(fs::exists(state + "/dumps/DV4"));
  EXPECT_EQ(clean, Export());
  Json check = Json::parse(Client().Get("/api/v1/check", Bearer(reader))->body);
  EXPECT_EQ(0, check["counts"]["errors"].get<int>()) << check.dump();
  EXPECT_EQ(1u, check["counts"].count("notes")) << check.dump();

  // Sent again, the withdrawn bytes are refused for that device; another
  // device's copy is no concern of the withdrawal.
  httplib::Result again = Upload(admin, "DV4", other);
  ASSERT_EQ(409, Status(again));
  EXPECT_EQ("withdrawn", Json::parse(again->body)["error"]);
  EXPECT_NE(std::string::npos, again->body.find("sent under DV4")) << again->body;
  EXPECT_EQ(200, Status(Upload(admin, "DV2", other)));

  EXPECT_EQ(0, server.Stop());
  ASSERT_TRUE(server.Start(state)) << server.Log();
  EXPECT_EQ(clean, Export());
  EXPECT_EQ(0, server.Stop());
  int status = -1;
  Server("rebuild --state " + Quote(state), &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ(clean, Export());
}

// The command does the same with the server stopped, in one step that a
// kill between its parts does not undo: the next start finishes it.
TEST_F(ServerState, AWithdrawalKilledHalfWayIsFinishedAtTheNextStart) {
  ASSERT_TRUE(server.Start(state)) << server.Log();
  const std::string right = SmallDump(7, 20), wrong = SmallDump(8, 15);
  ASSERT_EQ(200, Status(Upload(admin, "DV1", right)));
  ASSERT_EQ(200, Status(Upload(admin, "DV2", wrong)));
  ASSERT_EQ(200, Status(Upload(admin, "DV3", wrong)));
  int status = -1;
  std::string out = Server("withdraw --state " + Quote(state) + " " + Sha256Of(wrong) + " --device DV2", &status);
  EXPECT_EQ(1, status) << "the server runs: " << out;
  EXPECT_NE(std::string::npos, out.find("DELETE /api/v1/dumps/")) << out;
  EXPECT_EQ(0, server.Stop());

  for (const char* point : {"withdraw-noted", "withdraw-moved"}) {
    const std::string device = std::string(point) == "withdraw-noted" ? "DV2" : "DV3";
    out = RunShell(std::string("TAXOSCOPE_CRASH_AT=") + point + " " + Quote(TAXOSCOPE_SERVER) + " withdraw --state " +
                       Quote(state) + " " + Sha256Of(wrong) + " --device " + device + " --why 'wrong file' 2>&1",
                   &status);
    EXPECT_TRUE(status == -1 || status == 128 + SIGKILL) << point << ": killed, " << status << " " << out;
    EXPECT_TRUE(fs::exists(state + "/withdrawn/" + device + "/" + Sha256Of(wrong) + ".withdrawn.json")) << point;
    // A rebuild now would finish the move and leave it out too; the start finishes the ledger's part.
    ASSERT_TRUE(server.Start(state)) << server.Log();
    EXPECT_NE(std::string::npos, server.Log().find("finished the withdrawal of " + Sha256Of(wrong))) << server.Log();
    EXPECT_EQ(404, Status(Client().Get(("/api/v1/reports?device=" + device).c_str(), Bearer(reader)))) << point;
    EXPECT_EQ(std::set<std::string>(), FilesUnder(state + "/dumps/" + device)) << point;
    EXPECT_EQ(0, server.Stop());
  }
  // Asked again, it says it was withdrawn before.
  out = Server("withdraw --state " + Quote(state) + " " + Sha256Of(wrong) + " --device DV2", &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_NE(std::string::npos, out.find(": device DV2, withdrawn before, 0 removed")) << out;
  out = RunShell(Quote(TAXOSCOPE_SERVER) + " withdraw --state " + Quote(state) + " " + Sha256Of(right), &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_EQ(Sha256Of(right) + ": device DV1, withdrawn, 20 removed, 0 still held by other dumps\n", out);
  Server("withdraw --state " + Quote(state) + " " + std::string(64, 'b'), &status);
  EXPECT_EQ(1, status);
  Server("withdraw --state " + Quote(state) + " nothex", &status);
  EXPECT_EQ(2, status);
  out = Server("rebuild --state " + Quote(state), &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_EQ(out, state + "/ledger.db: 0 stored dumps added\n");
  EXPECT_EQ("", Export("--device DV1"));
}

// Dumps added beside the server (taxoscope-cli ledger add on its ledger) are
// not in dumps/: a rebuild names them and replaces nothing.
TEST_F(ServerState, RebuildLosesNoAddMadeBesideTheServer) {
  ASSERT_TRUE(server.Start(state)) << server.Log();
  ASSERT_EQ(200, Status(Upload(admin, "DV1", SmallDump(9, 10))));
  EXPECT_EQ(0, server.Stop());
  chmod((state + "/ledger.db").c_str(), 0640);
  int status = -1;
  std::string out = Server("rebuild --state " + Quote(state), &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_EQ(state + "/ledger.db: 1 stored dump added\n", out);
  struct stat info;
  ASSERT_EQ(0, stat((state + "/ledger.db").c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 0777);

  const std::string beside = dir.File("DV9.bin");
  WriteFileBytes(beside, SmallDump(10, 8));
  RunShell(Quote(TAXOSCOPE_CLI) + " ledger add " + Quote(state + "/ledger.db") + " " + Quote(beside) + " >/dev/null",
           &status);
  ASSERT_EQ(0, status);
  const std::string before = ReadFileBytes(state + "/ledger.db");
  out = Server("rebuild --state " + Quote(state), &status);
  EXPECT_EQ(1, status) << out;
  EXPECT_NE(std::string::npos, out.find(beside + ": device DV9, " + Sha256Of(SmallDump(10, 8)))) << out;
  EXPECT_NE(std::string::npos, out.find("nothing was replaced")) << out;
  EXPECT_EQ(before, ReadFileBytes(state + "/ledger.db"));
  EXPECT_FALSE(fs::exists(state + "/ledger.db.rebuild"));
  // Sent to the server, it is in dumps/ too, and the rebuild keeps it.
  ASSERT_TRUE(server.Start(state)) << server.Log();
  ASSERT_EQ(200, Status(Upload(admin, "DV9", SmallDump(10, 8))));
  EXPECT_EQ(0, server.Stop());
  const std::string whole = Export();
  out = Server("rebuild --state " + Quote(state), &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_EQ(whole, Export());
}

// Device ids that pose as others, or no text at all, are refused where they
// enter; "." and ".." are registers whose pages a browser reaches.
TEST_F(ServerState, IdsThatPoseAsOthersAreRefusedAndDotsAreReachable) {
  ASSERT_TRUE(server.Start(state)) << server.Log();
  const std::string dump = SmallDump(11, 4);
  for (const char* id : {"%FF%FE", "%FE%FF", "DV%E2%80%AE1", "DV%E2%80%8B1", "DV%09", "%C0%AF"}) {
    httplib::Result refused = Upload(admin, id, dump);
    ASSERT_EQ(400, Status(refused)) << id;
    EXPECT_NE(std::string::npos, refused->body.find("device id")) << refused->body;
  }
  EXPECT_EQ(std::set<std::string>(), FilesUnder(state + "/dumps"));
  int status = -1;
  std::string out = Server("token add tab --role upload --device \"$(printf 'DV\\t1')\" --state " + Quote(state), &status);
  EXPECT_EQ(2, status) << out;
  EXPECT_NE(std::string::npos, out.find("--device: a device id has no control characters")) << out;
  out = RunShell(Quote(TAXOSCOPE_SERVER) + " token list --state " + Quote(state));
  EXPECT_EQ(std::string::npos, out.find("tab")) << "no useless token: " << out;

  for (const char* id : {".", ".."}) ASSERT_EQ(200, Status(Upload(admin, id, dump))) << id;
  const std::string index = Client().Get("/", Bearer(reader))->body;
  for (const std::string link : {"/devices?device=.", "/devices?device=.."}) {
    EXPECT_NE(std::string::npos, index.find("href=\"" + link + "\"")) << link;
    httplib::Result page = Client().Get(link.c_str(), Bearer(reader));
    ASSERT_EQ(200, Status(page)) << link;
    EXPECT_NE(std::string::npos, page->body.find("<h1>Каса " + link.substr(16) + "</h1>")) << link;
  }
}

// A tokens file the server cannot read (written by root, as a `sudo` line
// would) or cannot parse (a hand edit) refuses every token and turns
// /healthz to 503 with the reason, until it changes into a list it can
// read; the token commands run by root keep the file the server's.
TEST_F(ServerState, AnUnusableTokensFileRefusesEveryTokenUntilItChanges) {
  if (geteuid() != 0) GTEST_SKIP() << "another user for the server needs root";
  // The state folder of a system user, as the package makes it; the tokens
  // made by root, as the docs' sudo line would if run without -u.
  fs::remove_all(state);
  fs::create_directory(state);
  chmod(dir.path().c_str(), 0755);
  ASSERT_EQ(0, chown(state.c_str(), 65534, 65534));
  chmod(state.c_str(), 0750);
  admin = AddToken("office", "admin");
  const std::string shop = AddToken("shop", "upload", "--device DV1");
  struct stat info;
  ASSERT_EQ(0, stat((state + "/tokens").c_str(), &info));
  EXPECT_EQ(65534u, info.st_uid) << "a new tokens file is the state folder's owner's";
  ASSERT_TRUE(server.Start(state, {}, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}))
      << server.Log();
  const std::string dump = SmallDump(12, 5);
  EXPECT_EQ(200, Status(Upload(shop, "DV1", dump)));
  EXPECT_EQ(403, Status(Upload(shop, "DV2", dump)));

  // root removes the shop's token: the file stays the server's, and the
  // token is refused from the next request on.
  int status = -1;
  Server("token remove shop --state " + Quote(state), &status);
  ASSERT_EQ(0, status);
  ASSERT_EQ(0, stat((state + "/tokens").c_str(), &info));
  EXPECT_EQ(65534u, info.st_uid);
  EXPECT_EQ(0600u, info.st_mode & 0777);
  EXPECT_EQ(401, Status(Upload(shop, "DV1", dump)));

  // A file the server may not read: no token passes, /healthz says why.
  ASSERT_EQ(0, chown((state + "/tokens").c_str(), 0, 0));
  EXPECT_EQ(401, Status(Client().Get("/api/v1/devices", Bearer(admin))));
  httplib::Result health = Client().Get("/healthz");
  ASSERT_EQ(503, Status(health));
  EXPECT_NE(std::string::npos, health->body.find("Permission denied")) << health->body;
  EXPECT_EQ(std::string::npos, health->body.find(state)) << health->body;
  EXPECT_NE(std::string::npos, server.Log().find("every token is refused")) << server.Log();
  ASSERT_EQ(0, chown((state + "/tokens").c_str(), 65534, 65534));
  EXPECT_EQ(200, Status(Client().Get("/api/v1/devices", Bearer(admin))));
  EXPECT_EQ(200, Status(Client().Get("/healthz")));

  // A hand edit: a device-limited token made unlimited by "devices": null
  // refuses the whole file.
  const std::string saved = ReadFileBytes(state + "/tokens");
  const std::string limited = AddToken("till", "upload", "--device DV1");
  std::string edited = ReadFileBytes(state + "/tokens");
  const size_t devices = edited.rfind("\"devices\": [");
  edited.replace(devices, edited.find(']', devices) + 1 - devices, "\"devices\": null");
  WriteFileBytes(state + "/tokens", edited);
  EXPECT_EQ(401, Status(Upload(limited, "DV2", dump)));
  EXPECT_EQ(401, Status(Client().Get("/api/v1/devices", Bearer(admin))));
  health = Client().Get("/healthz");
  EXPECT_EQ(503, Status(health));
  EXPECT_NE(std::string::npos, health->body.find("\\\"devices\\\" is not a list")) << health->body;
  WriteFileBytes(state + "/tokens", saved);
  EXPECT_EQ(200, Status(Client().Get("/api/v1/devices", Bearer(admin))));

  // Another user than the file's may not change it.
  const std::string out = RunShell("setpriv --reuid=1 --regid=1 --clear-groups " + Quote(TAXOSCOPE_SERVER) +
                     " token add x --role read --state " + Quote(state) + " 2>&1",
                 &status);
  EXPECT_EQ(1, status) << out;
  EXPECT_NE(std::string::npos, out.find("belongs to the user nobody")) << out;
}

}  // namespace
