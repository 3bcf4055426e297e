// taxoscope-cli send: dumps to a taxoscope-server, which keeps them and adds
// them to its ledger; one line per dump as `ledger add` prints it.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cli/add_line.h"
#include "cli/commands.h"
#include "cli/ledger_args.h"
#include "cli/report_options.h"
#include "send/dump_sender.h"
#include "send/http_client.h"

namespace {

const char kUsage[] = "taxoscope-cli send URL DUMP... [--token-file FILE] [--device ID] [--ca FILE]";

// Exit statuses of send beyond those of `ledger add`.
constexpr int kExitUnreachable = 20;
constexpr int kExitTokenRefused = 21;
constexpr int kExitServerError = 22;

// The longest dump: a complete fiscal-memory image.
constexpr size_t kMaxDumpBytes = 2101247;

int Usage(const std::string& problem) {
  std::fprintf(stderr, "taxoscope-cli send: %s\nusage: %s\n", problem.c_str(), kUsage);
  return kExitUsage;
}

enum ReadOutcome { ReadWhole, ReadFailed, ReadTooLong };

// The whole file (a pipe too), at most one byte over the image cap.
ReadOutcome ReadDump(const std::string& path, std::string* bytes, std::string* err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *err = std::strerror(errno);
    return ReadFailed;
  }
  bytes->clear();
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes->append(buffer, static_cast<size_t>(in.gcount()));
    if (bytes->size() > kMaxDumpBytes) return ReadTooLong;
  }
  if (in.bad()) {
    *err = "the read failed";
    return ReadFailed;
  }
  return ReadWhole;
}

enum FileKind { NoFile, RegularFile, Folder, OtherFile };
FileKind KindOf(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return NoFile;
  return S_ISREG(info.st_mode) ? RegularFile : S_ISDIR(info.st_mode) ? Folder : OtherFile;
}

// The worst status so far wins: 20 over 21 over 22 over 3 over 13.
int Worse(int a, int b) {
  for (int status : {kExitUnreachable, kExitTokenRefused, kExitServerError, kExitDumpUnreadable, kExitConflicts})
    if (a == status || b == status) return status;
  return kExitOk;
}

}  // namespace

void PrintSendHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Sends each fiscal-memory dump DUMP to the taxoscope-server at URL\n"
      "(https://HOST[:PORT][/PREFIX]; plain http only to this machine), which keeps\n"
      "it and adds its daily reports to its ledger, and prints what the server's add\n"
      "gave, one line per dump as 'taxoscope-cli ledger add' prints it:\n"
      "  DUMP: device ID, N new, M already in the ledger, R repaired, C conflicts\n"
      "A dump that disagrees with the server's ledger is refused whole, its\n"
      "conflicting numbers named on stderr. Sending the same dump again counts\n"
      "nothing twice. The server's certificate is verified against the system's\n"
      "authorities and must name the host of URL.\n"
      "\n"
      "  --token-file FILE   the file whose first line is the token of the upload\n"
      "                      role ('taxoscope-server token add' makes one)\n"
      "  --device ID         the device of every dump given (default: the server\n"
      "                      takes it from the file name without its folder and\n"
      "                      .bin); needed for a dump that is not a file (a pipe)\n"
      "  --ca FILE           trust the certificate authority in FILE (PEM) alone, an\n"
      "                      office's own%s\n"
      "  --                  ends the options: every argument after it is a dump\n"
      "\n"
      "exit status:\n"
      "  0   every dump was added\n"
      "  2   usage error\n"
      "  3   a dump cannot be read, or is not a dump of this device family (the\n"
      "      others were sent)\n"
      "  13  a dump disagrees with the server's ledger and was refused (the others\n"
      "      were sent)\n"
      "  20  the server cannot be reached: no connection, a certificate that is not\n"
      "      trusted or not for the host, no answer in time (nothing more is sent)\n"
      "  21  the server refused the token: none, an unknown one (nothing more is\n"
      "      sent), or one that may not send for the device\n"
      "  22  the server answered another error (it is named; the others were sent)\n"
      "When several apply, the first of 20, 21, 22, 3, 13 in this list wins.\n",
      kUsage, HttpClientTakesCaFile() ? "" : " (on Windows: install it in the certificate store instead)");
}

