#pragma once
// The acquisition run: what the Read button does. It opens the chosen port
// (a local one or a device server's, serial_port.h), identifies the device,
// receives its fiscal-memory image, stores it as <current directory>/<id>.bin
// and runs the report on it, keeping the dialog in its running state (every
// control that starts or changes a run disabled, Read reading "STOP")
// meanwhile. Every failure is told in a message box here.
#include <cstdint>
#include <string>

#include "fm/image_cut.h"
#include "link/device_protocol.h"
#include "report/report_run.h"
#include "report/ui_services.h"

// Runs one read with the dialog's port, speed and report options. The caller
// sets busyFlag before and clears it after, as the Read handler does. The
// report run on the stored dump also writes the outputs `outputs` makes.
// A network port is opened with the dialog already in its running state, so
// that STOP (or Ctrl-C) ends the name's lookup, the connection and the
// negotiation at once; a local port opens at once, before the controls
// change. An image that came cut short never replaces the dump: it is kept
// as DUMP.partial and said in a message box.
void AcquireDump(UiWindow dialog, const ReportOutputFactory& outputs = ReportOutputFactory());

// The controls a read disables, in this order: the port list, the speed
// list and Close, then everything else that starts a run or changes what it
// does (Browse, the report type, the bounds and the output boxes). Button 1
// is not among them: it is STOP while a read runs.
extern const int kRunControls[];
extern const int kRunControlCount;

// Every control of kRunControls enabled or disabled, in its order, then
// button 1 captioned "Read" (enable) or "STOP" (disable).
void EnableRunControls(UiWindow dialog, bool enable);

// Whether the note that a port with a speed of its own (tcp://) does not use
// the chosen speed has been shown; it is shown once in a process.
extern bool speedNoteShown;

// The speed for an index of the speed list: that entry of the baud table, or
// 9600 when nothing (-1) or no valid entry is selected.
uint32_t BaudForSpeedIndex(int index);

// "Bad Receipt:  " and the first `length` reply bytes as "0x41 " each; at most
// 200 bytes are shown, as fits a 1024-character message.
std::string BadReceiptText(const char* reply, int length);

// How the last AcquireDump ended, for callers that need more than the
// messages it showed (the command-line tool's exit status).
enum AcquireOutcome {
  AcquireDone = 0,             // dump stored, report run on it
  AcquirePortNotOpened = 1,    // "Error opening serial port."
  AcquireNoCommunication = 2,  // no identify reply: "No communication."
  AcquireBadReceipt = 3,       // identify reply not accepted: the bad-receipt text
  AcquireNoDump = 4,           // dump refused, nothing sent, or the line failed
                               // during the transfer: "No communication."
  AcquireStopped = 5,          // STOP while identifying, or STOP or Close during
                               // the transfer: no file, no message
  AcquireDumpNotWritten = 6,   // the image could not be stored; no report run
  AcquireImageCut = 7,         // the image came cut short (fm/image_cut.h): it is
                               // kept as DUMP.partial, the dump is left as it was,
                               // and no report run
};
AcquireOutcome LastAcquireOutcome();
// For AcquireDone: how the report run on the stored dump ended.
ReportOutcome LastAcquireReportOutcome();
// What the last transfer found besides the image: bytes the line lost (told
// in a message box; the dump is stored all the same) and an image cut at the
// cap (told by nobody here: the dialog keeps quiet about it).
DumpTransfer LastAcquireTransfer();
// For AcquireImageCut: what showed the image cut short.
ImageCutFinding LastAcquireImageCut();

// Where an image that came cut short is kept: beside the dump, never over it.
std::string PartialDumpName(const std::string& dumpName);
