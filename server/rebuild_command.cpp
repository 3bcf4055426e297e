// taxoscope-server rebuild: the ledger made again from DIR/dumps alone, the
// way to a ledger after a restore from a backup of dumps/, or after damage.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ledger/ledger_query.h"
#include "server/dump_archive.h"
#include "server/ledger_service.h"
#include "server/server_commands.h"
#include "server/state_dir.h"
#include "server/withdrawn_dumps.h"

namespace {

const char kUsage[] = "taxoscope-server rebuild --state DIR";

int Fail(const std::string& err) {
  std::fprintf(stderr, "taxoscope-server rebuild: %s\n", err.c_str());
  return kServerExitFailed;
}

std::string Plural(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The dumps the ledger holds that dumps/ does not (added with `taxoscope-cli
// ledger add` beside the server, or by hand): a ledger made from dumps/
// alone would lose them. A ledger that cannot be read is no such loss (it is
// what a rebuild is for): *readable says so.
bool DumpsOnlyInTheLedger(const StatePaths& paths, std::vector<LedgerDump>* only, bool* readable, std::string* err) {
  only->clear();
  *readable = false;
  if (::access(paths.ledger.c_str(), F_OK) != 0) return true;
  LedgerFile ledger;
  std::vector<LedgerDump> held;
  std::string reason;
  if (!ledger.Open(paths.ledger, LedgerReadOnly, &reason) || !ListDumps(ledger, &held, &reason)) {
    *err = reason;
    return true;
  }
  *readable = true;
  std::set<std::pair<std::string, std::string>> kept;
  std::vector<StoredDump> stored;
  std::vector<std::string> skipped;
  std::vector<WithdrawnDump> withdrawn;
  if (!DumpArchive(paths.dumps).List(&stored, &skipped, err) || !WithdrawnDumps(paths.withdrawn).List(&withdrawn, err))
    return false;
  for (const StoredDump& dump : stored) kept.emplace(dump.device, dump.sha256);
  for (const WithdrawnDump& dump : withdrawn) kept.emplace(dump.device, dump.sha256);
  for (const LedgerDump& dump : held)
    if (!kept.count({dump.device, dump.sha256})) only->push_back(dump);
  return true;
}

}  // namespace

void PrintRebuildHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Makes DIR/ledger.db again from the dumps kept in DIR/dumps alone, each added\n"
      "in the order the server received it, under the name and time it was\n"
      "received with. The new ledger is made beside the old one and replaces it\n"
      "only when it is complete, with the old one's owner and mode. The server\n"
      "must be stopped (the state folder is locked while it runs). A stored dump\n"
      "whose bytes no longer have the SHA-256 of its name is named and left out;\n"
      "withdrawn dumps stay out. When the old ledger holds dumps that DIR/dumps\n"
      "lacks (added with 'taxoscope-cli ledger add' beside the server), they are\n"
      "named and nothing is replaced: send them to the server, or take them out\n"
      "of the ledger with 'taxoscope-cli ledger remove', then rebuild.\n"
      "\n"
      "  --state DIR   the state folder\n"
      "\n"
      "exit status:\n"
      "  0   the ledger was made from every stored dump\n"
      "  1   the state folder cannot be used, the server runs, the old ledger\n"
      "      holds dumps that DIR/dumps lacks (nothing was replaced), or a stored\n"
      "      dump was left out (the ledger was made from the others)\n"
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
  ::umask(027);  // as the server's own files

  // Withdrawals cut off by a kill are finished first: their dumps stay out.
  int moved = 0;
  if (!WithdrawnDumps(paths.withdrawn).FinishMoves(DumpArchive(paths.dumps), &moved, &err)) return Fail(err);
  std::vector<LedgerDump> only;
  bool readable = false;
  std::string unread;
  if (!DumpsOnlyInTheLedger(paths, &only, &readable, &unread)) return Fail(unread);
  if (!readable && !unread.empty())
    std::fprintf(stderr, "taxoscope-server rebuild: the old ledger cannot be read (%s): dumps added to it beside "
                         "the server, if any, are not in the new one\n", unread.c_str());
  if (!only.empty()) {
    for (const LedgerDump& dump : only)
      std::fprintf(stderr, "taxoscope-server rebuild: %s: device %s, %s, added %s: in the ledger, not in %s\n",
                   dump.name.c_str(), dump.device.c_str(), dump.sha256.c_str(), dump.addedAt.c_str(),
                   paths.dumps.c_str());
    return Fail(Plural(static_cast<int>(only.size()), "dump", "dumps") +
                " of the ledger would be lost: nothing was replaced. Send them to the server (taxoscope-cli send) "
                "or take them out of the ledger (taxoscope-cli ledger remove), then rebuild");
  }
  struct stat old;
  const bool hadLedger = ::stat(paths.ledger.c_str(), &old) == 0;

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
  // The new ledger is the old one's in owner and mode.
  if (hadLedger) {
    if (::chmod(fresh.c_str(), old.st_mode & 07777) != 0)
      return Fail("cannot set the mode of '" + fresh + "': " + std::strerror(errno));
    if (::chown(fresh.c_str(), old.st_uid, old.st_gid) != 0 && errno != EPERM)
      return Fail("cannot set the owner of '" + fresh + "': " + std::strerror(errno));
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
  std::printf("%s: %s added\n", paths.ledger.c_str(), Plural(added, "stored dump", "stored dumps").c_str());
  return problems.empty() ? kServerExitOk : kServerExitFailed;
}
