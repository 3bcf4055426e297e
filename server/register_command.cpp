// taxoscope-server register add|list|remove: the registers the office knows,
// in registers.db of the state folder. A running server sees a change at its
// next request.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ledger/ledger_add.h"
#include "link/run_state.h"
#include "server/device_id.h"
#include "server/register_port.h"
#include "server/register_store.h"
#include "server/server_commands.h"
#include "server/state_dir.h"

namespace {

const char kAddUsage[] =
    "taxoscope-server register add ID --state DIR [--name TEXT] [--port ADDR] [--baud N]";
const char kListUsage[] = "taxoscope-server register list --state DIR";
const char kRemoveUsage[] = "taxoscope-server register remove ID --state DIR";

struct RegisterArgs {
  std::string id, state, name, port, baud;
  bool haveName = false, havePort = false, haveBaud = false;
};

bool ParseRegisterArgs(const char* command, const char* usage, bool takesId, bool takesDetails, int argc,
                       char** argv, RegisterArgs* args, int* status) {
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool valued =
        arg == "--state" || (takesDetails && (arg == "--name" || arg == "--port" || arg == "--baud"));
    if (valued) {
      if (i + 1 >= argc || !argv[i + 1][0]) {
        *status = ServerUsage(command, usage, arg + " needs a value");
        return false;
      }
      const std::string value = argv[++i];
      bool* given = arg == "--name" ? &args->haveName : arg == "--port" ? &args->havePort
                                    : arg == "--baud" ? &args->haveBaud : nullptr;
      if (given && *given) {
        *status = ServerUsage(command, usage, "give " + arg + " once");
        return false;
      }
      if (given) *given = true;
      if (arg == "--state") args->state = value;
      if (arg == "--name") args->name = value;
      if (arg == "--port") args->port = value;
      if (arg == "--baud") args->baud = value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      *status = ServerUsage(command, usage, "unknown option " + arg);
      return false;
    } else if (takesId && args->id.empty() && !arg.empty()) {
      args->id = arg;
    } else {
      *status = ServerUsage(command, usage, "unexpected '" + arg + "'");
      return false;
    }
  }
  std::string problem;
  if (takesId && args->id.empty()) {
    *status = ServerUsage(command, usage, "give the register's device ID");
    return false;
  }
  if (takesId && !CheckDeviceId(args->id, &problem)) {
    *status = ServerUsage(command, usage, problem);
    return false;
  }
  if (args->state.empty()) {
    *status = ServerUsage(command, usage, "give the state folder with --state DIR");
    return false;
  }
  return true;
}

bool ParseBaud(const std::string& text, int32_t* baud) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  for (int32_t entry : kBaudTable) {
    if (entry == value) {
      *baud = entry;
      return true;
    }
  }
  return false;
}

int Fail(const std::string& err) {
  std::fprintf(stderr, "taxoscope-server register: %s\n", err.c_str());
  return kServerExitFailed;
}

int Add(int argc, char** argv) {
  RegisterArgs args;
  int status = kServerExitOk;
  if (!ParseRegisterArgs("register add", kAddUsage, true, true, argc, argv, &args, &status)) return status;
  RegisterEntry entry;
  entry.device = args.id;
  std::string problem;
  if (args.haveName && !CheckRegisterName(args.name, &problem))
    return ServerUsage("register add", kAddUsage, problem);
  entry.name = args.name;
  if (args.havePort && !CheckRegisterPort(args.port, &problem))
    return ServerUsage("register add", kAddUsage, "--port: " + problem);
  entry.port = args.port;
  if (args.haveBaud && !ParseBaud(args.baud, &entry.baud))
    return ServerUsage("register add", kAddUsage,
                       "--baud is 9600, 19200, 38400, 57600 or 115200, not '" + args.baud + "'");
  if (args.haveBaud && !args.havePort)
    return ServerUsage("register add", kAddUsage, "--baud is the speed of a --port");
  entry.addedAt = UtcNowText();

  RegisterStore store;
  std::string err;
  bool existed = false;
  if (!PrepareStateDir(args.state, &err) || !store.Open(RegisterStore::PathIn(args.state), true, &err) ||
      !store.Add(entry, &existed, &err))
    return Fail(err);
  if (existed) return Fail("the register '" + entry.device + "' is listed; remove it first");
  const std::string line = entry.port.empty() ? std::string("no port: its shop sends its dumps")
                                              : entry.port + " at " + std::to_string(entry.baud) + " baud";
  std::fprintf(stderr, "taxoscope-server register: '%s' added (%s)\n", entry.device.c_str(), line.c_str());
  return kServerExitOk;
}

