#pragma once
// The HTTP side of taxoscope-server, over cpp-httplib: the routes, the
// tokens and roles, the limits, the log line of each request, and the
// answers as JSON errors (never HTML) with the status that fits.
#include <memory>
#include <string>

#include "server/ledger_service.h"
#include "server/listen_address.h"
#include "server/metrics.h"
#include "server/token_store.h"

// Every limit the server keeps, each explicit.
struct ServerLimits {
  int readTimeoutSeconds = 10;   // a read waits at most this long; headers come whole in this time;
                                 // a body falls at most this far behind kMinBodyRate
  int writeTimeoutSeconds = 10;  // a write of the answer waits at most this long
  int keepAliveSeconds = 5;      // an idle connection is closed after this
  int keepAliveRequests = 100;   // requests on one connection
  int threads = 16;              // connections served at once (a kept-alive one holds its worker);
                                 // more wait their turn
};
// The bytes per second below which a body is too slow (a full dump then
// takes about four minutes).
constexpr size_t kMinBodyRate = 8 * 1024;
// The longest body: a complete fiscal-memory image.
constexpr size_t kMaxDumpBytes = 2101247;
// The longest device id (bytes), and the longest dump name.
constexpr size_t kMaxDeviceBytes = 64;
constexpr size_t kMaxDumpNameBytes = 255;

class WebServer {
 public:
  WebServer(LedgerService& ledger, TokenFile& tokens, ServerMetrics& metrics, const ServerLimits& limits);
  ~WebServer();

  // Binds the address, with TLS when cert and key are given. *port is the
  // port bound (the one chosen for port 0).
  bool Bind(const ListenAddress& address, const std::string& cert, const std::string& key, int* port,
            std::string* err);
  // Serves until Stop(); the running requests finish first.
  bool Run();
  // From any thread: no new connection is taken.
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};
