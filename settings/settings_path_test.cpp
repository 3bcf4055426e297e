#include "settings/settings_path.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

bool NoLeadBytes(unsigned char) { return false; }
// Shift-JIS style: 0x81 to 0x9F lead a two-byte character whose trail byte
// may be '\' (0x5C) or even '.'.
bool ShiftJisLeadBytes(unsigned char byte) { return byte >= 0x81 && byte <= 0x9F; }

std::string PathFor(const std::string& executable, bool (*isLeadByte)(unsigned char) = NoLeadBytes,
                    std::size_t size = kIniPathSize) {
  std::string out(size + 16, '#');
  MakeSettingsPath(executable.c_str(), &out[0], size, isLeadByte);
  EXPECT_EQ(out.substr(size), std::string(16, '#')) << "wrote past the end";
  return out.substr(0, out.find('\0'));
}

TEST(SettingsPath, ReplacesTheExtension) {
  EXPECT_EQ(PathFor("D:\\Tools\\zoviva.exe"), "D:\\Tools\\zoviva.ini");
  EXPECT_EQ(PathFor("C:\\a.b\\prog.tar.exe"), "C:\\a.b\\prog.tar.ini");
  EXPECT_EQ(PathFor("/opt/taxoscope/taxoscope.exe"), "/opt/taxoscope/taxoscope.ini");
}

TEST(SettingsPath, AppendsWhenTheFileNameHasNoDot) {
  EXPECT_EQ(PathFor("D:\\release.2\\zoviva"), "D:\\release.2\\zoviva.ini");
  EXPECT_EQ(PathFor("/home/x.y/taxoscope"), "/home/x.y/taxoscope.ini");
  EXPECT_EQ(PathFor("zoviva"), "zoviva.ini");
}

TEST(SettingsPath, TrailBytesAreNeitherDotsNorSeparators) {
  // "\x81\x5C" is one character whose second byte equals '\': the dot
  // before it still starts the extension.
  EXPECT_EQ(PathFor("C:\\t\\ab.\x81\x5C", ShiftJisLeadBytes), "C:\\t\\ab.ini");
  // "\x81." is one character, so the file name has no dot of its own.
  EXPECT_EQ(PathFor("C:\\t\\ab\x81.x", ShiftJisLeadBytes), "C:\\t\\ab\x81.x.ini");
  // Read byte by byte, the same names split differently.
  EXPECT_EQ(PathFor("C:\\t\\ab.\x81\x5C", NoLeadBytes), "C:\\t\\ab.\x81\\.ini");
  EXPECT_EQ(PathFor("C:\\t\\ab\x81.x", NoLeadBytes), "C:\\t\\ab\x81.ini");
}

TEST(SettingsPath, JustFittingPathIsKeptWhole) {
  // 495 characters of stem plus ".ini" and the terminator fill 500 bytes.
  std::string stem = "C:\\" + std::string(492, 'p');
  EXPECT_EQ(PathFor(stem + ".exe"), stem + ".ini");
  EXPECT_EQ(PathFor(stem), stem + ".ini");
}

TEST(SettingsPath, OverlongPathIsCutNeverOverrun) {
  std::string executable = "C:\\" + std::string(700, 'p') + ".exe";
  std::string path = PathFor(executable);
  EXPECT_EQ(path.size(), kIniPathSize - 1);
  EXPECT_EQ(path, executable.substr(0, kIniPathSize - 5) + ".ini");
}

TEST(SettingsPath, OverlongPathIsNotCutInsideACharacter) {
  // Two-byte characters from an odd offset: the 495th byte is a lead byte.
  std::string executable = "C:\\d";
  while (executable.size() < 600) executable += "\x81\x5C";
  std::string path = PathFor(executable, ShiftJisLeadBytes);
  EXPECT_EQ(path, executable.substr(0, 494) + ".ini");
}

TEST(SettingsPath, SmallBuffersStillEndInTheExtension) {
  EXPECT_EQ(PathFor("C:\\prog.exe", NoLeadBytes, 8), "C:\\.ini");
  EXPECT_EQ(PathFor("C:\\prog.exe", NoLeadBytes, 5), ".ini");
}

}  // namespace
