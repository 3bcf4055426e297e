// dumps/: every device id a folder of its own inside it and back, stores that
// survive a repeat, and the order of receipt kept for a rebuild.
#include <gtest/gtest.h>

#include "ledger/sha256.h"
#include "server/dump_archive.h"
#include "testsupport/temp_dir.h"

namespace {

TEST(DumpArchive, EveryDeviceIdIsOneFolderNameAndBack) {
  for (const std::string& id : std::vector<std::string>{"DV000001", "..", ".", "../../etc/passwd", "a/b\\c", "<b>&\"'", "Каса 1", "%41", "-x_",
                               std::string("a\0b", 3)}) {
    const std::string folder = DeviceFolderName(id);
    EXPECT_EQ(std::string::npos, folder.find_first_of("/\\.\0 ", 0, 5)) << folder;
    std::string back;
    ASSERT_TRUE(DeviceFromFolderName(folder, &back)) << folder;
    EXPECT_EQ(id, back);
  }
  EXPECT_EQ("DV000001", DeviceFolderName("DV000001"));
  EXPECT_EQ("%2E%2E", DeviceFolderName(".."));
  std::string device;
  for (const char* foreign : {"", "%", "%4", "%zz", "%41", "a.b", ".txs12"})
    EXPECT_FALSE(DeviceFromFolderName(foreign, &device)) << foreign;
}

TEST(DumpArchive, StoresOnceAndListsInTheOrderReceived) {
  TempDir dir;
  DumpArchive archive(dir.File("dumps"));
  std::string err;
  ASSERT_TRUE(archive.Prepare(&err)) << err;
  const std::string firstText = "first image", secondText = "second image";
  const std::vector<uint8_t> first(firstText.begin(), firstText.end()), second(secondText.begin(), secondText.end());
  StoredDump stored;
  ASSERT_TRUE(archive.Store("Z", Sha256Hex(first.data(), first.size()), first, "z.bin", "2024-01-01T00:00:00Z",
                            &stored, &err))
      << err;
  EXPECT_EQ(firstText, ReadFileBytes(stored.path));
  ASSERT_TRUE(archive.Store("../A", Sha256Hex(second.data(), second.size()), second, "a.bin", "2024-01-02T00:00:00Z",
                            &stored, &err))
      << err;
  EXPECT_EQ(dir.File("dumps") + "/%2E%2E%2FA/" + Sha256Hex(second.data(), second.size()) + ".bin", stored.path);
  // The same bytes again keep the first copy's name and time.
  ASSERT_TRUE(archive.Store("Z", Sha256Hex(first.data(), first.size()), first, "other.bin", "2025-01-01T00:00:00Z",
                            &stored, &err));
  EXPECT_EQ("z.bin", stored.name);
  EXPECT_EQ("2024-01-01T00:00:00Z", stored.addedAt);
  // Left-overs of a write cut off, and strangers, are not dumps.
  WriteFileBytes(dir.File("dumps") + "/Z/.txsAbC123", "half");
  WriteFileBytes(dir.File("dumps") + "/Z/notes.txt", "mine");

  std::vector<StoredDump> listed;
  std::vector<std::string> skipped;
  ASSERT_TRUE(archive.List(&listed, &skipped, &err)) << err;
  ASSERT_EQ(2u, listed.size());
  EXPECT_EQ("Z", listed[0].device);  // received first
  EXPECT_EQ("z.bin", listed[0].name);
  EXPECT_EQ("../A", listed[1].device);
  EXPECT_EQ("2024-01-02T00:00:00Z", listed[1].addedAt);
  EXPECT_LT(listed[0].receivedNs, listed[1].receivedNs);
  EXPECT_EQ((std::vector<std::string>{dir.File("dumps") + "/Z/notes.txt"}), skipped);
}

}  // namespace
