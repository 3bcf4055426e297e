// taxoscope-cli ledger run as a user runs it: the real binary on real files,
// the exit statuses, and what happens to the ledger when things go wrong.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_test_support.h"
#include "check/finding.h"
#include "export/utf8_text.h"
#include "ledger/ledger_file.h"
#include "ledger/ledger_schema.h"
#include "ledger/sha256.h"
#include "sim/dump_builder.h"
#include "testsupport/temp_dir.h"

namespace {

class LedgerCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint32_t seed : {1u, 2u}) {
      GenerateOptions options;
      options.seed = seed;
      options.reports = 6500;
      std::string err;
      ASSERT_TRUE(WriteDumpFile(Dump(seed), GenerateDump(options, &counts[seed]), &err)) << err;
    }
  }

  // "DV000001 5996|" for the devices given.
  std::string Held(std::initializer_list<uint32_t> seeds) const {
    std::string held;
    for (uint32_t seed : seeds) held += "DV00000" + std::to_string(seed) + " " + std::to_string(counts[seed]) + "|";
    return held;
  }

  std::string Dump(uint32_t seed) const { return dir.File("DV00000" + std::to_string(seed) + ".bin"); }
  std::string Ledger() const { return "'" + dir.File("ledger.db") + "'"; }
  std::string Add(uint32_t seed) const { return "ledger add " + Ledger() + " '" + Dump(seed) + "'"; }
  CliRun Cli(const std::string& args) const { return RunCli(dir, args); }
  // A command line run by the shell, the program named in it, output captured.
  CliRun Shell(const std::string& line) const {
    std::string out = dir.File("stdout"), err = dir.File("stderr");
    int raw = std::system(("(" + line + ") >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileBytes(out), ReadFileBytes(err)};
  }
  // The devices and their report counts: "DV000001 5997|...".
  std::string Devices() const {
    std::istringstream lines(Cli("ledger devices " + Ledger()).out);
    std::string line, devices, id, reports;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      fields >> id >> reports;
      devices += id + " " + reports + "|";
    }
    return devices;
  }

  TempDir dir;
  int counts[3] = {};
};

// The rows of a CSV without its header, the ledger's without their device.
std::string Rows(const std::string& csv, bool withDevice) {
  std::string rows;
  for (size_t at = csv.find("\r\n") + 2; at < csv.size();) {
    size_t end = csv.find("\r\n", at) + 2;
    size_t from = withDevice ? csv.find(',', at) + 1 : at;
    rows += csv.substr(from, end - from);
    at = end;
  }
  return rows;
}

// Three daily reports; report 2 with other amounts when `changed`, or
// numbered 4 when `gap`; report 3 read over a bad line (other amounts, its
// CRC fails) when `damaged`.
std::vector<uint8_t> SmallDump(bool changed, bool gap = false, bool damaged = false) {
  const uint16_t rates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  DumpBuilder dump;
  dump.Erased(16).ModelRecord().ModeAndRates(kModeFractional, rates);
  for (uint16_t n = 1; n <= 3; ++n) {
    ReportData report;
    report.number = static_cast<uint16_t>(gap && n == 2 ? 4 : n);
    report.dateTime = PackDateTime(24, 3, n, 20, 0);
    report.groups[0] = 1000u * n + (changed && n == 2 ? 1 : 0) + (damaged && n == 3 ? 7000 : 0);
    dump.Report(report);
    if (damaged && n == 3) dump.CorruptLastCrc();
  }
  return dump.bytes();
}

TEST_F(LedgerCommands, AddTellsPerDumpAndTheExportsAreTheDumpsWithTheDevice) {
  CliRun add = Cli(Add(1) + " '" + Dump(2) + "' '" + dir.File("none.bin") + "'");
  EXPECT_EQ(add.status, 3);
  EXPECT_EQ(add.out.substr(0, add.out.find('\n')),
            Dump(1) + ": device DV000001, " + std::to_string(counts[1]) +
                " new, 0 already in the ledger, 0 repaired, 0 conflicts");
  EXPECT_NE(add.out.find(": device DV000002, "), std::string::npos);
  EXPECT_NE(add.err.find("none.bin"), std::string::npos);
  EXPECT_EQ(Devices(), Held({1, 2}));

  std::string csv = Cli("ledger export " + Ledger() + " --device DV000002 --out -").out;
  EXPECT_EQ(csv.rfind("device,date,report,group_1,", 0), 0u);
  EXPECT_EQ(Rows(csv, true), Rows(Cli("export '" + Dump(2) + "' --out -").out, false));
  std::string months = Cli("ledger export " + Ledger() + " --months --per-device --device DV000001 --out -").out;
  std::string dumpMonths = Cli("export '" + Dump(1) + "' --months --out -").out;
  EXPECT_EQ(Rows(months, true), Rows(dumpMonths, false));
  EXPECT_EQ(Cli("ledger summary " + Ledger()).out.rfind("Месец    Каси  Отчети", 0), 0u);
}

