#include "server/web_server.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/socket.h>

#include "ledger/ledger_add.h"
#include "server/api_answers.h"
#include "server/connection_watchdog.h"
#include "server/device_id.h"
#include "server/pages.h"
#include "server/request_log.h"

namespace {

using Clock = std::chrono::steady_clock;

enum Access { AccessOpen, AccessRead, AccessUpload, AccessAdmin };

struct Route {
  const char* path;  // exact, or a prefix ending in '/' for /devices/ID
  const char* method;
  Access access;
  bool page;
};

const Route kRoutes[] = {
    {"/healthz", "GET", AccessOpen, false},
    {kPageScriptPath, "GET", AccessOpen, false},
    {"/metrics", "GET", AccessRead, false},
    {"/api/v1/dumps", "POST", AccessUpload, false},
    {"/api/v1/dumps/", "DELETE", AccessAdmin, false},
    {"/api/v1/devices", "GET", AccessRead, false},
    {"/api/v1/months", "GET", AccessRead, false},
    {"/api/v1/reports", "GET", AccessRead, false},
    {"/api/v1/check", "GET", AccessRead, false},
    {"/", "GET", AccessRead, true},
    {"/devices/", "GET", AccessRead, true},
    {"/devices", "GET", AccessRead, true},
};

const Route* FindRoute(const std::string& path) {
  for (const Route& route : kRoutes) {
    const size_t length = std::strlen(route.path);
    const bool prefix = length > 1 && route.path[length - 1] == '/';
    if (prefix ? path.size() > length && path.compare(0, length, route.path) == 0 : path == route.path)
      return &route;
  }
  return nullptr;
}

// What the handlers of one request share with its log line. A worker thread
// serves one connection's requests one after another.
struct RequestContext {
  bool started = false;
  Clock::time_point start;
  std::string tokenName;
  uint64_t bytesIn = 0;
  uint64_t bytesOut = 0;  // of an answer given by a content provider
  bool answered = false;  // the answer is set: the error handler leaves it
  // An upload refused on its headers whose body is read (and dropped) before
  // the answer, so that the client, still sending, gets to read it.
  std::shared_ptr<Answer> deferred;
};
thread_local RequestContext context;

void BeginRequest(const httplib::Request& req, ConnectionWatchdog* watchdog) {
  if (context.started) return;  // the Expect: 100-continue check came first
  context = RequestContext();
  context.started = true;
  context.start = Clock::now();
  if (watchdog) watchdog->HeadersRead(req.remote_addr, req.remote_port);
}

double SecondsSinceStart() { return std::chrono::duration<double>(Clock::now() - context.start).count(); }

const char kApiPolicy[] = "default-src 'none'; frame-ancestors 'none'";

void SetHeaders(httplib::Response& res, const Answer& answer, bool page) {
  res.status = answer.status;
  res.set_header("Content-Security-Policy", page ? PageContentSecurityPolicy() : kApiPolicy);
  if (answer.status == 401) res.set_header("WWW-Authenticate", "Bearer realm=\"taxoscope\"");
  context.answered = true;
}

void Send(httplib::Response& res, const Answer& answer, bool page = false) {
  SetHeaders(res, answer, page);
  res.set_content(answer.body, answer.contentType.c_str());
}

// An answer given before the request's body was read whole: the connection
// ends after it, so that no unread byte is ever taken for another request.
// The answer goes out through a content provider that, once it has written
// every byte, reports a failure: the library then closes the connection.
void SendAndClose(httplib::Response& res, const Answer& answer, bool page = false) {
  SetHeaders(res, answer, page);
  res.set_header("Connection", "close");
  auto body = std::make_shared<std::string>(answer.body);
  res.set_content_provider(body->size(), answer.contentType,
                           [body](size_t offset, size_t length, httplib::DataSink& sink) {
                             sink.write(body->data() + offset, length);
                             return false;
                           });
  context.bytesOut = body->size();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// X-Dump-Name: the file name, its bytes other than printable ASCII as %XX.
bool PercentDecode(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0) return false;
    *out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
    i += 2;
  }
  return true;
}

