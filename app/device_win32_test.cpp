// The Win32 serial line and everything above it against the simulated
// fiscal device, on COM ports that Wine maps onto the simulator's
// pseudo-terminals (scripts/with-sim). Each case names the device behaviour
// it needs; without the simulator the cases are skipped.
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "app/main_dialog.h"
#include "app/main_window.h"
#include "link/acquire.h"
#include "link/device_protocol.h"
#include "link/run_state.h"
#include "link/serial_line_win32.h"
#include "link/serial_port.h"
#include "res/resource.h"
#include "settings/settings_store.h"
#include "sim/dump_builder.h"
#include "testsupport/fake_ui.h"
#include "testsupport/temp_dir.h"

namespace {

std::string DevicePort(const char* name) {
  const char* port = std::getenv((std::string("TAXOSCOPE_SIM_") + name).c_str());
  return port ? port : "";
}

#define REQUIRE_DEVICE(var, name)                                                \
  const std::string var = DevicePort(name);                                     \
  if (var.empty()) GTEST_SKIP() << "no simulated " name " device (scripts/with-sim runs one)"

// The image a simulated device serves, as the native simulator wrote it.
std::string Image(const char* device) {
  const char* path = std::getenv((std::string("TAXOSCOPE_SIM_") + device + "_IMAGE").c_str());
  std::string image = path ? ReadFileBytes(path) : std::string();
  EXPECT_FALSE(image.empty()) << "no image file for the " << device << " device";
  return image;
}

const uint8_t kIdentifyFrame[] = {0xAA, 0x3F, 0x39, 0x35, 0x0A};

double SecondsSince(DWORD start) { return (GetTickCount() - start) / 1000.0; }

// A port opened by the link's own OpenComPort, closed on every path.
class OpenPort {
 public:
  OpenPort(const std::string& name, uint32_t baud) : line(OpenComPort(name.c_str(), baud)) {}
  std::unique_ptr<DeviceLine> line;
};

// Each case runs in a fresh current directory, where reads store their dumps.
class DeviceTest : public testing::Test {
 protected:
  DeviceTest() {
    char path[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof path, path);
    savedDirectory_ = path;
    SetCurrentDirectoryA(dir.path().c_str());
    busyFlag = 0;
    cancelFlag = 0;
    readTimeout = 5;
  }
  ~DeviceTest() override { SetCurrentDirectoryA(savedDirectory_.c_str()); }

  std::string DumpPath() { return dir.File("123456.bin"); }

  TempDir dir;