TEST_F(LedgerCommands, ExitStatuses) {
  for (const char* args : {"ledger", "ledger add", "ledger add l.db", "ledger nothing l.db",
                           "ledger export l.db --by-number 1 2", "ledger export l.db --per-device",
                           "ledger export l.db --format json --months", "ledger devices l.db --by-date 1/1/2020 2/1/2020",
                           "ledger summary l.db --by-number 1 2 --device X"})
    EXPECT_EQ(Cli(args).status, 2) << args;
  EXPECT_EQ(Cli("ledger devices " + Ledger()).status, 12);
  EXPECT_FALSE(FileExists(dir.File("ledger.db")));
  EXPECT_EQ(Cli(Add(1)).status, 0);
  CliRun bound = Cli("ledger summary " + Ledger() + " --by-date 1/1/2020 32/1/2020");
  EXPECT_EQ(bound.status, 1);
  EXPECT_EQ(bound.err, "Invalid input value \"to\"\n");
  EXPECT_EQ(Cli("ledger export " + Ledger() + " --device DV000009 --out -").status, 1);

  // Another register read under the same id: report 2 conflicts, and the
  // dump is refused whole.
  std::string err, small = dir.File("small.bin");
  ASSERT_TRUE(WriteDumpFile(small, SmallDump(false), &err));
  EXPECT_EQ(Cli("ledger add " + Ledger() + " --device SMALL '" + small + "'").status, 0);
  ASSERT_TRUE(WriteDumpFile(small, SmallDump(true), &err));
  CliRun conflict = Cli("ledger add " + Ledger() + " --device SMALL '" + small + "'");
  EXPECT_EQ(conflict.status, 13);
  EXPECT_EQ(conflict.err, small + ": refused: its reports numbered 2 differ from those the ledger holds for SMALL "
                                  "(another register under this id, or a memory altered since); nothing of it was "
                                  "added\n");
  EXPECT_EQ(conflict.out, small + ": device SMALL, 0 new, 0 already in the ledger, 0 repaired, 1 conflict\n");
  EXPECT_EQ(Devices(), Held({1}) + "SMALL 3|");

  // ledger check: the conflict is an error, a gap in another device a warning.
  ASSERT_TRUE(WriteDumpFile(small, SmallDump(false, true), &err));
  EXPECT_EQ(Cli("ledger add " + Ledger() + " --device GAP '" + small + "'").status, 0);
  CliRun check = Cli("ledger check " + Ledger() + " --device SMALL --device GAP");
  EXPECT_EQ(check.status, 11);
  const size_t refused = check.out.find("), refused ") + 11;
  EXPECT_EQ(check.out,
            "warning gap report 3 (2024-03-03 20:00): device GAP: missing 2, after report 1 (2024-03-01 20:00)\n"
            "warning clock-back report 4 (2024-03-02 20:00): device GAP: earlier than report 3 (2024-03-03 20:00)\n"
            "error refused-dump report 2 (2024-03-02 20:00): device SMALL: the dump " + small + " (SHA-256 " +
                Sha256Hex(SmallDump(true).data(), SmallDump(true).size()) + "), refused " +
                check.out.substr(refused, 20) +
                ", holds other reports than the ledger under 1 number, from this one; nothing of it was added\n" +
                "1 error, 2 warnings, 0 notes\n");
  EXPECT_EQ(Cli("ledger check " + Ledger() + " --device GAP --format json").status, 10);
}

