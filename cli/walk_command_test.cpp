// The single-dump commands (export, summary, info, check) on what a user may
// hand them as DUMP: a pipe, a FIFO or a device gives what the same bytes in
// a file give. The real binary, real pipes and FIFOs.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_test_support.h"
#include "sim/dump_builder.h"
#include "testsupport/temp_dir.h"

namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Every occurrence of from in text replaced by to.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

class DumpInputs : public ::testing::Test {
 protected:
  void WriteDump(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string error;
    ASSERT_TRUE(WriteDumpFile(path, bytes, &error)) << error;
  }

  // The command on the file, through a pipe (/dev/stdin) and through a
  // FIFO: the same status, and the same output but for the name given.
  void ExpectStreamsAsTheFile(const std::string& file, const std::string& command, const std::string& options) {
    SCOPED_TRACE(command + " " + options);
    CliRun fromFile = RunCli(dir, command + " " + Quoted(file) + " " + options);
    CliRun piped = RunCliAfter(dir, "cat " + Quoted(file) + " |", command + " /dev/stdin " + options);
    EXPECT_EQ(piped.status, fromFile.status);
    EXPECT_EQ(Replaced(piped.out, "/dev/stdin", file), fromFile.out);
    EXPECT_EQ(Replaced(piped.err, "/dev/stdin", file), fromFile.err);

    std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // The writer may be cut off by an input refused after its first bytes.
    CliRun fed = RunCliAfter(dir, "(cat " + Quoted(file) + " >" + Quoted(fifo) + " 2>/dev/null &);",
                             command + " " + Quoted(fifo) + " " + options);
    std::remove(fifo.c_str());
    EXPECT_EQ(fed.status, fromFile.status);
    EXPECT_EQ(Replaced(fed.out, fifo, file), fromFile.out);
    EXPECT_EQ(Replaced(fed.err, fifo, file), fromFile.err);
  }

  void ExpectEveryCommandStreamsAsTheFile(const std::string& file) {
    for (const char* options : {"", "--by-number 3 9"}) ExpectStreamsAsTheFile(file, "summary", options);
    for (const char* options : {"--out -", "--format json --out -", "--months --excel --out -"})
      ExpectStreamsAsTheFile(file, "export", options);
    ExpectStreamsAsTheFile(file, "info", "");
    ExpectStreamsAsTheFile(file, "check", "");
    ExpectStreamsAsTheFile(file, "check", "--format json");
  }

  TempDir dir;
};

TEST_F(DumpInputs, APipeOrAFifoGivesWhatTheFileGives) {
  GenerateOptions options;
  options.seed = 31;
  options.reports = 40;
  std::string dump = dir.File("DV000031.bin");
  WriteDump(dump, GenerateDump(options));
  ExpectEveryCommandStreamsAsTheFile(dump);
  CliRun info = RunCliAfter(dir, "cat " + Quoted(dump) + " |", "info /dev/stdin");
  EXPECT_NE(info.out.find("\nsize: " + std::to_string(GenerateDump(options).size()) + "\n"), std::string::npos);
  EXPECT_NE(info.out.find("\ndaily reports: 40\n"), std::string::npos);
}

// Longer than any dump: refused alike, whether it is a file or a stream
// (that is not read beyond the cap: /dev/zero never ends).
TEST_F(DumpInputs, AnInputLongerThanAnyDumpIsRefusedAlikeFromAFileOrAStream) {
  std::string big = dir.File("big.bin");
  ASSERT_TRUE(WriteFileBytes(big, std::string(2101248, '\x11')));
  ExpectEveryCommandStreamsAsTheFile(big);
  for (const char* command : {"info", "summary", "check", "export --out -"}) {
    CliRun endless = RunCli(dir, std::string(command) + " /dev/zero");
    CliRun file = RunCli(dir, std::string(command) + " " + Quoted(big));
    EXPECT_EQ(endless.status, file.status) << command;
    EXPECT_EQ(Replaced(endless.out, "/dev/zero", big), file.out) << command;
    EXPECT_EQ(Replaced(endless.err, "/dev/zero", big), file.err) << command;
  }
}

