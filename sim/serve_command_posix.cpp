// taxoscope-sim serve: the fiscal device on a new pseudo-terminal, an
// existing tty or a TCP port until a signal, or until one dump transfer with
// --once.
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/command_args.h"
#include "sim/device_sim.h"
#include "sim/dump_builder.h"
#include "sim/sim_commands.h"

namespace {

const char kCommand[] = "serve";

volatile bool stopRequested = false;

void OnSignal(int) { stopRequested = true; }

void InstallSignalHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a waiting poll() returns at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

struct ServeSettings {
  DeviceOptions device;
  std::string imagePath;
  GenerateOptions generate;
  bool generateOptionGiven = false;
  std::string tty;
  std::string link;
  std::string listen;
  bool rfc2217 = false;
  uint64_t overrunAt = 0;
  bool once = false;
};

bool ParseServeArgs(int argc, char** argv, ServeSettings* settings) {
  CommandArgs args(kCommand, argc, argv);
  std::string name;
  bool seedGiven = false;
  while (args.Next(&name)) {
    uint64_t number = 0;
    std::string text;
    if (name == "--image") {
      if (args.Value(&settings->imagePath) && settings->imagePath.empty()) args.Fail("--image needs a file name");
    } else if (name == "--seed") {
      seedGiven = true;
      if (args.Number(0, UINT32_MAX, &number)) settings->generate.seed = static_cast<uint32_t>(number);
    } else if (name == "--variant") {
      settings->generateOptionGiven = true;
      if (args.Number(2, 3, &number)) settings->generate.variant = static_cast<int>(number);
    } else if (name == "--reports") {
      settings->generateOptionGiven = true;
      if (args.Number(0, 65535, &number)) settings->generate.reports = static_cast<int>(number);
    } else if (name == "--id") {
      if (args.Value(&text)) {
        if (text.size() == 6)
          settings->device.id = text;
        else
          args.Fail("--id takes exactly 6 bytes, not '" + text + "'");
      }
    } else if (name == "--mode") {
      if (args.Value(&text) && !ParseDeviceMode(text, &settings->device.mode))
        args.Fail("unknown mode '" + text +
                  "' (normal, silent, bad-receipt, long-reply, refuse, no-dump, pause, oversize, hang-up)");
    } else if (name == "--rate") {
      if (args.Number(0, 100000000, &number)) settings->device.bytesPerSecond = static_cast<long>(number);
    } else if (name == "--tty") {
      if (args.Value(&settings->tty) && settings->tty.empty()) args.Fail("--tty needs a path");
    } else if (name == "--link") {
      if (args.Value(&settings->link) && settings->link.empty()) args.Fail("--link needs a path");
    } else if (name == "--listen") {
      if (args.Value(&settings->listen) && settings->listen.empty()) args.Fail("--listen needs HOST:PORT");
    } else if (name == "--rfc2217") {
      if (args.Flag()) settings->rfc2217 = true;
    } else if (name == "--overrun-at") {
      args.Number(1, 100000000, &settings->overrunAt);
    } else if (name == "--once") {
      if (args.Flag()) settings->once = true;
    } else {
      args.Fail("unknown option " + name);
    }
  }
  if (!args.failed() && !settings->imagePath.empty() && (seedGiven || settings->generateOptionGiven))
    args.Fail("--image cannot be combined with --seed, --variant or --reports");
  if (!args.failed() && !settings->listen.empty() && (!settings->tty.empty() || !settings->link.empty()))
    args.Fail("--listen serves on a TCP port; --tty and --link are for a terminal");
  if (!args.failed() && settings->rfc2217 && settings->listen.empty())
    args.Fail("--rfc2217 needs --listen HOST:PORT");
  if (!args.failed() && settings->overrunAt && !settings->rfc2217)
    args.Fail("--overrun-at needs --rfc2217: only RFC 2217 tells the host of its line's faults");
  return !args.failed();
}

// A symlink at `link` to `target`, replacing an older symlink there but
// never a file or a directory.
bool MakeLink(const std::string& link, const std::string& target, std::string* error) {
  struct stat info;
  if (lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
    *error = link + " exists and is not a symbolic link; not replacing it";
    return false;
  }
  std::string temporary = link + ".taxoscope-sim-" + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0 || rename(temporary.c_str(), link.c_str()) != 0) {
    *error = "cannot link " + link + " to " + target + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

// Removes the link unless something else has replaced it meanwhile.
void RemoveLink(const std::string& link, const std::string& target) {
  if (link.empty()) return;
  char buffer[4096];
  ssize_t length = readlink(link.c_str(), buffer, sizeof(buffer));
  if (length > 0 && std::string(buffer, static_cast<size_t>(length)) == target) unlink(link.c_str());
}

void Announce(const ServeSettings& settings, const std::string& path) {
  // The path alone on stdout, at once, for the script that started us.
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "taxoscope-sim serve: device %s (%s, %zu-byte image%s) on %s%s%s; %s\n",
               settings.device.id.c_str(), DeviceModeName(settings.device.mode), settings.device.image.size(),
               settings.device.bytesPerSecond ? ", paced" : "", path.c_str(),
               settings.link.empty() ? "" : " via ", settings.link.c_str(),
               settings.once ? "ends after one dump" : "Ctrl-C ends");
}

// Opens the line: a new pseudo-terminal, or the --tty given (set raw, its
// speed kept). *path is what the host opens.
bool OpenLine(const ServeSettings& settings, int* fd, std::string* path, std::string* error) {
  if (settings.tty.empty()) return OpenPseudoTerminal(fd, path, error);
  *fd = open(settings.tty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*fd < 0) {
    *error = "cannot open " + settings.tty + ": " + std::strerror(errno);
    return false;
  }
  termios mode;
  if (tcgetattr(*fd, &mode) != 0) {
    *error = settings.tty + " is not a terminal: " + std::strerror(errno);
    close(*fd);
    return false;
  }
  cfmakeraw(&mode);
  if (tcsetattr(*fd, TCSANOW, &mode) != 0) {
    *error = "cannot set the mode of " + settings.tty + ": " + std::strerror(errno);
    close(*fd);
    return false;
  }
  *path = settings.tty;
  return true;
}

void ReportCounters(const DeviceSession& session) {
  std::fprintf(stderr, "taxoscope-sim serve: %d identify and %d dump commands received, %d transfers ended\n",
               session.IdentifyRequests(), session.DumpRequests(), session.TransfersEnded());
}

// The device behind a TCP port: each host connects, reads, and closes.
int ServeNetwork(const ServeSettings& settings) {
  int fd = -1;
  std::string bound, error;
  if (!ListenTcp(settings.listen, &fd, &bound, &error)) return Failure(kCommand, error);
  std::string address = (settings.rfc2217 ? "rfc2217://" : "tcp://") + bound;
  Announce(settings, address);

  DeviceSession session(settings.device);
  LineSettings line;
  int result = ServeTcp(fd, session, settings.rfc2217 ? &line : nullptr, &stopRequested, settings.once,
                        static_cast<size_t>(settings.overrunAt));
  int lineErrno = errno;
  close(fd);
  ReportCounters(session);
  if (settings.rfc2217 && line.baud != 0) {
    std::fprintf(stderr, "taxoscope-sim serve: the host set the line to %u baud, %u data bits\n",
                 static_cast<unsigned>(line.baud), static_cast<unsigned>(line.dataBits));
  }
  if (result == kServeError) return Failure(kCommand, address + " failed: " + std::strerror(lineErrno));
  if (result == kServeHungUp) std::fprintf(stderr, "taxoscope-sim serve: the device hung up the connection\n");
  return kExitOk;
}

int Serve(const ServeSettings& settings) {
  if (!settings.listen.empty()) return ServeNetwork(settings);
  int fd = -1;
  std::string path, error;
  if (!OpenLine(settings, &fd, &path, &error)) return Failure(kCommand, error);
  if (!settings.link.empty() && !MakeLink(settings.link, path, &error)) {
    close(fd);
    return Failure(kCommand, error);
  }
  Announce(settings, path);

  DeviceSession session(settings.device);
  int result = ServeSession(fd, session, &stopRequested, settings.once);
  int lineErrno = errno;
  close(fd);
  RemoveLink(settings.link, path);
  ReportCounters(session);
  if (result == kServeError) return Failure(kCommand, path + " failed: " + std::strerror(lineErrno));
  if (result == kServeHungUp) std::fprintf(stderr, "taxoscope-sim serve: the device hung up the line\n");
  return kExitOk;
}

}  // namespace