 private:
  std::string savedDirectory_;
};

using SerialWin32 = DeviceTest;

TEST_F(SerialWin32, OpensByNameOrDevicePathWithTheDeviceLine) {
  REQUIRE_DEVICE(port, "NORMAL");
  {
    OpenPort byName(port, 115200);
    ASSERT_TRUE(byName.line);
  }
  {
    // What a line opens with, read back from the port.
    HANDLE handle = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    SetPortLineAndTimeouts(handle, 115200);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(handle, &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_FALSE(dcb.fOutX);
    COMMTIMEOUTS timeouts = {};
    ASSERT_TRUE(GetCommTimeouts(handle, &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 500u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 1000u);
    CloseHandle(handle);
  }
  // Not shared: the port opens again once closed, and by its device path.
  OpenPort byPath("\\\\.\\" + port, 9600);
  EXPECT_TRUE(byPath.line);
  OpenPort missing("COM199", 9600);
  EXPECT_FALSE(missing.line);
}

// A name that is a file opens as a file, not as a port: it is refused as one
// that cannot be opened, and nothing is written into it.
TEST_F(SerialWin32, AFileIsNoPortAndIsLeftUntouched) {
  std::string notes = dir.File("notes.txt");
  ASSERT_TRUE(WriteFileBytes(notes, "shopping list"));
  EXPECT_FALSE(OpenComPort(notes.c_str(), 9600));
  EXPECT_FALSE(OpenComPort(dir.path().c_str(), 9600)) << "nor a folder";
  FakeUi ui;
  ui.text[IDC_PORT] = notes;
  busyFlag = 1;
  AcquireDump(nullptr);
  EXPECT_EQ(LastAcquireOutcome(), AcquirePortNotOpened);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Error opening serial port.");
  EXPECT_EQ(ReadFileBytes(notes), "shopping list");
}

// The line is set whole: whatever another program left on the port (NUL
// bytes stripped, a flow control, DSR sensitivity), the image's bytes all
// come; the modem control lines keep what the port had.
TEST_F(SerialWin32, TheLineIsSetWholeWhateverThePortWasLeftWith) {
  DCB left = {};
  left.DCBlength = sizeof left;
  left.fNull = TRUE;
  left.fDsrSensitivity = TRUE;
  left.fOutxCtsFlow = TRUE;
  left.fOutxDsrFlow = TRUE;
  left.fInX = TRUE;
  left.fOutX = TRUE;
  left.fErrorChar = TRUE;
  left.fDtrControl = DTR_CONTROL_HANDSHAKE;
  left.fRtsControl = RTS_CONTROL_TOGGLE;
  left.Parity = EVENPARITY;
  left.ByteSize = 7;
  DCB set = left;
  SetWholeLine(&set, 57600);
  EXPECT_FALSE(set.fNull);
  EXPECT_FALSE(set.fDsrSensitivity);
  EXPECT_FALSE(set.fOutxCtsFlow);
  EXPECT_FALSE(set.fOutxDsrFlow);
  EXPECT_FALSE(set.fInX);
  EXPECT_FALSE(set.fOutX);
  EXPECT_FALSE(set.fErrorChar);
  EXPECT_TRUE(set.fBinary);
  EXPECT_EQ(set.BaudRate, 57600u);
  EXPECT_EQ(set.ByteSize, 8);
  EXPECT_EQ(set.Parity, NOPARITY);
  EXPECT_EQ(set.StopBits, ONESTOPBIT);
  EXPECT_EQ(set.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
  EXPECT_EQ(set.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));

  // On a port: what the port keeps of it is read back cleared.
  REQUIRE_DEVICE(port, "NORMAL");
  HANDLE handle = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  DCB before = {};
  before.DCBlength = sizeof before;
  ASSERT_TRUE(GetCommState(handle, &before));
  before.fOutxCtsFlow = TRUE;
  before.fInX = TRUE;
  before.fOutX = TRUE;
  before.fNull = TRUE;
  SetCommState(handle, &before);
  SetPortLineAndTimeouts(handle, 115200);
  DCB after = {};
  after.DCBlength = sizeof after;
  ASSERT_TRUE(GetCommState(handle, &after));
  EXPECT_FALSE(after.fOutxCtsFlow);
  EXPECT_FALSE(after.fInX);
  EXPECT_FALSE(after.fOutX);
  EXPECT_FALSE(after.fNull);
  CloseHandle(handle);
}

TEST_F(SerialWin32, IdentifyGivesTheDeviceId) {
  REQUIRE_DEVICE(port, "NORMAL");
  OpenPort line(port, 115200);
  ASSERT_TRUE(line.line);
  ASSERT_TRUE(DropQueuedInput(*line.line));
  char reply[1024];
  int length = 0;
  ASSERT_EQ(IdentifyDevice(*line.line, reply, sizeof reply, &length), 1);
  EXPECT_EQ(reply[0], 0x0E);
  EXPECT_EQ(std::string(reply + 1, 6), "123456");
  EXPECT_GT(length, 6);
}

TEST_F(SerialWin32, PurgeDropsAStaleReplyBeforeWriting) {
  REQUIRE_DEVICE(port, "NORMAL");
  OpenPort line(port, 115200);
  ASSERT_TRUE(line.line);
  ASSERT_EQ(line.line->Write(kIdentifyFrame, sizeof kIdentifyFrame), 5);
  DWORD start = GetTickCount();
  while (line.line->InputWaiting() <= 0 && SecondsSince(start) < 3) Sleep(20);
  Sleep(200);  // the whole stale reply is in
  ASSERT_GT(line.line->InputWaiting(), 0);

  ASSERT_EQ(PurgeAndWrite(*line.line, kIdentifyFrame, sizeof kIdentifyFrame), 1);
  readTimeout = 2;
  char buffer[1024];
  int first = ReadLine(*line.line, buffer, sizeof buffer);
  ASSERT_GT(first, 7);
  EXPECT_EQ(buffer[0], 0x0E);
  EXPECT_EQ(std::string(buffer + first, 2), "\r\n");  // the line end was read too
  // One reply only: the stale one was dropped.
  Sleep(300);
  EXPECT_EQ(line.line->InputWaiting(), 0);
}

TEST_F(SerialWin32, SilentDeviceTimesOut) {
  REQUIRE_DEVICE(port, "SILENT");
  OpenPort line(port, 115200);
  ASSERT_TRUE(line.line);
  char buffer[64];

  // One port read: nothing for a whole second, then 0 bytes.
  DWORD start = GetTickCount();
  EXPECT_EQ(line.line->Read(buffer, sizeof buffer), 0);
  EXPECT_GE(SecondsSince(start), 0.8);
  EXPECT_LE(SecondsSince(start), 2.5);

  // A timed block read: readTimeout seconds, give or take one.
  readTimeout = 2;
  start = GetTickCount();
  EXPECT_EQ(ReadBlock(*line.line, buffer, 1), 0);
  EXPECT_GE(SecondsSince(start), 0.9);
  EXPECT_LE(SecondsSince(start), 4.0);

  readTimeout = 1;
  start = GetTickCount();
  EXPECT_EQ(ReadLine(*line.line, buffer, sizeof buffer), 0);
  EXPECT_LE(SecondsSince(start), 3.0);

  // After STOP the first empty read ends it, well before the time-out.
  readTimeout = 5;
  cancelFlag = 1;
  start = GetTickCount();
  EXPECT_EQ(ReadBlock(*line.line, buffer, 1), 0);
  EXPECT_LE(SecondsSince(start), 2.5);
}

// Opens the device's port, identifies the device and receives its image into
// the dump buffer, as a read does. Gives the image's size, -1 when the device
// could not be identified.
int ReceiveImage(const std::string& port) {
  OpenPort line(port, 115200);
  EXPECT_TRUE(line.line);
  if (!line.line) return -1;
  EXPECT_TRUE(DropQueuedInput(*line.line));
  char reply[1024];
  int length = 0;
  if (IdentifyDevice(*line.line, reply, sizeof reply, &length) != 1) {
    ADD_FAILURE() << "the device was not identified";
    return -1;
  }
  busyFlag = 1;
  return ReceiveDump(*line.line, nullptr, reply + 1);
}

TEST_F(SerialWin32, ReceivesTheWholeImage) {
  REQUIRE_DEVICE(port, "NORMAL");
  FakeUi ui;
  std::string image = Image("NORMAL");
  int total = ReceiveImage(port);
  ASSERT_EQ(total, static_cast<int>(image.size()));
  EXPECT_TRUE(std::memcmp(dumpBuffer, image.data(), image.size()) == 0);
  EXPECT_EQ(readTimeout, 1);
  ASSERT_FALSE(ui.progress.empty());
  EXPECT_EQ(ui.progress.back(), 100);
}

TEST_F(SerialWin32, PauseInTheImageIsNotItsEnd) {
  REQUIRE_DEVICE(port, "PAUSE");
  FakeUi ui;
  std::string image = Image("PAUSE");
  ASSERT_EQ(ReceiveImage(port), static_cast<int>(image.size()));
  EXPECT_TRUE(std::memcmp(dumpBuffer, image.data(), image.size()) == 0);
}

using AcquireWin32 = DeviceTest;

// The run as the command line and the dialog start it, with recorded UI.
void PrepareRun(FakeUi* ui, const std::string& port) {
  ui->text[IDC_PORT] = port;
  ui->selected[IDC_SPEED] = 4;  // 115200
  ui->checked[IDC_ALL_RECORDS] = true;
  busyFlag = 1;
}

TEST_F(AcquireWin32, StoresTheDumpAndReportsOnIt) {
  REQUIRE_DEVICE(port, "NORMAL");
  ASSERT_TRUE(WriteFileBytes(DumpPath(), "an older dump of the same device"));
  FakeUi ui;
  PrepareRun(&ui, port);
  AcquireDump(nullptr);
  EXPECT_EQ(LastAcquireOutcome(), AcquireDone);
  std::vector<std::string> texts;
  for (const auto& m : ui.messages) texts.push_back(m.text);
  EXPECT_EQ(texts, std::vector<std::string>{"Parse successfull"});
  EXPECT_TRUE(ReadFileBytes(DumpPath()) == Image("NORMAL")) << "the dump is the image byte for byte";
  EXPECT_TRUE(FileExists(DumpPath() + ".txt"));
  EXPECT_EQ(ui.text[IDC_FILE_NAME], DumpPath());
  EXPECT_EQ(ui.text[IDC_READ], "Read");
  EXPECT_FALSE(ui.shown[IDC_PROGRESS]);
  // No temporary file is left beside the dump.
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(dir.File("*").c_str(), &found);
  int files = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  EXPECT_EQ(files, 2);
}

TEST_F(AcquireWin32, BadReceiptShowsTheReplyBytes) {
  REQUIRE_DEVICE(port, "BAD_RECEIPT");
  FakeUi ui;
  PrepareRun(&ui, port);
  AcquireDump(nullptr);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Bad Receipt:  0x41 0x42 ");
  EXPECT_EQ(ui.messages[0].icon, MessageIconError);
  EXPECT_FALSE(FileExists(DumpPath()));
  EXPECT_EQ(ui.text[IDC_READ], "Read");
}

TEST_F(AcquireWin32, RefusedDumpIsNoCommunication) {
  REQUIRE_DEVICE(port, "REFUSE");
  FakeUi ui;
  PrepareRun(&ui, port);
  AcquireDump(nullptr);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "No communication.");
  EXPECT_FALSE(FileExists(DumpPath()));
}

// The same run over Winsock: a device behind the simulator's TCP port.
using NetworkWin32 = DeviceTest;

TEST_F(NetworkWin32, ReadsADeviceBehindARawTcpPort) {
  REQUIRE_DEVICE(address, "NET");
  FakeUi ui;
  PrepareRun(&ui, address);
  speedNoteShown = false;
  AcquireDump(nullptr);
  EXPECT_EQ(LastAcquireOutcome(), AcquireDone);
  std::vector<std::string> texts;
  for (const auto& m : ui.messages) texts.push_back(m.text);
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "The speed chosen (115200) is not used: a tcp:// port runs at the speed set on its "
                       "device server.",
                       "Parse successfull"}));
  EXPECT_TRUE(ReadFileBytes(DumpPath()) == Image("NET")) << "the dump is the image byte for byte";
  EXPECT_EQ(ui.text[IDC_FILE_NAME], DumpPath());
}