// No dump of this device family: check says so in its one finding, info on a
// line of its own, export and summary refuse it; report walks it as ever.
TEST_F(DumpInputs, AFileThatIsNoDumpIsSaidToBeNone) {
  std::string random(300000, '\0');
  uint32_t state = 11;
  for (char& byte : random) byte = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
    const char* size;
  };
  for (const Case& c : {Case{"empty.bin", "", "empty", "0"},
                        Case{"erased.bin", std::string(70000, '\xFF'), "erased memory only", "70000"},
                        Case{"random.bin", random, "no record with a valid CRC", "300000"},
                        Case{"long.bin", std::string(2101248, '\x11'), "longer than 2101247 bytes",
                             "more than 2101247"}}) {
    SCOPED_TRACE(c.name);
    std::string file = dir.File(c.name);
    ASSERT_TRUE(WriteFileBytes(file, c.bytes));
    const std::string none = std::string("not a dump of this device family (") + c.reason + ")";

    CliRun check = RunCli(dir, "check " + Quoted(file));
    EXPECT_EQ(check.status, 11);
    EXPECT_EQ(check.out, "error not-a-dump: " + none + "\n1 error, 0 warnings, 0 notes\n");
    CliRun json = RunCli(dir, "check --format json " + Quoted(file));
    EXPECT_EQ(json.status, 11);
    EXPECT_NE(json.out.find("\"kind\": \"not-a-dump\",\n      \"offset\": null,"), std::string::npos);
    EXPECT_NE(json.out.find("\"counts\": {\n    \"error\": 1,\n    \"warning\": 0,\n    \"info\": 0\n  }"),
              std::string::npos);

    CliRun info = RunCli(dir, "info " + Quoted(file));
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.out, "file: " + file + "\nsize: " + c.size + "\n" + none + "\nfindings: 1 error, 0 warnings, 0 notes\n");

    for (const char* command : {"summary", "export", "export --format html"}) {
      CliRun refused = RunCli(dir, std::string(command) + " " + Quoted(file));
      EXPECT_EQ(refused.status, 3) << command;
      EXPECT_EQ(refused.err, file + ": " + none + "\n") << command;
      EXPECT_TRUE(refused.out.empty()) << command;
    }
    EXPECT_FALSE(FileExists(file + ".csv"));
    EXPECT_FALSE(FileExists(file + ".html"));

    CliRun report = RunCli(dir, "report " + Quoted(file));
    EXPECT_EQ(report.status, 0);
    EXPECT_TRUE(FileExists(file + ".txt"));
  }
  // A stream over the cap is the one input report refuses: it cannot be walked
  // without being held, and no dump is that long.
  CliRun report = RunCliAfter(dir, "head -c 2101248 /dev/zero |", "report /dev/stdin");
  EXPECT_EQ(report.status, 3);
  EXPECT_EQ(report.err, "taxoscope-cli: cannot open '/dev/stdin': File too large\n");
}

