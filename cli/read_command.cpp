// taxoscope-cli read: the Read button of the Windows program, from the
// command line. The options fill the dialog's controls, then the same
// acquisition run takes place.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/console_ui.h"
#include "cli/report_options.h"
#include "link/acquire.h"
#include "link/device_protocol.h"
#include "link/line_address.h"
#include "link/run_state.h"
#include "res/resource.h"

namespace {

// 1 to 4 (report_options.h) mean what they mean for 'report': the dump was
// stored, the report on it was not made.
constexpr int kExitPortNotOpened = 5;
constexpr int kExitNoCommunication = 6;
constexpr int kExitBadReceipt = 7;
constexpr int kExitNoDump = 8;
constexpr int kExitDumpNotWritten = 9;
constexpr int kExitLineLostBytes = 10;
constexpr int kExitStopped = 130;  // as a shell reports a Ctrl-C

const char kUsage[] =
    "usage: taxoscope-cli read --port PORT [--baud N] [--by-date FROM TO | --by-number FROM TO] "
    "[--open]\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "taxoscope-cli read: %s\n%s", problem, kUsage);
  return kExitUsage;
}

// The index of the speed list for a rate typed on the command line.
int SpeedIndex(const char* text) {
  char* end = nullptr;
  long baud = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') return -1;
  for (int i = 0; i < kBaudCount; ++i) {
    if (kBaudTable[i] == baud) return i;
  }
  return -1;
}

int ExitStatus(const ConsoleUi& ui) {
  if (ui.stopped()) return kExitStopped;
  switch (LastAcquireOutcome()) {
    case AcquireDone:
      // A dump with holes in it is the worse news than a report not made.
      if (LastAcquireTransfer().faults.any()) return kExitLineLostBytes;
      break;
    case AcquirePortNotOpened: return kExitPortNotOpened;
    case AcquireNoCommunication: return kExitNoCommunication;
    case AcquireBadReceipt: return kExitBadReceipt;
    case AcquireNoDump: return kExitNoDump;
    case AcquireImageCut: return kExitNoDump;  // the transfer failed, though bytes came
    case AcquireStopped: return kExitStopped;
    case AcquireDumpNotWritten: return kExitDumpNotWritten;
  }
  return ReportExitStatus(LastAcquireReportOutcome());
}

}  // namespace

