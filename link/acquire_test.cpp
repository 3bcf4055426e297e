// The acquisition run against the simulated device on a real
// pseudo-terminal, and once more behind a raw TCP port on the loopback, with
// a recording fake of the dialog.
#include "link/acquire.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/device_protocol.h"
#include "link/run_state.h"
#include "link/serial_port.h"
#include "link/test_peer.h"
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

// The line each case runs over: the serial port, or a device server's
// raw TCP port.
enum class Line { Serial, Tcp };

std::string LineName(const testing::TestParamInfo<Line>& info) {
  return info.param == Line::Serial ? "Serial" : "Tcp";
}

class AcquireTest : public testing::TestWithParam<Line> {
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
    speedNoteShown = true;  // the note on a tcp:// port's speed has cases of its own
  }
  void TearDown() override {
    device->Stop();
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
    ASSERT_TRUE(device->Start(options, &error)) << error;
    ui.text[IDC_PORT] = device->path();
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
    for (int i = 0; i < kRunControlCount; ++i) EXPECT_TRUE(ui.enabled[kRunControls[i]]) << kRunControls[i];
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
  std::unique_ptr<SimDevice> device = GetParam() == Line::Serial
                                          ? std::unique_ptr<SimDevice>(new PtyDevice)
                                          : std::unique_ptr<SimDevice>(new TcpDevice);

 private:
  std::string savedCwd_;
};