void PrintServeHelp() {
  std::printf(
      "usage: taxoscope-sim serve [--image FILE | --seed N [--variant 2|3] [--reports N]]\n"
      "                           [--id ID] [--mode MODE] [--rate BYTES_PER_SECOND]\n"
      "                           [--tty PATH] [--link PATH]\n"
      "                           [--listen HOST:PORT [--rfc2217 [--overrun-at N]]] [--once]\n"
      "\n"
      "Plays the fiscal device on a new pseudo-terminal and prints its path (e.g.\n"
      "/dev/pts/7) as one line on stdout; a host opens that path as its serial\n"
      "port. With --listen it plays the device behind a TCP port instead, as a\n"
      "serial device server offers a register, and prints the address to read\n"
      "(e.g. tcp://127.0.0.1:4001). The device answers the identify frame\n"
      "AA 3F 39 35 0A with 0x0E, its id and a line, and the dump frame addressed\n"
      "to its id with the image, then falls silent. Frames with a wrong checksum\n"
      "or id are ignored, like bytes between frames. It keeps serving after a dump\n"
      "and while the host closes and reopens the port (or connects again).\n"
      "\n"
      "  --image FILE    stream this file's bytes as the image\n"
      "  --seed N        stream the generated image of this seed (default 1; see\n"
      "                  'taxoscope-sim generate --help' for --variant and --reports)\n"
      "  --id ID         the six id bytes (default 123456)\n"
      "  --mode MODE     how the device behaves (default normal):\n"
      "                    normal       answers as above\n"
      "                    silent       answers nothing at all\n"
      "                    bad-receipt  identify reply 0x15 \"AB\" CR LF\n"
      "                    long-reply   identify reply of 2000 characters\n"
      "                    refuse       dump reply 0x15 0x0A, then silence\n"
      "                    no-dump      identify answered, dump not\n"
      "                    pause        a 600 ms pause in the middle of the image\n"
      "                    oversize     2,200,000 bytes: the image, then 0xFF\n"
      "                    hang-up      half the image, then the line is closed\n"
      "  --rate N        send at most N bytes per second (11520 is 115200 baud);\n"
      "                  0 (default) sends as fast as the host reads\n"
      "  --tty PATH      serve on this existing tty instead (set raw, speed kept)\n"
      "  --link PATH     make PATH a symlink to the line while serving, e.g.\n"
      "                  $WINEPREFIX/dosdevices/com5 for a Windows program under\n"
      "                  Wine; an older symlink there is replaced, a file is not\n"
      "  --listen HOST:PORT  serve on this TCP port (raw: the connection's bytes\n"
      "                  are the line's), one host connection at a time; PORT 0\n"
      "                  takes a free port, [::1]:PORT is IPv6, *:PORT every\n"
      "                  address of the machine\n"
      "  --rfc2217       with --listen: speak Telnet with the COM-PORT-OPTION of\n"
      "                  RFC 2217 as a device server does, confirming each line\n"
      "                  setting the host makes\n"
      "  --overrun-at N  with --rfc2217: the server's line overruns once N bytes\n"
      "                  of the image went out, and the server tells the host\n"
      "  --once          end after the first dump transfer: when the host has taken\n"
      "                  the whole image (or the refusal) and closed the port, at\n"
      "                  most %d seconds later; or after hang-up mode dropped the line\n"
      "                  (on a TCP port: closed the connection)\n"
      "\n"
      "Without --once it runs until SIGINT or SIGTERM (or until hang-up mode has\n"
      "dropped the line). A stream the host stops reading for %d seconds is\n"
      "given up, as on a line without flow control.\n"
      "\n"
      "Exit status: 0 clean end, 1 file, terminal or line failure, 2 usage error.\n",
      kStallSeconds, kStallSeconds);
}

int RunServeCommand(int argc, char** argv) {
  ServeSettings settings;
  if (!ParseServeArgs(argc, argv, &settings)) return kExitUsage;
  if (!settings.imagePath.empty()) {
    std::string error;
    if (!ReadDumpFile(settings.imagePath, &settings.device.image, &error)) return Failure(kCommand, error);
    if (settings.device.image.empty())
      return Failure(kCommand, settings.imagePath + " is empty (a device that sends nothing is --mode no-dump)");
  } else {
    settings.device.image = GenerateDump(settings.generate);
  }
  InstallSignalHandlers();
  return Serve(settings);
}