void PrintReadHelp() {
  std::printf(
      "%s"
      "\n"
      "Reads the fiscal memory of the device on PORT (a serial port of this\n"
      "machine, or one that a serial device server offers on the network) and\n"
      "stores the image in the current directory as ID.bin, ID being the six\n"
      "bytes the device names itself by (bytes that cannot stand in a file name\n"
      "become '_'). An earlier dump of the same device is replaced only when the\n"
      "new image was stored in full. Then the turnover report is made from it,\n"
      "as 'taxoscope-cli report' does: ID.bin.txt beside it. The dump's path is\n"
      "printed on stdout; progress and messages go to stderr. Ctrl-C stops the\n"
      "read at once, from the first moment: while a network port's name is\n"
      "looked up, while it connects and negotiates, while the device is\n"
      "identified and while the image comes in; \"stopped\" is said and nothing\n"
      "is stored.\n"
      "\n"
      "The device ends its image by falling silent: on a serial port of this\n"
      "machine for one second, on a network port for 4 seconds, so that a stall\n"
      "of the network is not taken for the end. An image that still came cut\n"
      "short (it ends inside a record, or it is shorter than the dump already\n"
      "stored for the device, or lacks a record of it: a fiscal memory only\n"
      "grows) never replaces the dump: it is kept as ID.bin.partial.\n"
      "\n"
      "  --port PORT           the serial port: a path (/dev/ttyUSB0, /dev/pts/3),\n"
      "                        a name under /dev (ttyUSB0, ttyACM0), or a Windows\n"
      "                        name: COMn is /dev/ttyS(n-1) on Linux (COM1 is\n"
      "                        /dev/ttyS0); on Windows any COM name (COM3, COM12);\n"
      "                        or a serial device server's port on the network:\n"
      "                        tcp://HOST:PORT    raw TCP, the line runs at the\n"
      "                                           speed set on the server\n"
      "                        rfc2217://HOST:PORT  Telnet with RFC 2217: the\n"
      "                                           server's line is set to --baud\n"
      "                        (an IPv6 HOST in brackets: tcp://[fe80::7]:4001)\n"
      "  --baud N              line speed: 9600 (default), 19200, 38400, 57600 or\n"
      "                        115200; 8 data bits, no parity, 1 stop bit (a\n"
      "                        tcp:// port does not use it, and says so)\n"
      "  --by-date FROM TO     report only the daily reports from FROM to TO,\n"
      "                        typed dd/mm/yyyy (both days included)\n"
      "  --by-number FROM TO   report only the daily reports numbered FROM to TO\n"
      "  --open                open the report in the default viewer when done\n"
      "'taxoscope-cli ports' lists the serial ports of this machine. A network\n"
      "port has 5 seconds to connect, the lookup of its name included (with\n"
      "several addresses, each next one is tried a quarter of a second after the\n"
      "one before). One that does not connect in time, a port that speaks\n"
      "Telnet read as tcp://, a device server that refuses or closes the\n"
      "connection, or an rfc2217:// server that refuses the option or binary\n"
      "mode or sets another speed, is a port that cannot be opened.\n"
      "A device that sends more than a dump holds (2,101,247 bytes) is cut there,\n"
      "and the dump is stored and reported on, with a message.\n"
      "\n"
      "exit status:\n"
      "    0  the dump was stored and its report written\n"
      "    1  dump stored; FROM or TO is not a valid bound, so no report\n"
      "    2  usage error\n"
      "    3  dump stored; it could not be opened for the report\n"
      "    4  dump stored; the report file could not be written\n"
      "    5  the port cannot be opened (\"Error opening serial port.\")\n"
      "    6  the device did not answer (\"No communication.\")\n"
      "    7  the device's answer was not accepted (\"Bad Receipt: ...\")\n"
      "    8  the device refused the dump, sent nothing, or the line failed\n"
      "       during the transfer (\"No communication.\"); nothing stored; or\n"
      "       the image came cut short: kept as ID.bin.partial, ID.bin untouched\n"
      "    9  the dump file could not be written; no report\n"
      "   10  dump stored and reported on, but the line lost bytes while it\n"
      "       came in: it is not a whole image; read the device again\n"
      "  130  stopped with Ctrl-C; nothing stored\n",
      kUsage);
}

int RunReadCommand(int argc, char** argv) {
  ConsoleUi ui;
  UiWindow dialog = &ui;  // the console stands in for the main dialog
  bool havePort = false;
  ReportOptions options(ui);

  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    ReportOptionResult taken = options.Take(argc, argv, &i);
    if (taken == ReportOptionError) return Usage(options.problem().c_str());
    if (taken == ReportOptionTaken) continue;
    if (!std::strcmp(arg, "--port")) {
      if (i + 1 >= argc) return Usage("--port needs a port name");
      const char* port = argv[++i];
      std::string problem;
      LineAddress address;
      if (LineKindOf(port) != LineKind::Serial && !ParseLineAddress(port, &address, &problem))
        return Usage(problem.c_str());
      ui.SetControlText(dialog, IDC_PORT, port);
      havePort = true;
    } else if (!std::strcmp(arg, "--baud")) {
      if (i + 1 >= argc) return Usage("--baud needs a speed");
      int index = SpeedIndex(argv[++i]);
      if (index < 0) return Usage("the speed is one of 9600, 19200, 38400, 57600 and 115200");
      ui.SetSelectedIndex(IDC_SPEED, index);
    } else {
      return Usage((std::string("unknown argument ") + arg).c_str());
    }
  }
  if (!havePort) return Usage("no port given (--port PORT)");

  ui.StopOnInterrupt();
  // What the Read button does.
  busyFlag = 1;
  AcquireDump(dialog);
  busyFlag = 0;

  if (ui.stopped() || LastAcquireOutcome() == AcquireStopped) std::fprintf(stderr, "stopped\n");
  if (LastAcquireOutcome() == AcquireDone && !ui.stopped()) {
    // The dialog keeps quiet about an image cut at the cap; a script that
    // reads devices should not.
    if (LastAcquireTransfer().capReached) {
      std::fprintf(stderr,
                   "The device sent more than a dump can hold (%d bytes): the dump keeps the bytes "
                   "before the block that would have passed it.\n",
                   static_cast<int>(kDumpBufferSize - 1));
    }
    std::printf("%s\n", ui.GetControlText(dialog, IDC_FILE_NAME).c_str());
  }
  return ExitStatus(ui);
}
