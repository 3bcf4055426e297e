#pragma once
// What taxoscope-server serves: the routes, the tokens and roles, the log
// line of each request, and the answers as JSON errors (never HTML) with
// the status that fits, over the event-driven HTTP server of http_server.h.
#include <memory>
#include <string>

#include "server/http_server.h"
#include "server/ledger_service.h"
#include "server/listen_address.h"
#include "server/metrics.h"
#include "server/token_store.h"

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
  bool Run(std::string* err);
  // From any thread: no new connection is taken.
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};
