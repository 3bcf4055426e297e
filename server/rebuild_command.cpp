// taxoscope-server rebuild: the ledger made again from DIR/dumps alone, the
// way to a ledger after a restore from a backup of dumps/, or after damage.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "server/dump_archive.h"
#include "server/ledger_service.h"
#include "server/server_commands.h"
#include "server/state_dir.h"

namespace {

const char kUsage[] = "taxoscope-server rebuild --state DIR";

int Fail(const std::string& err) {
  std::fprintf(stderr, "taxoscope-server rebuild: %s\n", err.c_str());
  return kServerExitFailed;
}

}  // namespace

void PrintRebuildHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Makes DIR/ledger.db again from the dumps kept in DIR/dumps alone, each added\n"
      "in the order the server received it, under the name and time it was\n"
      "received with. The new ledger is made beside the old one and replaces it\n"
      "only when it is complete. The server must be stopped (the state folder is\n"
      "locked while it runs). A stored dump whose bytes no longer have the SHA-256\n"
      "of its name is named and left out.\n"
      "\n"
      "  --state DIR   the state folder\n"
      "\n"
      "exit status:\n"
      "  0   the ledger was made from every stored dump\n"
      "  1   the state folder cannot be used, the server runs, or a stored dump\n"
      "      was left out (the ledger was made from the others)\n"
      "  2   usage error\n",
      kUsage);
}

int RunRebuildCommand(int argc, char** argv) {
  std::string state;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--state") && i + 1 < argc && argv[i + 1][0]) {
      state = argv[++i];
      continue;
    }
    return ServerUsage("rebuild", kUsage,
                       !std::strcmp(argv[i], "--state") ? "--state needs a value" : std::string("unexpected '") + argv[i] + "'");
  }
  if (state.empty()) return ServerUsage("rebuild", kUsage, "give the state folder with --state DIR");

  const StatePaths paths = StatePathsOf(state);
  StateLock lock;
  std::string err;
  if (access(paths.dir.c_str(), F_OK) != 0) return Fail("no state folder '" + paths.dir + "'");
  if (!lock.Acquire(paths.lock, &err)) return Fail(err);

  const std::string fresh = paths.ledger + ".rebuild";
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((fresh + suffix).c_str());
  int added = 0;
  std::vector<std::string> problems;
  {
    LedgerFile ledger;
    if (!OpenLedgerForServer(fresh, &ledger, &err)) return Fail("cannot make '" + fresh + "': " + err);
    if (!AddArchive(DumpArchive(paths.dumps), ledger, &added, &problems, &err)) return Fail(err);
    // Closing the last connection folds the log into the file and removes it.
  }
  // The old ledger's log belongs to the old file only: it goes first, so it
  // can never be read against the new one.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    if (::unlink((paths.ledger + suffix).c_str()) != 0 && errno != ENOENT)
      return Fail("cannot remove '" + paths.ledger + suffix + "': " + std::strerror(errno));
  }
  if (::rename(fresh.c_str(), paths.ledger.c_str()) != 0)
    return Fail("cannot put '" + fresh + "' in place: " + std::strerror(errno));
  int folder = ::open(paths.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  for (const std::string& problem : problems) std::fprintf(stderr, "taxoscope-server rebuild: %s\n", problem.c_str());
  std::printf("%s: %d stored dumps added\n", paths.ledger.c_str(), added);
  return problems.empty() ? kServerExitOk : kServerExitFailed;
}
