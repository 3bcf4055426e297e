// taxoscope-server token add|list|remove: the tokens of the state folder.
// A running server sees a change at its next request.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "export/utf8_text.h"
#include "server/device_id.h"
#include "server/durable_file.h"
#include "server/server_commands.h"
#include "server/state_dir.h"
#include "server/token_store.h"

namespace {

const char kAddUsage[] = "taxoscope-server token add NAME --role upload|read|admin [--device ID]... --state DIR";
const char kListUsage[] = "taxoscope-server token list --state DIR";
const char kRemoveUsage[] = "taxoscope-server token remove NAME --state DIR";

struct TokenArgs {
  std::string name, role, state;
  std::vector<std::string> devices;
};

bool ParseTokenArgs(const char* command, const char* usage, bool takesName, bool takesRole, int argc, char** argv,
                    TokenArgs* args, int* status) {
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool valued = arg == "--state" || (takesRole && (arg == "--role" || arg == "--device"));
    if (valued) {
      if (i + 1 >= argc || !argv[i + 1][0]) {
        *status = ServerUsage(command, usage, arg + " needs a value");
        return false;
      }
      const std::string value = argv[++i];
      if (arg == "--state") args->state = value;
      if (arg == "--role") args->role = value;
      if (arg == "--device") args->devices.push_back(value);
    } else if (arg.size() > 1 && arg[0] == '-') {
      *status = ServerUsage(command, usage, "unknown option " + arg);
      return false;
    } else if (takesName && args->name.empty()) {
      args->name = arg;
    } else {
      *status = ServerUsage(command, usage, "unexpected '" + arg + "'");
      return false;
    }
  }
  if (takesName && !IsValidTokenName(args->name)) {
    *status = ServerUsage(command, usage,
                          args->name.empty() ? "give the token's NAME"
                                             : "a NAME is 1 to 64 letters, digits, '.', '_' or '-'");
    return false;
  }
  if (args->state.empty()) {
    *status = ServerUsage(command, usage, "give the state folder with --state DIR");
    return false;
  }
  return true;
}

int Fail(const std::string& err) {
  std::fprintf(stderr, "taxoscope-server token: %s\n", err.c_str());
  return kServerExitFailed;
}

std::string UserName(uid_t uid) {
  const passwd* user = ::getpwuid(uid);
  return user ? user->pw_name : "#" + std::to_string(uid);
}

// The tokens file is the server's: a command run as another user would
// leave it unreadable to the server (then every token is refused). Root may
// run them (the file keeps its owner and mode); another user may not.
bool MayChangeTokens(const StatePaths& paths, std::string* err) {
  FileOwner owner;
  const uid_t self = ::geteuid();
  if (self == 0) return true;
  for (const std::string& path : {paths.tokens, paths.tokens + ".lock", paths.dir}) {
    if (!OwnerOf(path, &owner)) continue;  // the first of them there tells
    if (owner.uid == self) return true;
    *err = "'" + path + "' belongs to the user " + UserName(owner.uid) +
           ": run the token commands as that user (sudo -u " + UserName(owner.uid) + " taxoscope-server token ...)";
    return false;
  }
  return true;
}

// The list of the state folder under its lock file for tokens, so that two
// commands at once never lose each other's change. Made by root, the lock
// file is the state folder's owner's, as the tokens file is.
bool LoadLocked(const std::string& state, StateLock* lock, TokenList* list, std::string* err) {
  const StatePaths paths = StatePathsOf(state);
  if (!PrepareStateDir(state, err) || !MayChangeTokens(paths, err)) return false;
  FileOwner owner;
  const bool root = ::geteuid() == 0 && OwnerOf(paths.dir, &owner);
  return lock->Acquire(paths.tokens + ".lock", err, root ? &owner : nullptr) && list->Load(paths.tokens, err);
}

int Add(int argc, char** argv) {
  TokenArgs args;
  int status = kServerExitOk;
  if (!ParseTokenArgs("token add", kAddUsage, true, true, argc, argv, &args, &status)) return status;
  TokenEntry entry;
  entry.name = args.name;
  if (!ParseRole(args.role, &entry.role))
    return ServerUsage("token add", kAddUsage, args.role.empty() ? "give --role" : "unknown role '" + args.role + "'");
  if (!args.devices.empty() && entry.role != RoleUpload)
    return ServerUsage("token add", kAddUsage, "--device is for tokens of the upload role");
  // The server's own rules: a token for an id it would refuse is of no use.
  for (const std::string& device : args.devices) {
    std::string why;
    if (!CheckDeviceId(device, &why)) return ServerUsage("token add", kAddUsage, "--device: " + why);
  }
  entry.devices = args.devices;

  StateLock lock;
  TokenList list;
  std::string err, token;
  if (!LoadLocked(args.state, &lock, &list, &err)) return Fail(err);
  if (list.Find(entry.name)) return Fail("a token named '" + entry.name + "' exists; remove it first");
  if (!NewToken(&token, &err)) return Fail(err);
  entry.sha256 = TokenHash(token);
  list.Add(entry);
  if (!list.Save(StatePathsOf(args.state).tokens, &err)) return Fail(err);
  std::printf("%s\n", token.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "taxoscope-server token: '%s' (%s) added; the token above is shown this once\n",
               entry.name.c_str(), RoleName(entry.role));
  return kServerExitOk;
}