TEST_F(NetworkWin32, Rfc2217SetsTheLineAndTellsOfTheServersOverrun) {
  REQUIRE_DEVICE(address, "NET_RFC2217");
  FakeUi ui;
  PrepareRun(&ui, address);
  speedNoteShown = false;
  AcquireDump(nullptr);
  EXPECT_EQ(LastAcquireOutcome(), AcquireDone);
  EXPECT_EQ(LastAcquireTransfer().faults.overruns, 1u);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].text.find("The line lost bytes while the image came in (1 overrun): "), 0u)
      << ui.messages[0].text;
  EXPECT_EQ(ui.messages[1].text, "Parse successfull");
  EXPECT_TRUE(ReadFileBytes(DumpPath()) == Image("NET_RFC2217"));
}

TEST_F(NetworkWin32, ARefusedConnectionAndAnUnknownHostAreTold) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET bound = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  ASSERT_EQ(bind(bound, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(getsockname(bound, reinterpret_cast<sockaddr*>(&address), &length), 0);
  std::string closed = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  std::string why;
  EXPECT_FALSE(OpenComPort(closed.c_str(), 9600, &why));
  EXPECT_EQ(why, closed + ": the connection was refused (is the device server's port right?)");
  closesocket(bound);
  EXPECT_FALSE(OpenComPort("rfc2217://no-such-host.invalid:4001", 9600, &why));
  EXPECT_EQ(why.find("rfc2217://no-such-host.invalid:4001: the host no-such-host.invalid is not known ("), 0u)
      << why;
  WSACleanup();
}

// The real dialog, as the user drives it.
class DialogReadTest : public DeviceTest {
 protected:
  DialogReadTest() {
    appInstance = GetModuleHandleA(nullptr);
    std::strcpy(savedIniPath_, iniFile.iniPath);
    std::strcpy(iniFile.iniPath, dir.File("taxoscope.ini").c_str());
    WriteSetting(iniFile.iniPath, "main", "BaudRate", "115200");
  }
  ~DialogReadTest() override { std::strcpy(iniFile.iniPath, savedIniPath_); }

  INT_PTR RunDialog() {
    return DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
  }

  // Types the port into the box and presses Read.
  static ModalScript::Step StartRead(const std::string& port) {
    return [port](HWND dialog) {
      if (!IsDialogTitled(dialog, "Taxoscope")) return false;
      SetDlgItemTextA(dialog, IDC_PORT, port.c_str());
      Click(dialog, IDC_READ);
      return true;
    };
  }

  // True while the image comes in: the progress bar is up.
  static bool Transferring(HWND dialog) {
    return IsWindowVisible(GetDlgItem(dialog, IDC_PROGRESS));
  }

  RecordingWin32Ui ui;

 private:
  char savedIniPath_[kIniPathSize];
};

TEST_F(DialogReadTest, ReadStoresTheDumpAndShowsItsPath) {
  REQUIRE_DEVICE(port, "NORMAL");
  HWND seen = nullptr;
  bool runningStateSeen = false;
  ui.onDispatch = [&](int) {
    if (!seen || runningStateSeen || !Transferring(seen)) return;
    runningStateSeen = true;
    EXPECT_EQ(ControlText(seen, IDC_READ), "STOP");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(seen, IDC_PORT)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(seen, IDC_SPEED)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(seen, IDC_CLOSE)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(seen, IDC_BROWSE)));
    EXPECT_EQ(busyFlag, 1);
  };
  ModalScript script;
  script
      .Then([&](HWND dialog) {
        if (!IsDialogTitled(dialog, "Taxoscope")) return false;
        seen = dialog;
        Click(dialog, IDC_EXPORT);
        return StartRead(port)(dialog);
      })
      .Then([&](HWND dialog) {
        if (dialog != seen || ui.messages.empty()) return false;
        EXPECT_EQ(ControlText(dialog, IDC_FILE_NAME), DumpPath());
        EXPECT_EQ(ControlText(dialog, IDC_READ), "Read");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_CLOSE)));
        EXPECT_FALSE(Transferring(dialog));
        Click(dialog, IDC_CLOSE);
        return true;
      });
  EXPECT_EQ(RunDialog(), 0);
  EXPECT_TRUE(runningStateSeen);
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Parse successfull"});
  EXPECT_EQ(ui.messages[0].owner, seen);
  EXPECT_TRUE(ReadFileBytes(DumpPath()) == Image("NORMAL"));
  EXPECT_TRUE(FileExists(DumpPath() + ".txt"));
  // "export" was checked: the exports lie beside the report.
  EXPECT_TRUE(FileExists(DumpPath() + ".csv"));
  EXPECT_TRUE(FileExists(DumpPath() + ".html"));
  EXPECT_EQ(ReadSetting(iniFile.iniPath, "main", "Port", ""), port);
  EXPECT_EQ(ReadSetting(iniFile.iniPath, "main", "Export", ""), "1");
  EXPECT_EQ(ReadSetting(iniFile.iniPath, "main", "FileName", ""), DumpPath());
  EXPECT_EQ(busyFlag, 0);
}

