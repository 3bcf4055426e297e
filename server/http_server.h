#pragma once
// HTTP/1.1 and TLS for taxoscope-server, event-driven (Boost.Beast over
// Asio): two threads wait on every client's socket at once, and a
// connection takes a worker (WorkerPool) only once a request is whole and
// admitted, for as long as its work runs. So clients that are slow, idle or
// hostile cost a socket and a few kilobytes each, never a worker:
//
// - a request's headers come whole within the keep-alive time plus the read
//   time-out since the connection opened (or its last answer), in at most
//   16 KiB and 100 lines (else 431), or the connection is closed;
// - a body keeps a pace of at least kMinBodyRate, at most a read time-out
//   behind (else 408), and its framing is checked before a byte of it is
//   read (400, 411, 501);
// - a request refused on its headers is answered at once and its
//   connection closed; what the client had on its way is taken and
//   dropped for at most a read time-out, so that it gets to read the answer;
// - connections past --connections wait in the listening socket's queue;
//   those from one address past --connections-per-address are closed;
// - an answer is written in pieces as the client takes them, the streamed
//   ones from a bounded buffer, so an answer costs the same memory whatever
//   its size.
//
// What the server serves is an HttpSite: the handlers never see the
// library, only HttpRequest and Answer.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "server/api_answers.h"
#include "server/http_request.h"
#include "server/listen_address.h"

// Every limit the server keeps, each explicit.
struct ServerLimits {
  int readTimeoutSeconds = 10;   // a read waits at most this long; headers come whole in this time
                                 // (after the keep-alive time); a body falls at most this far behind
                                 // kMinBodyRate
  int writeTimeoutSeconds = 10;  // a write of the answer waits at most this long for the client
  int keepAliveSeconds = 5;      // an idle connection is closed after this
  int keepAliveRequests = 100;   // requests on one connection
  int threads = 16;              // requests worked on at once (connections waiting hold none)
  int connections = 1000;        // connections open at once; more wait in the queue
  int connectionsPerAddress = 32;  // connections at once from one address; more are closed
  bool perAddressOnLoopback = false;  // whether loopback peers (a reverse proxy here) count too
};
// The bytes per second below which a body is too slow (a full dump then
// takes about four minutes).
constexpr size_t kMinBodyRate = 8 * 1024;
// A request's headers: at most this many bytes and lines (431).
constexpr size_t kMaxHeaderBytes = 16 * 1024;
constexpr size_t kMaxHeaderLines = 100;
// How long, after SIGTERM, running requests have to finish before their
// connections are closed.
constexpr int kStopGraceSeconds = 10;

// What happened to one request, for the log line and the metrics.
struct HttpOutcome {
  int status = 0;
  uint64_t bytesIn = 0;   // of the body
  uint64_t bytesOut = 0;  // of the answer's body, as written
  double seconds = -1;    // from the headers to the answer; < 0 when the headers never came whole
};

// What the server serves.
class HttpSite {
 public:
  virtual ~HttpSite() = default;
  // Once a request's headers are in, on an event thread (nothing here may
  // wait): true to go on, with the longest body it may bring (0: none); else
  // false with the answer to send at once.
  virtual bool Admit(HttpRequest& request, size_t* maxBody, Answer* refusal) = 0;
  // On a worker once the body is in: the answer.
  virtual Answer Handle(HttpRequest& request) = 0;
  // After each answer, also one the server gave itself (a request it cannot
  // take); request.method and .path are empty when the headers never parsed.
  virtual void Answered(const HttpRequest& request, const HttpOutcome& outcome) = 0;
};

class HttpServer {
 public:
  // defaultHeaders go with every answer that does not give its own of the name.
  HttpServer(HttpSite& site, const ServerLimits& limits,
             std::vector<std::pair<std::string, std::string>> defaultHeaders);
  ~HttpServer();

  // Binds the address, with TLS when cert and key (PEM files) are given.
  // *port is the port bound (the one chosen for port 0).
  bool Bind(const ListenAddress& address, const std::string& cert, const std::string& key, int* port,
            std::string* err);
  // Serves until Stop(), then until the running requests are answered (at
  // most kStopGraceSeconds more). False when serving could not start.
  bool Run(std::string* err);
  // From any thread: no new connection or request is taken.
  void Stop();

  // For the metrics: connections open now, and those closed at once for
  // their address.
  int OpenConnections() const;
  uint64_t RefusedConnections() const;

  class Impl;  // http_server.cpp's, where the connections reach it

 private:
  std::unique_ptr<Impl> impl_;
};
