// taxoscope-server withdraw: an upload sent by mistake (under the wrong
// register id, a wrong file) taken back, with the server stopped; a running
// server takes the same from an admin (DELETE /api/v1/dumps/SHA256).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "server/dump_archive.h"
#include "server/ledger_service.h"
#include "server/server_commands.h"
#include "server/state_dir.h"

namespace {

const char kUsage[] = "taxoscope-server withdraw --state DIR DUMP-SHA256 [--device ID] [--why TEXT]";

int Fail(const std::string& err) {
  std::fprintf(stderr, "taxoscope-server withdraw: %s\n", err.c_str());
  return kServerExitFailed;
}

}  // namespace

void PrintWithdrawHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Takes back an upload sent by mistake (under the wrong register id, a wrong\n"
      "file): the stored dump whose SHA-256 is DUMP-SHA256 ('taxoscope-cli ledger\n"
      "devices --dumps' and the device's page list them) moves out of DIR/dumps\n"
      "into DIR/withdrawn, kept there with the reason, and leaves the ledger (its\n"
      "reports that no other dump holds go; a refused dump's note goes). A start\n"
      "and a rebuild leave it out, and the server takes these bytes for that\n"
      "device no more. One step: killed half-way, the withdrawal is finished at\n"
      "the next start. The server must be stopped; a running one withdraws for an\n"
      "admin token: DELETE /api/v1/dumps/SHA256 (docs/server.md).\n"
      "\n"
      "  --state DIR   the state folder\n"
      "  --device ID   the device, when the same bytes were sent for several\n"
      "  --why TEXT    the reason, kept beside the dump\n"
      "\n"
      "exit status:\n"
      "  0   withdrawn (or withdrawn before)\n"
      "  1   no such stored dump, several devices have it (give --device), the\n"
      "      state folder cannot be used, or the server runs\n"
      "  2   usage error\n",
      kUsage);
}

int RunWithdrawCommand(int argc, char** argv) {
  std::string state, sha256, device, why;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--state" || arg == "--device" || arg == "--why") {
      if (i + 1 >= argc || (arg != "--why" && !argv[i + 1][0]))
        return ServerUsage("withdraw", kUsage, arg + " needs a value");
      std::string& value = arg == "--state" ? state : arg == "--device" ? device : why;
      value = argv[++i];
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return ServerUsage("withdraw", kUsage, "unknown option " + arg);
    if (!sha256.empty()) return ServerUsage("withdraw", kUsage, "unexpected '" + arg + "'");
    sha256 = arg;
  }
  if (state.empty()) return ServerUsage("withdraw", kUsage, "give the state folder with --state DIR");
  if (sha256.empty()) return ServerUsage("withdraw", kUsage, "give the dump's SHA-256");
  if (!IsSha256Hex(sha256))
    return ServerUsage("withdraw", kUsage, "'" + sha256 + "' is no SHA-256 (64 lower-case hex digits)");

  const StatePaths paths = StatePathsOf(state);
  StateLock lock;
  std::string err;
  if (::access(paths.dir.c_str(), F_OK) != 0) return Fail("no state folder '" + paths.dir + "'");
  if (!lock.Acquire(paths.lock, &err))
    return Fail(err + "; a running server withdraws for an admin token: DELETE /api/v1/dumps/" + sha256);
  LedgerService ledger(state);
  int recovered = 0;
  if (!ledger.Start(&recovered, &err)) return Fail(err);
  WithdrawalResult result;
  switch (ledger.Withdraw(sha256, device, why, &result, &err)) {
    case Withdrawn: break;
    case WithdrawNotStored:
    case WithdrawAmbiguous:
    case WithdrawFailed: return Fail(err);
  }
  std::printf("%s: device %s, %s, %lld removed, %lld still held by other dumps%s\n", sha256.c_str(),
              result.dump.device.c_str(), result.already ? "withdrawn before" : "withdrawn",
              static_cast<long long>(result.removal.removed), static_cast<long long>(result.removal.kept),
              result.refusedNote ? ", its refusal forgotten" : "");
  return std::fflush(stdout) == 0 ? kServerExitOk : kServerExitFailed;
}