// A report read with a failed CRC is an error of ledger check until an
// intact read repairs it; a damaged copy of an intact report is named.
TEST_F(LedgerCommands, DamagedReportsAreCheckedRepairedAndNamed) {
  std::string err, damaged = dir.File("damaged.bin"), intact = dir.File("intact.bin");
  ASSERT_TRUE(WriteDumpFile(damaged, SmallDump(false, false, true), &err));
  ASSERT_TRUE(WriteDumpFile(intact, SmallDump(false), &err));
  ASSERT_EQ(Cli("ledger add " + Ledger() + " --device D '" + damaged + "'").status, 0);
  CliRun check = Cli("ledger check " + Ledger());
  EXPECT_EQ(check.status, 11);
  EXPECT_EQ(check.out.substr(0, check.out.find(" added ")),
            "error crc report 3 (2024-03-03 20:00): device D: CRC mismatch in a daily report, from the dump " + damaged);
  CliRun repair = Cli("ledger add " + Ledger() + " --device D '" + intact + "'");
  EXPECT_EQ(repair.status, 0);
  EXPECT_EQ(repair.out, intact + ": device D, 0 new, 2 already in the ledger, 1 repaired, 0 conflicts\n");
  EXPECT_EQ(Cli("ledger check " + Ledger()).status, 0);

  ASSERT_EQ(Cli("ledger add " + Ledger() + " --device E '" + intact + "'").status, 0);
  CliRun copy = Cli("ledger add " + Ledger() + " --device E '" + damaged + "'");
  EXPECT_EQ(copy.status, 0);
  EXPECT_EQ(copy.err, damaged + ": report 3 of 2024-03-03 20:00 is a damaged copy (CRC mismatch) of a report the "
                                "ledger holds intact; counted as held\n");
  EXPECT_EQ(copy.out, damaged + ": device E, 0 new, 3 already in the ledger, 0 repaired, 0 conflicts\n");
  EXPECT_EQ(Cli("ledger check " + Ledger()).status, 0);
}

