#include "link/acquire.h"

#include <cstdio>

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

void ShowError(UiWindow dialog, const char* text) {
  Ui().ShowMessage(dialog, text, nullptr, MessageIconError);
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
  lastReportOutcome = RunReportFromDialog(dialog, name, outputs);
  lastOutcome = AcquireDone;
}

}  // namespace

uint32_t BaudForSpeedIndex(int index) {
  return index >= 0 && index < kBaudCount ? static_cast<uint32_t>(kBaudTable[index]) : kDefaultBaud;
}

AcquireOutcome LastAcquireOutcome() { return lastOutcome; }

ReportOutcome LastAcquireReportOutcome() { return lastReportOutcome; }

void EnableRunControls(UiWindow dialog, bool enable) {
  Ui().EnableControl(dialog, IDC_PORT, enable);
  Ui().EnableControl(dialog, IDC_SPEED, enable);
  Ui().EnableControl(dialog, IDC_CLOSE, enable);
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
  int32_t total = 0;
  lastReportOutcome = ReportWritten;

  std::string portName = Ui().GetControlText(dialog, IDC_PORT);
  if (portName.size() > kMaxPortName) portName.resize(kMaxPortName);
  PortHandle port =
      OpenComPort(portName.c_str(), BaudForSpeedIndex(Ui().GetSelectedIndex(dialog, IDC_SPEED)));
  if (port == kInvalidPort) {
    ShowError(dialog, "Error opening serial port.");
    EnableRunControls(dialog, true);
    lastOutcome = AcquirePortNotOpened;
    return;
  }

  EnableRunControls(dialog, false);
  UiWindow focus = Ui().GetFocusWindow();
  readTimeout = 5;
  DropQueuedInput(port);
  DropQueuedInput(port);

  char reply[kReplyBufferSize];
  int replyLength = 0;
  if (IdentifyDevice(port, reply, kReplyBufferSize, &replyLength)) {
    ShowProgressControls(dialog, true);
    total = ReceiveDump(port, dialog, reply + 1);
    SerialClose(port);
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
    } else {
      ShowError(dialog, "No communication.");
      lastOutcome = AcquireNoCommunication;
    }
    busyFlag = 0;
    cancelFlag = 1;
    SerialClose(port);
  }

  // A refused or empty transfer that the user did not stop.
  if (cancelFlag && total == 0 && busyFlag) ShowError(dialog, "No communication.");
  Ui().SetFocusWindow(focus);
  EnableRunControls(dialog, true);
}
