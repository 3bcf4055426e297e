// taxoscope-cli report, run as a user runs it: the real binary, real files.
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_test_support.h"
#include "fm/cp1251.h"
#include "sim/dump_builder.h"
#include "taxoscope_version.h"
#include "testsupport/temp_dir.h"

namespace {

class ReportCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint16_t n = 1; n <= 20; ++n) {
      ReportData report;
      report.number = n;
      report.dateTime = PackDateTime(12, 6, n, 9, 15);
      report.groups[0] = 1000u * n;
      dump.Report(report);
    }
    dumpPath = dir.File("DV000042.bin");
    std::string error;
    ASSERT_TRUE(dump.WriteFile(dumpPath, &error)) << error;
  }

  CliRun Cli(const std::string& args) { return RunCli(dir, args); }
  std::string Quoted(const std::string& path) { return "'" + path + "'"; }

  TempDir dir;
  DumpBuilder dump;
  std::string dumpPath;
};

TEST_F(ReportCommand, WritesTheReportBesideTheDump) {
  CliRun run = Cli("report " + Quoted(dumpPath));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "Parse successfull\n");
  std::string report = ReadFileBytes(dumpPath + ".txt");
  EXPECT_EQ(report.rfind("\r\nDate: 01-06-12 09:15\r\n", 0), 0u);
  EXPECT_NE(report.find(CP1251("Дан гр. 1: 2100.00\r\n")), std::string::npos);
}

TEST_F(ReportCommand, FiltersByDateAndByNumber) {
  EXPECT_EQ(Cli("report " + Quoted(dumpPath) + " --by-date 03/06/2012 4/6/2012").status, 0);
  EXPECT_NE(ReadFileBytes(dumpPath + ".txt").find(CP1251("Дан гр. 1: 70.00\r\n")), std::string::npos);
  EXPECT_EQ(Cli("report --by-number 0x10 020 " + Quoted(dumpPath)).status, 0);
  EXPECT_NE(ReadFileBytes(dumpPath + ".txt").find(CP1251("Дан гр. 1: 160.00\r\n")), std::string::npos);
}

TEST_F(ReportCommand, InvalidBoundWritesNothing) {
  CliRun run = Cli("report " + Quoted(dumpPath) + " --by-date 1.6.2012 x");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "taxoscope-cli: Invalid input value \"from\": '1.6.2012'\n");
  run = Cli("report " + Quoted(dumpPath) + " --by-number 1 zz");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "taxoscope-cli: Invalid input value \"to\": 'zz'\n");
  EXPECT_FALSE(FileExists(dumpPath + ".txt"));
}

TEST_F(ReportCommand, UsageErrors) {
  for (const char* args : {"report", "report a.bin b.bin", "report a.bin --by-date 1/1/2010",
                           "report a.bin --frobnicate", "report a.bin --by-date 1 2 --by-number 1 2",
                           "nosuchcommand", ""}) {
    CliRun run = Cli(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_NE(run.err.find("usage"), std::string::npos) << args;
  }
  CliRun help = Cli("report --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--by-number"), std::string::npos);
  CliRun version = Cli("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "taxoscope-cli " TAXOSCOPE_VERSION "\n");
}

TEST_F(ReportCommand, MissingDumpNamesTheFileAndTheReason) {
  std::string missing = dir.File("missing.bin");
  CliRun run = Cli("report " + Quoted(missing));
  EXPECT_EQ(run.status, 3);
  // The dialog's "Error parsing data" box says less than this line.
  EXPECT_EQ(run.err, "taxoscope-cli: cannot open '" + missing + "': No such file or directory\n");
  EXPECT_FALSE(FileExists(missing + ".txt"));
}

TEST_F(ReportCommand, UnwritableReportIsAFailure) {
  ASSERT_EQ(std::system(("mkdir '" + dumpPath + ".txt'").c_str()), 0);
  CliRun run = Cli("report " + Quoted(dumpPath));
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.err, "taxoscope-cli: cannot write '" + dumpPath + ".txt': Is a directory\n");
}

}  // namespace