// --help only where an option may stand, "--" before a file that begins
// with '-', no empty argument, no option as an option's value.
TEST_F(LedgerCommands, TheCommandLine) {
  for (const char* sub : {"add", "devices", "summary", "export", "check", "remove"}) {
    CliRun help = Cli(std::string("ledger ") + sub + " l.db --help");
    EXPECT_EQ(help.status, 0) << sub;
    EXPECT_EQ(help.out.rfind(std::string("usage: taxoscope-cli ledger ") + sub, 0), 0u) << sub;
    EXPECT_NE(help.out.find("  --  "), std::string::npos) << sub << ": '--' is not explained";
    EXPECT_EQ(Cli(std::string("ledger ") + sub + " -h").status, 0) << sub;
    EXPECT_EQ(Cli(std::string("ledger ") + sub + " '' l.db").status, 2) << sub;
  }
  for (const char* args : {"ledger export l.db --out --help", "ledger export l.db --format -h",
                           "ledger summary l.db --by-date --out x.csv", "ledger summary l.db --by-date 1/1/2024 --out",
                           "ledger export l.db --device --help", "ledger add l.db ''", "ledger check l.db --format ''"}) {
    CliRun run = Cli(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_EQ(run.out, "") << args;
  }
  EXPECT_FALSE(FileExists(dir.File("--help")));

  const std::string dashed = dir.File("-R1.bin");
  std::string err;
  ASSERT_TRUE(WriteDumpFile(dashed, SmallDump(false), &err));
  CliRun add = Shell("cd '" + dir.path() + "' && '" + TAXOSCOPE_CLI + "' ledger add l.db -- -R1.bin");
  EXPECT_EQ(add.status, 0) << add.err;
  EXPECT_EQ(add.out, "-R1.bin: device -R1, 3 new, 0 already in the ledger, 0 repaired, 0 conflicts\n");
  EXPECT_EQ(Shell("cd '" + dir.path() + "' && '" + TAXOSCOPE_CLI + "' ledger devices -- l.db").status, 0);
}

// An add that waits for another process says so once, after a second, then
// adds; one whose standard output cannot be written adds and exits 4.
TEST_F(LedgerCommands, AnAddThatWaitsSaysSoAndOneThatCannotTellFails) {
  ASSERT_EQ(Cli(Add(1)).status, 0);
  LedgerFile holder;
  std::string err;
  ASSERT_TRUE(holder.Open(dir.File("ledger.db"), LedgerReadWrite, &err)) << err;
  ASSERT_TRUE(holder.db().Exec("BEGIN IMMEDIATE", &err)) << err;
  const std::string errors = dir.File("wait.err");
  FILE* add = popen((std::string("'") + TAXOSCOPE_CLI + "' " + Add(2) + " 2>'" + errors + "'").c_str(), "r");
  ASSERT_NE(add, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  ASSERT_TRUE(holder.db().Exec("ROLLBACK", &err)) << err;
  char line[256] = "";
  EXPECT_NE(std::fgets(line, sizeof line, add), nullptr);
  const int status = pclose(add);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFileBytes(errors), "waiting for " + dir.File("ledger.db") + " (in use by another process)\n");
  EXPECT_EQ(std::string(line).rfind(Dump(2) + ": device DV000002, ", 0), 0u) << line;
  holder.db().Close();

  std::remove(dir.File("ledger.db").c_str());
  CliRun full = Shell(std::string("'") + TAXOSCOPE_CLI + "' " + Add(1) + " >/dev/full");
  EXPECT_EQ(full.status, 4);
  EXPECT_NE(full.err.find("taxoscope-cli: cannot write to standard output: "), std::string::npos) << full.err;
  EXPECT_EQ(Devices(), Held({1}));
}

// Lines without their trailing blanks, the times a dump was added made alike.
std::string Comparable(const std::string& text) {
  static const std::regex time("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z");
  std::string result;
  std::istringstream in(std::regex_replace(text, time, "TIME"));
  for (std::string line; std::getline(in, line);) result += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
  return result;
}

// docs/ledger.md's worked example, run as the page writes it: each "$ "
// line in a shell, its output compared with the lines below it.
TEST_F(LedgerCommands, TheWorkedExampleRunsAsTheDocumentWritesIt) {
  const std::string doc = ReadFileBytes(std::string(TAXOSCOPE_SOURCE_DIR) + "/docs/ledger.md");
  const size_t at = doc.find("## A worked example");
  ASSERT_NE(at, std::string::npos);
  const std::string bin = dir.File("bin"), shop = dir.File("shop");
  ASSERT_EQ(Shell("mkdir '" + bin + "' '" + shop + "' && ln -s '" + TAXOSCOPE_CLI + "' '" + bin +
                  "/taxoscope-cli' && ln -s '" + TAXOSCOPE_SIM + "' '" + bin + "/taxoscope-sim'")
                .status,
            0);
  struct Step {
    std::string command, output;
  };
  std::vector<Step> steps;
  std::istringstream lines(doc.substr(at));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("    $ ", 0) == 0)
      steps.push_back({line.substr(6), ""});
    else if (line.rfind("    ", 0) == 0 && !steps.empty() && !line.empty())
      steps.back().output += line.substr(4) + "\n";
    else if (!steps.empty() && !steps.back().command.empty())
      steps.push_back({"", ""});  // prose or a blank line ends a command's output
  }
  int commands = 0;
  for (const Step& step : steps) {
    if (step.command.empty()) continue;
    ++commands;
    CliRun run = Shell("cd '" + shop + "' && PATH='" + bin + "':\"$PATH\" && " + step.command);
    EXPECT_EQ(run.status, 0) << step.command << "\n" << run.err;
    EXPECT_EQ(Comparable(run.out), Comparable(step.output)) << step.command;
  }
  EXPECT_GE(commands, 12);
}

// An export that cannot be written says so as every command does.
TEST_F(LedgerCommands, AnExportThatCannotBeWrittenNamesTheFile) {
  ASSERT_EQ(Cli(Add(1)).status, 0);
  CliRun run = Cli("ledger export " + Ledger() + " --out /missing/x.csv");
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.err, "taxoscope-cli: cannot write '/missing/x.csv': No such file or directory\n");
}

