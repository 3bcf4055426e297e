// The sequence checks and the written forms of findings.
#include "check/sequence_check.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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
            "0 errors, 1 warning, 0 notes\n");
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
            "(2012-05-11 20:00)\n0 errors, 1 warning, 0 notes\n");
  // The clock going back is its own finding, beside a sound number.
  EXPECT_EQ(Check({{9, kNextDay}, {10, kDay}, {11, "2012-05-11 20:01"}}),
            "warning clock-back @200 report 10 (2012-05-11 20:00): earlier than report 9 (2012-05-12 20:00)\n"
            "0 errors, 1 warning, 0 notes\n");

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
            "1 error, 1 warning, 1 note\r\n");
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

// The whole document as one JSON value, the way the findings were written
// before they were written one at a time.
std::string WholeDocument(const std::vector<Finding>& findings, const std::string& source) {
  using nlohmann::ordered_json;
  ordered_json list = ordered_json::array();
  for (const Finding& finding : findings) {
    ordered_json item;
    item["severity"] = SeverityName(finding.severity);
    item["kind"] = finding.kind;
    item["offset"] = finding.offset ? ordered_json(*finding.offset) : ordered_json(nullptr);
    item["report"] = finding.report ? ordered_json(*finding.report) : ordered_json(nullptr);
    item["date"] = finding.date ? ordered_json(*finding.date) : ordered_json(nullptr);
    item["detail"] = finding.detail;
    list.push_back(std::move(item));
  }
  FindingCounts counts = CountFindings(findings);
  ordered_json document;
  document["dump"] = source;
  document["findings"] = std::move(list);
  document["counts"] = {{"error", counts.errors}, {"warning", counts.warnings}, {"info", counts.notes}};
  return document.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

TEST(Findings, JsonWrittenOneAtATimeIsTheWholeDocument) {
  std::vector<Finding> findings;
  for (int i = 0; i < 40; ++i) {
    Finding finding;
    finding.severity = static_cast<FindingSeverity>(i % 3);
    finding.kind = i % 2 ? "gap" : "crc";
    if (i % 4) finding.offset = int64_t{1} << (i % 40);
    if (i % 5) finding.report = i * 1000;
    if (i % 3) finding.date = "2012-05-11 20:0" + std::to_string(i % 10);
    finding.detail = i % 7 ? "a \"quoted\" \\ detail\twith\ncontrols" : "bad \xC3 byte \xFF";
    findings.push_back(finding);
  }
  for (size_t count : {size_t(0), size_t(1), size_t(2), findings.size()}) {
    std::vector<Finding> some(findings.begin(), findings.begin() + static_cast<std::ptrdiff_t>(count));
    EXPECT_EQ(FindingsJson(some, "dump", "d\xC3\xA9 \"x\".bin"), WholeDocument(some, "d\xC3\xA9 \"x\".bin")) << count;
  }
}

}  // namespace
