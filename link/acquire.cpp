#include "link/acquire.h"

#include <cstdio>
#include <memory>

#include "link/device_protocol.h"
#include "link/dump_name.h"
#include "link/run_state.h"
#include "link/serial_port.h"
#include "res/resource.h"

namespace {

constexpr int kReplyBufferSize = 1024;
constexpr size_t kMessageArea = 1024;
constexpr size_t kMaxPortName = 4095;
constexpr uint32_t kDefaultBaud = 9600;

AcquireOutcome lastOutcome = AcquireDone;
ReportOutcome lastReportOutcome = ReportWritten;
DumpTransfer lastTransfer;

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

// Stores the image and reports on it. The earlier dump of the device stays
// as it was unless the new one is written in full, and a dump that was not
// written gets no report.
void StoreAndReport(UiWindow dialog, const char* deviceId, int32_t total,
                    const ReportOutputFactory& outputs) {
  std::string name = MakeDumpName(deviceId);
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

  std::string portName = Ui().GetControlText(dialog, IDC_PORT);
  if (portName.size() > kMaxPortName) portName.resize(kMaxPortName);
  const int speedIndex = Ui().GetSelectedIndex(dialog, IDC_SPEED);
  std::string why;
  std::unique_ptr<DeviceLine> line =
      OpenComPort(portName.c_str(), BaudForSpeedIndex(speedIndex), &why);
  if (!line) {
    std::string text = "Error opening serial port.";
    if (!why.empty()) text += "\n" + why;
    ShowError(dialog, text.c_str());
    EnableRunControls(dialog, true);
    lastOutcome = AcquirePortNotOpened;
    return;
  }

  // The focus first: a control that is disabled loses it.
  UiWindow focus = Ui().GetFocusWindow();
  EnableRunControls(dialog, false);
  NoteUnusedSpeed(dialog, *line, speedIndex);
  readTimeout = 5;
  DropQueuedInput(*line);
  DropQueuedInput(*line);

  char reply[kReplyBufferSize];
  int replyLength = 0;
  if (IdentifyDevice(*line, reply, kReplyBufferSize, &replyLength)) {
    ShowProgressControls(dialog, true);
    total = ReceiveDump(*line, dialog, reply + 1, &lastTransfer);
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
      ShowError(dialog, "No communication.");
      lastOutcome = AcquireNoCommunication;
    }
    busyFlag = 0;
    cancelFlag = 1;
    line.reset();
  }

  // A refused or empty transfer that the user did not stop.
  if (cancelFlag && total == 0 && busyFlag) ShowError(dialog, "No communication.");
  // The controls first: the focus cannot go back to a disabled one.
  EnableRunControls(dialog, true);
  Ui().SetFocusWindow(focus);
}