// The numbers docs/ledger.md gives for the file are the program's.
TEST_F(LedgerCommands, TheDocumentedApplicationIdAndVersionAreTheFiles) {
  const std::string doc = ReadFileBytes(std::string(TAXOSCOPE_SOURCE_DIR) + "/docs/ledger.md");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(doc, match, std::regex("application_id` = ([0-9]+) \\(0x([0-9A-F]+), \"TXLG\"\\)")));
  const unsigned long decimal = std::stoul(match[1].str()), hex = std::stoul(match[2].str(), nullptr, 16);
  EXPECT_EQ(decimal, hex);
  ASSERT_TRUE(std::regex_search(doc, match, std::regex("user_version` = the schema version, now ([0-9]+)")));
  const unsigned long version = std::stoul(match[1].str());

  ASSERT_EQ(Cli(Add(1)).status, 0);
  const std::string header = ReadFileBytes(dir.File("ledger.db")).substr(0, 100);
  auto field = [&](size_t offset) {  // big-endian, as SQLite writes its header
    unsigned long value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(header[offset + i]);
    return value;
  };
  EXPECT_EQ(field(68), decimal);
  EXPECT_EQ(field(60), version);
  EXPECT_EQ(header.substr(68, 4), "TXLG");
}

// The exit statuses the subcommands' --help list are those docs/ledger.md's
// table gives, no more and no fewer.
TEST_F(LedgerCommands, TheHelpsListTheDocumentedExitStatuses) {
  std::set<std::string> helped, documented;
  for (const char* sub : {"add", "devices", "summary", "export", "check", "remove"}) {
    std::string help = Cli(std::string("ledger ") + sub + " --help").out;
    std::istringstream lines(help.substr(help.find("exit status:")));
    for (std::string line; std::getline(lines, line);)
      if (line.size() > 3 && line[0] == ' ' && line[1] == ' ' && line[2] >= '0' && line[2] <= '9')
        helped.insert(line.substr(2, line.find(' ', 2) - 2));
  }
  const std::string doc = ReadFileBytes(std::string(TAXOSCOPE_SOURCE_DIR) + "/docs/ledger.md");
  std::istringstream table(doc.substr(doc.find("| Status | Meaning |")));
  std::string line;
  std::getline(table, line);
  std::getline(table, line);
  while (std::getline(table, line) && line.rfind("| ", 0) == 0) {
    std::istringstream statuses(line.substr(2, line.find(" |", 2) - 2));
    for (std::string status; std::getline(statuses, status, ',');)
      documented.insert(status.substr(status.find_first_not_of(' ')));
  }
  EXPECT_EQ(helped, documented);
  EXPECT_EQ(documented.size(), 9u);
}

// Device ids no read gives: a CSV separator and a quote, bytes that are no
// UTF-8. Every export stays valid UTF-8, and the id as typed selects.
TEST_F(LedgerCommands, OddDeviceIdsKeepTheExportsValid) {
  std::string err, small = dir.File("small.bin");
  ASSERT_TRUE(WriteDumpFile(small, SmallDump(false), &err));
  for (const char* id : {"a,b\"c", "\xC0\xFF"}) {
    CliRun add = Cli("ledger add " + Ledger() + " --device '" + id + "' '" + small + "'");
    ASSERT_EQ(add.status, 0) << id;
    // The id as the ledger keeps it, not the bytes as given.
    EXPECT_NE(add.out.find(": device " + ValidUtf8(id) + ", 3 new"), std::string::npos) << add.out;
  }
  for (const char* format : {"csv", "html", "json", "csv --months --per-device"}) {
    std::string out = Cli("ledger export " + Ledger() + " --out - --format " + format).out;
    EXPECT_EQ(ValidUtf8(out), out) << format;
  }
  EXPECT_NE(Cli("ledger export " + Ledger() + " --out -").out.find("\r\n\"a,b\"\"c\",2024-03-01 20:00,1,"),
            std::string::npos);
  EXPECT_EQ(Cli("ledger export " + Ledger() + " --device '\xC0\xFF' --out -").status, 0);
}