TEST_P(AcquireTest, ReadStoresTheImageAndReportsOnIt) {
  PlantEarlierDump();
  StartDevice(DeviceMode::Normal, GenerateDump(GenerateOptions()));
  std::string captionDuringRun;
  ui.onDispatch = [&](int) {
    if (captionDuringRun.empty()) captionDuringRun = ui.text[IDC_READ];
  };
  PressRead();

  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(ReportWritten, LastAcquireReportOutcome());
  EXPECT_FALSE(LastAcquireTransfer().faults.any());
  EXPECT_FALSE(LastAcquireTransfer().capReached);
  // Exactly the two frames went out, identify first.
  EXPECT_EQ(kIdentify + DumpFrame("123456"), AsString(device->Received()));
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

  // Running state and back: every control that starts or changes a run is
  // disabled, in the table's order, port, speed and Close first.
  EXPECT_EQ("STOP", captionDuringRun);
  std::vector<std::pair<int, bool>> expected;
  for (bool enable : {false, true}) {
    for (int i = 0; i < kRunControlCount; ++i) expected.push_back({kRunControls[i], enable});
  }
  EXPECT_EQ(expected, ui.enableCalls);
  EXPECT_EQ(IDC_PORT, kRunControls[0]);
  EXPECT_EQ(IDC_SPEED, kRunControls[1]);
  EXPECT_EQ(IDC_CLOSE, kRunControls[2]);
  for (int id : {IDC_BROWSE, IDC_ALL_RECORDS, IDC_BY_DATE, IDC_BY_NUMBER, IDC_FROM, IDC_TO,
                 IDC_SHOW_RESULT, IDC_EXPORT, IDC_LEDGER}) {
    EXPECT_NE(expected.begin() + kRunControlCount,
              std::find(expected.begin(), expected.begin() + kRunControlCount, std::make_pair(id, false)))
        << id;
  }
  EXPECT_EQ(std::find(kRunControls, kRunControls + kRunControlCount, IDC_READ),
            kRunControls + kRunControlCount)
      << "STOP stays";
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

TEST_P(AcquireTest, ReportOfASmallImage) {
  StartDevice(DeviceMode::Normal);
  PressRead();
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
  EXPECT_NE(std::string::npos, ReadFileBytes(DumpPath() + ".txt").find("1234.56"));
  // Only changes of the bar position are sent.
  EXPECT_EQ((std::vector<int>{1}), ui.progress);
}

TEST_P(AcquireTest, PortThatCannotBeOpened) {
  ui.text[IDC_PORT] = dir.File("no-such-port");
  PressRead();
  EXPECT_EQ(AcquirePortNotOpened, LastAcquireOutcome());
  ExpectOneError("Error opening serial port.");
  // The controls never left the idle state.
  for (const auto& call : ui.enableCalls) EXPECT_TRUE(call.second) << call.first;
  EXPECT_TRUE(ui.showCalls.empty());
  EXPECT_EQ("Read", ui.text[IDC_READ]);
  EXPECT_EQ(0u, FilesInDirectory());
  EXPECT_EQ(0, ui.dispatchCalls);  // no STOP or Close can come in
}

TEST_P(AcquireTest, SilentDeviceIsNoCommunicationAfterTwoTimeOuts) {
  PlantEarlierDump();
  StartDevice(DeviceMode::Silent);
  long long ms = MillisecondsOf([&] { PressRead(); });
  EXPECT_EQ(AcquireNoCommunication, LastAcquireOutcome());
  ExpectOneError("No communication.");
  // The 1-byte block read and then the line read, five seconds each.
  EXPECT_GE(ms, 8000);
  EXPECT_LT(ms, 13000);
  EXPECT_EQ(kIdentify, AsString(device->Received()));
  EXPECT_EQ(0, busyFlag);
  EXPECT_EQ(1, cancelFlag);
  ExpectIdle();
  ExpectEarlierDumpUntouched();
  EXPECT_EQ("unchanged", ui.text[IDC_FILE_NAME]);
}

TEST_P(AcquireTest, BadReceiptShowsTheReplyLine) {
  PlantEarlierDump();
  StartDevice(DeviceMode::BadReceipt);  // 0x15 "AB" CR LF
  PressRead();
  EXPECT_EQ(AcquireBadReceipt, LastAcquireOutcome());
  // The line overwrote the first byte.
  ExpectOneError("Bad Receipt:  0x41 0x42 ");
  EXPECT_EQ(kIdentify, AsString(device->Received()));
  ExpectIdle();
  ExpectEarlierDumpUntouched();
}

TEST_P(AcquireTest, OverlongBadReceiptShowsTwoHundredBytes) {
  options.badReceiptLine = std::string(3000, 'Q') + "\r\n";
  StartDevice(DeviceMode::BadReceipt);
  PressRead();
  EXPECT_EQ(AcquireBadReceipt, LastAcquireOutcome());
  std::string expected = "Bad Receipt:  ";
  for (int i = 0; i < 200; ++i) expected += "0x51 ";
  ExpectOneError(expected);
}

TEST_P(AcquireTest, OverlongIdentifyLineStillGivesTheIdAndTheDump) {
  StartDevice(DeviceMode::LongReply);
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(kIdentify + DumpFrame("123456"), AsString(device->Received()));
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
}

TEST_P(AcquireTest, RefusedDumpIsNoCommunication) {
  PlantEarlierDump();
  StartDevice(DeviceMode::Refuse);
  PressRead();
  EXPECT_EQ(AcquireNoDump, LastAcquireOutcome());
  ExpectOneError("No communication.");
  EXPECT_EQ(kIdentify + DumpFrame("123456"), AsString(device->Received()));
  // The progress controls were shown for the transfer and hidden again.
  EXPECT_EQ(4u, ui.showCalls.size());
  ExpectIdle();
  ExpectEarlierDumpUntouched();
  EXPECT_EQ("unchanged", ui.text[IDC_FILE_NAME]);
}

TEST_P(AcquireTest, NothingAfterTheDumpCommandIsNoCommunication) {
  PlantEarlierDump();
  StartDevice(DeviceMode::NoDump);
  PressRead();
  EXPECT_EQ(AcquireNoDump, LastAcquireOutcome());
  ExpectOneError("No communication.");
  ExpectIdle();
  ExpectEarlierDumpUntouched();
}

TEST_P(AcquireTest, APauseOfTheDeviceDoesNotEndTheTransfer) {
  StartDevice(DeviceMode::Pause);
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
}

TEST_P(AcquireTest, LineLostDuringTheTransferKeepsNoPartialImage) {
  PlantEarlierDump();
  StartDevice(DeviceMode::HangUp);
  PressRead();
  EXPECT_EQ(AcquireNoDump, LastAcquireOutcome());
  ExpectOneError("No communication.");
  ExpectIdle();
  ExpectEarlierDumpUntouched();
}

// A device that dies in the middle of a record while its line stays up (a
// register unplugged behind a device server that keeps the connection): its
// silence ends the image, which is then seen to be cut, and kept apart.
TEST_P(AcquireTest, ADeviceThatDiesInsideARecordLeavesAPartialAndTheDumpAsItWas) {
  PlantEarlierDump();
  std::vector<uint8_t> image = SmallImage();
  const size_t report = 2 * 64 + 32 + 38;  // the report record's type byte
  ASSERT_EQ(4, image[report]);
  options.pauseAt = report + 100;
  options.pauseMs = 60000;  // longer than any read waits
  StartDevice(DeviceMode::Pause, image);
  PressRead();
  EXPECT_EQ(AcquireImageCut, LastAcquireOutcome());
  EXPECT_EQ(ImageCut::EndsInsideRecord, LastAcquireImageCut().cut);
  ExpectOneError("The image came cut short: it ends inside a record (type 4 at byte 198 needs 334 bytes, "
                 "100 came). The 298 bytes received are kept in " + DumpPath() + ".partial; " + DumpPath() +
                 " is left as it was. Read the device again.");
  EXPECT_EQ(AsString(image).substr(0, report + 100), ReadFileBytes(DumpPath() + ".partial"));
  EXPECT_EQ("EARLIER DUMP", ReadFileBytes(DumpPath()));
  EXPECT_EQ("EARLIER REPORT", ReadFileBytes(DumpPath() + ".txt"));
  EXPECT_EQ("unchanged", ui.text[IDC_FILE_NAME]);
  ExpectIdle();
}

// A fiscal memory only grows: an image shorter than the dump stored for the
// device, or one that lacks a record of it, does not replace it. One that
// holds all of it and more does. (The rule is the run's, whatever the line:
// the serial line's quick end of an image keeps this lean.)
using StoredDumpTest = AcquireTest;

TEST_P(StoredDumpTest, AnImageThatLostPartOfTheMemoryNeverReplacesTheDump) {
  ReportData later;
  later.dateTime = PackDateTime(11, 3, 15, 18, 30);
  later.number = 2;
  later.groups[1] = 5000;
  DumpBuilder longer;
  longer.Bytes(SmallImage()).Report(later).Erased(100);
  const std::string stored = AsString(longer.bytes());
  ASSERT_TRUE(WriteFileBytes(DumpPath(), stored));
  StartDevice(DeviceMode::Normal);  // the small image: shorter than the dump
  PressRead();
  EXPECT_EQ(AcquireImageCut, LastAcquireOutcome());
  ASSERT_EQ(1u, ui.messages.size());
  EXPECT_EQ("The image came cut short: it is shorter (2532 bytes) than the dump already stored for this "
            "device (2966 bytes), and a fiscal memory only grows. The 2532 bytes received are kept in " +
                DumpPath() + ".partial; " + DumpPath() + " is left as it was. Read the device again. (Should " +
                DumpPath() + " itself be wrong, move it away first.)",
            ui.messages[0].text);
  EXPECT_EQ(stored, ReadFileBytes(DumpPath()));
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath() + ".partial"));
  EXPECT_FALSE(FileExists(DumpPath() + ".txt"));

  // As long, but a report is not the one stored.
  std::vector<uint8_t> other = longer.bytes();
  other[other.size() - 100 - 334 + 20] ^= 1;
  device->Stop();
  ui.messages.clear();
  StartDevice(DeviceMode::Normal, other);
  PressRead();
  EXPECT_EQ(AcquireImageCut, LastAcquireOutcome());
  EXPECT_EQ(ImageCut::LacksStoredRecord, LastAcquireImageCut().cut);
  EXPECT_EQ(stored, ReadFileBytes(DumpPath()));

  // The memory grew: the dump is replaced.
  device->Stop();
  std::vector<uint8_t> grown = longer.bytes();
  DumpBuilder more;
  more.Bytes(grown).Report(later).Erased(10);
  StartDevice(DeviceMode::Normal, more.bytes());
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(AsString(more.bytes()), ReadFileBytes(DumpPath()));
}

