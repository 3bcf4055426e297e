#include "link/acquire.h"

#include <cstdio>
#include <memory>

#include "fm/dump_image.h"
#include "link/device_protocol.h"
#include "link/dump_name.h"
#include "link/line_address.h"
#include "link/run_state.h"
#include "link/serial_port.h"
#include "report/file_system.h"
#include "res/resource.h"

namespace {

constexpr int kReplyBufferSize = 1024;
constexpr size_t kMessageArea = 1024;
constexpr size_t kMaxPortName = 4095;
constexpr uint32_t kDefaultBaud = 9600;

// Window messages dispatched in each wait of a network port's opening.
constexpr int kMessagesPerSlice = 8;

AcquireOutcome lastOutcome = AcquireDone;
ReportOutcome lastReportOutcome = ReportWritten;
DumpTransfer lastTransfer;
ImageCutFinding lastImageCut;

void ShowError(UiWindow dialog, const char* text) {
  Ui().ShowMessage(dialog, text, nullptr, MessageIconError);
}

// A raw network port runs at its device server's speed, whatever was chosen:
// say so, once, when a speed was chosen at all.
void NoteUnusedSpeed(UiWindow dialog, const DeviceLine& line, int speedIndex) {
  if (line.SetsSpeed() || speedIndex < 0 || speedNoteShown) return;
  speedNoteShown = true;
  std::string text = "The speed chosen (" + std::to_string(BaudForSpeedIndex(speedIndex)) +
                     ") is not used: a tcp:// port runs at the speed set on its device server.";
  Ui().ShowMessage(dialog, text.c_str(), nullptr, MessageIconInformation);
}

void ShowProgressControls(UiWindow dialog, bool show) {
  Ui().ShowControl(dialog, IDC_PROGRESS_LABEL, show);
  Ui().ShowControl(dialog, IDC_PROGRESS, show);
}

// While a network port opens, the dialog stays alive: its messages are
// dispatched (STOP, repaints), and the opening ends once the busy flag is
// cleared (STOP, Close, Ctrl-C on the command line).
bool OpeningStopped() {
  for (int i = 0; i < kMessagesPerSlice && busyFlag; ++i) Ui().DispatchOneMessage();
  return !busyFlag;
}

// "No communication.", and why when the line knows more than that it went.
std::string NoCommunicationText(const std::string& portName, const std::string& lineFailure) {
  std::string text = "No communication.";
  if (!lineFailure.empty()) text += "\n" + portName + ": " + lineFailure;
  return text;
}

// The dump already stored under `name`, when there is one to compare with:
// a regular file (a FIFO or a device in its place is not read).
bool LoadStoredDump(const std::string& name, DumpBytes* stored) {
  FileTarget target;
  if (Files().Inspect(name, &target) != 0 || target.kind != FileRegular) return false;
  int error = 0;
  return LoadDumpImage(target.path, stored, &error) != DumpOpenFailed;
}

// An image that came cut short: kept beside the dump, the dump untouched,
// and said.
void KeepCutImage(UiWindow dialog, const std::string& name, int32_t total, bool dumpStored) {
  std::string partial = PartialDumpName(name);
  bool kept = WriteBufferToFile(partial.c_str(), dumpBuffer, total);
  std::string text = "The image came cut short: " + DescribeImageCut(lastImageCut) + ". ";
  if (kept) {
    text += "The " + std::to_string(total) + " bytes received are kept in " + partial;
  } else {
    text += "The bytes received could not be kept";
  }
  text += dumpStored ? "; " + name + " is left as it was." : ", and nothing is stored as " + name + ".";
  text += " Read the device again.";
  if (lastImageCut.cut != ImageCut::EndsInsideRecord) {
    text += " (Should " + name + " itself be wrong, move it away first.)";
  }
  ShowError(dialog, text.c_str());
}

// Stores the image and reports on it. The earlier dump of the device stays
// as it was unless the new one is written in full, and a dump that was not
// written gets no report. An image that came cut short is not stored as the
// dump at all.
void StoreAndReport(UiWindow dialog, const char* deviceId, int32_t total,
                    const ReportOutputFactory& outputs) {
  std::string name = MakeDumpName(deviceId);
  const uint8_t* image = reinterpret_cast<const uint8_t*>(dumpBuffer);
  DumpBytes stored;
  const bool dumpStored = LoadStoredDump(name, &stored);
  lastImageCut = FindImageCut(image, total, lastTransfer.capReached, dumpStored ? &stored : nullptr);
  if (lastImageCut.cutShort()) {
    cancelFlag = 1;
    lastOutcome = AcquireImageCut;
    KeepCutImage(dialog, name, total, dumpStored);
    return;
  }
  if (!WriteBufferToFile(name.c_str(), dumpBuffer, total)) {
    cancelFlag = 1;
    lastOutcome = AcquireDumpNotWritten;
    return;
  }
  Ui().SetControlText(dialog, IDC_FILE_NAME, name.c_str());
  // Every block came, but the line dropped or damaged bytes inside them: the
  // dump is kept (it may be all there is) and must not pass for a good one.
  if (lastTransfer.faults.any()) {
    std::string text = "The line lost bytes while the image came in (" +
                       lastTransfer.faults.Describe() + "): " + name +
                       " is stored, but it is not a whole image of the fiscal memory. "
                       "Read the device again.";
    ShowError(dialog, text.c_str());
  }
  lastReportOutcome = RunReportFromDialog(dialog, name, outputs);
  lastOutcome = AcquireDone;
}

}  // namespace

