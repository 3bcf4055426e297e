#include "report/report_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text() { return std::string(ReportText(), ReportLength()); }

TEST(ReportBuffer, AppendsFormattedChunksInOrder) {
  ResetReportBuffer();
  ReportPrintf("Date: %s\r\n", "15-03-11 10:30");
  ReportPrintf("%i|%2i|%2i|%-3i|%u|%d", 7, 3, 10, 5, 4294967295u, -12);
  ReportPrintf("%.2f %.2f %.2f %s%%", 0.125, 2.675, 1e6, "x");
  EXPECT_EQ(Text(), "Date: 15-03-11 10:30\r\n7| 3|10|5  |4294967295|-12"
                    "0.12 2.67 1000000.00 x%");
  EXPECT_EQ(ReportText()[ReportLength()], 0);
}

TEST(ReportBuffer, EmptyChunkAndResetLeaveAnEmptyTerminatedText) {
  ResetReportBuffer();
  ReportPrintf("%s", "");
  EXPECT_EQ(ReportLength(), 0u);
  ReportPrintf("old report");
  ResetReportBuffer();
  EXPECT_EQ(ReportLength(), 0u);
  EXPECT_EQ(ReportText()[0], 0);
}

TEST(ReportBuffer, StoresWindows1251BytesUnchanged) {
  ResetReportBuffer();
  ReportPrintf("%s", "\xCE\xE1\xEE\xF0\xEE\xF2\xFF\x80");
  EXPECT_EQ(Text(), "\xCE\xE1\xEE\xF0\xEE\xF2\xFF\x80");
}

TEST(ReportBuffer, GrowsPastOneMebibyteWithoutDroppingAChunk) {
  ResetReportBuffer();
  std::string line(99, 'a');
  line += '\n';
  for (int i = 0; i < 30000; ++i) ReportPrintf("%s", line.c_str());  // 3 MB
  ReportPrintf("%s", "end");
  ASSERT_EQ(ReportLength(), 30000u * 100 + 3);
  EXPECT_EQ(std::string(ReportText() + ReportLength() - 103, 103), line + "end");
  EXPECT_EQ(ReportText()[ReportLength()], 0);
}

}  // namespace
