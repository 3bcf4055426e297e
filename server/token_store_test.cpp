// Tokens at rest: only hashes, each new token its own, a file read back as
// written, and a match that finds the one entry whose hash it is.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A hand edit that does not keep to the format in every field refuses the
// whole file: a token limited to its devices never becomes unlimited.
TEST(TokenStore, EveryFieldMustParseAsTheFormatSays) {
  TempDir dir;
  const std::string hash = TokenHash("t");
  const std::string good = "{\"name\": \"shop\", \"role\": \"upload\", \"sha256\": \"" + hash + "\"";
  TokenList list;
  std::string err, brief;
  WriteFileBytes(dir.File("tokens"), "{\"tokens\": [" + good + ", \"devices\": [\"DV1\"]}]}");
  ASSERT_TRUE(list.Load(dir.File("tokens"), &err)) << err;
  ASSERT_EQ(1u, list.entries().size());
  for (const std::string& tail :
       {std::string(", \"devices\": null}"), std::string(", \"devices\": \"DV1\"}"), std::string(", \"devices\": [1]}"),
        std::string(", \"device\": [\"DV1\"]}"), std::string(", \"devices\": [\"DV\\t1\"]}"),
        std::string(", \"devices\": [\"\\u202eDV1\"]}"), std::string(", \"devices\": [\"\"]}")}) {
    WriteFileBytes(dir.File("tokens"), "{\"tokens\": [" + good + tail + "]}");
    EXPECT_FALSE(list.Load(dir.File("tokens"), &err, &brief)) << tail;
    EXPECT_TRUE(list.entries().empty()) << tail;
    EXPECT_NE(std::string::npos, err.find(dir.File("tokens"))) << err;
    EXPECT_EQ(std::string::npos, brief.find(dir.path())) << brief;
  }
  const std::string sha = "\"sha256\": \"" + hash + "\"";
  for (const std::string& text :
       {std::string("{\"tokens\": [{\"name\": \"a\", \"role\": \"read\", \"sha256\": \"00\"}]}"),
        "{\"tokens\": [{\"name\": \"a\", \"role\": \"read\", \"sha256\": \"" + std::string(64, 'A') + "\"}]}",
        "{\"tokens\": [{\"name\": \"a b\", \"role\": \"read\", " + sha + "}]}",
        "{\"tokens\": [{\"role\": \"read\", " + sha + "}]}",
        "{\"tokens\": [{\"name\": \"a\", \"role\": \"read\", " + sha + ", \"devices\": [\"DV1\"]}]}",
        "{\"tokens\": [{\"name\": \"a\", \"role\": \"read\", " + sha + "}, {\"name\": \"a\", \"role\": \"admin\", " +
            sha + "}]}",
        std::string("{\"tokens\": [], \"version\": 2}"), "{\"tokens\": [{\"name\": \"a\", \"role\": \"read\", " + sha + ",}]}"}) {
    WriteFileBytes(dir.File("tokens"), text);
    EXPECT_FALSE(list.Load(dir.File("tokens"), &err)) << text;
  }
}

// Unreadable or unparsable, the file refuses every token until it changes
// into a token list again; the reason is there to be shown.
TEST(TokenStore, AFileThatCannotBeUsedRefusesEveryTokenUntilItChanges) {
  TempDir dir;
  const std::string path = dir.File("tokens");
  TokenList list;
  std::string err, reason;
  list.Add({"one", RoleAdmin, {}, TokenHash("t1")});
  ASSERT_TRUE(list.Save(path, &err)) << err;
  TokenFile file(path);
  TokenEntry entry;
  ASSERT_TRUE(file.Match("t1", &entry));
  EXPECT_TRUE(file.Usable(&reason));
  const std::string saved = ReadFileBytes(path);
  WriteFileBytes(path, saved.substr(0, saved.size() / 2));  // a hand edit cut short
  EXPECT_FALSE(file.Match("t1", &entry));
  ASSERT_FALSE(file.Usable(&reason));
  EXPECT_NE(std::string::npos, reason.find("not a token list")) << reason;
  EXPECT_EQ(std::string::npos, reason.find(dir.path())) << reason;
  ASSERT_TRUE(list.Save(path, &err)) << err;
  EXPECT_TRUE(file.Match("t1", &entry));
  EXPECT_TRUE(file.Usable(&reason));
}

// A replaced file keeps the owner and mode it had.
TEST(TokenStore, ASavedFileKeepsItsOwnerAndMode) {
  TempDir dir;
  const std::string path = dir.File("tokens");
  TokenList list;
  std::string err;
  ASSERT_TRUE(list.Save(path, &err)) << err;
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, chown(path.c_str(), 65534, 65534));
  }
  list.Add({"one", RoleRead, {}, TokenHash("t1")});
  ASSERT_TRUE(list.Save(path, &err)) << err;
  struct stat info;
  ASSERT_EQ(0, stat(path.c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 0777);
  if (root) {
    EXPECT_EQ(65534u, info.st_uid);
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