int RunSendCommand(int argc, char** argv) {
  std::string url, tokenFile, device, caFile;
  std::vector<std::string> dumps;
  bool options = true;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
      continue;
    }
    if (options && (arg == "--help" || arg == "-h")) {
      PrintSendHelp();
      return kExitOk;
    }
    if (options && (arg == "--token-file" || arg == "--device" || arg == "--ca")) {
      if (i + 1 >= argc || !argv[i + 1][0]) return Usage(arg + " needs a value");
      if (IsOption(argv[i + 1])) return Usage(arg + " needs a value, not the option " + argv[i + 1]);
      std::string& value = arg == "--token-file" ? tokenFile : arg == "--device" ? device : caFile;
      if (!value.empty()) return Usage("give " + arg + " once");
      value = argv[++i];
      continue;
    }
    if (options && arg.size() > 1 && arg[0] == '-') return Usage("unknown option " + arg);
    if (arg.empty()) return Usage("an empty argument");
    if (url.empty())
      url = arg;
    else
      dumps.push_back(arg);
  }
  if (url.empty()) return Usage("give the server's URL");
  if (dumps.empty()) return Usage("no dump file given");
  if (!caFile.empty() && !HttpClientTakesCaFile())
    return Usage("--ca is not taken here: install the authority in the Windows certificate store");

  SendTarget target;
  target.caFile = caFile;
  std::string err;
  if (!ParseServerUrl(url, &target.url, &err)) return Usage(err);
  std::string warning;
  if (!tokenFile.empty() && !ReadTokenFile(tokenFile, &target.token, &err, &warning)) {
    std::fprintf(stderr, "taxoscope-cli send: %s\n", err.c_str());
    return kExitUsage;
  }
  if (!warning.empty()) std::fprintf(stderr, "taxoscope-cli send: warning: %s\n", warning.c_str());
  // The authority file is the command line's: a missing one is a usage error.
  if (!caFile.empty()) {
    std::ifstream ca(caFile, std::ios::binary);
    const FileKind kind = KindOf(caFile);
    if (!ca || kind == Folder) {
      const std::string why = kind == Folder ? "it is a folder" : std::strerror(errno);
      return Usage("--ca: cannot read the certificate authority '" + caFile + "': " + why);
    }
  }

  int status = kExitOk;
  for (const std::string& dump : dumps) {
    const FileKind kind = KindOf(dump);
    if (kind == Folder || (kind == OtherFile && device.empty())) {
      std::fprintf(stderr, "taxoscope-cli send: '%s' is %s\n", dump.c_str(),
                   kind == Folder ? "a folder" : "not a file: give --device, the name is no device's");
      status = Worse(status, kExitDumpUnreadable);
      continue;
    }
    std::string bytes;
    switch (ReadDump(dump, &bytes, &err)) {
      case ReadWhole: break;
      case ReadFailed:
        std::fprintf(stderr, "taxoscope-cli send: cannot open '%s': %s\n", dump.c_str(), err.c_str());
        status = Worse(status, kExitDumpUnreadable);
        continue;
      case ReadTooLong:
        std::fprintf(stderr, "%s: not a dump of this device family (longer than %zu bytes, the image cap)\n",
                     dump.c_str(), kMaxDumpBytes);
        status = Worse(status, kExitDumpUnreadable);
        continue;
    }
    SendResult result;
    const SendOutcome outcome = SendDump(target, bytes, dump, device, &result);
    switch (outcome) {
      case SendAdded:
        for (const SentConflict& copy : result.damagedCopies) SayDamagedCopy(dump, copy.number, copy.date);
        if (result.refused) {
          std::vector<int32_t> numbers;
          for (const SentConflict& conflict : result.conflicts) numbers.push_back(conflict.number);
          SayRefused(dump, numbers, result.device);
          status = Worse(status, kExitConflicts);
        }
        std::fputs(AddLine(dump, result.device, result.added, result.already, result.repaired,
                           result.conflicts.size()).c_str(),
                   stdout);
        std::fflush(stdout);
        break;
      case SendNotADump:
        std::fprintf(stderr, "%s: %s\n", dump.c_str(), result.detail.c_str());
        status = Worse(status, kExitDumpUnreadable);
        break;
      case SendTokenRefused:
        std::fprintf(stderr, "taxoscope-cli send: %s: refused (%d): %s\n", dump.c_str(), result.status,
                     result.detail.c_str());
        status = Worse(status, kExitTokenRefused);
        if (result.status == 401) return status;
        break;
      case SendServerError:
        std::fprintf(stderr, "taxoscope-cli send: %s: the server answered %d: %s\n", dump.c_str(), result.status,
                     result.detail.c_str());
        status = Worse(status, kExitServerError);
        break;
      case SendUnreachable:
        std::fprintf(stderr, "taxoscope-cli send: %s: %s\n", dump.c_str(), result.detail.c_str());
        return Worse(status, kExitUnreachable);
    }
  }
  return status;
}