// The one copy of a register's memory is never replaced by an output made
// from it, whatever name leads to it.
TEST_F(DumpInputs, NoOutputReplacesTheDumpItMadeFrom) {
  GenerateOptions options;
  options.seed = 5;
  options.reports = 12;
  std::vector<uint8_t> image = GenerateDump(options);
  const std::string dump = dir.File("DV000005.bin");
  WriteDump(dump, image);
  const std::string bytes(image.begin(), image.end());
  ASSERT_EQ(symlink(dump.c_str(), dir.File("link.bin").c_str()), 0);
  ASSERT_EQ(link(dump.c_str(), dir.File("hard.bin").c_str()), 0);
  const std::string dotted = dir.path() + "/./DV000005.bin";
  for (const std::string& out : {dump, dotted, dir.File("link.bin"), dir.File("hard.bin")}) {
    for (const std::string& command : {"export " + Quoted(dump) + " --out " + Quoted(out),
                                       "export " + Quoted(dump) + " --months --out " + Quoted(out),
                                       "check " + Quoted(dump) + " --out " + Quoted(out),
                                       "check " + Quoted(out) + " --out " + Quoted(dump)}) {
      CliRun run = RunCli(dir, command);
      EXPECT_EQ(run.status, 2) << command;
      EXPECT_NE(run.err.find("is the dump"), std::string::npos) << command;
      EXPECT_EQ(ReadFileBytes(dump), bytes) << command;
    }
  }
  // Standard output appended to the dump itself.
  for (const char* command : {"summary", "info", "check", "export --out -"}) {
    CliRun run = RunCliAfter(dir, "(", std::string(command) + " " + Quoted(dump) + " >>" + Quoted(dump) + ")");
    EXPECT_EQ(run.status, 2) << command;
    EXPECT_EQ(ReadFileBytes(dump), bytes) << command;
  }
  // The report's name made a link to the dump.
  ASSERT_EQ(symlink(dump.c_str(), (dump + ".txt").c_str()), 0);
  CliRun report = RunCli(dir, "report " + Quoted(dump));
  EXPECT_EQ(report.status, 2);
  EXPECT_NE(report.err.find("the output '" + dump + ".txt' is the dump '" + dump + "' itself"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(dump), bytes);
  // A default export name that leads to the dump.
  ASSERT_EQ(symlink(dump.c_str(), (dump + ".csv").c_str()), 0);
  EXPECT_EQ(RunCli(dir, "export " + Quoted(dump)).status, 2);
  EXPECT_EQ(ReadFileBytes(dump), bytes);
  // Another dump's output is no concern of this one.
  EXPECT_EQ(RunCli(dir, "check " + Quoted(dump) + " --out " + Quoted(dir.File("findings.txt"))).status, 0);
}

// An output keeps what it is: a link stays a link to the file written, a
// device is written into, and a device that takes nothing fails the command.
TEST_F(DumpInputs, OutputsKeepWhatTheyAre) {
  GenerateOptions options;
  options.seed = 8;
  options.reports = 6;
  const std::string dump = dir.File("DV000008.bin");
  WriteDump(dump, GenerateDump(options));
  ASSERT_EQ(mkdir(dir.File("exports").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFileBytes(dir.File("exports/vat.csv"), "old"));
  ASSERT_EQ(chmod(dir.File("exports/vat.csv").c_str(), 0600), 0);
  ASSERT_EQ(symlink("exports/vat.csv", dir.File("vat.csv").c_str()), 0);
  ASSERT_EQ(RunCli(dir, "export " + Quoted(dump) + " --months --out " + Quoted(dir.File("vat.csv"))).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("exports/vat.csv")),
            RunCli(dir, "export " + Quoted(dump) + " --months --out -").out);
  struct stat status;
  ASSERT_EQ(lstat(dir.File("vat.csv").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_EQ(stat(dir.File("vat.csv").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);

  for (const char* command : {"export", "export --format json", "check"}) {
    CliRun full = RunCli(dir, std::string(command) + " " + Quoted(dump) + " --out /dev/full");
    EXPECT_EQ(full.status, 4) << command;
    EXPECT_EQ(full.err, "taxoscope-cli: cannot write '/dev/full': No space left on device\n") << command;
  }
  for (const char* command : {"summary", "info", "check", "export --out -"}) {
    CliRun full = RunCliAfter(dir, "(", std::string(command) + " " + Quoted(dump) + " >/dev/full)");
    EXPECT_EQ(full.status, 4) << command;
  }
  ASSERT_EQ(stat("/dev/full", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
  CliRun missingFolder = RunCli(dir, "check " + Quoted(dump) + " --out " + Quoted(dir.File("x/y.txt")));
  EXPECT_EQ(missingFolder.status, 4);
  EXPECT_EQ(missingFolder.err, "taxoscope-cli: cannot write '" + dir.File("x/y.txt") + "': No such file or directory\n");
}

// Where an option may stand --help is the help; as an option's value it is
// an option in the wrong place. "--" ends the options; an empty argument is
// a usage error wherever it stands.
TEST_F(DumpInputs, TheCommandLine) {
  GenerateOptions options;
  options.seed = 9;
  options.reports = 6;
  const std::string dump = dir.File("DV000009.bin");
  WriteDump(dump, GenerateDump(options));
  for (const std::string& args : {"export " + Quoted(dump) + " --help", "export -h " + Quoted(dump), std::string("report --help"),
                                  "check " + Quoted(dump) + " --format json -h", std::string("info --help"),
                                  std::string("summary -h")}) {
    CliRun help = RunCli(dir, args);
    EXPECT_EQ(help.status, 0) << args;
    EXPECT_EQ(help.out.rfind("usage: taxoscope-cli ", 0), 0u) << args;
    EXPECT_NE(help.out.find("  --  "), std::string::npos) << args;  // "--" is documented
  }
  struct Case {
    std::string args, problem;
  };
  for (const Case& c : {Case{"export " + Quoted(dump) + " --out --help", "--out needs a value, not the option --help"},
                        Case{"check " + Quoted(dump) + " --out -h", "--out needs a value, not the option -h"},
                        Case{"check " + Quoted(dump) + " --format --out x", "--format needs a value, not the option --out"},
                        Case{"export " + Quoted(dump) + " --by-date --out x.csv", "--by-date needs FROM and TO, not the option --out"},
                        Case{"summary " + Quoted(dump) + " --by-number 1 --help", "--by-number needs FROM and TO, not the option --help"},
                        Case{"report " + Quoted(dump) + " --by-date 1/1/2012 --open", "--by-date needs FROM and TO, not the option --open"},
                        Case{"export '' " + Quoted(dump), "an empty argument"},
                        Case{"summary " + Quoted(dump) + " ''", "an empty argument"},
                        Case{"export ''", "an empty argument"},
                        Case{"info ''", "an empty argument"},
                        Case{"report -- ''", "an empty argument"},
                        Case{"summary " + Quoted(dump) + " --by-number '' 3", "an empty argument"},
                        Case{"check " + Quoted(dump) + " --out ''", "an empty argument"},
                        Case{"info -d.bin", "unknown option -d.bin"}}) {
    CliRun run = RunCli(dir, c.args);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_NE(run.err.find(": " + c.problem + "\nusage: taxoscope-cli "), std::string::npos) << c.args << "\n" << run.err;
    EXPECT_TRUE(run.out.empty()) << c.args;
  }
  EXPECT_FALSE(FileExists(dir.File("--help")));
  EXPECT_FALSE(FileExists("--help"));

  // A dump whose name begins with '-', after "--"; "-" and negative numbers
  // are values, not options.
  ASSERT_TRUE(WriteFileBytes(dir.File("-d.bin"), ReadFileBytes(dump)));
  CliRun dashed = RunCliAfter(dir, "cd " + Quoted(dir.path()) + " &&", "info -- -d.bin");
  EXPECT_EQ(dashed.status, 0) << dashed.err;
  EXPECT_EQ(dashed.out.rfind("file: -d.bin\nsize: ", 0), 0u);
  EXPECT_EQ(RunCli(dir, "export --out - -- " + Quoted(dump)).status, 0);
  CliRun negative = RunCli(dir, "summary " + Quoted(dump) + " --by-number -1 5");
  EXPECT_EQ(negative.status, 0) << negative.err;  // -1 is 4294967295: no report passes
  EXPECT_EQ(negative.out, "Месец  Отчети\nОбщо        0\n");
}

}  // namespace
