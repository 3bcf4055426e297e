// taxoscope-cli export, summary and info, run as a user runs them: the real
// binary, real files, every exit status.
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_test_support.h"
#include "sim/dump_builder.h"
#include "testsupport/temp_dir.h"

namespace {

class ExportCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    const uint16_t rates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
    dump.Erased(16).ModelRecord().ModeAndRates(kModeFractional, rates);
    for (uint16_t n = 1; n <= 6; ++n) {
      ReportData report;
      report.number = n;
      report.dateTime = PackDateTime(12, n <= 4 ? 5 : 6, 10 + n, 20, 0);
      report.groups[0] = 12000u * n;
      report.groups[1] = n == 6 ? 10900 : 0;
      dump.Report(report);
    }
    dumpPath = dir.File("DV000042.bin");
    Write(dump);
  }

  void Write(const DumpBuilder& image) {
    std::string error;
    ASSERT_TRUE(image.WriteFile(dumpPath, &error)) << error;
  }

  CliRun Cli(const std::string& args) { return RunCli(dir, args); }
  std::string Dump() { return "'" + dumpPath + "'"; }

  TempDir dir;
  DumpBuilder dump;
  std::string dumpPath;
};

TEST_F(ExportCommands, ExportWritesOnlyTheExportAndStdoutGetsTheSameBytes) {
  for (const char* format : {"csv", "json", "html"}) {
    EXPECT_EQ(Cli("export " + Dump() + " --by-date 1/5/2012 31/05/2012 --format " + format).status, 0);
    std::string written = ReadFileBytes(dumpPath + "." + format);
    EXPECT_FALSE(written.empty()) << format;
    CliRun piped = Cli("export --by-date 1/5/2012 31/05/2012 --format " + std::string(format) + " --out - " + Dump());
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, written) << format;
  }
  EXPECT_FALSE(FileExists(dumpPath + ".txt"));
  EXPECT_EQ(Cli("export " + Dump() + " --months --excel --out '" + dir.File("vat.csv") + "'").status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("vat.csv")).rfind("\xEF\xBB\xBFmonth;reports;", 0), 0u);
}

TEST_F(ExportCommands, SummaryIsTheMonthlyTableInAlignedColumns) {
  CliRun run = Cli("summary " + Dump());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "Месец    Отчети  Оборот гр. 1  Данък гр. 1  Оборот гр. 2  Данък гр. 2\n"
            "2012-05       4       1200.00       200.00          0.00         0.00\n"
            "2012-06       2       1320.00       220.00        109.00         9.00\n"
            "Общо          6       2520.00       420.00        109.00         9.00\n");
  EXPECT_EQ(Cli("summary " + Dump() + " --by-number 7 9").out, "Месец  Отчети\nОбщо        0\n");
}

TEST_F(ExportCommands, InfoTellsWhatTheDumpHolds) {
  dump.Filler(5).Filler(14).Rates(std::vector<uint16_t>(8, kRateUnset).data()).DecimalMode(1, kModeWhole);
  ReportData last;
  last.number = 7;
  last.dateTime = PackDateTime(12, 13, 0, 24, 0);  // carried over: 1 January 2013
  dump.Report(last).CorruptLastCrc();
  Write(dump);
  CliRun run = Cli("info " + Dump());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "file: " + dumpPath +
                         "\nsize: " + std::to_string(dump.size()) +
                         "\nmodel variant: 3\ndaily reports: 7\nreport numbers: 1-7\n"
                         "dates: 2012-05-11 20:00 - 2013-01-01 00:00\ncrc failures: 1\nunknown records: 1\n"
                         "decimal-mode changes: 1\ntax-rate records: 2\n"
                         "record area: at least 0.1% written (the image ends at 2482, before the decimal-mode "
                         "area at 2035712)\nfindings: 1 error, 1 warning, 0 notes\n");
  Write(DumpBuilder().Erased(40).ModelRecord());
  EXPECT_NE(Cli("info " + Dump()).out.find("report numbers: none\ndates: none\n"), std::string::npos);
}

// The record area of whole images: variant 2's ends at 127232, variant 3's at
// 2035712; the decimal-mode records past it are not counted.
TEST_F(ExportCommands, InfoTellsHowMuchOfTheRecordAreaIsWritten) {
  DumpBuilder small;
  small.Erased(16).ModelRecord("ZA02");
  ReportData report;
  report.dateTime = PackDateTime(12, 5, 1, 20, 0);
  for (report.number = 1; report.number <= 1000; ++report.number) small.Report(report, 2);
  small.PadTo(0x1F100).DecimalMode(0, kModeFractional).PadTo(0x1FFFF);
  Write(small);
  // The records end at 16 + 32 + 1000 * 69 = 69048: 54.27% of 127232.
  EXPECT_NE(Cli("info " + Dump()).out.find("\nrecord area: 54.2% written\nfindings: "), std::string::npos);

  DumpBuilder large;
  large.Erased(16).ModelRecord("ZA03");
  for (report.number = 1; report.number <= 6000; ++report.number) large.Report(report, 3);
  large.PadTo(0x1F1000).DecimalMode(0, kModeFractional).PadTo(2101247);
  Write(large);
  // 16 + 32 + 6000 * 334 = 2004048: 98.44% of 2035712.
  EXPECT_NE(Cli("info " + Dump()).out.find("\nrecord area: 98.4% written\nfindings: "), std::string::npos);

  // Erased memory before the area: nothing written.
  Write(DumpBuilder().Erased(0x1F1000).DecimalMode(0, kModeFractional).PadTo(2101247));
  EXPECT_NE(Cli("info " + Dump()).out.find("\nrecord area: 0.0% written\n"), std::string::npos);
}

TEST_F(ExportCommands, ExitStatuses) {
  for (const char* args : {"export", "export a.bin --format xml", "export a.bin --format json --months",
                           "export a.bin --out", "export a.bin --open", "summary a.bin b.bin", "info",
                           "info a.bin --by-number 1 2"}) {
    CliRun run = Cli(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_NE(run.err.find("usage"), std::string::npos) << args;
  }
  CliRun bound = Cli("export " + Dump() + " --by-number 1 zz");
  EXPECT_EQ(bound.status, 1);
  EXPECT_EQ(bound.err, "taxoscope-cli: Invalid input value \"to\": 'zz'\n");
  EXPECT_FALSE(FileExists(dumpPath + ".csv"));

  std::string missing = dir.File("missing.bin");
  for (const char* command : {"export", "summary", "info"}) {
    CliRun run = Cli(std::string(command) + " '" + missing + "'");
    EXPECT_EQ(run.status, 3) << command;
    EXPECT_EQ(run.err, "taxoscope-cli: cannot open '" + missing + "': No such file or directory\n");
    EXPECT_TRUE(run.out.empty());
  }
  ASSERT_EQ(std::system(("mkdir '" + dumpPath + ".json'").c_str()), 0);
  CliRun unwritable = Cli("export " + Dump() + " --format json");
  EXPECT_EQ(unwritable.status, 4);
  EXPECT_FALSE(unwritable.err.empty());
}

}  // namespace
