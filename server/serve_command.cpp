// taxoscope-server serve: the server itself, until SIGTERM (or SIGINT).
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "server/ledger_service.h"
#include "server/listen_address.h"
#include "server/metrics.h"
#include "server/server_commands.h"
#include "server/state_dir.h"
#include "server/token_store.h"
#include "server/web_server.h"

namespace {

const char kUsage[] =
    "taxoscope-server serve --state DIR [--listen ADDR:PORT] [--cert FILE --key FILE] [--insecure-http]\n"
    "       [--read-timeout SECONDS] [--write-timeout SECONDS] [--keep-alive SECONDS] [--threads N]\n"
    "       [--connections N] [--connections-per-address N]";

struct ServeOptions {
  std::string state, cert, key;
  ListenAddress listen;
  bool insecureHttp = false;
  ServerLimits limits;
};

bool ParseCount(const char* text, int low, int high, int* value) {
  char* end = nullptr;
  long number = std::strtol(text, &end, 10);
  if (!*text || *end || number < low || number > high) return false;
  *value = static_cast<int>(number);
  return true;
}

// False after the usage message (*status set).
bool ParseServe(int argc, char** argv, ServeOptions* options, int* status) {
  std::string listen = kDefaultListen, err;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--insecure-http") {
      options->insecureHttp = true;
      continue;
    }
    if (i + 1 >= argc || !argv[i + 1][0]) {
      *status = ServerUsage("serve", kUsage, arg[0] == '-' ? arg + " needs a value" : "unexpected '" + arg + "'");
      return false;
    }
    const char* value = argv[++i];
    struct Limit {
      const char* name;
      int* field;
      int high;
    } limits[] = {{"--read-timeout", &options->limits.readTimeoutSeconds, 3600},
                  {"--write-timeout", &options->limits.writeTimeoutSeconds, 3600},
                  {"--keep-alive", &options->limits.keepAliveSeconds, 3600},
                  {"--threads", &options->limits.threads, 256},
                  {"--connections", &options->limits.connections, 100000},
                  {"--connections-per-address", &options->limits.connectionsPerAddress, 100000}};
    bool taken = true;
    if (arg == "--state") options->state = value;
    else if (arg == "--listen") listen = value;
    else if (arg == "--cert") options->cert = value;
    else if (arg == "--key") options->key = value;
    else taken = false;
    for (const Limit& limit : limits) {
      if (arg != limit.name) continue;
      taken = true;
      // Given, the limit holds for loopback clients too.
      if (limit.field == &options->limits.connectionsPerAddress) options->limits.perAddressOnLoopback = true;
      if (!ParseCount(value, 1, limit.high, limit.field)) {
        *status = ServerUsage("serve", kUsage, arg + " takes a whole number from 1 to " + std::to_string(limit.high));
        return false;
      }
    }
    if (!taken) {
      *status = ServerUsage("serve", kUsage, "unknown option " + arg);
      return false;
    }
  }
  if (options->state.empty()) {
    *status = ServerUsage("serve", kUsage, "give the state folder with --state DIR");
    return false;
  }
  if (!ParseListenAddress(listen, &options->listen, &err)) {
    *status = ServerUsage("serve", kUsage, "--listen: " + err);
    return false;
  }
  if (options->cert.empty() != options->key.empty()) {
    *status = ServerUsage("serve", kUsage, "give --cert and --key together");
    return false;
  }
  if (options->cert.empty() && !options->insecureHttp && !IsLoopbackHost(options->listen.host)) {
    *status = ServerUsage("serve", kUsage,
                          options->listen.host +
                              " is not a loopback address: give --cert and --key for HTTPS, or --insecure-http to "
                              "serve plain HTTP there (behind a reverse proxy that encrypts)");
    return false;
  }
  return true;
}

}  // namespace

