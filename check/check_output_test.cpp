// The check beside a report run: a DUMP.check.txt that cannot be written.
#include "check/check_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sim/dump_builder.h"
#include "testsupport/fake_ui.h"
#include "testsupport/temp_dir.h"

namespace {

TEST(CheckOutput, AnUnwritableCheckFileFailsTheRunAfterTheReport) {
  TempDir dir;
  FakeUi ui;
  std::string dump = dir.File("AB1234.bin");
  std::string error;
  ASSERT_TRUE(DumpBuilder().Erased(16).Filler(5).CorruptLastCrc().WriteFile(dump, &error)) << error;
  ASSERT_TRUE(std::filesystem::create_directory(CheckFileName(dump)));  // the name is taken
  CheckOutput check;
  ReportRequest request;
  request.dumpPath = dump;
  request.outputs.push_back(&check);
  EXPECT_EQ(RunReportWithOutcome(request), ReportWriteFailed);
  EXPECT_TRUE(FileExists(dump + ".txt"));
  ASSERT_EQ(ui.messages.size(), 1u);  // the system's error, no "Parse successfull"
  EXPECT_EQ(ui.messages[0].caption, "Error");
  EXPECT_TRUE(std::filesystem::is_directory(CheckFileName(dump)));
}

}  // namespace
