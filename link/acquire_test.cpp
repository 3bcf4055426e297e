// The acquisition run against the simulated device on a real
// pseudo-terminal, with a recording fake of the dialog.
#include "link/acquire.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/device_protocol.h"
#include "link/run_state.h"
#include "link/test_pty.h"
#include "res/resource.h"
#include "sim/device_sim.h"
#include "sim/dump_builder.h"
#include "testsupport/fake_ui.h"
#include "testsupport/temp_dir.h"

namespace {

UiWindow const kDialog = reinterpret_cast<UiWindow>(0x110);

// A small but well-formed image: the model record, one daily report and
// erased memory, so a run takes a fraction of a second on the line.
std::vector<uint8_t> SmallImage() {
  static const uint16_t kRates[8] = {0,          2000,       900,        kRateUnset,
                                     kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  ReportData report;
  report.dateTime = PackDateTime(11, 3, 14, 18, 30);
  report.number = 1;
  report.groups[1] = 123456;
  DumpBuilder builder;
  builder.ModelRecord("ZA03").Erased(64).ModeAndRates(kModeFractional, kRates).Erased(64);
  builder.Report(report).Erased(2000);
  return builder.bytes();
}

std::string AsString(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string DumpFrame(const std::string& id) { return AsString(DumpCommandFrame(id)); }

const std::string kIdentify = "\xAA\x3F\x39\x35\x0A";

class AcquireTest : public testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    savedCwd_ = cwd;
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    ui.selected[IDC_SPEED] = 4;
    ui.checked[IDC_ALL_RECORDS] = true;
    ui.text[IDC_READ] = "Read";
    ui.text[IDC_FILE_NAME] = "unchanged";
    ui.focus = reinterpret_cast<UiWindow>(0x1014);
    busyFlag = 0;
    cancelFlag = 0;
  }
  void TearDown() override {
    device.Stop();
    ASSERT_EQ(0, chdir(savedCwd_.c_str()));
    busyFlag = 0;
    cancelFlag = 0;
  }

  void StartDevice(DeviceMode mode, const std::vector<uint8_t>& image = SmallImage(),
                   long bytesPerSecond = 0) {
    options.mode = mode;
    options.image = image;
    options.bytesPerSecond = bytesPerSecond;
    std::string error;
    ASSERT_TRUE(device.Start(options, &error)) << error;
    ui.text[IDC_PORT] = device.path();
  }

  // What the Read button does.
  void PressRead() {
    busyFlag = 1;
    AcquireDump(kDialog);
    busyFlag = 0;
  }

  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const FakeUi::Message& message : ui.messages) texts.push_back(message.text);
    return texts;
  }

  // The one message box of a failed run: owned by the dialog, no caption of
  // its own, error icon.
  void ExpectOneError(const std::string& text) {
    ASSERT_EQ(1u, ui.messages.size()) << ::testing::PrintToString(MessageTexts());
    EXPECT_EQ(text, ui.messages[0].text);
    EXPECT_EQ(kDialog, ui.messages[0].owner);
    EXPECT_FALSE(ui.messages[0].hasCaption);
    EXPECT_EQ(MessageIconError, ui.messages[0].icon);
  }

  // The controls are back in their idle state and the focus where it was.
  void ExpectIdle() {
    EXPECT_TRUE(ui.enabled[IDC_PORT]);
    EXPECT_TRUE(ui.enabled[IDC_SPEED]);
    EXPECT_TRUE(ui.enabled[IDC_CLOSE]);
    EXPECT_EQ("Read", ui.text[IDC_READ]);
    EXPECT_FALSE(ui.shown[IDC_PROGRESS]);
    EXPECT_FALSE(ui.shown[IDC_PROGRESS_LABEL]);
    EXPECT_EQ(reinterpret_cast<UiWindow>(0x1014), ui.focus);
  }

  std::string DumpPath(const std::string& id = "123456") const {
    char cwd[4096];
    return std::string(getcwd(cwd, sizeof cwd)) + "/" + id + ".bin";
  }

  // An earlier dump of the device, which a failed read must leave alone.
  void PlantEarlierDump() {
    ASSERT_TRUE(WriteFileBytes(DumpPath(), "EARLIER DUMP"));
    ASSERT_TRUE(WriteFileBytes(DumpPath() + ".txt", "EARLIER REPORT"));
  }
  void ExpectEarlierDumpUntouched() {
    EXPECT_EQ("EARLIER DUMP", ReadFileBytes(DumpPath()));
    EXPECT_EQ("EARLIER REPORT", ReadFileBytes(DumpPath() + ".txt"));
    EXPECT_EQ(2u, FilesInDirectory());
  }
  size_t FilesInDirectory() const {
    size_t count = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir.path())) {
      (void)entry;
      ++count;
    }
    return count;
  }

  TempDir dir;
  FakeUi ui;
  DeviceOptions options;
  PtyDevice device;

 private:
  std::string savedCwd_;
};

