// Tokens at rest: only hashes, each new token its own, a file read back as
// written, and a match that finds the one entry whose hash it is.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "server/token_store.h"
#include "testsupport/temp_dir.h"

namespace {

TEST(TokenStore, NewTokensAreLongRandomAndUrlSafe) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string token, err;
    ASSERT_TRUE(NewToken(&token, &err)) << err;
    EXPECT_EQ(43u, token.size());  // 256 bits in base64url
    EXPECT_EQ(std::string::npos, token.find_first_not_of(
                                     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"));
    EXPECT_TRUE(seen.insert(token).second);
  }
}

TEST(TokenStore, SavedFileHoldsHashesOnlyAndReadsBack) {
  TempDir dir;
  const std::string path = dir.File("tokens");
  TokenList list;
  std::string err;
  ASSERT_TRUE(list.Load(path, &err)) << "a missing file is an empty list: " << err;
  EXPECT_TRUE(list.entries().empty());
  list.Add({"shop-1", RoleUpload, {"DV000001", "Каса \"2\""}, TokenHash("secret-one")});
  list.Add({"office", RoleAdmin, {}, TokenHash("secret-two")});
  ASSERT_TRUE(list.Save(path, &err)) << err;
  struct stat info;
  ASSERT_EQ(0, stat(path.c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 0777);
  const std::string text = ReadFileBytes(path);
  EXPECT_EQ(std::string::npos, text.find("secret"));

  TokenList back;
  ASSERT_TRUE(back.Load(path, &err)) << err;
  ASSERT_EQ(2u, back.entries().size());
  const TokenEntry* shop = back.Match("secret-one");
  ASSERT_NE(nullptr, shop);
  EXPECT_EQ("shop-1", shop->name);
  EXPECT_EQ(RoleUpload, shop->role);
  EXPECT_EQ((std::vector<std::string>{"DV000001", "Каса \"2\""}), shop->devices);
  EXPECT_EQ("office", back.Match("secret-two")->name);
  EXPECT_EQ(nullptr, back.Match("secret-on"));
  EXPECT_EQ(nullptr, back.Match(""));
  EXPECT_TRUE(back.Remove("office"));
  EXPECT_FALSE(back.Remove("office"));
  EXPECT_EQ(nullptr, back.Match("secret-two"));
}

TEST(TokenStore, ForeignFilesAreRefusedNotTakenForEmpty) {
  TempDir dir;
  std::string err;
  TokenList list;
  for (const char* text : {"", "not json", "{\"tokens\": 3}", "{\"tokens\": [{\"name\": \"a\", \"role\": \"root\", "
                                                               "\"sha256\": \"00\"}]}"}) {
    WriteFileBytes(dir.File("tokens"), text);
    EXPECT_FALSE(list.Load(dir.File("tokens"), &err)) << text;
  }
}

TEST(TokenStore, NamesAndComparison) {
  EXPECT_TRUE(IsValidTokenName("shop-1.main_till"));
  for (const char* bad : {"", "a b", "a\nb", "ключ", "a/b"}) EXPECT_FALSE(IsValidTokenName(bad)) << bad;
  EXPECT_FALSE(IsValidTokenName(std::string(65, 'a')));
  EXPECT_TRUE(ConstantTimeEqual("abc", "abc"));
  EXPECT_FALSE(ConstantTimeEqual("abc", "abd"));
  EXPECT_FALSE(ConstantTimeEqual("abc", "abcd"));
  TokenRole role;
  EXPECT_TRUE(ParseRole("read", &role));
  EXPECT_EQ(RoleRead, role);
  EXPECT_FALSE(ParseRole("Read", &role));
}

TEST(TokenStore, ARunningServerSeesChangesToTheFile) {
  TempDir dir;
  const std::string path = dir.File("tokens");
  TokenFile file(path);
  TokenEntry entry;
  EXPECT_FALSE(file.Match("t1", &entry));
  TokenList list;
  std::string err;
  list.Add({"one", RoleRead, {}, TokenHash("t1")});
  ASSERT_TRUE(list.Save(path, &err)) << err;
  ASSERT_TRUE(file.Match("t1", &entry));
  EXPECT_EQ("one", entry.name);
  list.Remove("one");
  ASSERT_TRUE(list.Save(path, &err)) << err;
  EXPECT_FALSE(file.Match("t1", &entry));
}

}  // namespace