bool HasControlBytes(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// The device and the name of an upload: ?device=ID, else the device of the
// file name X-Dump-Name gives, as `ledger add` takes it from a file name.
bool UploadTarget(const httplib::Request& req, std::string* device, std::string* name, Answer* error) {
  if (req.get_param_value_count("device") > 1) {
    *error = ErrorAnswer(400, "give 'device' once");
    return false;
  }
  for (const auto& param : req.params) {
    if (param.first != "device") {
      *error = ErrorAnswer(400, "unknown parameter '" + param.first + "'");
      return false;
    }
  }
  if (req.has_header("X-Dump-Name") && !PercentDecode(req.get_header_value("X-Dump-Name"), name)) {
    *error = ErrorAnswer(400, "X-Dump-Name is not a percent-encoded file name");
    return false;
  }
  if (name->find_first_of("/\\") != std::string::npos) *name = name->substr(name->find_last_of("/\\") + 1);
  std::string id = req.has_param("device") ? req.get_param_value("device") : DeviceOfDump(*name);
  if (id.empty()) {
    *error = ErrorAnswer(400, "no device: give ?device=ID, or the file name in X-Dump-Name");
    return false;
  }
  std::string why;
  if (!CheckDeviceId(id, &why)) {
    *error = ErrorAnswer(400, why);
    return false;
  }
  if (name->size() > kMaxDumpNameBytes || HasControlBytes(*name)) {
    *error = ErrorAnswer(400, "a dump name is at most " + std::to_string(kMaxDumpNameBytes) +
                                  " bytes of text without control characters");
    return false;
  }
  *device = LedgerDeviceId(id);
  if (name->empty()) *name = *device + ".bin";
  return true;
}

// The length a request declares (0 without one).
uint64_t ContentLength(const httplib::Request& req) {
  return std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
}

// The token of "Authorization: Bearer TOKEN"; empty without one.
std::string PresentedToken(const httplib::Request& req) {
  const std::string value = req.get_header_value("Authorization");
  if (value.size() < 7 || strncasecmp(value.c_str(), "Bearer ", 7) != 0) return std::string();
  size_t start = value.find_first_not_of(' ', 7);
  return start == std::string::npos ? std::string() : value.substr(start);
}

// The library's server with its listening socket in reach: the library
// listens with a backlog of 5, too few for a burst of shops at closing time
// (the kernel then drops connections), so the backlog is raised after it.
template <typename Base>
class ListeningServer : public Base {
 public:
  using Base::Base;
  bool RaiseBacklog(int backlog) { return ::listen(this->svr_sock_, backlog) == 0; }
};
constexpr int kListenBacklog = 128;

}  // namespace

class WebServer::Impl {
 public:
  Impl(LedgerService& ledger, TokenFile& tokens, ServerMetrics& metrics, const ServerLimits& limits)
      : ledger_(ledger), tokens_(tokens), metrics_(metrics), limits_(limits) {}

  bool Bind(const ListenAddress& address, const std::string& cert, const std::string& key, int* port,
            std::string* err) {
    if (cert.empty()) {
      server_ = std::make_unique<ListeningServer<httplib::Server>>();
    } else {
      server_ = std::make_unique<ListeningServer<httplib::SSLServer>>(cert.c_str(), key.c_str());
      if (!server_->is_valid()) {
        *err = "cannot load the certificate '" + cert + "' and its key '" + key + "'";
        return false;
      }
    }
    Configure(*server_);
    *port = address.port == 0 ? server_->bind_to_any_port(address.host)
                              : (server_->bind_to_port(address.host, address.port) ? address.port : -1);
    if (*port < 0) {
      *err = "cannot listen on " + address.host + ":" + std::to_string(address.port) + ": " + std::strerror(errno);
      return false;
    }
    port_ = *port;
    const bool raised = cert.empty() ? static_cast<ListeningServer<httplib::Server>&>(*server_).RaiseBacklog(kListenBacklog)
                                     : static_cast<ListeningServer<httplib::SSLServer>&>(*server_).RaiseBacklog(kListenBacklog);
    if (!raised) {
      *err = std::string("cannot listen with a backlog of ") + std::to_string(kListenBacklog) + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }

  bool Run() {
    const auto limit = std::chrono::seconds(limits_.keepAliveSeconds + limits_.readTimeoutSeconds);
    watchdog_ = std::make_unique<ConnectionWatchdog>(port_, limit);
    const bool served = server_->listen_after_bind();
    watchdog_.reset();
    return served;
  }
  void Stop() {
    if (server_) server_->stop();
  }

 private:
  void Configure(httplib::Server& server) {
    const int threads = limits_.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
    server.set_read_timeout(limits_.readTimeoutSeconds, 0);
    server.set_write_timeout(limits_.writeTimeoutSeconds, 0);
    server.set_keep_alive_timeout(limits_.keepAliveSeconds);
    server.set_keep_alive_max_count(static_cast<size_t>(limits_.keepAliveRequests));
    server.set_payload_max_length(kMaxDumpBytes);
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                {"Cache-Control", "no-store"},
                                {"Referrer-Policy", "no-referrer"},
                                {"X-Frame-Options", "DENY"}});