uint32_t BaudForSpeedIndex(int index) {
  return index >= 0 && index < kBaudCount ? static_cast<uint32_t>(kBaudTable[index]) : kDefaultBaud;
}

AcquireOutcome LastAcquireOutcome() { return lastOutcome; }

ReportOutcome LastAcquireReportOutcome() { return lastReportOutcome; }

DumpTransfer LastAcquireTransfer() { return lastTransfer; }

ImageCutFinding LastAcquireImageCut() { return lastImageCut; }

std::string PartialDumpName(const std::string& dumpName) { return dumpName + ".partial"; }

bool speedNoteShown = false;

// A Browse or a changed report option inside a read would run a report in
// the middle of the transfer, or change the one the read ends with.
const int kRunControls[] = {
    IDC_PORT,      IDC_SPEED,     IDC_CLOSE, IDC_BROWSE, IDC_ALL_RECORDS,
    IDC_BY_DATE,   IDC_BY_NUMBER, IDC_FROM,  IDC_TO,     IDC_SHOW_RESULT,
    IDC_EXPORT,    IDC_LEDGER,    IDC_SEND,
};
const int kRunControlCount = sizeof kRunControls / sizeof kRunControls[0];

void EnableRunControls(UiWindow dialog, bool enable) {
  for (int id : kRunControls) Ui().EnableControl(dialog, id, enable);
  Ui().SetControlText(dialog, IDC_READ, enable ? "Read" : "STOP");
}

std::string BadReceiptText(const char* reply, int length) {
  std::string text = "Bad Receipt:  ";
  for (int i = 0; i < length; ++i) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X ", static_cast<unsigned char>(reply[i]));
    text += hex;
    if (text.size() + 10 >= kMessageArea) break;
  }
  return text;
}

void AcquireDump(UiWindow dialog, const ReportOutputFactory& outputs) {
  cancelFlag = 0;
  interruptFlag = 0;
  int32_t total = 0;
  lastReportOutcome = ReportWritten;
  lastTransfer = DumpTransfer();
  lastImageCut = ImageCutFinding();

  std::string portName = Ui().GetControlText(dialog, IDC_PORT);
  if (portName.size() > kMaxPortName) portName.resize(kMaxPortName);
  const int speedIndex = Ui().GetSelectedIndex(dialog, IDC_SPEED);
  // A network port may take seconds to open: STOP is offered from the start.
  // The focus first: a control that is disabled loses it.
  const bool network = LineKindOf(portName) != LineKind::Serial;
  UiWindow focus = nullptr;
  if (network) {
    focus = Ui().GetFocusWindow();
    EnableRunControls(dialog, false);
  }
  std::string why;
  std::unique_ptr<DeviceLine> line = OpenComPort(portName.c_str(), BaudForSpeedIndex(speedIndex), &why,
                                                 network ? StopCheck(OpeningStopped) : StopCheck());
  if (!line) {
    if (network && !busyFlag) {
      cancelFlag = 1;
      lastOutcome = AcquireStopped;  // stopped while opening: no message
    } else {
      std::string text = "Error opening serial port.";
      if (!why.empty()) text += "\n" + why;
      ShowError(dialog, text.c_str());
      lastOutcome = AcquirePortNotOpened;
    }
    EnableRunControls(dialog, true);
    if (network) Ui().SetFocusWindow(focus);
    return;
  }

  if (!network) {
    focus = Ui().GetFocusWindow();
    EnableRunControls(dialog, false);
  }
  NoteUnusedSpeed(dialog, *line, speedIndex);
  readTimeout = 5;
  DropQueuedInput(*line);
  DropQueuedInput(*line);

  char reply[kReplyBufferSize];
  int replyLength = 0;
  std::string lineFailure;
  if (IdentifyDevice(*line, reply, kReplyBufferSize, &replyLength)) {
    ShowProgressControls(dialog, true);
    total = ReceiveDump(*line, dialog, reply + 1, &lastTransfer);
    if (ReadBlockFailed()) lineFailure = line->FailureReason();
    line.reset();  // closed before the dump is stored and reported on
    if (total != 0) {
      StoreAndReport(dialog, reply + 1, total, outputs);
    } else {
      cancelFlag = 1;
      lastOutcome = busyFlag ? AcquireNoDump : AcquireStopped;
    }
    ShowProgressControls(dialog, false);
  } else {
    if (replyLength != 0) {
      ShowError(dialog, BadReceiptText(reply, replyLength).c_str());
      lastOutcome = AcquireBadReceipt;
    } else if (interruptFlag) {
      lastOutcome = AcquireStopped;  // interrupted while the device was silent: no message
    } else {
      ShowError(dialog, NoCommunicationText(portName, line->FailureReason()).c_str());
      lastOutcome = AcquireNoCommunication;
    }
    busyFlag = 0;
    cancelFlag = 1;
    line.reset();
  }

  // A refused or empty transfer that the user did not stop.
  if (cancelFlag && total == 0 && busyFlag) ShowError(dialog, NoCommunicationText(portName, lineFailure).c_str());
  // The controls first: the focus cannot go back to a disabled one.
  EnableRunControls(dialog, true);
  Ui().SetFocusWindow(focus);
}