TEST_F(AcquireTest, ReadStoresTheImageAndReportsOnIt) {
  PlantEarlierDump();
  StartDevice(DeviceMode::Normal, GenerateDump(GenerateOptions()));
  std::string captionDuringRun;
  ui.onDispatch = [&](int) {
    if (captionDuringRun.empty()) captionDuringRun = ui.text[IDC_READ];
  };
  PressRead();

  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(ReportWritten, LastAcquireReportOutcome());
  // Exactly the two frames went out, identify first.
  EXPECT_EQ(kIdentify + DumpFrame("123456"), AsString(device.Received()));
  // The earlier dump and its report were replaced.
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
  EXPECT_EQ(DumpPath(), ui.text[IDC_FILE_NAME]);
  std::string report = ReadFileBytes(DumpPath() + ".txt");
  EXPECT_NE("EARLIER REPORT", report);
  EXPECT_NE(std::string::npos, report.find("\r\n"));
  EXPECT_EQ(2u, FilesInDirectory());
  // The report run's own box is the only message.
  EXPECT_EQ((std::vector<std::string>{"Parse successfull"}), MessageTexts());
  EXPECT_EQ(1, readTimeout);  // the transfer leaves it at one second

  // Running state and back.
  EXPECT_EQ("STOP", captionDuringRun);
  std::vector<std::pair<int, bool>> expected = {{IDC_PORT, false},  {IDC_SPEED, false},
                                                {IDC_CLOSE, false}, {IDC_PORT, true},
                                                {IDC_SPEED, true},  {IDC_CLOSE, true}};
  EXPECT_EQ(expected, ui.enableCalls);
  std::vector<std::pair<int, bool>> shows = {{IDC_PROGRESS_LABEL, true},
                                             {IDC_PROGRESS, true},
                                             {IDC_PROGRESS_LABEL, false},
                                             {IDC_PROGRESS, false}};
  EXPECT_EQ(shows, ui.showCalls);
  ExpectIdle();
  // A whole image moves the bar through every position once.
  ASSERT_EQ(100u, ui.progress.size());
  for (int i = 0; i < 100; ++i) EXPECT_EQ(i + 1, ui.progress[static_cast<size_t>(i)]);
}

TEST_F(AcquireTest, ReportOfASmallImage) {
  StartDevice(DeviceMode::Normal);
  PressRead();
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
  EXPECT_NE(std::string::npos, ReadFileBytes(DumpPath() + ".txt").find("1234.56"));
  // Only changes of the bar position are sent.
  EXPECT_EQ((std::vector<int>{1}), ui.progress);
}

TEST_F(AcquireTest, PortThatCannotBeOpened) {
  ui.text[IDC_PORT] = dir.File("no-such-port");
  PressRead();
  EXPECT_EQ(AcquirePortNotOpened, LastAcquireOutcome());
  ExpectOneError("Error opening serial port.");
  // The controls never left the idle state.
  std::vector<std::pair<int, bool>> expected = {
      {IDC_PORT, true}, {IDC_SPEED, true}, {IDC_CLOSE, true}};
  EXPECT_EQ(expected, ui.enableCalls);
  EXPECT_TRUE(ui.showCalls.empty());
  EXPECT_EQ("Read", ui.text[IDC_READ]);
  EXPECT_EQ(0u, FilesInDirectory());
  EXPECT_EQ(0, ui.dispatchCalls);  // no STOP or Close can come in
}

TEST_F(AcquireTest, SilentDeviceIsNoCommunicationAfterTwoTimeOuts) {
  PlantEarlierDump();
  StartDevice(DeviceMode::Silent);
  long long ms = MillisecondsOf([&] { PressRead(); });
  EXPECT_EQ(AcquireNoCommunication, LastAcquireOutcome());
  ExpectOneError("No communication.");
  // The 1-byte block read and then the line read, five seconds each.
  EXPECT_GE(ms, 8000);
  EXPECT_LT(ms, 13000);
  EXPECT_EQ(kIdentify, AsString(device.Received()));
  EXPECT_EQ(0, busyFlag);
  EXPECT_EQ(1, cancelFlag);
  ExpectIdle();
  ExpectEarlierDumpUntouched();
  EXPECT_EQ("unchanged", ui.text[IDC_FILE_NAME]);
}