TEST_F(DialogReadTest, SecondPressIsStop) {
  REQUIRE_DEVICE(port, "STOP");
  HWND seen = nullptr;
  bool stopped = false;
  ui.onDispatch = [&](int) {
    if (seen && !stopped && Transferring(seen)) {
      stopped = true;
      Click(seen, IDC_READ);  // the button reads "STOP" now
    }
  };
  ModalScript script;
  script
      .Then([&](HWND dialog) {
        if (!IsDialogTitled(dialog, "Taxoscope")) return false;
        seen = dialog;
        return StartRead(port)(dialog);
      })
      .Then([&](HWND dialog) {
        if (dialog != seen || !stopped || Transferring(dialog) || busyFlag) return false;
        EXPECT_EQ(ControlText(dialog, IDC_READ), "Read");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_PORT)));
        Click(dialog, IDC_CLOSE);
        return true;
      });
  EXPECT_EQ(RunDialog(), 0);
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
  EXPECT_FALSE(FileExists(DumpPath()));
  EXPECT_EQ(cancelFlag, 1);
}

TEST_F(DialogReadTest, CloseDuringAReadEndsTheDialogOnceTheReadWindsDown) {
  REQUIRE_DEVICE(port, "CLOSE");
  HWND seen = nullptr;
  bool closed = false;
  ui.onDispatch = [&](int) {
    if (seen && !closed && Transferring(seen)) {
      closed = true;
      Command(seen, IDC_CLOSE);
    }
  };
  ModalScript script;
  script.Then([&](HWND dialog) {
    if (!IsDialogTitled(dialog, "Taxoscope")) return false;
    seen = dialog;
    return StartRead(port)(dialog);
  });
  EXPECT_EQ(RunDialog(), 0);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(FileExists(DumpPath()));
  EXPECT_EQ(busyFlag, 0);
  EXPECT_EQ(ReadSetting(iniFile.iniPath, "main", "Port", ""), port);
}

