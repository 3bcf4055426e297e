#include "settings/ini_store.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "testsupport/temp_dir.h"

namespace {

std::string Lookup(const std::string& text, const char* key, const char* section = "main") {
  std::string value;
  return IniLookup(text, section, key, &value) ? value : "<missing>";
}

TEST(IniLookup, FindsKeysOfTheSectionOnly) {
  const std::string text =
      "Port=COM9\r\n"
      "[other]\r\nPort=COM8\r\n"
      "[main]\r\nPort=COM3\r\nBaudRate=19200\r\n"
      "[more]\r\nFileName=x\r\n";
  EXPECT_EQ(Lookup(text, "Port"), "COM3");
  EXPECT_EQ(Lookup(text, "BaudRate"), "19200");
  EXPECT_EQ(Lookup(text, "FileName"), "<missing>");
  EXPECT_EQ(Lookup(text, "Port", "nowhere"), "<missing>");
  EXPECT_EQ(Lookup("", "Port"), "<missing>");
}

TEST(IniLookup, MatchesNamesIgnoringCaseAndBlanks) {
  const std::string text = "  [ MAIN ]  \n  port =  COM3 \t\nTYPE=2\n";
  EXPECT_EQ(Lookup(text, "Port"), "COM3");
  EXPECT_EQ(Lookup(text, "Type"), "2");
}

TEST(IniLookup, ValueKeepsInnerTextAndLosesMatchingQuotes) {
  const std::string text =
      "[main]\nFileName=\"C:\\my dumps\\a=b.bin\"\nStart='01/02/2010'\nEnd=\"x'\nType=\n";
  EXPECT_EQ(Lookup(text, "FileName"), "C:\\my dumps\\a=b.bin");
  EXPECT_EQ(Lookup(text, "Start"), "01/02/2010");
  EXPECT_EQ(Lookup(text, "End"), "\"x'");
  EXPECT_EQ(Lookup(text, "Type"), "");
}

TEST(IniLookup, FirstOccurrenceWins) {
  const std::string text = "[main]\nPort=COM2\nPort=COM3\n[main]\nBaudRate=57600\n";
  EXPECT_EQ(Lookup(text, "Port"), "COM2");
  // Windows reads only the first section of a name, too.
  EXPECT_EQ(Lookup(text, "BaudRate"), "<missing>");
}

TEST(IniAssign, CreatesTheSectionInAnEmptyText) {
  EXPECT_EQ(IniAssign("", "main", "Port", "COM1"), "[main]\r\nPort=COM1\r\n");
}

TEST(IniAssign, ReplacesOnlyTheKeysLine) {
  const std::string text = "; mine\n[main]\nport = COM1\nBaudRate=9600\n[x]\nPort=COM7\n";
  EXPECT_EQ(IniAssign(text, "main", "Port", "COM4"),
            "; mine\n[main]\nPort=COM4\nBaudRate=9600\n[x]\nPort=COM7\n");
}

TEST(IniAssign, AddsAMissingKeyAtTheEndOfItsSection) {
  const std::string text = "[main]\r\nPort=COM1\r\n\r\n[x]\r\nA=1\r\n";
  EXPECT_EQ(IniAssign(text, "main", "Type", "2"),
            "[main]\r\nPort=COM1\r\nType=2\r\n\r\n[x]\r\nA=1\r\n");
  EXPECT_EQ(IniAssign("[main]\r\nPort=COM1", "main", "Type", "2"),
            "[main]\r\nPort=COM1\r\nType=2\r\n");
  EXPECT_EQ(IniAssign("[main]", "main", "Type", "2"), "[main]\r\nType=2\r\n");
}

TEST(IniAssign, AppendsAMissingSection) {
  EXPECT_EQ(IniAssign("[x]\r\nA=1\r\n", "main", "Port", "COM2"),
            "[x]\r\nA=1\r\n\r\n[main]\r\nPort=COM2\r\n");
  EXPECT_EQ(IniAssign("[x]\nA=1", "main", "Port", "COM2"), "[x]\nA=1\r\n\r\n[main]\r\nPort=COM2\r\n");
}

TEST(IniAssign, ValueCannotBreakTheFileApart) {
  std::string text = IniAssign("", "main", "Start", "1\r\n[evil]\r\nPort=COM9");
  EXPECT_EQ(text, "[main]\r\nStart=1\r\n");
}

TEST(IniFile, RoundTripsThroughAFile) {
  TempDir dir;
  std::string path = dir.File("taxoscope.ini");
  EXPECT_EQ(IniFileRead(path, "main", "Port", "COM1"), "COM1");  // no file yet
  ASSERT_TRUE(IniFileWrite(path, "main", "Port", "COM3"));
  ASSERT_TRUE(IniFileWrite(path, "main", "FileName", "C:\\\xE4\xE0\xED\xED\xE8.bin"));
  ASSERT_TRUE(IniFileWrite(path, "main", "Port", "COM5"));
  EXPECT_EQ(IniFileRead(path, "main", "Port", "COM1"), "COM5");
  EXPECT_EQ(IniFileRead(path, "main", "FileName", ""), "C:\\\xE4\xE0\xED\xED\xE8.bin");
  EXPECT_EQ(ReadFileBytes(path), "[main]\r\nPort=COM5\r\nFileName=C:\\\xE4\xE0\xED\xED\xE8.bin\r\n");
  EXPECT_FALSE(FileExists(path + ".new"));
}

TEST(IniFile, LongValuesAreCutWhenRead) {
  TempDir dir;
  std::string path = dir.File("long.ini");
  std::string value(5000, 'v');
  ASSERT_TRUE(IniFileWrite(path, "main", "FileName", value.c_str()));
  EXPECT_EQ(IniFileRead(path, "main", "FileName", ""), std::string(kMaxSettingLength, 'v'));
  EXPECT_EQ(IniFileRead(path, "main", "Start", value.c_str()).size(), kMaxSettingLength);
}

TEST(IniFile, FailedWriteKeepsTheOldFile) {
  TempDir dir;
  std::string path = dir.File("settings.ini");
  ASSERT_TRUE(IniFileWrite(path, "main", "Port", "COM3"));
  // The temporary file cannot be made: a folder stands in its place.
  std::filesystem::create_directory(path + ".new");
  EXPECT_FALSE(IniFileWrite(path, "main", "Port", "COM4"));
  EXPECT_EQ(IniFileRead(path, "main", "Port", "COM1"), "COM3");

  EXPECT_FALSE(IniFileWrite(dir.File("missing-folder/settings.ini"), "main", "Port", "COM4"));
  EXPECT_FALSE(FileExists(dir.File("missing-folder")));
}

}  // namespace
