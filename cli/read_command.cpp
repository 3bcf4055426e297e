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
    case AcquireDone: break;
    case AcquirePortNotOpened: return kExitPortNotOpened;
    case AcquireNoCommunication: return kExitNoCommunication;
    case AcquireBadReceipt: return kExitBadReceipt;
    case AcquireNoDump: return kExitNoDump;
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
      "Reads the fiscal memory of the device on PORT and stores the image in the\n"
      "current directory as ID.bin, ID being the six bytes the device names itself\n"
      "by (bytes that cannot stand in a file name become '_'). An earlier dump of\n"
      "the same device is replaced only when the new image was stored in full.\n"
      "Then the turnover report is made from it, as 'taxoscope-cli report' does:\n"
      "ID.bin.txt beside it. The dump's path is printed on stdout; progress and\n"
      "messages go to stderr. Ctrl-C stops the read: nothing is stored.\n"
      "\n"
      "  --port PORT           the serial port: a path (/dev/ttyUSB0, /dev/pts/3),\n"
      "                        a name under /dev (ttyUSB0, ttyACM0), or a Windows\n"
      "                        name: COMn is /dev/ttyS(n-1) on Linux (COM1 is\n"
      "                        /dev/ttyS0); on Windows any COM name (COM3, COM12)\n"
      "  --baud N              line speed: 9600 (default), 19200, 38400, 57600 or\n"
      "                        115200; 8 data bits, no parity, 1 stop bit\n"
      "  --by-date FROM TO     report only the daily reports from FROM to TO,\n"
      "                        typed dd/mm/yyyy (both days included)\n"
      "  --by-number FROM TO   report only the daily reports numbered FROM to TO\n"
      "  --open                open the report in the default viewer when done\n"
      "'taxoscope-cli ports' lists the serial ports of this machine.\n"
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
      "       during the transfer (\"No communication.\"); nothing stored\n"
      "    9  the dump file could not be written; no report\n"
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
      ui.SetControlText(dialog, IDC_PORT, argv[++i]);
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

  if (LastAcquireOutcome() == AcquireDone && !ui.stopped()) {
    std::printf("%s\n", ui.GetControlText(dialog, IDC_FILE_NAME).c_str());
  }
  return ExitStatus(ui);
}