// A network port that does not answer: the dialog is in its running state
// from before the connection comes about, its messages are dispatched, and
// STOP ends the read at once, without a message.
TEST_F(DialogReadTest, StopIsThereFromBeforeTheConnect) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  // A listener whose one place in the queue is taken: the next connection
  // hangs, as to an address that drops what comes.
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  SOCKET held = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_EQ(connect(held, reinterpret_cast<sockaddr*>(&address), length), 0);
  const std::string port = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  HWND seen = nullptr;
  bool stopped = false;
  DWORD pressed = 0, ended = 0;
  ui.onDispatch = [&](int call) {
    if (!seen || stopped || call < 3) return;
    EXPECT_EQ(ControlText(seen, IDC_READ), "STOP");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(seen, IDC_PORT)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(seen, IDC_CLOSE)));
    EXPECT_FALSE(Transferring(seen));
    stopped = true;
    pressed = GetTickCount();
    Click(seen, IDC_READ);
  };
  ModalScript script;
  script
      .Then([&](HWND dialog) {
        if (!IsDialogTitled(dialog, "Taxoscope")) return false;
        seen = dialog;
        return StartRead(port)(dialog);
      })
      .Then([&](HWND dialog) {
        if (dialog != seen || !stopped || busyFlag) return false;
        ended = GetTickCount();
        EXPECT_EQ(ControlText(dialog, IDC_READ), "Read");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_PORT)));
        Click(dialog, IDC_CLOSE);
        return true;
      });
  EXPECT_EQ(RunDialog(), 0);
  EXPECT_TRUE(stopped);
  EXPECT_LT(ended - pressed, 2000u) << "not the connect time of 5 seconds";
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
  EXPECT_FALSE(FileExists(DumpPath()));
  closesocket(held);
  closesocket(listener);
  WSACleanup();
}