TEST_F(AcquireTest, BadReceiptShowsTheReplyLine) {
  PlantEarlierDump();
  StartDevice(DeviceMode::BadReceipt);  // 0x15 "AB" CR LF
  PressRead();
  EXPECT_EQ(AcquireBadReceipt, LastAcquireOutcome());
  // The line overwrote the first byte.
  ExpectOneError("Bad Receipt:  0x41 0x42 ");
  EXPECT_EQ(kIdentify, AsString(device.Received()));
  ExpectIdle();
  ExpectEarlierDumpUntouched();
}

TEST_F(AcquireTest, OverlongBadReceiptShowsTwoHundredBytes) {
  options.badReceiptLine = std::string(3000, 'Q') + "\r\n";
  StartDevice(DeviceMode::BadReceipt);
  PressRead();
  EXPECT_EQ(AcquireBadReceipt, LastAcquireOutcome());
  std::string expected = "Bad Receipt:  ";
  for (int i = 0; i < 200; ++i) expected += "0x51 ";
  ExpectOneError(expected);
}

TEST_F(AcquireTest, OverlongIdentifyLineStillGivesTheIdAndTheDump) {
  StartDevice(DeviceMode::LongReply);
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(kIdentify + DumpFrame("123456"), AsString(device.Received()));
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
}

TEST_F(AcquireTest, RefusedDumpIsNoCommunication) {
  PlantEarlierDump();
  StartDevice(DeviceMode::Refuse);
  PressRead();
  EXPECT_EQ(AcquireNoDump, LastAcquireOutcome());
  ExpectOneError("No communication.");
  EXPECT_EQ(kIdentify + DumpFrame("123456"), AsString(device.Received()));
  // The progress controls were shown for the transfer and hidden again.
  EXPECT_EQ(4u, ui.showCalls.size());
  ExpectIdle();
  ExpectEarlierDumpUntouched();
  EXPECT_EQ("unchanged", ui.text[IDC_FILE_NAME]);
}

TEST_F(AcquireTest, NothingAfterTheDumpCommandIsNoCommunication) {
  PlantEarlierDump();
  StartDevice(DeviceMode::NoDump);
  PressRead();
  EXPECT_EQ(AcquireNoDump, LastAcquireOutcome());
  ExpectOneError("No communication.");
  ExpectIdle();
  ExpectEarlierDumpUntouched();
}

TEST_F(AcquireTest, APauseOfTheDeviceDoesNotEndTheTransfer) {
  StartDevice(DeviceMode::Pause);
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
}

TEST_F(AcquireTest, LineLostDuringTheTransferKeepsNoPartialImage) {
  PlantEarlierDump();
  StartDevice(DeviceMode::HangUp);
  PressRead();
  EXPECT_EQ(AcquireNoDump, LastAcquireOutcome());
  ExpectOneError("No communication.");
  ExpectIdle();
  ExpectEarlierDumpUntouched();
}

TEST_F(AcquireTest, StopDuringTheTransferDropsTheImageSilently) {
  PlantEarlierDump();
  StartDevice(DeviceMode::Normal, GenerateDump(GenerateOptions()), 11520);
  // The dialog's STOP press, delivered by a message dispatched in the read.
  int stopAt = 0;
  ui.onDispatch = [&](int call) {
    if (ui.progress.empty() || stopAt) return;
    stopAt = call;
    busyFlag = 0;
    cancelFlag = 1;
  };
  long long ms = MillisecondsOf([&] { PressRead(); });
  EXPECT_GT(stopAt, 0);
  EXPECT_EQ(AcquireStopped, LastAcquireOutcome());
  EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(MessageTexts());
  EXPECT_LT(ms, 6000);
  ExpectIdle();
  ExpectEarlierDumpUntouched();
  EXPECT_EQ("unchanged", ui.text[IDC_FILE_NAME]);
}

// The dialog's STOP (busy flag cleared, cancel flag set) or Close (busy flag
// cleared) at the first message dispatched while the device is identified,
// or during the final, empty block, after the device sent everything: the
// run ends without a message and stores nothing.
class StopOrCloseTest : public AcquireTest {
 protected:
  void PressAt(bool stop, bool lastBlock) {
    PlantEarlierDump();
    // Whole blocks only, so the block read after the image is the empty one.
    std::vector<uint8_t> image = SmallImage();
    image.resize(2560, 0xFF);
    StartDevice(DeviceMode::Normal, image);
    bool pressed = false;
    ui.onDispatch = [&](int) {
      // The device counts a transfer as ended once the host took every byte.
      if (pressed || (lastBlock && device.TransfersEnded() == 0)) return;
      pressed = true;
      busyFlag = 0;
      if (stop) cancelFlag = 1;
    };
    PressRead();
    EXPECT_TRUE(pressed);
    EXPECT_EQ(AcquireStopped, LastAcquireOutcome());
    EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(MessageTexts());
    ExpectIdle();
    ExpectEarlierDumpUntouched();
  }
};

