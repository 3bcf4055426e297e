// The sequence checks and the written forms of findings.
#include "check/sequence_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Fed {
  int32_t number;
  const char* date;
};

// The findings' text form after feeding the reports in order, at offsets
// 100, 200, ...
std::string Check(const std::vector<Fed>& reports) {
  std::vector<Finding> findings;
  SequenceCheck check(&findings);
  int64_t offset = 0;
  for (const Fed& report : reports) check.Add(report.number, report.date, offset += 100);
  return FindingsText(findings);
}

const char kDay[] = "2012-05-11 20:00";
const char kNextDay[] = "2012-05-12 20:00";

TEST(SequenceCheck, NumbersCountOnSixteenBits) {
  EXPECT_EQ(Check({{65535, kDay}, {0, kNextDay}, {1, kNextDay}}), "0 errors, 0 warnings, 0 notes\n");
  EXPECT_EQ(Check({{65535, kDay}, {2, kNextDay}}),
            "warning gap @200 report 2 (2012-05-12 20:00): missing 0-1, after report 65535 (2012-05-11 20:00)\n"
            "0 errors, 1 warnings, 0 notes\n");
  EXPECT_EQ(Check({{5, kDay}, {7, kNextDay}, {65534, kNextDay}, {1, kNextDay}}),
            "warning gap @200 report 7 (2012-05-12 20:00): missing 6, after report 5 (2012-05-11 20:00)\n"
            "warning number-back @300 report 65534 (2012-05-12 20:00): a lower number, after report 7 "
            "(2012-05-12 20:00)\n"
            "warning gap @400 report 1 (2012-05-12 20:00): missing 65535-0, after report 65534 "
            "(2012-05-12 20:00)\n"
            "0 errors, 3 warnings, 0 notes\n");
}

TEST(SequenceCheck, RepeatsAndClockSetBack) {
  EXPECT_EQ(Check({{9, kDay}, {9, kDay}}),
            "warning number-back @200 report 9 (2012-05-11 20:00): the number again, after report 9 "
            "(2012-05-11 20:00)\n0 errors, 1 warnings, 0 notes\n");
  // The clock going back is its own finding, beside a sound number.
  EXPECT_EQ(Check({{9, kNextDay}, {10, kDay}, {11, "2012-05-11 20:01"}}),
            "warning clock-back @200 report 10 (2012-05-11 20:00): earlier than report 9 (2012-05-12 20:00)\n"
            "0 errors, 1 warnings, 0 notes\n");

  std::vector<Finding> findings;
  SequenceCheck check(&findings);
  check.Add(3, kNextDay);
  check.Reset();  // the next device
  check.Add(1, kDay);
  EXPECT_TRUE(findings.empty());
}

TEST(Findings, TextJsonCountsAndExitStatus) {
  std::vector<Finding> findings(3);
  findings[0] = {FindingError, "crc", 16, 4, std::string(kDay), "x"};
  findings[1] = {FindingWarning, "gap", std::nullopt, 9, std::string(kDay), "missing 8"};
  findings[2] = {FindingInfo, "rate-change", 400, std::nullopt, std::nullopt, "group 1"};
  EXPECT_EQ(FindingsText(findings, "\r\n"),
            "error crc @16 report 4 (2012-05-11 20:00): x\r\n"
            "warning gap report 9 (2012-05-11 20:00): missing 8\r\n"
            "info rate-change @400: group 1\r\n"
            "1 errors, 1 warnings, 1 notes\r\n");
  EXPECT_EQ(FindingsJson({findings[1], findings[2]}, "dump", "d\xC3\xA9.bin"),
            "{\n  \"dump\": \"d\xC3\xA9.bin\",\n  \"findings\": [\n"
            "    {\n      \"severity\": \"warning\",\n      \"kind\": \"gap\",\n      \"offset\": null,\n"
            "      \"report\": 9,\n      \"date\": \"2012-05-11 20:00\",\n      \"detail\": \"missing 8\"\n    },\n"
            "    {\n      \"severity\": \"info\",\n      \"kind\": \"rate-change\",\n      \"offset\": 400,\n"
            "      \"report\": null,\n      \"date\": null,\n      \"detail\": \"group 1\"\n    }\n  ],\n"
            "  \"counts\": {\n    \"error\": 0,\n    \"warning\": 1,\n    \"info\": 1\n  }\n}\n");
  EXPECT_EQ(FindingsJson({}, "dump", "\xFF").find("\"dump\": \"\xEF\xBF\xBD\""), 4u);

  EXPECT_EQ(CheckExitStatus(CountFindings(findings)), kExitCheckErrors);
  EXPECT_EQ(CheckExitStatus(CountFindings({findings[1], findings[2]})), kExitCheckWarnings);
  EXPECT_EQ(CheckExitStatus(CountFindings({findings[2]})), kExitCheckSound);
}

}  // namespace