// Browse, the report options and the output boxes are off while a read
// runs: a Browse pressed then (or sent as a command) opens no file dialog
// inside the read, and the read ends with the report it began with.
TEST_F(DialogReadTest, BrowseDuringAReadDoesNothing) {
  REQUIRE_DEVICE(port, "BROWSE");
  HWND seen = nullptr;
  bool browsed = false;
  std::vector<int> liveDuringRead;
  ui.onDispatch = [&](int) {
    if (!seen || browsed || !Transferring(seen)) return;
    browsed = true;
    for (int i = 0; i < kRunControlCount; ++i) {
      if (IsWindowEnabled(GetDlgItem(seen, kRunControls[i]))) liveDuringRead.push_back(kRunControls[i]);
    }
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(seen, IDC_READ))) << "STOP stays";
    Click(seen, IDC_BROWSE);
    Command(seen, IDC_BROWSE);
  };
  ModalScript script;
  script
      .Then([&](HWND dialog) {
        if (!IsDialogTitled(dialog, "Taxoscope")) return false;
        seen = dialog;
        return StartRead(port)(dialog);
      })
      .Then([&](HWND dialog) {
        // A file dialog here would be the fault: only the read's own box may come.
        if (dialog != seen || ui.messages.empty() || busyFlag) return false;
        for (int i = 0; i < kRunControlCount; ++i)
          EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kRunControls[i]))) << kRunControls[i];
        Click(dialog, IDC_CLOSE);
        return true;
      });
  EXPECT_EQ(RunDialog(), 0);
  EXPECT_TRUE(browsed);
  EXPECT_TRUE(script.Finished());
  EXPECT_TRUE(liveDuringRead.empty()) << ::testing::PrintToString(liveDuringRead);
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Parse successfull"});
  EXPECT_TRUE(ReadFileBytes(DumpPath()) == Image("BROWSE"));
}

}  // namespace