TEST_P(AcquireTest, StopDuringTheTransferDropsTheImageSilently) {
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
      // The device counts a transfer as ended once the host took every byte;
      // a network port's opening dispatches too, before the identify.
      if (pressed || device->IdentifyRequests() == 0 || (lastBlock && device->TransfersEnded() == 0)) return;
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

TEST_P(StopOrCloseTest, StopWhileIdentifying) { PressAt(true, false); }
TEST_P(StopOrCloseTest, CloseWhileIdentifying) { PressAt(false, false); }
TEST_P(StopOrCloseTest, StopDuringTheLastEmptyBlock) { PressAt(true, true); }
TEST_P(StopOrCloseTest, CloseDuringTheLastEmptyBlock) { PressAt(false, true); }

// Storing the dump and reporting on it dispatch no message: a STOP or Close
// pressed then waits for the run's end and cannot cut either short.
TEST_P(StopOrCloseTest, NothingIsDispatchedWhileStoringAndReporting) {
  StartDevice(DeviceMode::Normal);
  bool dispatchedOnceStored = false;
  ui.onDispatch = [&](int) { dispatchedOnceStored = dispatchedOnceStored || FileExists(DumpPath()); };
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_FALSE(dispatchedOnceStored);
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
  EXPECT_TRUE(FileExists(DumpPath() + ".txt"));
}

// A silent device: STOP ends the identify at the first empty read, without
// waiting out the line read after it, and the run ends as a stopped one: no
// message (the device was not found silent; the user stopped asking).
TEST_P(AcquireTest, StopWhileASilentDeviceIsIdentified) {
  PlantEarlierDump();
  StartDevice(DeviceMode::Silent);
  ui.onDispatch = [&](int) {
    if (device->IdentifyRequests() == 0) return;  // a network port still opening
    busyFlag = 0;
    cancelFlag = 1;
  };
  // The dialog's STOP does not cut the identify's line read short: the run
  // ends with the silence's message once that read has waited its time-out.
  long long ms = MillisecondsOf([&] { PressRead(); });
  EXPECT_EQ(AcquireNoCommunication, LastAcquireOutcome());
  ExpectOneError("No communication.");
  EXPECT_GE(ms, 5000);
  EXPECT_LT(ms, 7800);
  ExpectIdle();
  ExpectEarlierDumpUntouched();
}

TEST_P(AcquireTest, InterruptWhileASilentDeviceIsIdentifiedStopsAtOnce) {
  PlantEarlierDump();
  StartDevice(DeviceMode::Silent);
  ui.onDispatch = [&](int) {  // as the console does on Ctrl-C
    if (device->IdentifyRequests() == 0) return;  // a network port still opening
    busyFlag = 0;
    cancelFlag = 1;
    interruptFlag = 1;
  };
  long long ms = MillisecondsOf([&] { PressRead(); });
  EXPECT_EQ(AcquireStopped, LastAcquireOutcome());
  EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(MessageTexts());
  EXPECT_LT(ms, 2500);
  EXPECT_EQ(kIdentify, AsString(device->Received()));
  ExpectIdle();
  ExpectEarlierDumpUntouched();
}

TEST_P(AcquireTest, ImageAtTheCapKeepsTheBytesBeforeTheLastBlock) {
  StartDevice(DeviceMode::Oversize, GenerateDump(GenerateOptions()));
  PressRead();
  ASSERT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_TRUE(LastAcquireTransfer().capReached);
  EXPECT_EQ((std::vector<std::string>{"Parse successfull"}), MessageTexts()) << "the dialog keeps quiet";
  std::string stored = ReadFileBytes(DumpPath());
  EXPECT_LT(stored.size(), static_cast<size_t>(kDumpBufferSize));
  EXPECT_GT(stored.size(), static_cast<size_t>(kDumpBufferSize - 1 - 256));
  std::vector<uint8_t> streamed = options.image;
  streamed.resize(2200000, 0xFF);
  EXPECT_EQ(AsString(streamed).substr(0, stored.size()), stored);
}

TEST_P(AcquireTest, DeviceIdCannotLeadTheFileOutOfTheDirectory) {
  options.id = "../x/y";
  StartDevice(DeviceMode::Normal);
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(kIdentify + DumpFrame("../x/y"), AsString(device->Received()));
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath(".._x_y")));
  EXPECT_EQ(2u, FilesInDirectory());
}