TEST_F(LedgerCommands, AForeignCutShortNewerFullOrReadOnlyLedgerIsRefusedAndLeftAsItWas) {
  ASSERT_EQ(Cli(Add(1)).status, 0);
  const std::string ledger = ReadFileBytes(dir.File("ledger.db"));
  auto refused = [&](const std::string& name, const std::string& bytes, const std::string& prefix) {
    std::string path = dir.File(name);
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    CliRun run = Shell(prefix + "'" + std::string(TAXOSCOPE_CLI) + "' ledger add '" + path + "' '" + Dump(2) + "'");
    EXPECT_EQ(run.status, 12) << name << run.err;
    EXPECT_NE(run.err.find("taxoscope-cli ledger: cannot "), std::string::npos) << name;
    EXPECT_EQ(ReadFileBytes(path), bytes) << name;
    EXPECT_FALSE(FileExists(path + "-journal")) << name;
  };
  std::string newer = ledger;
  newer[63] = static_cast<char>(kLedgerSchemaVersion + 1);  // user_version in the header: a newer ledger
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {{"foreign.db", "name,amount\r\nbread,1.20\r\n"},
               {"note.db", "x"},  // shorter than SQLite's header: no pages to SQLite, yet no new ledger
               {"short.db", std::string(511, '\0')},
               {"cut.db", ledger.substr(0, ledger.size() / 2)},
               {"header.db", ledger.substr(0, 100)},
               {"newer.db", newer}};
  for (const Case& c : cases) refused(c.name, c.bytes, "");
  // Only a missing or a 0-byte file becomes a new ledger.
  ASSERT_TRUE(WriteFileBytes(dir.File("empty.db"), ""));
  EXPECT_EQ(Cli("ledger add '" + dir.File("empty.db") + "' '" + Dump(2) + "'").status, 0);
  EXPECT_EQ(Cli("ledger devices '" + dir.File("empty.db") + "'").status, 0);
  std::string size = std::to_string(ledger.size() / 512);
  refused("full.db", ledger, "trap '' XFSZ; ulimit -f " + size + "; ");  // the disk is full at the ledger's size
  if (geteuid() == 0)
    refused("readonly.db", ledger, "chmod 444 '" + dir.File("readonly.db") + "'; chmod 755 '" + dir.path() +
                                       "'; setpriv --reuid=65534 --regid=65534 --clear-groups ");
  else
    refused("readonly.db", ledger, "chmod 444 '" + dir.File("readonly.db") + "'; ");
}

// A dump from a pipe or a FIFO is the same bytes as the file, under the
// device given; files that are no dump are refused, the others added.
TEST_F(LedgerCommands, PipesNeedADeviceAndFilesThatAreNoDumpAreRefused) {
  CliRun unnamed = Shell("cat '" + Dump(1) + "' | '" + TAXOSCOPE_CLI + "' ledger add " + Ledger() + " /dev/stdin");
  EXPECT_EQ(unnamed.status, 2);
  EXPECT_NE(unnamed.err.find("'/dev/stdin' is no regular file: give --device"), std::string::npos) << unnamed.err;
  EXPECT_FALSE(FileExists(dir.File("ledger.db")));
  CliRun piped = Shell("cat '" + Dump(1) + "' | '" + TAXOSCOPE_CLI + "' ledger add " + Ledger() +
                       " /dev/stdin --device DV000001");
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "/dev/stdin: device DV000001, " + std::to_string(counts[1]) +
                           " new, 0 already in the ledger, 0 repaired, 0 conflicts\n");
  const std::string fifo = dir.File("fifo");
  CliRun fromFifo = Shell("mkfifo '" + fifo + "' && (cat '" + Dump(2) + "' >'" + fifo + "' &) && '" + TAXOSCOPE_CLI +
                          "' ledger add " + Ledger() + " --device DV000002 '" + fifo + "'");
  EXPECT_EQ(fromFifo.status, 0) << fromFifo.err;
  EXPECT_EQ(Devices(), Held({1, 2}));

  const std::string empty = dir.File("empty.bin"), ff = dir.File("ff.bin"), noise = dir.File("noise.bin"),
                    big = dir.File("big.bin");
  ASSERT_TRUE(WriteFileBytes(empty, ""));
  ASSERT_TRUE(WriteFileBytes(ff, std::string(2101247, '\xFF')));
  std::string bytes(300000, '\0');
  uint32_t state = 12345;
  for (char& c : bytes) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  ASSERT_TRUE(WriteFileBytes(noise, bytes));
  CliRun refused = Shell("truncate -s 50M '" + big + "' && '" + TAXOSCOPE_CLI + "' ledger add " + Ledger() + " '" +
                         empty + "' '" + ff + "' '" + noise + "' '" + big + "' '" + dir.File("DV000003.bin") + "'");
  EXPECT_EQ(refused.status, 3);
  for (const std::string& name : {empty, ff, noise, big})
    EXPECT_NE(refused.err.find(name + ": not a dump of this device family ("), std::string::npos) << name;
  EXPECT_EQ(Devices(), Held({1, 2}));
}

