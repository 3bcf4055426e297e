#include "fm/input_file.h"

#include <gtest/gtest.h>

#include <string>

#include "testsupport/temp_dir.h"

namespace {

std::string Digits(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>('0' + i % 10);
  return bytes;
}

TEST(InputFileBin, ReadsAllOrNothing) {
  TempDir dir;
  WriteFileBytes(dir.File("ten.bin"), Digits(10));
  CInputFileBin source(dir.File("ten.bin").c_str());
  ASSERT_TRUE(source.IsOpen());

  uint8_t buffer[16] = {};
  EXPECT_EQ(source.Read(buffer, 4), buffer);
  EXPECT_EQ(source.Tell(), 4);
  EXPECT_EQ(source.Read(buffer, 0), buffer);  // a count of 0 moves nothing
  EXPECT_EQ(source.Tell(), 4);
  // A short read gives null, keeps what was there and ends at the file's end.
  EXPECT_EQ(source.Read(buffer, 11), nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), "456789");
  EXPECT_EQ(source.Tell(), 10);
  EXPECT_EQ(source.GetPosition(), 10);
}

TEST(InputFileBin, SeeksAbsolutelyAndPastTheEnd) {
  TempDir dir;
  WriteFileBytes(dir.File("hundred.bin"), Digits(100));
  CInputFileBin source(dir.File("hundred.bin").c_str());
  uint8_t byte = 0;
  EXPECT_EQ(source.Seek(5000), 5000);
  EXPECT_EQ(source.Read(&byte, 1), nullptr);
  EXPECT_EQ(source.Seek(99), 99);
  EXPECT_EQ(source.Read(&byte, 1), &byte);
  EXPECT_EQ(byte, '9');
  EXPECT_EQ(source.Seek(-1), 0);
}

TEST(InputFileBin, EmptyFileReadsNothing) {
  TempDir dir;
  WriteFileBytes(dir.File("empty.bin"), "");
  CInputFileBin source(dir.File("empty.bin").c_str());
  uint8_t byte = 0;
  EXPECT_TRUE(source.IsOpen());
  EXPECT_EQ(source.Read(&byte, 1), nullptr);
  EXPECT_EQ(source.Tell(), 0);
}

TEST(InputFileBin, MissingFileOrFolderGivesASourceWithoutAFile) {
  TempDir dir;
  for (const std::string& path : {dir.File("missing.bin"), dir.path()}) {
    CInputFileBin source(path.c_str());
    uint8_t byte = 0;
    EXPECT_FALSE(source.IsOpen()) << path;
    EXPECT_NE(source.OpenError(), 0);
    EXPECT_EQ(source.Read(&byte, 1), nullptr);
    EXPECT_EQ(source.Read(&byte, 0), nullptr);
    EXPECT_EQ(source.Seek(16), 0);
    EXPECT_EQ(source.Tell(), 0);
  }
}

}  // namespace
