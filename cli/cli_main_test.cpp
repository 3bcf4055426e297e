// What each command's --help says of its exit statuses is what it gives: for
// every status listed, a run that gives it, and no run gives one unlisted.
// The real binary, real files.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_test_support.h"
#include "sim/dump_builder.h"
#include "testsupport/temp_dir.h"

namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// The statuses of a help's "exit status:" part: the lines "  N  meaning"
// (continuations are indented further), or "exit status: 0 ..., 2 ..." on
// one line.
std::set<int> ListedStatuses(const std::string& help) {
  std::set<int> statuses;
  size_t at = help.find("exit status:");
  if (at == std::string::npos) return statuses;
  size_t lineEnd = help.find('\n', at);
  // One line: "N meaning" pieces between commas.
  const std::string first = help.substr(at + 12, lineEnd - at - 12) + ",";
  for (size_t piece = 0, comma; (comma = first.find(',', piece)) != std::string::npos; piece = comma + 1) {
    size_t digit = first.find_first_not_of(' ', piece);
    if (digit < comma && first[digit] >= '0' && first[digit] <= '9') statuses.insert(std::atoi(&first[digit]));
  }
  for (size_t line = lineEnd + 1; line < help.size();) {
    size_t end = help.find('\n', line);
    if (end == std::string::npos) end = help.size();
    std::string text = help.substr(line, end - line);
    if (text.size() > 3 && text.compare(0, 2, "  ") == 0 && text[2] >= '0' && text[2] <= '9')
      statuses.insert(std::atoi(text.c_str() + 2));
    line = end + 1;
  }
  return statuses;
}

class HelpStatuses : public ::testing::Test {
 protected:
  void SetUp() override {
    const uint16_t rates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
    DumpBuilder sound;
    sound.Erased(16).ModelRecord().ModeAndRates(kModeFractional, rates);
    DumpBuilder gap = sound, damaged = sound;
    for (uint16_t n : {1, 2, 3}) {
      ReportData report;
      report.number = n;
      report.dateTime = PackDateTime(12, 5, 10 + n, 20, 0);
      sound.Report(report);
      report.number = n == 3 ? 5 : n;
      gap.Report(report);
      damaged.Report(report);
    }
    damaged.CorruptLastCrc();
    std::string error;
    ASSERT_TRUE(sound.WriteFile(dump, &error)) << error;
    ASSERT_TRUE(gap.WriteFile(gapDump, &error)) << error;
    ASSERT_TRUE(damaged.WriteFile(damagedDump, &error)) << error;
    ASSERT_EQ(mkdir(dir.File("taken.bin.txt").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(dir.File("taken.bin"), ReadFileBytes(dump)));
  }

  // Runs each command line and expects its status; then the statuses the
  // command's --help lists are exactly those.
  void Expect(const std::string& command, const std::vector<std::pair<std::string, int>>& runs) {
    SCOPED_TRACE(command);
    CliRun help = RunCli(dir, command + " --help");
    ASSERT_EQ(help.status, 0);
    std::set<int> given;
    for (const auto& run : runs) {
      // Standard output to a device that takes nothing, where the run asks.
      const bool full = run.first.find(">/dev/full") != std::string::npos;
      CliRun result = full ? RunCliAfter(dir, "(", command + " " + run.first + ")") : RunCli(dir, command + " " + run.first);
      EXPECT_EQ(result.status, run.second) << run.first << "\n" << result.err;
      given.insert(result.status);
    }
    EXPECT_EQ(ListedStatuses(help.out), given) << help.out;
  }

  TempDir dir;
  std::string dump = dir.File("DV000001.bin"), gapDump = dir.File("gap.bin"), damagedDump = dir.File("damaged.bin");
  std::string missing = Quoted(dir.File("missing.bin"));
};

TEST_F(HelpStatuses, EveryStatusListedIsGivenAndNoOther) {
  const std::string d = Quoted(dump);
  Expect("report", {{d, 0}, {d + " --by-number x 2", 1}, {d + " --frobnicate", 2}, {missing, 3},
                    {Quoted(dir.File("taken.bin")), 4}});
  Expect("export", {{d + " --out -", 0}, {d + " --by-date 1/1/2012 x", 1}, {d + " --format xml", 2}, {missing, 3},
                    {d + " --out /dev/full", 4}});
  Expect("summary", {{d, 0}, {d + " --by-number 1 zz", 1}, {d + " " + d, 2}, {missing, 3}, {d + " >/dev/full", 4}});
  Expect("info", {{d, 0}, {d + " --by-number 1 2", 2}, {missing, 3}, {d + " >/dev/full", 4}});
  Expect("check", {{d, 0}, {Quoted(gapDump), 10}, {Quoted(damagedDump), 11}, {d + " --format csv", 2}, {missing, 3},
                   {d + " --out /dev/full", 4}});
  Expect("ports", {{"", 0}, {"COM1", 2}});
  // read's statuses need a device on a line: cli/read_command_test.cpp gives each.
}

TEST(HelpStatusesParse, BothFormsOfTheList) {
  EXPECT_EQ(ListedStatuses("x\nexit status: 0 (also when none), 2 usage error\n"), (std::set<int>{0, 2}));
  EXPECT_EQ(ListedStatuses("exit status:\n  0   fine\n  10  warnings\n      and more 3\n  2   usage\n"),
            (std::set<int>{0, 2, 10}));
  EXPECT_TRUE(ListedStatuses("no statuses here\n  0  x\n").empty());
}

}  // namespace
