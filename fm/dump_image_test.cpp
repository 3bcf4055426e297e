#include "fm/dump_image.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fm/dump_family.h"
#include "fm/zelvanm_kl_bul.h"
#include "report/report_buffer.h"
#include "sim/dump_builder.h"
#include "testsupport/temp_dir.h"

namespace {

std::string AsText(const DumpBytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The text report of a walk over source.
std::string ReportOf(CInputFileBase* source) {
  ResetReportBuffer();
  CZELVANM_KL_BUL reader(source);
  reader.Parse();
  return std::string(ReportText(), ReportLength());
}

TEST(DumpImage, LoadsAWholeFileAndStopsOneByteOverTheCap) {
  TempDir dir;
  std::string small(1000, '\x5A');
  WriteFileBytes(dir.File("small.bin"), small);
  DumpBytes bytes;
  int error = -1;
  EXPECT_EQ(LoadDumpImage(dir.File("small.bin"), &bytes, &error), DumpLoaded);
  EXPECT_EQ(AsText(bytes), small);
  EXPECT_EQ(error, 0);

  WriteFileBytes(dir.File("cap.bin"), std::string(kDumpImageCap, '\xFF'));
  EXPECT_EQ(LoadDumpImage(dir.File("cap.bin"), &bytes, &error), DumpLoaded);
  EXPECT_EQ(bytes.size(), static_cast<size_t>(kDumpImageCap));

  WriteFileBytes(dir.File("over.bin"), std::string(3 * kDumpImageCap, '\x01'));
  EXPECT_EQ(LoadDumpImage(dir.File("over.bin"), &bytes, &error), DumpOverCap);
  EXPECT_EQ(bytes.size(), static_cast<size_t>(kDumpImageCap + 1));

  EXPECT_EQ(LoadDumpImage(dir.File("missing.bin"), &bytes, &error), DumpOpenFailed);
  EXPECT_NE(error, 0);
  EXPECT_EQ(LoadDumpImage(dir.path(), &bytes, &error), DumpOpenFailed);  // a folder
}

TEST(DumpImage, MemorySourceWalksAsTheFileDoes) {
  GenerateOptions options;
  options.seed = 7;
  std::vector<uint8_t> image = GenerateDump(options);
  TempDir dir;
  std::string error;
  ASSERT_TRUE(WriteDumpFile(dir.File("d.bin"), image, &error));

  std::string fromFile = ReportOf(new CInputFileBin(dir.File("d.bin").c_str()));
  std::string fromMemory = ReportOf(new CInputMemory(image.data(), static_cast<int64_t>(image.size())));
  EXPECT_GT(fromFile.size(), 1000u);
  EXPECT_EQ(fromMemory, fromFile);
  // Cut anywhere, the memory source ends as the file does.
  for (size_t cut : {size_t(0), size_t(5), size_t(17), image.size() / 3, image.size() - 1}) {
    std::vector<uint8_t> head(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
    ASSERT_TRUE(WriteDumpFile(dir.File("cut.bin"), head, &error));
    EXPECT_EQ(ReportOf(new CInputMemory(head.data(), static_cast<int64_t>(head.size()))),
              ReportOf(new CInputFileBin(dir.File("cut.bin").c_str())))
        << "cut at " << cut;
  }
}

TEST(DumpImage, MemorySourceSeeksAndReadsAllOrNothing) {
  const uint8_t digits[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  CInputMemory source(digits, sizeof digits);
  uint8_t buffer[16] = {};
  EXPECT_EQ(source.Read(buffer, 4), buffer);
  EXPECT_EQ(source.Tell(), 4);
  EXPECT_EQ(source.Read(buffer, 11), nullptr);  // short: what was there, at the end
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), "456789");
  EXPECT_EQ(source.Tell(), 10);
  EXPECT_EQ(source.Seek(5000), 5000);  // past the end, as a file allows
  EXPECT_EQ(source.Read(buffer, 1), nullptr);
  EXPECT_EQ(source.Tell(), 5000);
  EXPECT_EQ(source.Seek(-1), 0);
  EXPECT_EQ(source.Seek(2), 2);
  EXPECT_EQ(source.Read(buffer, 1), buffer);
  EXPECT_EQ(buffer[0], '2');
}

TEST(DumpFamily, TellsADumpFromWhatIsNone) {
  GenerateOptions options;
  options.seed = 3;
  options.reports = 5;
  DumpBytes dump = GenerateDump(options);
  EXPECT_EQ(NotADumpReason(dump, false), "");

  EXPECT_EQ(NotADumpReason(DumpBytes(), false), "empty");
  EXPECT_EQ(NotADumpReason(DumpBytes(70000, 0xFF), false), "erased memory only");
  DumpBytes random(300000);
  std::mt19937 generator(11);
  for (uint8_t& byte : random) byte = static_cast<uint8_t>(generator());
  // Random bytes frame records whose CRC fails, one in 65,536 by chance holds:
  // this seed's bytes hold none.
  EXPECT_EQ(NotADumpReason(random, false), "no record with a valid CRC");
  EXPECT_EQ(NotADumpReason(dump, true), "longer than 2101247 bytes");
  EXPECT_EQ(NotADumpMessage("x.bin", "empty"), "x.bin: not a dump of this device family (empty)");
}

}  // namespace