TEST_P(AcquireTest, DumpThatCannotBeWrittenGetsNoReport) {
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

TEST_P(AcquireTest, InvalidBoundIsToldAfterTheDumpIsStored) {
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

TEST_P(AcquireTest, ShowResultOpensTheReport) {
  ui.checked[IDC_SHOW_RESULT] = true;
  StartDevice(DeviceMode::Normal);
  PressRead();
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ((std::vector<std::string>{DumpPath() + ".txt"}), ui.opened);
}

// Reads through a device server's port: what only a network port shows.
using NetworkReadTest = AcquireTest;

TEST_P(NetworkReadTest, TheUnusedSpeedIsToldOnceAndOnlyWhenOneWasChosen) {
  StartDevice(DeviceMode::Normal);
  speedNoteShown = false;
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  ASSERT_EQ(2u, ui.messages.size());
  EXPECT_EQ("The speed chosen (115200) is not used: a tcp:// port runs at the speed set on its device server.",
            ui.messages[0].text);
  EXPECT_EQ(MessageIconInformation, ui.messages[0].icon);
  EXPECT_EQ("Parse successfull", ui.messages[1].text);

  ui.messages.clear();
  PressRead();
  EXPECT_EQ((std::vector<std::string>{"Parse successfull"}), MessageTexts()) << "once in a process";

  ui.messages.clear();
  speedNoteShown = false;
  ui.selected.erase(IDC_SPEED);  // no speed chosen (the command line without --baud)
  PressRead();
  EXPECT_EQ((std::vector<std::string>{"Parse successfull"}), MessageTexts());
  EXPECT_FALSE(speedNoteShown);
}

TEST_P(NetworkReadTest, AFailedConnectionIsAPortThatCannotBeOpenedWithItsReason) {
  StartDevice(DeviceMode::Normal);
  std::string address = device->path();
  device->Stop();  // nobody listens there now
  PressRead();
  EXPECT_EQ(AcquirePortNotOpened, LastAcquireOutcome());
  ExpectOneError("Error opening serial port.\n" + address +
                 ": the connection was refused (is the device server's port right?)");
  // A network port opens with the dialog in its running state (STOP works
  // from the first moment), and back.
  std::vector<std::pair<int, bool>> expected;
  for (bool enable : {false, true}) {
    for (int i = 0; i < kRunControlCount; ++i) expected.push_back({kRunControls[i], enable});
  }
  EXPECT_EQ(expected, ui.enableCalls);
  ExpectIdle();
  EXPECT_EQ(0u, FilesInDirectory());
}

// STOP from before the connection comes about: the dialog is in its running
// state and its messages are dispatched while the port does not answer, and
// STOP ends the read at once, without a message.
TEST_P(NetworkReadTest, StopWorksFromBeforeTheConnect) {
  TestPeer blackHole(0);
  ASSERT_TRUE(blackHole.ok());
  blackHole.Hold();
  ui.text[IDC_PORT] = blackHole.Address("tcp");
  PlantEarlierDump();
  bool runningSeen = false;
  ui.onDispatch = [&](int call) {
    runningSeen = runningSeen || (ui.text[IDC_READ] == "STOP" && !ui.enabled[IDC_PORT] && !ui.enabled[IDC_CLOSE]);
    if (call < 5) return;
    busyFlag = 0;  // STOP
    cancelFlag = 1;
  };
  long long ms = MillisecondsOf([&] { PressRead(); });
  EXPECT_TRUE(runningSeen);
  EXPECT_EQ(AcquireStopped, LastAcquireOutcome());
  EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(MessageTexts());
  EXPECT_LT(ms, 2000) << "not the connect time of 5 seconds";
  ExpectIdle();
  ExpectEarlierDumpUntouched();
}

// A stall of the network shorter than a network line's end-of-image silence
// is not the image's end: the image arrives whole.
TEST_P(NetworkReadTest, AStallShorterThanTheEndOfImageSilenceIsNoEnd) {
  options.pauseMs = 2500;
  StartDevice(DeviceMode::Pause);
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
  EXPECT_FALSE(FileExists(DumpPath() + ".partial"));
}

TEST_P(NetworkReadTest, ThroughAnRfc2217ServerTheLineIsSetAsChosen) {
  TcpDevice server(true);
  options.image = SmallImage();
  std::string error;
  ASSERT_TRUE(server.Start(options, &error)) << error;
  ui.text[IDC_PORT] = server.path();
  ui.selected[IDC_SPEED] = 2;  // 38400
  speedNoteShown = false;
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ((std::vector<std::string>{"Parse successfull"}), MessageTexts()) << "this port sets its speed";
  EXPECT_EQ(38400u, server.settings().baud.load());
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
  EXPECT_EQ(kIdentify + DumpFrame("123456"), AsString(server.Received()));
}

// The device server's line overran while the image came in: every block
// arrived, so the dump is stored and reported on, and the loss is told.
TEST_P(NetworkReadTest, BytesLostOnTheServersLineAreToldAndTheDumpKept) {
  PlantEarlierDump();
  TcpDevice server(true, 1000);
  options.image = SmallImage();
  std::string error;
  ASSERT_TRUE(server.Start(options, &error)) << error;
  ui.text[IDC_PORT] = server.path();
  PressRead();
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(1u, LastAcquireTransfer().faults.overruns);
  ASSERT_EQ(2u, ui.messages.size()) << ::testing::PrintToString(MessageTexts());
  EXPECT_EQ("The line lost bytes while the image came in (1 overrun): " + DumpPath() +
                " is stored, but it is not a whole image of the fiscal memory. Read the device again.",
            ui.messages[0].text);
  EXPECT_EQ(MessageIconError, ui.messages[0].icon);
  EXPECT_EQ("Parse successfull", ui.messages[1].text);
  EXPECT_EQ(AsString(options.image), ReadFileBytes(DumpPath()));
  EXPECT_TRUE(FileExists(DumpPath() + ".txt"));
  EXPECT_NE("EARLIER REPORT", ReadFileBytes(DumpPath() + ".txt"));
}

INSTANTIATE_TEST_SUITE_P(Line, NetworkReadTest, testing::Values(Line::Tcp), LineName);

// A line that reports faults at chosen calls of TakeFaults, over a real one.
class FaultyLine : public DeviceLine {
 public:
  FaultyLine(std::unique_ptr<DeviceLine> line, std::vector<int> overrunAtCall)
      : line_(std::move(line)), overrunAtCall_(std::move(overrunAtCall)) {}
  int32_t Read(void* buffer, int32_t count) override { return line_->Read(buffer, count); }
  int32_t Write(const void* bytes, int32_t count) override { return line_->Write(bytes, count); }
  int32_t InputWaiting() override { return line_->InputWaiting(); }
  LineFaults TakeFaults() override {
    LineFaults faults;
    ++calls;
    for (int call : overrunAtCall_) faults.overruns += call == calls;
    return faults;
  }
  int calls = 0;

 private:
  std::unique_ptr<DeviceLine> line_;
  std::vector<int> overrunAtCall_;
};

// The faults are read before the dump command (and forgotten: they are no
// hole in the image), after every block and once more at the end.
TEST(ReceiveDumpFaults, CountedDuringAndAfterTheTransferNotBefore) {
  FakeUi ui;
  PtyDevice device;
  DeviceOptions options;
  options.image = std::vector<uint8_t>(1000, 0x11);  // four blocks, then the empty one
  std::string error;
  ASSERT_TRUE(device.Start(options, &error)) << error;
  FaultyLine line(OpenComPort(device.path().c_str(), 115200), {1, 3, 7});
  busyFlag = 1;
  DumpTransfer transfer;
  EXPECT_EQ(1000, ReceiveDump(line, nullptr, "123456", &transfer));
  busyFlag = 0;
  EXPECT_EQ(7, line.calls);  // before, five blocks, after
  EXPECT_EQ(2u, transfer.faults.overruns);
  EXPECT_FALSE(transfer.capReached);
}

INSTANTIATE_TEST_SUITE_P(Line, AcquireTest, testing::Values(Line::Serial, Line::Tcp), LineName);
INSTANTIATE_TEST_SUITE_P(Line, StopOrCloseTest, testing::Values(Line::Serial, Line::Tcp), LineName);
INSTANTIATE_TEST_SUITE_P(Line, StoredDumpTest, testing::Values(Line::Serial), LineName);

}  // namespace