int List(int argc, char** argv) {
  RegisterArgs args;
  int status = kServerExitOk;
  if (!ParseRegisterArgs("register list", kListUsage, false, false, argc, argv, &args, &status)) return status;
  RegisterStore store;
  std::vector<RegisterEntry> registers;
  std::string err;
  if (!store.Open(RegisterStore::PathIn(args.state), false, &err) || !store.List(&registers, &err))
    return Fail(err);
  for (const RegisterEntry& entry : registers) {
    const std::string baud = entry.port.empty() ? std::string("-") : std::to_string(entry.baud);
    std::printf("%-16s %-32s %6s %s\n", entry.device.c_str(), entry.port.empty() ? "-" : entry.port.c_str(),
                baud.c_str(), entry.name.empty() ? "-" : entry.name.c_str());
  }
  return std::fflush(stdout) == 0 ? kServerExitOk : kServerExitFailed;
}

int Remove(int argc, char** argv) {
  RegisterArgs args;
  int status = kServerExitOk;
  if (!ParseRegisterArgs("register remove", kRemoveUsage, true, false, argc, argv, &args, &status)) return status;
  RegisterStore store;
  std::string err;
  bool existed = false;
  if (!store.Open(RegisterStore::PathIn(args.state), false, &err) || !store.Remove(args.id, &existed, &err))
    return Fail(err);
  if (!existed) return Fail("no register '" + args.id + "' is listed");
  std::fprintf(stderr, "taxoscope-server register: '%s' removed; the record of its reads stays\n",
               args.id.c_str());
  return kServerExitOk;
}

struct Subcommand {
  const char* name;
  const char* summary;
  const char* usage;
  const char* text;
  int (*run)(int argc, char** argv);
};

const Subcommand kSubcommands[] = {
    {"add", "list a register: its device id, the shop's name for it, its port", kAddUsage,
     "Lists the register whose device id is ID (as its identify reply gives it and\n"
     "as its dumps are filed) in DIR/registers.db. A register with a port is read\n"
     "by the server in its collection window; one without is only named, and its\n"
     "shop keeps sending its dumps.\n"
     "\n"
     "  --name TEXT   the shop's words for it, UTF-8, shown on the pages\n"
     "  --port ADDR   where the server reads it: tcp://HOST:PORT (a serial device\n"
     "                server's raw TCP port), rfc2217://HOST:PORT (one that speaks\n"
     "                RFC 2217), or a port of this machine (/dev/ttyS0, ttyUSB0)\n"
     "  --baud N      the line's speed: 9600 (default), 19200, 38400, 57600 or\n"
     "                115200; over tcp:// the device server keeps its own\n"
     "  --state DIR   the state folder (created when missing)\n",
     Add},
    {"list", "list the registers: id, port, speed, name", kListUsage,
     "Lists the registers of DIR/registers.db, one line each: the device id, the\n"
     "port ('-' for none), the speed and the name ('-' for none).\n"
     "\n"
     "  --state DIR   the state folder\n",
     List},
    {"remove", "remove a register: it is read no more", kRemoveUsage,
     "Removes the register ID; a running server reads it no more from its next\n"
     "look at the list on. The record of its reads stays, and its dumps stay in\n"
     "the ledger.\n"
     "\n"
     "  --state DIR   the state folder\n",
     Remove},
};

const char kExitHelp[] =
    "\n"
    "exit status:\n"
    "  0   done\n"
    "  1   the state folder or its registers.db cannot be read or written, or\n"
    "      the register is listed already (add) or not listed (remove)\n"
    "  2   usage error\n";

void PrintRegisterUsage(FILE* out) {
  std::fprintf(out,
               "usage: taxoscope-server register SUBCOMMAND [ID] [options] --state DIR\n"
               "\n"
               "Keeps the registers the office knows: their device ids, the shops' names\n"
               "for them and the ports the server reads them through.\n"
               "\n"
               "subcommands:\n");
  for (const Subcommand& sub : kSubcommands) std::fprintf(out, "  %-8s %s\n", sub.name, sub.summary);
  std::fprintf(out, "\n'taxoscope-server register SUBCOMMAND --help' explains a subcommand.\n");
}

}  // namespace

void PrintRegisterHelp() { PrintRegisterUsage(stdout); }

int RunRegisterCommand(int argc, char** argv) {
  if (argc < 1) {
    PrintRegisterUsage(stderr);
    return kServerExitUsage;
  }
  if (!std::strcmp(argv[0], "--help") || !std::strcmp(argv[0], "-h") || !std::strcmp(argv[0], "help")) {
    PrintRegisterHelp();
    return kServerExitOk;
  }
  for (const Subcommand& sub : kSubcommands) {
    if (std::strcmp(argv[0], sub.name) != 0) continue;
    for (int i = 1; i < argc; ++i) {
      if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
        std::printf("usage: %s\n\n%s%s", sub.usage, sub.text, kExitHelp);
        return kServerExitOk;
      }
    }
    return sub.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "taxoscope-server register: unknown subcommand '%s'\n\n", argv[0]);
  PrintRegisterUsage(stderr);
  return kServerExitUsage;
}