// ledger remove takes back one add, named by its file or its SHA-256.
TEST_F(LedgerCommands, RemoveTakesBackAnAddByFileOrSha256) {
  ASSERT_EQ(Cli(Add(1) + " '" + Dump(2) + "'").status, 0);
  std::string bytes = ReadFileBytes(Dump(2));
  const std::string sha = Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  CliRun dumps = Cli("ledger devices " + Ledger() + " --dumps");
  EXPECT_EQ(dumps.status, 0);
  EXPECT_NE(dumps.out.find(sha + "  " + Dump(2)), std::string::npos) << dumps.out;

  CliRun bySha = Cli("ledger remove " + Ledger() + " " + sha);
  EXPECT_EQ(bySha.status, 0) << bySha.err;
  EXPECT_EQ(bySha.out, sha + ": device DV000002, " + std::to_string(counts[2]) + " removed, 0 still held by other dumps\n");
  EXPECT_EQ(Devices(), Held({1}));
  EXPECT_EQ(Cli("ledger remove " + Ledger() + " " + sha).status, 1);
  EXPECT_EQ(Cli("ledger remove " + Ledger() + " '" + dir.File("none.bin") + "'").status, 3);
  CliRun byFile = Cli("ledger remove " + Ledger() + " '" + Dump(1) + "'");
  EXPECT_EQ(byFile.status, 0) << byFile.err;
  EXPECT_EQ(Devices(), "");

  // The same bytes under two devices: the SHA-256 alone names no one add.
  ASSERT_EQ(Cli("ledger add " + Ledger() + " --device X '" + Dump(2) + "'").status, 0);
  ASSERT_EQ(Cli("ledger add " + Ledger() + " --device Y '" + Dump(2) + "'").status, 0);
  EXPECT_EQ(Cli("ledger remove " + Ledger() + " " + sha).status, 2);
  EXPECT_EQ(Cli("ledger remove " + Ledger() + " --device Y " + sha).status, 0);
  EXPECT_EQ(Devices(), "X " + std::to_string(counts[2]) + "|");
}

// Whitespace-separated words of each line, joined by one blank.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string word, joined;
    while (fields >> word) joined += (joined.empty() ? "" : " ") + word;
    lines.push_back(joined);
  }
  return lines;
}

// The VAT views, read with the sqlite3 program, give what ledger summary
// prints, to the cent and as the same text, over registers whose monthly
// tax sums often lie a hair from half a cent.
TEST_F(LedgerCommands, TheVatViewsGiveWhatSummaryPrints) {
  ASSERT_EQ(std::system("command -v sqlite3 >/dev/null"), 0) << "the sqlite3 program is needed (scripts/install-deps.sh)";
  std::string dumps;
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    GenerateOptions options;
    options.seed = 500 + seed;
    options.reports = 1500;
    if (seed % 2) options.rates = {2000, 900, 750, 1800};
    std::string path = dir.File("R" + std::to_string(seed) + ".bin"), err;
    ASSERT_TRUE(WriteDumpFile(path, GenerateDump(options), &err)) << err;
    dumps += " '" + path + "'";
  }
  ASSERT_EQ(Cli("ledger add " + Ledger() + dumps).status, 0);

  const std::string sqlite = "sqlite3 -separator ' ' " + Ledger() + " ";
  auto compare = [&](const std::string& summaryArgs, const std::string& from) {
    CliRun summary = Cli("ledger summary " + Ledger() + summaryArgs);
    ASSERT_EQ(summary.status, 0) << summary.err;
    std::vector<std::string> lines = Words(summary.out);
    // The groups with turnover, as the header names them ("Оборот гр. 3").
    std::string columns;
    const std::string mark = "гр. ";
    for (size_t at = 0; (at = summary.out.find(mark, at)) < summary.out.find('\n'); at += mark.size()) {
      const size_t start = at + mark.size();
      std::string group = summary.out.substr(start, summary.out.find_first_of(" \n", start) - start);
      if (columns.find("group_" + group + ",") == std::string::npos) columns += ", group_" + group + ", tax_" + group;
    }
    CliRun view = Shell(sqlite + "\"select month, " + from.substr(0, from.find('|')) + ", reports" + columns +
                        " from " + from.substr(from.find('|') + 1) + "\"");
    ASSERT_EQ(view.status, 0) << view.err;
    std::vector<std::string> rows = Words(view.out);
    ASSERT_EQ(lines.size(), rows.size() + 2) << summaryArgs;  // the header and the total line
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], lines[i + 1]) << summaryArgs;
  };
  compare("", "devices|monthly_vat_total");
  for (uint32_t seed = 1; seed <= 10; ++seed)
    compare(" --device R" + std::to_string(seed), "1|monthly_vat where device = 'R" + std::to_string(seed) + "'");

  // The data holds the sums that SQLite's own rounding of their decimal text
  // would give a cent away.
  CliRun differ = Shell(sqlite + "\"select count(*) from monthly_vat as v join device_month as m using (device, month)"
                                 " where printf('%.2f', m.tax_1) <> v.tax_1 or printf('%.2f', m.tax_2) <> v.tax_2"
                                 " or printf('%.2f', m.tax_3) <> v.tax_3 or printf('%.2f', m.tax_4) <> v.tax_4\"");
  EXPECT_GT(std::atoi(differ.out.c_str()), 0) << differ.out << differ.err;
}

