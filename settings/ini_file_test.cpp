// The settings mappings over the store of this platform: the portable INI
// file natively, the private-profile functions under Windows.
#include "settings/ini_file.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "settings/settings_store.h"
#include "testsupport/fake_dialog.h"
#include "testsupport/temp_dir.h"

namespace {

class SettingsTest : public testing::Test {
 protected:
  SettingsTest() : ini(dir.File("taxoscope.exe").c_str()) {}

  std::string Stored(const char* key) { return ReadSetting(ini.iniPath, "main", key, "<absent>"); }
  void Store(const char* key, const char* value) {
    ASSERT_TRUE(WriteSetting(ini.iniPath, "main", key, value));
  }
  FakeDialog Loaded() {
    FakeDialog dialog;
    ini.LoadSettings(dialog);
    return dialog;
  }
  // Which report type button loading the stored "Type" checks.
  int LoadedType() {
    FakeDialog dialog = Loaded();
    int found = 0;
    int count = 0;
    for (int id : {IDC_ALL_RECORDS, IDC_BY_DATE, IDC_BY_NUMBER}) {
      if (dialog.checked[id]) {
        found = id;
        ++count;
      }
    }
    EXPECT_EQ(count, 1) << "exactly one report type must be checked";
    return found;
  }

  TempDir dir;
  CIniFile ini;
};

TEST_F(SettingsTest, LivesBesideTheExecutable) {
  EXPECT_EQ(std::string(ini.iniPath), dir.File("taxoscope.ini"));
}

TEST_F(SettingsTest, FirstStartShowsTheDefaults) {
  FakeDialog dialog = Loaded();
  EXPECT_EQ(dialog.selected[IDC_PORT], 0);
  EXPECT_EQ(dialog.text[IDC_PORT], "COM1");
  EXPECT_EQ(dialog.lists[IDC_SPEED],
            (std::vector<std::string>{"9600", "19200", "38400", "57600", "115200"}));
  EXPECT_EQ(dialog.selected[IDC_SPEED], 0);
  EXPECT_EQ(dialog.text[IDC_FILE_NAME], "");
  EXPECT_EQ(dialog.text[IDC_FROM], "");
  EXPECT_EQ(dialog.text[IDC_TO], "");
  EXPECT_TRUE(dialog.checked[IDC_ALL_RECORDS]);
  EXPECT_FALSE(dialog.checked[IDC_BY_DATE]);
  EXPECT_FALSE(dialog.checked[IDC_BY_NUMBER]);
  EXPECT_FALSE(dialog.checked[IDC_SHOW_RESULT]);
  EXPECT_FALSE(dialog.checked[IDC_EXPORT]);
  EXPECT_FALSE(dialog.checked[IDC_LEDGER]);
  EXPECT_FALSE(dialog.checked[IDC_SEND]);
  EXPECT_FALSE(FileExists(ini.iniPath)) << "loading must not create the file";
}

TEST_F(SettingsTest, StoredValuesComeBack) {
  Store("Port", "COM7");
  Store("BaudRate", "57600");
  Store("FileName", "C:\\\xE4\xE0\xED\xED\xE8\\AB1234.bin");  // Cyrillic folder name
  Store("Start", "01/03/2010");
  Store("End", "31/03/2010");
  Store("ShowFile", "1");
  Store("Export", "1");
  Store("Ledger", "1");
  Store("Send", "1");
  FakeDialog dialog = Loaded();
  EXPECT_EQ(dialog.selected[IDC_PORT], 4);
  EXPECT_EQ(dialog.selected[IDC_SPEED], 3);
  EXPECT_EQ(dialog.text[IDC_FILE_NAME], "C:\\\xE4\xE0\xED\xED\xE8\\AB1234.bin");
  EXPECT_EQ(dialog.text[IDC_FROM], "01/03/2010");
  EXPECT_EQ(dialog.text[IDC_TO], "31/03/2010");
  EXPECT_TRUE(dialog.checked[IDC_SHOW_RESULT]);
  EXPECT_TRUE(dialog.checked[IDC_EXPORT]);
  EXPECT_TRUE(dialog.checked[IDC_LEDGER]);
  EXPECT_TRUE(dialog.checked[IDC_SEND]);
}

TEST_F(SettingsTest, PortMatchIgnoresCaseAndFallsBackToTheFirstEntry) {
  Store("Port", "com3");
  EXPECT_EQ(Loaded().selected[IDC_PORT], 2);
  Store("Port", "COM12");  // typed once, not found by the enumeration now
  EXPECT_EQ(Loaded().selected[IDC_PORT], 0);
  Store("Port", "COM3x");  // whole text only
  EXPECT_EQ(Loaded().selected[IDC_PORT], 0);
}

// A device server's address is never in the list: it comes back as typed
// and is saved unchanged, while a local name not in the list still falls
// back to the first entry.
TEST_F(SettingsTest, ATypedNetworkAddressIsKeptAsTyped) {
  for (const char* address : {"tcp://192.168.1.50:4001", "RFC2217://[fe80::1]:2217", "tcp://box"}) {
    Store("Port", address);
    FakeDialog dialog = Loaded();
    EXPECT_EQ(dialog.text[IDC_PORT], address);
    EXPECT_EQ(dialog.GetSelectedIndex(IDC_PORT), -1) << "no list entry is chosen over it";
    ini.SavePortSettings(dialog);
    EXPECT_EQ(Stored("Port"), address);
  }
  Store("Port", "COM3");
  EXPECT_EQ(Loaded().selected[IDC_PORT], 2);
}

TEST_F(SettingsTest, UnknownSpeedFallsBackTo9600AndIsSavedAsSuch) {
  Store("BaudRate", "4800");
  FakeDialog dialog = Loaded();
  EXPECT_EQ(dialog.selected[IDC_SPEED], 0);
  ini.SavePortSettings(dialog);
  EXPECT_EQ(Stored("BaudRate"), "9600");
}

TEST_F(SettingsTest, TypeIsReadByItsFirstCharacter) {
  const std::pair<const char*, int> cases[] = {
      {"2", IDC_BY_DATE}, {"1", IDC_BY_NUMBER},  {"12", IDC_BY_NUMBER}, {"21", IDC_BY_DATE},
      {"0", IDC_ALL_RECORDS}, {"x", IDC_ALL_RECORDS}, {"", IDC_ALL_RECORDS}, {" 1", IDC_BY_NUMBER},
  };
  for (const auto& c : cases) {
    Store("Type", c.first);
    EXPECT_EQ(LoadedType(), c.second) << "Type=" << c.first;
  }
}

TEST_F(SettingsTest, ShowFileIsReadByItsFirstCharacter) {
  const std::pair<const char*, bool> cases[] = {
      {"1", true}, {"10", true}, {"0", false}, {"yes", false}, {"", false},
  };
  for (const auto& c : cases) {
    Store("ShowFile", c.first);
    EXPECT_EQ(Loaded().checked[IDC_SHOW_RESULT], c.second) << "ShowFile=" << c.first;
  }
}

TEST_F(SettingsTest, SavedTypeLoadsAsTheSameButton) {
  for (int id : {IDC_ALL_RECORDS, IDC_BY_DATE, IDC_BY_NUMBER}) {
    FakeDialog dialog = Loaded();
    for (int other : {IDC_ALL_RECORDS, IDC_BY_DATE, IDC_BY_NUMBER}) dialog.checked[other] = other == id;
    ini.SaveSettings(dialog);
    EXPECT_EQ(LoadedType(), id);
  }
  EXPECT_EQ(Stored("Type"), "1");  // the last one saved: "By rep no."
}

TEST_F(SettingsTest, SaveWritesEveryKeyFromTheDialog) {
  FakeDialog dialog = Loaded();
  dialog.text[IDC_PORT] = "COM12";  // typed, not in the list
  dialog.selected[IDC_SPEED] = 4;
  dialog.text[IDC_FILE_NAME] = "D:\\data\\AB1234.bin";
  dialog.text[IDC_FROM] = "12";
  dialog.text[IDC_TO] = "0x1A";
  dialog.checked[IDC_ALL_RECORDS] = false;
  dialog.checked[IDC_BY_DATE] = true;
  dialog.checked[IDC_SHOW_RESULT] = true;
  dialog.checked[IDC_EXPORT] = true;
  dialog.checked[IDC_LEDGER] = true;
  dialog.checked[IDC_SEND] = true;
  ini.SaveSettings(dialog);
  EXPECT_EQ(Stored("Port"), "COM12");
  EXPECT_EQ(Stored("BaudRate"), "115200");
  EXPECT_EQ(Stored("FileName"), "D:\\data\\AB1234.bin");
  EXPECT_EQ(Stored("Start"), "12");
  EXPECT_EQ(Stored("End"), "0x1A");
  EXPECT_EQ(Stored("Type"), "2");
  EXPECT_EQ(Stored("ShowFile"), "1");
  EXPECT_EQ(Stored("Export"), "1");
  EXPECT_EQ(Stored("Ledger"), "1");
  // One section, the keys in the order they are saved.
  EXPECT_EQ(ReadFileBytes(ini.iniPath),
            "[main]\r\nPort=COM12\r\nBaudRate=115200\r\nFileName=D:\\data\\AB1234.bin\r\n"
            "Start=12\r\nEnd=0x1A\r\nType=2\r\nShowFile=1\r\nExport=1\r\nLedger=1\r\nSend=1\r\n");

  dialog.checked[IDC_SHOW_RESULT] = false;
  dialog.checked[IDC_EXPORT] = false;
  dialog.checked[IDC_LEDGER] = false;
  dialog.checked[IDC_SEND] = false;
  dialog.text[IDC_FROM] = "";
  ini.SaveSettings(dialog);
  EXPECT_EQ(Stored("ShowFile"), "0");
  EXPECT_EQ(Stored("Export"), "0");
  EXPECT_FALSE(Loaded().checked[IDC_EXPORT]);
  EXPECT_EQ(Stored("Ledger"), "0");
  EXPECT_FALSE(Loaded().checked[IDC_LEDGER]);
  EXPECT_EQ(Stored("Send"), "0");
  EXPECT_EQ(Stored("Start"), "");
}

TEST_F(SettingsTest, SavePortSettingsTouchesOnlyPortAndSpeed) {
  Store("FileName", "kept.bin");
  FakeDialog dialog = Loaded();
  dialog.text[IDC_FILE_NAME] = "changed.bin";
  dialog.text[IDC_PORT] = "COM2";
  dialog.selected[IDC_SPEED] = 1;
  ini.SavePortSettings(dialog);
  EXPECT_EQ(Stored("Port"), "COM2");
  EXPECT_EQ(Stored("BaudRate"), "19200");
  EXPECT_EQ(Stored("FileName"), "kept.bin");
  EXPECT_EQ(Stored("Type"), "<absent>");
}

TEST_F(SettingsTest, NoSpeedSelectedIsSavedAsTheSpeedAReadWouldUse) {
  FakeDialog dialog = Loaded();
  dialog.selected.erase(IDC_SPEED);
  ini.SavePortSettings(dialog);
  EXPECT_EQ(Stored("BaudRate"), "9600");
}

TEST(SettingsDefaultPath, FollowsTheRunningExecutable) {
  CIniFile ini;
  std::string executable = RunningExecutablePath();
  ASSERT_FALSE(executable.empty());
  std::string expected = executable.substr(0, executable.rfind('.')) + ".ini";
  if (executable.find('.', executable.find_last_of("\\/")) == std::string::npos)
    expected = executable + ".ini";
  EXPECT_EQ(std::string(ini.iniPath), expected);
}

}  // namespace