int List(int argc, char** argv) {
  TokenArgs args;
  int status = kServerExitOk;
  if (!ParseTokenArgs("token list", kListUsage, false, false, argc, argv, &args, &status)) return status;
  TokenList list;
  std::string err;
  if (!list.Load(StatePathsOf(args.state).tokens, &err)) return Fail(err);
  for (const TokenEntry& entry : list.entries()) {
    std::string devices;
    for (const std::string& device : entry.devices) devices += (devices.empty() ? "" : ",") + ValidUtf8(device);
    std::printf("%-20s %-7s %s\n", entry.name.c_str(), RoleName(entry.role),
                devices.empty() ? (entry.role == RoleUpload ? "any device" : "-") : devices.c_str());
  }
  return std::fflush(stdout) == 0 ? kServerExitOk : kServerExitFailed;
}

int Remove(int argc, char** argv) {
  TokenArgs args;
  int status = kServerExitOk;
  if (!ParseTokenArgs("token remove", kRemoveUsage, true, false, argc, argv, &args, &status)) return status;
  StateLock lock;
  TokenList list;
  std::string err;
  if (!LoadLocked(args.state, &lock, &list, &err)) return Fail(err);
  if (!list.Remove(args.name)) return Fail("no token named '" + args.name + "'");
  if (!list.Save(StatePathsOf(args.state).tokens, &err)) return Fail(err);
  std::fprintf(stderr, "taxoscope-server token: '%s' removed\n", args.name.c_str());
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
    {"add", "make a new token and print it, once", kAddUsage,
     "Makes a token of 256 bits from the system's random source, keeps its SHA-256\n"
     "under NAME in DIR/tokens and prints the token, this once, on standard output.\n"
     "The roles: upload may only send dumps (with --device, only for those\n"
     "devices); read may read everything and send nothing; admin both.\n"
     "\n"
     "  --role ROLE   upload, read or admin\n"
     "  --device ID   an upload token's device; give it again for more (default:\n"
     "                any device)\n"
     "  --state DIR   the state folder (created when missing)\n",
     Add},
    {"list", "list the tokens: name, role, devices", kListUsage,
     "Lists the tokens of DIR/tokens, one line each: the name, the role and the\n"
     "devices of an upload token. The tokens themselves are kept nowhere.\n"
     "\n"
     "  --state DIR   the state folder\n",
     List},
    {"remove", "remove a token: it is refused from the next request on", kRemoveUsage,
     "Removes the token named NAME; a running server refuses it from its next\n"
     "request on.\n"
     "\n"
     "  --state DIR   the state folder\n",
     Remove},
};

const char kExitHelp[] =
    "\n"
    "exit status:\n"
    "  0   done\n"
    "  1   the state folder or its tokens file cannot be read or written, or\n"
    "      there is no token of that name (remove) or one already (add)\n"
    "  2   usage error\n";

void PrintTokenUsage(FILE* out) {
  std::fprintf(out,
               "usage: taxoscope-server token SUBCOMMAND [NAME] [options] --state DIR\n"
               "\n"
               "Keeps the tokens that shops send dumps with and readers read with: their\n"
               "names, roles and devices, and only the SHA-256 of each token.\n"
               "\n"
               "subcommands:\n");
  for (const Subcommand& sub : kSubcommands) std::fprintf(out, "  %-8s %s\n", sub.name, sub.summary);
  std::fprintf(out, "\n'taxoscope-server token SUBCOMMAND --help' explains a subcommand.\n");
}

}  // namespace

void PrintTokenHelp() { PrintTokenUsage(stdout); }

int RunTokenCommand(int argc, char** argv) {
  if (argc < 1) {
    PrintTokenUsage(stderr);
    return kServerExitUsage;
  }
  if (!std::strcmp(argv[0], "--help") || !std::strcmp(argv[0], "-h") || !std::strcmp(argv[0], "help")) {
    PrintTokenHelp();
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
  std::fprintf(stderr, "taxoscope-server token: unknown subcommand '%s'\n\n", argv[0]);
  PrintTokenUsage(stderr);
  return kServerExitUsage;
}