// One damaged page in the middle of a ledger: the commands that meet it stop
// with 12 and name ledger check, which finds it; the file stays as it was.
TEST_F(LedgerCommands, ADamagedLedgerIsFoundByCheckAndTouchedByNoCommand) {
  ASSERT_EQ(Cli(Add(1) + " '" + Dump(2) + "'").status, 0);
  std::string bytes = ReadFileBytes(dir.File("ledger.db"));
  const size_t pageSize = (static_cast<uint8_t>(bytes[16]) << 8) | static_cast<uint8_t>(bytes[17]);
  // A leaf page of a table (type 13) in the first half: the first device's reports.
  size_t page = bytes.size() / pageSize / 4;
  while (bytes[page * pageSize] != 13) ++page;
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(page * pageSize),
            bytes.begin() + static_cast<std::ptrdiff_t>((page + 1) * pageSize), '\xAA');
  ASSERT_TRUE(WriteFileBytes(dir.File("ledger.db"), bytes));

  CliRun check = Cli("ledger check " + Ledger());
  EXPECT_EQ(check.status, 11) << check.err;
  EXPECT_EQ(check.out.rfind("error ledger-corrupt: ", 0), 0u) << check.out;
  EXPECT_EQ(check.out.find("error gap"), std::string::npos);
  EXPECT_EQ(Cli("ledger check " + Ledger() + " --format json").status, 11);
  for (const std::string& command :
       {"ledger export " + Ledger() + " --out -", "ledger add " + Ledger() + " --device DV000001 '" + Dump(2) + "'"}) {
    CliRun run = Cli(command);
    EXPECT_EQ(run.status, 12) << command;
    EXPECT_NE(run.err.find("the ledger is damaged"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("'taxoscope-cli ledger check'"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFileBytes(dir.File("ledger.db")), bytes) << command;
    EXPECT_FALSE(FileExists(dir.File("ledger.db-journal"))) << command;
  }
}

TEST_F(LedgerCommands, AKilledAddLeavesTheLedgerAsBeforeThatDumpAndConcurrentAddsBothLand) {
  ASSERT_EQ(Cli(Add(1)).status, 0);
  const std::string before = ReadFileBytes(dir.File("ledger.db"));
  const std::string program = std::string("'") + TAXOSCOPE_CLI + "'";
  for (int delayMs = 20; delayMs <= 400; delayMs += 40) {
    ASSERT_TRUE(WriteFileBytes(dir.File("ledger.db"), before));
    std::remove(dir.File("ledger.db-journal").c_str());
    Shell(program + " " + Add(2) + " & sleep " + std::to_string(delayMs / 1000.0) + "; kill -9 $! 2>/dev/null; wait");
    std::string devices = Devices();
    EXPECT_TRUE(devices == Held({1}) || devices == Held({1, 2}))
        << delayMs << ": " << devices;
  }
  std::remove(dir.File("ledger.db").c_str());
  CliRun both = Shell(program + " " + Add(1) + " & " + program + " " + Add(2) + " & wait");
  EXPECT_EQ(Devices(), Held({1, 2})) << both.out << both.err;
}

}  // namespace