void PrintServeHelp() {
  std::printf(
      "usage: %s\n"
      "\n"
      "Serves the ledger of the state folder DIR (created when missing): takes\n"
      "dumps (POST /api/v1/dumps) from tokens of the upload role, keeps each in\n"
      "DIR/dumps and adds it to DIR/ledger.db before it answers, and answers the\n"
      "ledger's devices, monthly VAT table, reports and check (/api/v1/...) and\n"
      "the pages / and /devices/ID to tokens of the read role. Tokens are made\n"
      "with 'taxoscope-server token add'; /healthz needs none. One line per\n"
      "request goes to standard error. SIGTERM or SIGINT ends it once the running\n"
      "requests are answered (those not done in 10 seconds are cut off). The\n"
      "API and the setup are described in docs/server.md.\n"
      "\n"
      "  --state DIR              the state folder: ledger.db, dumps/, tokens\n"
      "  --listen ADDR:PORT       where to listen (default %s; [::1]:PORT for\n"
      "                           IPv6; port 0 takes a free port)\n"
      "  --cert FILE --key FILE   serve HTTPS with this certificate (PEM, the\n"
      "                           chain after it) and its private key\n"
      "  --insecure-http          serve plain HTTP on an address other than\n"
      "                           loopback (behind a reverse proxy that encrypts)\n"
      "  --read-timeout SECONDS   the longest wait for a client's bytes, for a\n"
      "                           request's headers, and behind 8 KiB/s in a body\n"
      "                           (default 10)\n"
      "  --write-timeout SECONDS  the longest wait to send an answer (default 10)\n"
      "  --keep-alive SECONDS     how long an idle connection stays open (default 5)\n"
      "  --threads N              requests worked on at once (default 16); a\n"
      "                           connection waiting for its client holds none\n"
      "  --connections N          connections open at once (default 1000); more\n"
      "                           wait their turn\n"
      "  --connections-per-address N\n"
      "                           connections at once from one address (an IPv6\n"
      "                           client by its /64); more are closed at once\n"
      "                           (default 32, loopback clients, as a reverse\n"
      "                           proxy here, not counted unless N is given)\n"
      "\n"
      "exit status:\n"
      "  0   ended by SIGTERM or SIGINT\n"
      "  1   the state folder, the ledger, the certificate or the address cannot\n"
      "      be used\n"
      "  2   usage error\n",
      kUsage, kDefaultListen);
}

int RunServeCommand(int argc, char** argv) {
  ServeOptions options;
  int status = kServerExitOk;
  if (!ParseServe(argc, argv, &options, &status)) return status;
  ::umask(027);  // what the server writes is for its own user and group

  // SIGTERM and SIGINT go to one thread that stops the server; every other
  // thread (the server's workers are made after this) has them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);  // a client gone mid-answer is an error of that write, not the end

  const StatePaths paths = StatePathsOf(options.state);
  std::string err;
  // The TLS library says only that it cannot load them: the system says why.
  for (const std::string* file : {&options.cert, &options.key}) {
    if (file->empty()) continue;
    FILE* readable = std::fopen(file->c_str(), "rb");
    if (!readable) {
      std::fprintf(stderr, "taxoscope-server: cannot read the %s '%s': %s\n",
                   file == &options.cert ? "certificate" : "key", file->c_str(), std::strerror(errno));
      return kServerExitFailed;
    }
    std::fclose(readable);
  }
  StateLock lock;
  LedgerService ledger(options.state);
  int recovered = 0;
  if (!PrepareStateDir(paths.dir, &err) || !lock.Acquire(paths.lock, &err) || !ledger.Start(&recovered, &err)) {
    std::fprintf(stderr, "taxoscope-server: %s\n", err.c_str());
    return kServerExitFailed;
  }
  if (recovered > 0)
    std::fprintf(stderr, "taxoscope-server: added %d stored %s the ledger lacked\n", recovered,
                 recovered == 1 ? "dump" : "dumps");

  TokenFile tokens(paths.tokens);
  ServerMetrics metrics;
  WebServer server(ledger, tokens, metrics, options.limits);
  int port = 0;
  if (!server.Bind(options.listen, options.cert, options.key, &port, &err)) {
    std::fprintf(stderr, "taxoscope-server: %s\n", err.c_str());
    return kServerExitFailed;
  }
  const bool ipv6 = options.listen.host.find(':') != std::string::npos;
  const std::string where = (ipv6 ? "[" + options.listen.host + "]" : options.listen.host) + ":" + std::to_string(port);
  if (options.cert.empty())
    std::fprintf(stderr, "taxoscope-server: listening on http://%s (plain HTTP, not encrypted)\n", where.c_str());
  else
    std::fprintf(stderr, "taxoscope-server: listening on https://%s (TLS)\n", where.c_str());

  std::thread stopper([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::fprintf(stderr, "taxoscope-server: %s: finishing the running requests\n", strsignal(signal));
    server.Stop();
  });
  const bool served = server.Run(&err);
  if (!served) {
    std::fprintf(stderr, "taxoscope-server: %s\n", err.c_str());
    pthread_kill(stopper.native_handle(), SIGTERM);
  }
  stopper.join();
  std::fprintf(stderr, "taxoscope-server: stopped\n");
  return served ? kServerExitOk : kServerExitFailed;
}
