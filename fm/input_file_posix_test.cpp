// A dump that comes through a pipe or a FIFO cannot seek: it is read whole
// and walked as the same bytes in a file are.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "fm/input_file.h"
#include "fm/zelvanm_kl_bul.h"
#include "report/report_buffer.h"
#include "sim/dump_builder.h"
#include "testsupport/temp_dir.h"

namespace {

std::string ReportOfPath(const std::string& path) {
  ResetReportBuffer();
  CZELVANM_KL_BUL reader(path.c_str());
  EXPECT_EQ(reader.Parse(), 1);
  return std::string(ReportText(), ReportLength());
}

// Writes bytes into the FIFO from another thread (opening it blocks until the
// reader comes) and gives the thread to join.
std::thread FeedFifo(const std::string& fifo, std::string bytes) {
  return std::thread([fifo, bytes]() {
    FILE* out = std::fopen(fifo.c_str(), "wb");
    if (!out) return;
    std::fwrite(bytes.data(), 1, bytes.size(), out);  // fails with EPIPE once the reader stops
    std::fclose(out);
  });
}

TEST(InputFileStream, AFifoWalksAsTheSameBytesInAFile) {
  GenerateOptions options;
  options.seed = 21;
  options.reports = 40;
  std::vector<uint8_t> image = GenerateDump(options);
  TempDir dir;
  std::string error;
  ASSERT_TRUE(WriteDumpFile(dir.File("d.bin"), image, &error));
  std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  std::thread writer = FeedFifo(fifo, std::string(image.begin(), image.end()));
  std::string fromFifo = ReportOfPath(fifo);
  writer.join();
  EXPECT_EQ(fromFifo, ReportOfPath(dir.File("d.bin")));
}

TEST(InputFileStream, AStreamLongerThanAnyDumpIsRefused) {
  TempDir dir;
  std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::signal(SIGPIPE, SIG_IGN);  // the feeder's write fails once the reader has had enough
  std::thread writer = FeedFifo(fifo, std::string(2200000, '\x11'));
  CInputFileBin source(fifo.c_str());
  writer.join();
  EXPECT_FALSE(source.IsOpen());
  EXPECT_EQ(source.OpenError(), EFBIG);
}

}  // namespace
