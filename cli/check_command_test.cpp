// taxoscope-cli check, run as a user runs it: the forms, where they go, and
// every exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cli/cli_test_support.h"
#include "sim/dump_builder.h"
#include "testsupport/temp_dir.h"

namespace {

class CheckCommand : public ::testing::Test {
 protected:
  void Write(int lastNumber, bool damaged) {
    DumpBuilder dump;
    dump.Erased(16);
    for (int number : {1, 2, lastNumber}) {
      ReportData report;
      report.number = static_cast<uint16_t>(number);
      report.dateTime = PackDateTime(12, 5, 10 + number, 20, 0);
      dump.Report(report);
    }
    if (damaged) dump.CorruptLastCrc();
    std::string error;
    ASSERT_TRUE(dump.WriteFile(dumpPath, &error)) << error;
  }
  CliRun Cli(const std::string& args) { return RunCli(dir, args); }

  TempDir dir;
  std::string dumpPath = dir.File("DV000042.bin");
};

TEST_F(CheckCommand, FormsAndExitStatusBySeverity) {
  Write(3, false);
  CliRun sound = Cli("check '" + dumpPath + "'");
  EXPECT_EQ(sound.status, 0);
  EXPECT_EQ(sound.out, "0 errors, 0 warnings, 0 notes\n");

  Write(5, false);
  CliRun gap = Cli("check --format json '" + dumpPath + "'");
  EXPECT_EQ(gap.status, 10);
  EXPECT_EQ(gap.out, "{\n  \"dump\": \"" + dumpPath + "\",\n  \"findings\": [\n    {\n"
                     "      \"severity\": \"warning\",\n      \"kind\": \"gap\",\n      \"offset\": 684,\n"
                     "      \"report\": 5,\n      \"date\": \"2012-05-15 20:00\",\n"
                     "      \"detail\": \"missing 3-4, after report 2 (2012-05-12 20:00)\"\n    }\n  ],\n"
                     "  \"counts\": {\n    \"error\": 0,\n    \"warning\": 1,\n    \"info\": 0\n  }\n}\n");

  Write(5, true);
  std::string out = dir.File("findings.txt");
  CliRun damaged = Cli("check '" + dumpPath + "' --format text --out '" + out + "'");
  EXPECT_EQ(damaged.status, 11);
  EXPECT_TRUE(damaged.out.empty());
  EXPECT_EQ(ReadFileBytes(out),
            "error crc @684 report 5 (2012-05-15 20:00): CRC mismatch in a daily report\n"
            "warning gap @684 report 5 (2012-05-15 20:00): missing 3-4, after report 2 (2012-05-12 20:00)\n"
            "1 error, 1 warning, 0 notes\n");
}

TEST_F(CheckCommand, UsageUnopenableDumpAndUnwritableOutput) {
  for (const char* args : {"check", "check a.bin --format csv", "check a.bin --out", "check a.bin --out ''",
                           "check a.bin b.bin", "check a.bin --by-number 1 2"}) {
    CliRun run = Cli(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_NE(run.err.find("usage: taxoscope-cli check DUMP"), std::string::npos) << args;
  }
  std::string missing = dir.File("missing.bin");
  CliRun unopenable = Cli("check '" + missing + "'");
  EXPECT_EQ(unopenable.status, 3);
  EXPECT_EQ(unopenable.err, "taxoscope-cli: cannot open '" + missing + "': No such file or directory\n");
  EXPECT_TRUE(unopenable.out.empty());

  Write(3, true);
  ASSERT_EQ(std::system(("mkdir '" + dir.File("taken") + "'").c_str()), 0);
  CliRun unwritable = Cli("check '" + dumpPath + "' --out '" + dir.File("taken") + "'");
  EXPECT_EQ(unwritable.status, 4);
  EXPECT_FALSE(unwritable.err.empty());
  CliRun help = Cli("check --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("  11  at least one error\n"), std::string::npos);
}

}  // namespace
