// taxoscope-cli ports: the serial ports of this machine, one name a line, as
// --port of 'read' takes them.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "link/serial_line.h"

void PrintPortsHelp() {
  std::printf(
      "usage: taxoscope-cli ports\n"
      "\n"
      "Lists the serial ports of this machine on stdout, one a line, as\n"
      "'taxoscope-cli read --port' takes them. On Linux these are the tty devices\n"
      "with a serial driver behind them (/dev/ttyS0, /dev/ttyUSB0, /dev/ttyACM0...);\n"
      "on Windows the COM names. Pseudo-terminals, such as the one\n"
      "'taxoscope-sim serve' prints, are not listed but can be read all the same;\n"
      "nor are the ports of serial device servers on the network, which 'read'\n"
      "takes as tcp://HOST:PORT or rfc2217://HOST:PORT.\n"
      "\n"
      "exit status: 0 (also when no port is found), 2 usage error\n");
}

int RunPortsCommand(int argc, char** argv) {
  if (argc > 0) {
    std::fprintf(stderr, "taxoscope-cli ports: unknown argument %s\nusage: taxoscope-cli ports\n",
                 argv[0]);
    return kExitUsage;
  }
  std::vector<std::string> names;
  ListComPorts(&names);
  for (const std::string& name : names) std::printf("%s\n", name.c_str());
  if (names.empty()) std::fprintf(stderr, "no serial ports found\n");
  return kExitOk;
}