    server.set_expect_100_continue_handler([this](const httplib::Request& req, httplib::Response& res) {
      BeginRequest(req, watchdog_.get());
      if (!Admit(req, res)) return res.status;
      if (!context.deferred) return 100;
      // The client waits before it sends the body: the refusal needs none of it.
      SendAndClose(res, *context.deferred);
      return res.status;
    });
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      BeginRequest(req, watchdog_.get());
      return Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                             : httplib::Server::HandlerResponse::Handled;
    });
    // Every error the library answers itself (a request it cannot parse, a
    // body over the limit) gets the JSON form too.
    server.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& res) {
          if (context.answered) return httplib::Server::HandlerResponse::Unhandled;
          Send(res, ErrorAnswer(res.status, DefaultDetail(res.status)));
          return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
      Send(res, ErrorAnswer(500, "the server failed on this request"));
    });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) { Log(req, res); });

    server.Get("/healthz", [this](const httplib::Request&, httplib::Response& res) { Health(res); });
    server.Get(kPageScriptPath, [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kPageScript, "text/javascript; charset=utf-8");
    });
    server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) { Metrics(res); });
    server.Post("/api/v1/dumps", [this](const httplib::Request& req, httplib::Response& res,
                                        const httplib::ContentReader& reader) { Upload(req, res, reader); });
    server.Delete("/api/v1/dumps/(.+)", [this](const httplib::Request& req, httplib::Response& res) {
      Send(res, WithdrawalAnswer(ledger_, req.matches[1], req.params));
    });
    server.Get("/api/v1/devices", [this](const httplib::Request&, httplib::Response& res) {
      Read(res, [](LedgerFile& ledger) { return DevicesAnswer(ledger); });
    });
    server.Get("/api/v1/months", [this](const httplib::Request& req, httplib::Response& res) {
      Read(res, [&](LedgerFile& ledger) { return MonthsAnswer(ledger, req.params, &sums_); });
    });
    server.Get("/api/v1/reports", [this](const httplib::Request& req, httplib::Response& res) {
      Read(res, [&](LedgerFile& ledger) { return ReportsAnswer(ledger, req.params, &sums_); });
    });
    server.Get("/api/v1/check", [this](const httplib::Request& req, httplib::Response& res) {
      Read(res, [&](LedgerFile& ledger) { return CheckAnswer(ledger, req.params); });
    });
    server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
      Read(res, [this](LedgerFile& ledger) { return IndexPage(ledger, &sums_); }, true);
    });
    server.Get("/devices", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string device = req.get_param_value("device");
      Read(res, [&](LedgerFile& ledger) { return DevicePage(ledger, ledger_.archive(), device); }, true);
    });
    server.Get("/devices/(.+)", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string device = req.matches[1];
      Read(res, [&](LedgerFile& ledger) { return DevicePage(ledger, ledger_.archive(), device); }, true);
    });
  }

  static std::string DefaultDetail(int status) {
    switch (status) {
      case 400: return "not a valid HTTP request (or a header line longer than the server takes)";
      case 404: return "no such path";
      case 413: return "the body is longer than a fiscal-memory image (2101247 bytes)";
      case 414: return "the address is too long";
    }
    return "HTTP status " + std::to_string(status);
  }

  // An answer before the handler: at once, ending the connection; or, for
  // an upload whose body may be read, after that body (context.deferred).
  bool Refuse(const httplib::Request& req, httplib::Response& res, const Answer& answer, const Route* route,
              bool page = false) {
    const bool readable = !req.has_header("Content-Length") || ContentLength(req) <= kMaxDumpBytes;
    if (route && route->access == AccessUpload && readable) {
      context.deferred = std::make_shared<Answer>(answer);
      return true;
    }
    SendAndClose(res, answer, page);
    return false;
  }

  // Whether the request may go on to its handler; else its answer is in res.
  bool Admit(const httplib::Request& req, httplib::Response& res) {
    const Route* route = FindRoute(req.path);
    if (!route) {
      SendAndClose(res, ErrorAnswer(404, "no such path"));
      return false;
    }
    const bool get = req.method == "GET" || req.method == "HEAD";
    if (!(get ? std::strcmp(route->method, "GET") == 0 : req.method == route->method)) {
      SendAndClose(res, ErrorAnswer(405, std::string("use ") + route->method));
      res.set_header("Allow", std::strcmp(route->method, "GET") == 0 ? "GET, HEAD" : route->method);
      return false;
    }
    if (route->access == AccessOpen) return true;

    // The same work for every request: the presented token (or none) is
    // hashed and compared with every token there is.
    TokenEntry token;
    const bool known = tokens_.Match(PresentedToken(req), &token);
    if (known) context.tokenName = token.name;
    if (!known) {
      const std::string why = req.has_header("Authorization") ? "unknown token" : "no token: send Authorization: Bearer TOKEN";
      if (route->page) return Refuse(req, res, TokenPage(401, "Тази страница иска ключ с право на четене."), route, true);
      return Refuse(req, res, ErrorAnswer(401, why), route);
    }
    const bool mayRead = token.role == RoleRead || token.role == RoleAdmin;
    const bool mayUpload = token.role == RoleUpload || token.role == RoleAdmin;
    if (route->access == AccessRead && !mayRead) {
      if (route->page) return Refuse(req, res, TokenPage(403, "Този ключ не дава право на четене."), route, true);
      return Refuse(req, res, ErrorAnswer(403, "the token '" + token.name + "' may not read"), route);
    }
    if (route->access == AccessAdmin && token.role != RoleAdmin)
      return Refuse(req, res, ErrorAnswer(403, "the token '" + token.name + "' is not an admin's"), route);
    if (route->access == AccessUpload) {
      if (!mayUpload) return Refuse(req, res, ErrorAnswer(403, "the token '" + token.name + "' may not send dumps"), route);
      return AdmitUpload(req, res, token, route);
    }
    return true;
  }

  bool AdmitUpload(const httplib::Request& req, httplib::Response& res, const TokenEntry& token, const Route* route) {
    if (req.has_header("Content-Length") && ContentLength(req) > kMaxDumpBytes) {
      SendAndClose(res, ErrorAnswer(413, DefaultDetail(413)));
      return false;
    }
    const std::string type = req.get_header_value("Content-Type");
    if (!type.empty() && type.compare(0, 24, "application/octet-stream") != 0)
      return Refuse(req, res, ErrorAnswer(415, "send the dump's bytes as application/octet-stream"), route);
    std::string device, name;
    Answer error;
    if (!UploadTarget(req, &device, &name, &error)) return Refuse(req, res, error, route);
    if (!token.devices.empty() &&
        std::find(token.devices.begin(), token.devices.end(), device) == token.devices.end())
      return Refuse(req, res,
                    ErrorAnswer(403, "the token '" + token.name + "' may not send for the device '" + device + "'"),
                    route);
    return true;
  }

  // Reads the body, kept in *body unless it is null; 0 when it came whole,
  // else the status that says why not (413, 408, 400).
  int ReceiveBody(const httplib::ContentReader& reader, DumpBytes* body) {
    const Clock::time_point bodyStart = Clock::now();
    size_t received = 0;
    int problem = 0;
    const bool whole = reader([&](const char* data, size_t length) {
      if (received + length > kMaxDumpBytes) {
        problem = 413;
        return false;
      }
      received += length;
      if (body) body->insert(body->end(), data, data + length);
      // A body that falls more than the read time-out behind the least rate
      // holds a worker for nothing: it is given up.
      const double late = std::chrono::duration<double>(Clock::now() - bodyStart).count() -
                          static_cast<double>(received) / kMinBodyRate;
      if (late > limits_.readTimeoutSeconds) {
        problem = 408;
        return false;
      }
      return true;
    });
    context.bytesIn = received;
    if (problem || whole) return problem;
    const bool stalled =
        std::chrono::duration<double>(Clock::now() - bodyStart).count() >= limits_.readTimeoutSeconds;
    return stalled ? 408 : 400;
  }

  static Answer BodyProblem(int status) {
    if (status == 413) return ErrorAnswer(413, DefaultDetail(413));
    if (status == 408) return ErrorAnswer(408, "the body came too slowly; nothing was kept");
    return ErrorAnswer(400, "the body ended before it was whole; nothing was kept");
  }

  void Upload(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    if (context.deferred) {
      const Answer refusal = *context.deferred;
      return ReceiveBody(reader, nullptr) == 0 ? Send(res, refusal) : SendAndClose(res, refusal);
    }
    std::string device, name;
    Answer error;
    if (!UploadTarget(req, &device, &name, &error)) return SendAndClose(res, error);
    DumpBytes body;
    if (req.has_header("Content-Length"))
      body.reserve(std::min<uint64_t>(ContentLength(req), kMaxDumpBytes));
    if (const int problem = ReceiveBody(reader, &body)) return SendAndClose(res, BodyProblem(problem));
    UploadResult result;
    std::string reason;
    switch (ledger_.Upload(device, name, body, &result, &reason)) {
      case UploadAdded:
        metrics_.CountUpload(SecondsSinceStart());
        return Send(res, UploadAnswer(result));
      case UploadNotADump:
        return Send(res, ErrorAnswer(400, "not a dump of this device family (" + reason + ")", "not_a_dump"));
      case UploadUnwritable:
        return Send(res, ErrorAnswer(503, reason));
      case UploadWithdrawn:
        return Send(res, ErrorAnswer(409, reason, "withdrawn"));
    }
  }

  template <typename Produce>
  void Read(httplib::Response& res, Produce produce, bool page = false) {
    LedgerFile* ledger = nullptr;
    std::string reason;
    if (!ledger_.Reader(&ledger, &reason)) return Send(res, ErrorAnswer(503, "the ledger cannot be read: " + reason));
    Send(res, produce(*ledger), page);
  }

  void Health(httplib::Response& res) {
    LedgerFile* ledger = nullptr;
    std::string reason;
    if (!ledger_.Reader(&ledger, &reason) || !ledger->db().Exec("SELECT count(*) FROM sqlite_master", &reason))
      return Send(res, ErrorAnswer(503, "the ledger cannot be opened: " + reason));
    if (!tokens_.Usable(&reason)) return Send(res, ErrorAnswer(503, reason));
    Answer answer;
    answer.body = "{\"status\": \"ok\"}\n";
    Send(res, answer);
  }

  void Metrics(httplib::Response& res) {
    LedgerFile* ledger = nullptr;
    std::string reason;
    int64_t reports = -1;
    std::vector<LedgerDevice> devices;
    if (ledger_.Reader(&ledger, &reason) &&
        InSnapshot(*ledger, &reason, [&] { return ListDevices(*ledger, &devices, &reason); })) {
      reports = 0;
      for (const LedgerDevice& device : devices) reports += device.reports;
    }
    res.set_content(metrics_.Text(reports), "text/plain; version=0.0.4; charset=utf-8");
    res.set_header("Content-Security-Policy", kApiPolicy);
  }

  void Log(const httplib::Request& req, const httplib::Response& res) {
    RequestLogEntry entry;
    entry.tokenName = context.tokenName.empty() ? "-" : context.tokenName;
    entry.method = req.method;
    entry.path = req.path;
    entry.status = res.status;
    entry.bytesIn = context.bytesIn ? context.bytesIn : req.body.size();
    entry.bytesOut = context.bytesOut ? context.bytesOut : res.body.size();
    entry.seconds = context.started ? SecondsSinceStart() : -1;
    LogRequest(entry);
    metrics_.CountRequest(res.status);
    if (watchdog_) watchdog_->Answered(req.remote_addr, req.remote_port);
    context = RequestContext();
  }

  LedgerService& ledger_;
  TokenFile& tokens_;
  ServerMetrics& metrics_;
  ServerLimits limits_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::unique_ptr<ConnectionWatchdog> watchdog_;
  SumsCache sums_;
};

WebServer::WebServer(LedgerService& ledger, TokenFile& tokens, ServerMetrics& metrics, const ServerLimits& limits)
    : impl_(std::make_unique<Impl>(ledger, tokens, metrics, limits)) {}
WebServer::~WebServer() = default;

bool WebServer::Bind(const ListenAddress& address, const std::string& cert, const std::string& key, int* port,
                     std::string* err) {
  return impl_->Bind(address, cert, key, port, err);
}
bool WebServer::Run() { return impl_->Run(); }
void WebServer::Stop() { impl_->Stop(); }
