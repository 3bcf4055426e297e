#include "server/web_server.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "ledger/ledger_add.h"
#include "server/api_answers.h"
#include "server/device_id.h"
#include "server/pages.h"
#include "server/request_log.h"

namespace {

enum Access { AccessOpen, AccessRead, AccessUpload, AccessAdmin };

const char kApiPolicy[] = "default-src 'none'; frame-ancestors 'none'";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// X-Dump-Name: the file name, its bytes other than printable ASCII as %XX.
bool DecodeDumpName(const std::string& text, std::string* out) {
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
bool UploadTarget(const HttpRequest& req, std::string* device, std::string* name, Answer* error) {
  if (req.query.count("device") > 1) {
    *error = ErrorAnswer(400, "give 'device' once");
    return false;
  }
  for (const auto& param : req.query) {
    if (param.first != "device") {
      *error = ErrorAnswer(400, "unknown parameter '" + param.first + "'");
      return false;
    }
  }
  if (req.HasHeader("X-Dump-Name") && !DecodeDumpName(req.Header("X-Dump-Name"), name)) {
    *error = ErrorAnswer(400, "X-Dump-Name is not a percent-encoded file name");
    return false;
  }
  if (name->find_first_of("/\\") != std::string::npos) *name = name->substr(name->find_last_of("/\\") + 1);
  auto given = req.query.find("device");
  std::string id = given != req.query.end() ? given->second : DeviceOfDump(*name);
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

// The token of "Authorization: Bearer TOKEN"; empty without one.
std::string PresentedToken(const HttpRequest& req) {
  const std::string value = req.Header("Authorization");
  if (value.size() < 7 || strncasecmp(value.c_str(), "Bearer ", 7) != 0) return std::string();
  size_t start = value.find_first_not_of(' ', 7);
  return start == std::string::npos ? std::string() : value.substr(start);
}

std::string TooLongDetail() {
  return "the body is longer than a fiscal-memory image (" + std::to_string(kMaxDumpBytes) + " bytes)";
}

}  // namespace

class WebServer::Impl : public HttpSite {
 public:
  Impl(LedgerService& ledger, TokenFile& tokens, ServerMetrics& metrics, const ServerLimits& limits)
      : ledger_(ledger),
        tokens_(tokens),
        metrics_(metrics),
        http_(*this, limits,
              {{"Content-Security-Policy", kApiPolicy},
               {"X-Content-Type-Options", "nosniff"},
               {"Cache-Control", "no-store"},
               {"Referrer-Policy", "no-referrer"},
               {"X-Frame-Options", "DENY"}}) {}

  HttpServer& http() { return http_; }

  // Whether the request may go on to its handler; else *refusal says why.
  bool Admit(HttpRequest& req, size_t* maxBody, Answer* refusal) override {
    const Route* route = FindRoute(req.path);
    if (!route) return Refuse(ErrorAnswer(404, "no such path"), false, refusal);
    const bool get = req.method == "GET" || req.method == "HEAD";
    if (!(get ? std::strcmp(route->method, "GET") == 0 : req.method == route->method)) {
      Answer answer = ErrorAnswer(405, std::string("use ") + route->method);
      answer.headers.emplace_back("Allow", std::strcmp(route->method, "GET") == 0 ? "GET, HEAD" : route->method);
      return Refuse(answer, false, refusal);
    }
    *maxBody = route->maxBody;
    if (route->access == AccessOpen) return true;

    // The same work for every request: the presented token (or none) is
    // hashed and compared with every token there is.
    TokenEntry token;
    const bool known = tokens_.Match(PresentedToken(req), &token);
    if (known) req.client = token.name;
    if (!known) {
      if (route->page) return Refuse(TokenPage(401, "Тази страница иска ключ с право на четене."), true, refusal);
      const std::string why =
          req.HasHeader("Authorization") ? "unknown token" : "no token: send Authorization: Bearer TOKEN";
      return Refuse(ErrorAnswer(401, why), false, refusal);
    }
    const bool mayRead = token.role == RoleRead || token.role == RoleAdmin;
    const bool mayUpload = token.role == RoleUpload || token.role == RoleAdmin;
    if (route->access == AccessRead && !mayRead) {
      if (route->page) return Refuse(TokenPage(403, "Този ключ не дава право на четене."), true, refusal);
      return Refuse(ErrorAnswer(403, "the token '" + token.name + "' may not read"), false, refusal);
    }
    if (route->access == AccessAdmin && token.role != RoleAdmin)
      return Refuse(ErrorAnswer(403, "the token '" + token.name + "' is not an admin's"), false, refusal);
    if (route->access == AccessUpload) {
      if (!mayUpload)
        return Refuse(ErrorAnswer(403, "the token '" + token.name + "' may not send dumps"), false, refusal);
      return AdmitUpload(req, token, refusal);
    }
    return true;
  }

  Answer Handle(HttpRequest& req) override {
    const Route* route = FindRoute(req.path);
    Answer answer = (this->*route->handle)(req);
    Finish(&answer, route->page);
    return answer;
  }

  void Answered(const HttpRequest& req, const HttpOutcome& outcome) override {
    RequestLogEntry entry;
    entry.tokenName = req.client.empty() ? "-" : req.client;
    entry.method = req.method;
    entry.path = req.path;
    entry.status = outcome.status;
    entry.bytesIn = outcome.bytesIn;
    entry.bytesOut = outcome.bytesOut;
    entry.seconds = outcome.seconds;
    LogRequest(entry);
    metrics_.CountRequest(outcome.status);
  }

 private:
  using Handler = Answer (Impl::*)(const HttpRequest&);
  struct Route {
    const char* path;  // exact, or a prefix ending in '/' for /devices/ID
    const char* method;
    Access access;
    bool page;
    size_t maxBody;  // the longest body it takes; 0: none
    Handler handle;
  };
  static const Route kRoutes[];

  static const Route* FindRoute(const std::string& path);

  // The headers that go with an answer of its kind.
  static void Finish(Answer* answer, bool page) {
    if (page) answer->headers.emplace_back("Content-Security-Policy", PageContentSecurityPolicy());
    if (answer->status == 401) answer->headers.emplace_back("WWW-Authenticate", "Bearer realm=\"taxoscope\"");
  }
  static bool Refuse(Answer answer, bool page, Answer* refusal) {
    Finish(&answer, page);
    *refusal = std::move(answer);
    return false;
  }

  bool AdmitUpload(const HttpRequest& req, const TokenEntry& token, Answer* refusal) {
    if (req.HasHeader("Content-Length") &&
        std::strtoull(req.Header("Content-Length").c_str(), nullptr, 10) > kMaxDumpBytes)
      return Refuse(ErrorAnswer(413, TooLongDetail()), false, refusal);
    const std::string type = req.Header("Content-Type");
    if (!type.empty() && type.compare(0, 24, "application/octet-stream") != 0)
      return Refuse(ErrorAnswer(415, "send the dump's bytes as application/octet-stream"), false, refusal);
    std::string device, name;
    Answer error;
    if (!UploadTarget(req, &device, &name, &error)) return Refuse(error, false, refusal);
    if (!token.devices.empty() &&
        std::find(token.devices.begin(), token.devices.end(), device) == token.devices.end())
      return Refuse(ErrorAnswer(403, "the token '" + token.name + "' may not send for the device '" + device + "'"),
                    false, refusal);
    return true;
  }

  template <typename Produce>
  Answer Read(Produce produce) {
    LedgerFile* ledger = nullptr;
    std::string reason;
    if (!ledger_.Reader(&ledger, &reason)) return ErrorAnswer(503, "the ledger cannot be read: " + reason);
    return produce(*ledger);
  }

  Answer Health(const HttpRequest&) {
    LedgerFile* ledger = nullptr;
    std::string reason;
    if (!ledger_.Reader(&ledger, &reason) || !ledger->db().Exec("SELECT count(*) FROM sqlite_master", &reason))
      return ErrorAnswer(503, "the ledger cannot be opened: " + reason);
    if (!tokens_.Usable(&reason)) return ErrorAnswer(503, reason);
    Answer answer;
    answer.body = "{\"status\": \"ok\"}\n";
    return answer;
  }

  Answer Script(const HttpRequest&) {
    Answer answer;
    answer.contentType = "text/javascript; charset=utf-8";
    answer.body = kPageScript;
    return answer;
  }

  Answer Metrics(const HttpRequest&) {
    LedgerFile* ledger = nullptr;
    std::string reason;
    int64_t reports = -1;
    std::vector<LedgerDevice> devices;
    if (ledger_.Reader(&ledger, &reason) &&
        InSnapshot(*ledger, &reason, [&] { return ListDevices(*ledger, &devices, &reason); })) {
      reports = 0;
      for (const LedgerDevice& device : devices) reports += device.reports;
    }
    Answer answer;
    answer.contentType = "text/plain; version=0.0.4; charset=utf-8";
    answer.body = metrics_.Text(reports) + ServerMetrics::ConnectionsText(http_.OpenConnections(),
                                                                         http_.RefusedConnections());
    return answer;
  }

  Answer Upload(const HttpRequest& req) {
    std::string device, name;
    Answer error;
    if (!UploadTarget(req, &device, &name, &error)) return error;
    UploadResult result;
    std::string reason;
    switch (ledger_.Upload(device, name, req.body, &result, &reason)) {
      case UploadAdded:
        metrics_.CountUpload(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - req.headersAt).count());
        return UploadAnswer(result);
      case UploadNotADump:
        return ErrorAnswer(400, "not a dump of this device family (" + reason + ")", "not_a_dump");
      case UploadWithdrawn:
        return ErrorAnswer(409, reason, "withdrawn");
      case UploadUnwritable:
        break;
    }
    return ErrorAnswer(503, reason);
  }

  Answer Devices(const HttpRequest&) {
    return Read([](LedgerFile& ledger) { return DevicesAnswer(ledger); });
  }
  Answer Months(const HttpRequest& req) {
    return Read([&](LedgerFile& ledger) { return MonthsAnswer(ledger, req.query, &sums_); });
  }
  Answer Reports(const HttpRequest& req) {
    return Read([&](LedgerFile& ledger) { return ReportsAnswer(ledger, req.query, &sums_); });
  }
  Answer Check(const HttpRequest& req) {
    return Read([&](LedgerFile& ledger) { return CheckAnswer(ledger, req.query); });
  }
  Answer Index(const HttpRequest&) {
    return Read([this](LedgerFile& ledger) { return IndexPage(ledger, &sums_); });
  }
  Answer Device(const HttpRequest& req) {
    const std::string device = req.path.substr(std::strlen("/devices/"));
    return Read([&](LedgerFile& ledger) { return DevicePage(ledger, ledger_.archive(), device); });
  }
  // /devices?device=ID: the page of a device whose id a path cannot carry
  // (. and .., which browsers take for steps of the path).
  Answer DeviceByQuery(const HttpRequest& req) {
    auto given = req.query.find("device");
    const std::string device = given != req.query.end() ? given->second : std::string();
    return Read([&](LedgerFile& ledger) { return DevicePage(ledger, ledger_.archive(), device); });
  }
  Answer Withdraw(const HttpRequest& req) {
    return WithdrawalAnswer(ledger_, req.path.substr(std::strlen("/api/v1/dumps/")), req.query);
  }

  LedgerService& ledger_;
  TokenFile& tokens_;
  ServerMetrics& metrics_;
  SumsCache sums_;
  HttpServer http_;
};

// Every path the server answers: a line here and a function above.
const WebServer::Impl::Route WebServer::Impl::kRoutes[] = {
    {"/healthz", "GET", AccessOpen, false, 0, &Impl::Health},
    {kPageScriptPath, "GET", AccessOpen, false, 0, &Impl::Script},
    {"/metrics", "GET", AccessRead, false, 0, &Impl::Metrics},
    {"/api/v1/dumps", "POST", AccessUpload, false, kMaxDumpBytes, &Impl::Upload},
    {"/api/v1/dumps/", "DELETE", AccessAdmin, false, 0, &Impl::Withdraw},
    {"/api/v1/devices", "GET", AccessRead, false, 0, &Impl::Devices},
    {"/api/v1/months", "GET", AccessRead, false, 0, &Impl::Months},
    {"/api/v1/reports", "GET", AccessRead, false, 0, &Impl::Reports},
    {"/api/v1/check", "GET", AccessRead, false, 0, &Impl::Check},
    {"/", "GET", AccessRead, true, 0, &Impl::Index},
    {"/devices/", "GET", AccessRead, true, 0, &Impl::Device},
    {"/devices", "GET", AccessRead, true, 0, &Impl::DeviceByQuery},
};

const WebServer::Impl::Route* WebServer::Impl::FindRoute(const std::string& path) {
  for (const Route& route : kRoutes) {
    const size_t length = std::strlen(route.path);
    const bool prefix = length > 1 && route.path[length - 1] == '/';
    if (prefix ? path.size() > length && path.compare(0, length, route.path) == 0 : path == route.path)
      return &route;
  }
  return nullptr;
}

WebServer::WebServer(LedgerService& ledger, TokenFile& tokens, ServerMetrics& metrics, const ServerLimits& limits)
    : impl_(std::make_unique<Impl>(ledger, tokens, metrics, limits)) {}
WebServer::~WebServer() = default;

bool WebServer::Bind(const ListenAddress& address, const std::string& cert, const std::string& key, int* port,
                     std::string* err) {
  return impl_->http().Bind(address, cert, key, port, err);
}
bool WebServer::Run(std::string* err) { return impl_->http().Run(err); }
void WebServer::Stop() { impl_->http().Stop(); }