TEST_F(StopOrCloseTest, StopWhileIdentifying) { PressAt(true, false); }
TEST_F(StopOrCloseTest, CloseWhileIdentifying) { PressAt(false, false); }
TEST_F(StopOrCloseTest, StopDuringTheLastEmptyBlock) { PressAt(true, true); }
TEST_F(StopOrCloseTest, CloseDuringTheLastEmptyBlock) { PressAt(false, true); }

// Storing the dump and reporting on it dispatch no message: a STOP or Close
// pressed then waits for the run's end and cannot cut either short.
TEST_F(StopOrCloseTest, NothingIsDispatchedWhileStoringAndReporting) {
  StartDevice(DeviceMode::Normal);
  bool dispatchedOnceStored = false;
  ui.onDispatch = [&](int) { dispatchedOnceStored = dispatchedOnceStored || FileExists(DumpPath()); };
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_FALSE(dispatchedOnceStored);
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
  EXPECT_TRUE(FileExists(DumpPath() + ".txt"));
}

// A silent device: STOP cuts only the first wait short; the line read after
// it still takes its five seconds, and the identify failure is told.
TEST_F(AcquireTest, StopWhileASilentDeviceIsIdentified) {
  PlantEarlierDump();
  StartDevice(DeviceMode::Silent);
  ui.onDispatch = [&](int) {
    busyFlag = 0;
    cancelFlag = 1;
  };
  long long ms = MillisecondsOf([&] { PressRead(); });
  EXPECT_EQ(AcquireNoCommunication, LastAcquireOutcome());
  ExpectOneError("No communication.");
  EXPECT_GE(ms, 5000);
  EXPECT_LT(ms, 7800);
  ExpectIdle();
  ExpectEarlierDumpUntouched();
}

TEST_F(AcquireTest, ImageAtTheCapKeepsTheBytesBeforeTheLastBlock) {
  StartDevice(DeviceMode::Oversize, GenerateDump(GenerateOptions()));
  PressRead();
  ASSERT_EQ(AcquireDone, LastAcquireOutcome());
  std::string stored = ReadFileBytes(DumpPath());
  EXPECT_LT(stored.size(), static_cast<size_t>(kDumpBufferSize));
  EXPECT_GT(stored.size(), static_cast<size_t>(kDumpBufferSize - 1 - 256));
  std::vector<uint8_t> streamed = options.image;
  streamed.resize(2200000, 0xFF);
  EXPECT_EQ(AsString(streamed).substr(0, stored.size()), stored);
}

TEST_F(AcquireTest, DeviceIdCannotLeadTheFileOutOfTheDirectory) {
  options.id = "../x/y";
  StartDevice(DeviceMode::Normal);
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(kIdentify + DumpFrame("../x/y"), AsString(device.Received()));
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath(".._x_y")));
  EXPECT_EQ(2u, FilesInDirectory());
}

TEST_F(AcquireTest, DumpThatCannotBeWrittenGetsNoReport) {
  // A directory where the dump file should go: the write must fail.
  std::filesystem::create_directory(DumpPath());
  ASSERT_TRUE(WriteFileBytes(DumpPath() + "/keep", "x"));
  StartDevice(DeviceMode::Normal);
  PressRead();
  EXPECT_EQ(AcquireDumpNotWritten, LastAcquireOutcome());
  // Only the writer's own box, with the system's reason.
  ASSERT_EQ(1u, ui.messages.size());
  EXPECT_EQ("Error", ui.messages[0].caption);
  EXPECT_FALSE(FileExists(DumpPath() + ".txt"));
  EXPECT_EQ("unchanged", ui.text[IDC_FILE_NAME]);
  EXPECT_EQ("x", ReadFileBytes(DumpPath() + "/keep"));
  ExpectIdle();
}

TEST_F(AcquireTest, InvalidBoundIsToldAfterTheDumpIsStored) {
  ui.checked[IDC_ALL_RECORDS] = false;
  ui.checked[IDC_BY_NUMBER] = true;
  ui.text[IDC_FROM] = "abc";
  ui.text[IDC_TO] = "10";
  StartDevice(DeviceMode::Normal);
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(ReportInvalidBound, LastAcquireReportOutcome());
  EXPECT_EQ((std::vector<std::string>{"Invalid input value \"from\""}), MessageTexts());
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
  EXPECT_FALSE(FileExists(DumpPath() + ".txt"));
}

TEST_F(AcquireTest, ShowResultOpensTheReport) {
  ui.checked[IDC_SHOW_RESULT] = true;
  StartDevice(DeviceMode::Normal);
  PressRead();
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ((std::vector<std::string>{DumpPath() + ".txt"}), ui.opened);
}

}  // namespace
