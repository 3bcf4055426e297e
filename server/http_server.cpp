#include "server/http_server.h"

#include <sys/resource.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "server/stream_pipe.h"
#include "server/worker_pool.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kEventThreads = 2;
constexpr size_t kBodyPiece = 64 * 1024;            // a body is read this much at a time
constexpr size_t kStreamBufferBytes = 256 * 1024;   // a streamed answer's pieces made but not yet written
constexpr uint64_t kMaxDrainBytes = 4 * 1024 * 1024;  // taken and dropped after a refusal, at most
constexpr int kListenBacklog = 128;
constexpr int kSpareFiles = 64;  // descriptors kept for the ledger, the archive and the log

Clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Connections are counted by address; an IPv6 client by its /64, the
// network one machine is given.
std::string AddressKey(const net::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6()).to_string();
  if (address.is_v4()) return address.to_string();
  const net::ip::address_v6::bytes_type bytes = address.to_v6().to_bytes();
  char key[40];
  std::snprintf(key, sizeof key, "%02x%02x:%02x%02x:%02x%02x:%02x%02x::/64", bytes[0], bytes[1], bytes[2], bytes[3],
                bytes[4], bytes[5], bytes[6], bytes[7]);
  return key;
}

bool ReadPemFile(const std::string& path, const char* what, std::string* text, std::string* err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *err = std::string("cannot read the ") + what + " '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  *text = content.str();
  return true;
}

class ConnectionBase {
 public:
  virtual ~ConnectionBase() = default;
  // SIGTERM: a connection without a request running closes now, the others
  // after their answer.
  virtual void Stop() = 0;
  // The grace after SIGTERM is over.
  virtual void Close() = 0;
};

using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

}  // namespace

class HttpServer::Impl {
 public:
  Impl(HttpSite& servedSite, const ServerLimits& kept, std::vector<std::pair<std::string, std::string>> headers)
      : site(servedSite), limits(kept), defaults(std::move(headers)) {}

  bool Bind(const ListenAddress& address, const std::string& cert, const std::string& key, int* port,
            std::string* err);
  bool Run(std::string* err);
  void Stop() {
    net::post(acceptor.get_executor(), [this] { StopOnAcceptor(); });
  }

  // A connection is gone: its place is free again.
  void Release(ConnectionBase* connection, const std::string& addressKey, bool counted) {
    bool resume = false, last = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      connections.erase(connection);
      if (counted) {
        auto found = perAddress.find(addressKey);
        if (found != perAddress.end() && --found->second <= 0) perAddress.erase(found);
      }
      resume = acceptPaused && !stopping && static_cast<int>(connections.size()) < maxConnections;
      if (resume) acceptPaused = false;
      last = stopping && connections.empty();
    }
    if (resume) net::post(acceptor.get_executor(), [this] { Accept(); });
    if (last) net::post(acceptor.get_executor(), [this] { grace.cancel(); });
  }

  int OpenConnections() const {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(connections.size());
  }
  uint64_t RefusedConnections() const {
    std::lock_guard<std::mutex> lock(mutex);
    return refused;
  }

  HttpSite& site;
  const ServerLimits limits;
  const std::vector<std::pair<std::string, std::string>> defaults;
  net::io_context ioc{kEventThreads};
  std::unique_ptr<ssl::context> tls;
  std::unique_ptr<WorkerPool> workers;

 private:
  void Accept();
  void OnAccept(const error_code& ec, tcp::socket socket);
  void Open(tcp::socket socket);
  void StopOnAcceptor();

  tcp::acceptor acceptor{net::make_strand(ioc)};
  net::steady_timer acceptPause{acceptor.get_executor()};
  net::steady_timer grace{acceptor.get_executor()};
  int maxConnections = 1;

  mutable std::mutex mutex;  // guards what follows
  std::map<std::string, int> perAddress;
  std::map<ConnectionBase*, std::weak_ptr<ConnectionBase>> connections;
  bool acceptPaused = false;
  bool stopping = false;
  uint64_t refused = 0;
};

namespace {

template <class Stream>
class Connection : public ConnectionBase, public std::enable_shared_from_this<Connection<Stream>> {
 public:
  static constexpr bool kTls = std::is_same<Stream, TlsStream>::value;

  Connection(HttpServer::Impl& server, tcp::socket socket, const tcp::endpoint& remote, std::string addressKey,
             bool counted)
      : server_(server),
        stream_(MakeStream(std::move(socket), server.tls.get())),
        timer_(stream_.get_executor()),
        addressKey_(std::move(addressKey)),
        counted_(counted),
        remoteAddress_(remote.address().to_string()),
        remotePort_(remote.port()),
        buffer_(kMaxHeaderBytes + kBodyPiece) {}

  void Start() {
    net::post(stream_.get_executor(), [self = this->shared_from_this()] { self->Open(); });
  }
  void Stop() override {
    net::post(stream_.get_executor(), [self = this->shared_from_this()] { self->OnStop(); });
  }
  void Close() override {
    net::post(stream_.get_executor(), [self = this->shared_from_this()] { self->End(); });
  }

 private:
  enum class Phase { Opening, Idle, Headers, Body, Working, Writing, Draining, Closed };

  static Stream MakeStream(tcp::socket socket, ssl::context* tls) {
    if constexpr (kTls)
      return Stream(std::move(socket), *tls);
    else
      return Stream(std::move(socket));
  }
  beast::tcp_stream& Lowest() { return beast::get_lowest_layer(stream_); }
  std::shared_ptr<Connection> Self() { return this->shared_from_this(); }
  const ServerLimits& limits() const { return server_.limits; }

  // The one timer of the connection: when it runs out, the operation
  // waiting on the socket ends with timedOut_ set, and its handler decides
  // (close, or answer 408).
  void Arm(Clock::time_point when) {
    timedOut_ = false;
    timer_.expires_at(when);
    timer_.async_wait([self = Self(), generation = ++timerGeneration_](const error_code& ec) {
      if (ec || generation != self->timerGeneration_ || self->phase_ == Phase::Closed) return;
      self->timedOut_ = true;
      error_code ignored;
      self->Lowest().socket().cancel(ignored);
    });
  }
  void Disarm() {
    ++timerGeneration_;
    timer_.cancel();
  }

  void Open() {
    since_ = Clock::now();
    if constexpr (kTls) {
      phase_ = Phase::Opening;
      Arm(since_ + std::chrono::seconds(limits().keepAliveSeconds + limits().readTimeoutSeconds));
      stream_.async_handshake(ssl::stream_base::server, [self = Self()](const error_code& ec) {
        if (ec) return self->End();
        self->AwaitRequest();
      });
    } else {
      AwaitRequest();
    }
  }

  // Idle: the next request's first bytes within the keep-alive time.
  void AwaitRequest() {
    phase_ = Phase::Idle;
    if (stopping_) return End();
    if (buffer_.size() > 0) return ReadHeaders();
    Arm(since_ + std::chrono::seconds(limits().keepAliveSeconds));
    stream_.async_read_some(buffer_.prepare(4096), [self = Self()](const error_code& ec, size_t got) {
      self->buffer_.commit(got);
      if (ec || self->stopping_) return self->End();
      self->ReadHeaders();
    });
  }

  // The headers whole within the keep-alive time plus a read time-out.
  void ReadHeaders() {
    phase_ = Phase::Headers;
    request_ = HttpRequest();
    logged_ = false;
    parser_.emplace();
    parser_->header_limit(kMaxHeaderBytes);
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());  // the site's limit is kept here, per piece
    Arm(since_ + std::chrono::seconds(limits().keepAliveSeconds + limits().readTimeoutSeconds));
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = Self()](const error_code& ec, size_t) { self->OnHeaders(ec); });
  }

  void OnHeaders(error_code ec) {
    if (ec == http::error::header_limit)
      return Refuse(ErrorAnswer(431, "the request's headers are longer than " + std::to_string(kMaxHeaderBytes) +
                                         " bytes"),
                    false);
    // A client that went, or that sent too slowly: nothing to answer.
    if (timedOut_ || stopping_ || ec == http::error::end_of_stream || ec == net::error::eof ||
        ec == net::error::connection_reset || ec == net::error::operation_aborted || ec == net::error::broken_pipe ||
        ec.category() == net::error::get_ssl_category() || ec == net::ssl::error::stream_truncated)
      return End();
    if (ec) return Refuse(ErrorAnswer(400, "not a valid HTTP request (" + ec.message() + ")"), false);
    Disarm();
    headersAt_ = Clock::now();
    headersIn_ = true;
    const auto& header = parser_->get();
    request_ = HttpRequest();
    request_.method = std::string(header.method_string());
    request_.remoteAddress = remoteAddress_;
    request_.remotePort = remotePort_;
    request_.headersAt = headersAt_;
    version_ = header.version();
    keepAlive_ = header.keep_alive();
    head_ = header.method() == http::verb::head;
    size_t lines = 0;
    for (const auto& field : header) {
      ++lines;
      request_.headers.emplace(std::string(field.name_string()), std::string(field.value()));
    }
    if (lines > kMaxHeaderLines)
      return Refuse(ErrorAnswer(431, "the request has more than " + std::to_string(kMaxHeaderLines) + " header lines"),
                    false);
    if (!ParseRequestTarget(std::string(header.target()), &request_.path, &request_.query))
      return Refuse(ErrorAnswer(400, "the request's target is not a path"), false);
    framing_ = FramingOf(request_.method, request_.headers);
    if (framing_.refusal) return Refuse(ErrorAnswer(framing_.refusal, framing_.detail), false);

    Answer refusal;
    maxBody_ = 0;
    if (!server_.site.Admit(request_, &maxBody_, &refusal)) {
      // The client may still be sending a body it was allowed to: it is
      // taken and dropped for a while, so that the client gets to read the
      // answer (a body over the limit is not waited for).
      const bool drain = framing_.HasBody() && refusal.status != 413;
      return Refuse(std::move(refusal), drain);
    }
    if (!framing_.HasBody()) return Dispatch();
    if (maxBody_ == 0) return Refuse(ErrorAnswer(413, "this request takes no body"), false);
    if (framing_.hasLength && framing_.length > maxBody_) return Refuse(TooLong(), false);
    if (strcasecmp(request_.Header("Expect").c_str(), "100-continue") != 0) return ReadBody();
    // The client waits for this before it sends the body.
    static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
    Arm(Clock::now() + std::chrono::seconds(limits().writeTimeoutSeconds));
    net::async_write(stream_, net::buffer(kContinue, sizeof kContinue - 1),
                     [self = Self()](const error_code& failed, size_t) {
                       self->Disarm();
                       if (failed) return self->End();
                       self->ReadBody();
                     });
  }

  Answer TooLong() const {
    return ErrorAnswer(413, "the body is longer than " + std::to_string(maxBody_) + " bytes");
  }

  void ReadBody() {
    phase_ = Phase::Body;
    bodyStart_ = Clock::now();
    received_ = 0;
    piece_.resize(kBodyPiece);
    ReadPiece();
  }

  // Each piece within a read time-out, and the body never more than a read
  // time-out behind kMinBodyRate.
  void ReadPiece() {
    auto& body = parser_->get().body();
    body.data = piece_.data();
    body.size = piece_.size();
    const Clock::time_point now = Clock::now();
    const Clock::duration readTimeout = std::chrono::seconds(limits().readTimeoutSeconds);
    const Clock::time_point late = bodyStart_ + Seconds(static_cast<double>(received_) / kMinBodyRate) + readTimeout;
    Arm(std::min(now + readTimeout, late));
    http::async_read_some(stream_, buffer_, *parser_,
                          [self = Self()](const error_code& ec, size_t) { self->OnPiece(ec); });
  }

  void OnPiece(error_code ec) {
    if (ec == http::error::need_buffer) ec = {};
    const size_t got = piece_.size() - parser_->get().body().size;
    if (received_ + got > maxBody_) return Refuse(TooLong(), false);
    request_.body.insert(request_.body.end(), piece_.data(), piece_.data() + got);
    received_ += got;
    if (timedOut_) return BodyFailed(408, "the body came too slowly; nothing was kept");
    if (stopping_ && ec == net::error::operation_aborted) return End();
    if (ec == http::error::partial_message || ec == net::error::eof || ec == http::error::end_of_stream ||
        ec == net::error::connection_reset || ec == net::ssl::error::stream_truncated)
      return BodyFailed(400, "the body ended before it was whole; nothing was kept");
    if (ec) return BodyFailed(400, "the body is not valid (" + ec.message() + "); nothing was kept");
    if (!parser_->is_done()) return ReadPiece();
    Disarm();
    std::vector<char>().swap(piece_);
    Dispatch();
  }

  void BodyFailed(int status, const std::string& detail) {
    std::vector<uint8_t>().swap(request_.body);
    Refuse(ErrorAnswer(status, detail), false);
  }

  // The request is whole: to a worker. It waits in the queue, if it must,
  // with no clock running.
  void Dispatch() {
    phase_ = Phase::Working;
    auto guard = std::make_shared<net::executor_work_guard<net::io_context::executor_type>>(
        server_.ioc.get_executor());
    server_.workers->Post([self = Self(), guard] { self->Work(); });
  }

  // On the worker.
  void Work() {
    Answer answer;
    try {
      answer = server_.site.Handle(request_);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "taxoscope-server: %s %s failed: %s\n", request_.method.c_str(), request_.path.c_str(),
                   e.what());
      answer = ErrorAnswer(500, "the server failed on this request");
    }
    std::vector<uint8_t>().swap(request_.body);
    auto executor = stream_.get_executor();
    if (!answer.stream || head_) {
      const bool streamed = static_cast<bool>(answer.stream);
      answer.stream = nullptr;  // what it holds (a read snapshot) ends on this thread
      net::post(executor, [self = Self(), answer = std::move(answer), streamed]() mutable {
        self->Write(std::move(answer), streamed);
      });
      return;
    }
    auto pipe = std::make_shared<StreamPipe>(kStreamBufferBytes);
    auto stream = std::move(answer.stream);
    answer.stream = nullptr;
    net::post(executor, [self = Self(), answer = std::move(answer), pipe]() mutable {
      self->WriteStreamHead(std::move(answer), pipe);
    });
    std::function<void()> wake = [self = Self(), executor] { net::post(executor, [self] { self->Pump(); }); };
    PipeSink sink(pipe, wake);
    std::string err;
    bool whole = false;
    try {
      whole = stream(sink, &err);
    } catch (const std::exception& e) {
      err = e.what();
    }
    stream = nullptr;
    if (!whole && !sink.gone())
      std::fprintf(stderr, "taxoscope-server: %s %s was cut off: %s\n", request_.method.c_str(), request_.path.c_str(),
                   err.c_str());
    pipe->Finish(whole, wake);
  }

  template <class Message>
  void SetHeaders(Message& message, const Answer& answer) {
    for (const auto& header : answer.headers) message.set(header.first, header.second);
    for (const auto& header : server_.defaults)
      if (message.find(header.first) == message.end()) message.set(header.first, header.second);
    message.set(http::field::content_type, answer.contentType);
  }

  bool KeepsAlive() const {
    return keepAlive_ && !closeAfter_ && !stopping_ && requests_ + 1 < limits().keepAliveRequests;
  }

  // An answer refused before the request was taken whole: the connection
  // ends after it (after a drain of what the client is still sending).
  void Refuse(Answer answer, bool drain) {
    closeAfter_ = true;
    drainAfter_ = drain;
    Write(std::move(answer), false);
  }

  void Write(Answer answer, bool streamedHead) {
    status_ = answer.status;
    if (phase_ == Phase::Closed) return Log();  // closed meanwhile (SIGTERM's grace ran out)
    phase_ = Phase::Writing;
    if (head_) return WriteHeadOnly(answer, streamedHead);
    auto message = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(answer.status),
                                                                       version_);
    SetHeaders(*message, answer);
    message->keep_alive(KeepsAlive());
    bytesOut_ = answer.body.size();
    message->body() = std::move(answer.body);
    message->prepare_payload();
    Arm(Clock::now() + std::chrono::seconds(limits().writeTimeoutSeconds) +
        Seconds(static_cast<double>(bytesOut_) / kMinBodyRate));
    http::async_write(stream_, *message, [self = Self(), message](const error_code& ec, size_t) {
      self->Disarm();
      self->Answered(!ec, message->keep_alive());
    });
  }

  // HEAD: the headers the answer would have, without its body.
  void WriteHeadOnly(const Answer& answer, bool streamed) {
    auto message = std::make_shared<http::response<http::empty_body>>(static_cast<http::status>(answer.status),
                                                                      version_);
    SetHeaders(*message, answer);
    if (streamed)
      message->set(http::field::transfer_encoding, "chunked");
    else
      message->content_length(answer.body.size());
    message->keep_alive(KeepsAlive());
    auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*message);
    Arm(Clock::now() + std::chrono::seconds(limits().writeTimeoutSeconds));
    http::async_write_header(stream_, *serializer, [self = Self(), message, serializer](const error_code& ec, size_t) {
      self->Disarm();
      self->Answered(!ec, message->keep_alive());
    });
  }

  void WriteStreamHead(Answer answer, std::shared_ptr<StreamPipe> pipe) {
    pipe_ = std::move(pipe);
    status_ = answer.status;
    if (phase_ == Phase::Closed) {
      pipe_->Fail();
      return Log();
    }
    phase_ = Phase::Writing;
    // HTTP/1.0 knows no chunks: the end of the answer is the end of the connection.
    chunked_ = version_ >= 11;
    if (!chunked_) closeAfter_ = true;
    auto message = std::make_shared<http::response<http::empty_body>>(static_cast<http::status>(answer.status),
                                                                      version_);
    SetHeaders(*message, answer);
    if (chunked_) message->chunked(true);
    message->keep_alive(KeepsAlive());
    keepAliveAfterStream_ = message->keep_alive();
    auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*message);
    Arm(Clock::now() + std::chrono::seconds(limits().writeTimeoutSeconds));
    http::async_write_header(stream_, *serializer, [self = Self(), message, serializer](const error_code& ec, size_t) {
      self->Disarm();
      if (ec) return self->End();
      self->Pump();
    });
  }

  // Writes the streamed answer's next piece, if there is one.
  void Pump() {
    if (phase_ != Phase::Writing || pumping_) return;
    std::string piece;
    switch (pipe_->Take(&piece)) {
      case StreamPipe::Wait:
        return;
      case StreamPipe::Cut:
        return End();  // without its last chunk the client sees it unfinished
      case StreamPipe::End:
        if (!chunked_) return Answered(true, false);
        pumping_ = true;
        Arm(Clock::now() + std::chrono::seconds(limits().writeTimeoutSeconds));
        net::async_write(stream_, http::make_chunk_last(), [self = Self()](const error_code& ec, size_t) {
          self->pumping_ = false;
          self->Disarm();
          self->Answered(!ec, self->keepAliveAfterStream_);
        });
        return;
      case StreamPipe::Piece:
        break;
    }
    bytesOut_ += piece.size();
    auto held = std::make_shared<std::string>(std::move(piece));
    pumping_ = true;
    Arm(Clock::now() + std::chrono::seconds(limits().writeTimeoutSeconds) +
        Seconds(static_cast<double>(held->size()) / kMinBodyRate));
    auto written = [self = Self(), held](const error_code& ec, size_t) {
      self->pumping_ = false;
      self->Disarm();
      if (ec) return self->End();
      self->Pump();
    };
    if (chunked_)
      net::async_write(stream_, http::make_chunk(net::buffer(*held)), std::move(written));
    else
      net::async_write(stream_, net::buffer(*held), std::move(written));
  }

  void Answered(bool written, bool keepAlive) {
    Log();
    if (!written) return End();
    if (drainAfter_) return Drain();
    if (!keepAlive) return End();
    // Ready for the next request on this connection.
    since_ = Clock::now();
    ++requests_;
    headersIn_ = false;
    closeAfter_ = false;
    received_ = bytesOut_ = 0;
    status_ = 0;
    pipe_.reset();
    parser_.reset();
    AwaitRequest();
  }

  // Once per request that was answered (or whose answer was begun).
  void Log() {
    if (logged_) return;
    logged_ = true;
    HttpOutcome outcome;
    outcome.status = status_;
    outcome.bytesIn = received_;
    outcome.bytesOut = bytesOut_;
    if (headersIn_) outcome.seconds = std::chrono::duration<double>(Clock::now() - headersAt_).count();
    server_.site.Answered(request_, outcome);
  }

  // What the client still sends of a refused body is read and dropped, for
  // at most a read time-out and kMaxDrainBytes.
  void Drain() {
    phase_ = Phase::Draining;
    drainLeft_ = framing_.chunked ? kMaxDrainBytes : std::min<uint64_t>(framing_.length, kMaxDrainBytes);
    drainLeft_ -= std::min<uint64_t>(drainLeft_, buffer_.size());
    buffer_.consume(buffer_.size());
    piece_.resize(16 * 1024);
    Arm(Clock::now() + std::chrono::seconds(limits().readTimeoutSeconds));
    DrainMore();
  }
  void DrainMore() {
    if (drainLeft_ == 0 || stopping_) return End();
    stream_.async_read_some(net::buffer(piece_.data(), std::min<uint64_t>(piece_.size(), drainLeft_)),
                            [self = Self()](const error_code& ec, size_t got) {
                              self->drainLeft_ -= std::min<uint64_t>(got, self->drainLeft_);
                              if (ec) return self->End();
                              self->DrainMore();
                            });
  }

  void OnStop() {
    stopping_ = true;
    if (phase_ == Phase::Opening || phase_ == Phase::Idle || phase_ == Phase::Headers || phase_ == Phase::Draining)
      End();
  }

  void End() {
    if (phase_ == Phase::Closed) return;
    if (status_ != 0) Log();  // an answer cut off (a streamed one the client left)
    phase_ = Phase::Closed;
    Disarm();
    if (pipe_) pipe_->Fail();
    error_code ignored;
    Lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
    Lowest().close();
    // A worker still on a request logs its answer when it comes (Write).
    server_.Release(this, addressKey_, counted_);
  }

  HttpServer::Impl& server_;
  Stream stream_;
  net::steady_timer timer_;
  uint64_t timerGeneration_ = 0;
  bool timedOut_ = false;
  const std::string addressKey_;
  const bool counted_;
  const std::string remoteAddress_;
  const int remotePort_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::buffer_body>> parser_;
  std::vector<char> piece_;
  Phase phase_ = Phase::Opening;
  Clock::time_point since_, headersAt_, bodyStart_;
  HttpRequest request_;
  BodyFraming framing_;
  size_t maxBody_ = 0;
  unsigned version_ = 11;
  bool keepAlive_ = false, head_ = false, headersIn_ = false;
  bool closeAfter_ = false, drainAfter_ = false, stopping_ = false;
  bool chunked_ = false, pumping_ = false, keepAliveAfterStream_ = false, logged_ = false;
  int requests_ = 0;
  int status_ = 0;
  uint64_t received_ = 0, bytesOut_ = 0, drainLeft_ = 0;
  std::shared_ptr<StreamPipe> pipe_;
};

}  // namespace

bool HttpServer::Impl::Bind(const ListenAddress& address, const std::string& cert, const std::string& key, int* port,
                            std::string* err) {
  if (!cert.empty()) {
    std::string certText, keyText;
    if (!ReadPemFile(cert, "certificate", &certText, err) || !ReadPemFile(key, "key", &keyText, err)) return false;
    tls = std::make_unique<ssl::context>(ssl::context::tls_server);
    tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                     ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
    error_code ec;
    tls->use_certificate_chain(net::buffer(certText), ec);
    if (ec) {
      *err = "cannot load the certificate '" + cert + "': " + ec.message();
      return false;
    }
    tls->use_private_key(net::buffer(keyText), ssl::context::pem, ec);
    if (ec) {
      *err = "cannot load the key '" + key + "': " + ec.message();
      return false;
    }
    if (SSL_CTX_check_private_key(tls->native_handle()) != 1) {
      *err = "the key '" + key + "' is not the key of the certificate '" + cert + "'";
      return false;
    }
  }
  const std::string where = address.host + ":" + std::to_string(address.port);
  error_code ec;
  const net::ip::address ip = net::ip::make_address(address.host == "localhost" ? "127.0.0.1" : address.host, ec);
  if (ec) {
    *err = "cannot listen on " + where + ": " + ec.message();
    return false;
  }
  const tcp::endpoint endpoint(ip, static_cast<unsigned short>(address.port));
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (ec) {
    *err = "cannot listen on " + where + ": " + ec.message();
    return false;
  }
  acceptor.listen(kListenBacklog, ec);
  if (ec) {
    *err = "cannot listen with a backlog of " + std::to_string(kListenBacklog) + ": " + ec.message();
    return false;
  }
  *port = acceptor.local_endpoint(ec).port();

  // Every connection is a descriptor: the soft limit goes up to the hard one,
  // and the connections stay below it.
  rlimit files = {};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    getrlimit(RLIMIT_NOFILE, &files);
  }
  const long usable = static_cast<long>(std::min<rlim_t>(files.rlim_cur, 1 << 20)) - kSpareFiles;
  maxConnections = static_cast<int>(std::max(1L, std::min<long>(limits.connections, usable)));
  return true;
}

bool HttpServer::Impl::Run(std::string* err) {
  if (!acceptor.is_open()) {
    *err = "the server is not bound to an address";
    return false;
  }
  workers = std::make_unique<WorkerPool>(limits.threads);
  net::post(acceptor.get_executor(), [this] { Accept(); });
  auto run = [this] {
    for (;;) {
      try {
        ioc.run();
        return;
      } catch (const std::exception& e) {
        std::fprintf(stderr, "taxoscope-server: %s\n", e.what());
      }
    }
  };
  std::vector<std::thread> threads;
  for (int i = 1; i < kEventThreads; ++i) threads.emplace_back(run);
  run();
  for (std::thread& thread : threads) thread.join();
  workers.reset();  // idle by now: every task held the event loop's work
  return true;
}

void HttpServer::Impl::Accept() {
  acceptor.async_accept(net::make_strand(ioc), [this](const error_code& ec, tcp::socket socket) {
    OnAccept(ec, std::move(socket));
  });
}

void HttpServer::Impl::OnAccept(const error_code& ec, tcp::socket socket) {
  if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
  if (ec) {
    // Out of descriptors, most likely: a pause, not a loop.
    acceptPause.expires_after(std::chrono::milliseconds(100));
    acceptPause.async_wait([this](const error_code& waited) {
      if (!waited && acceptor.is_open()) Accept();
    });
    return;
  }
  Open(std::move(socket));
  std::lock_guard<std::mutex> lock(mutex);
  if (stopping) return;
  if (static_cast<int>(connections.size()) < maxConnections)
    Accept();
  else
    acceptPaused = true;  // the next waits in the queue until a connection ends
}

void HttpServer::Impl::Open(tcp::socket socket) {
  error_code ec;
  const tcp::endpoint remote = socket.remote_endpoint(ec);
  if (ec) return;  // gone already
  const std::string key = AddressKey(remote.address());
  const bool counted = limits.perAddressOnLoopback || !remote.address().is_loopback();
  std::shared_ptr<ConnectionBase> connection;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping) return;
    if (counted && perAddress[key] >= limits.connectionsPerAddress) {
      ++refused;
      socket.close(ec);
      return;
    }
    if (counted) ++perAddress[key];
    if (tls) {
      auto made = std::make_shared<Connection<TlsStream>>(*this, std::move(socket), remote, key, counted);
      made->Start();
      connection = made;
    } else {
      auto made = std::make_shared<Connection<PlainStream>>(*this, std::move(socket), remote, key, counted);
      made->Start();
      connection = made;
    }
    connections[connection.get()] = connection;
  }
}

void HttpServer::Impl::StopOnAcceptor() {
  std::vector<std::shared_ptr<ConnectionBase>> running;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping) return;
    stopping = true;
    for (auto& entry : connections)
      if (auto connection = entry.second.lock()) running.push_back(connection);
  }
  error_code ignored;
  acceptor.close(ignored);
  acceptPause.cancel();
  for (auto& connection : running) connection->Stop();
  if (running.empty()) return;
  // The running requests have this long; then their connections close.
  grace.expires_after(std::chrono::seconds(kStopGraceSeconds));
  grace.async_wait([this](const error_code& ec) {
    if (ec) return;
    std::vector<std::shared_ptr<ConnectionBase>> left;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto& entry : connections)
        if (auto connection = entry.second.lock()) left.push_back(connection);
    }
    for (auto& connection : left) connection->Close();
  });
}

HttpServer::HttpServer(HttpSite& site, const ServerLimits& limits,
                       std::vector<std::pair<std::string, std::string>> defaultHeaders)
    : impl_(std::make_unique<Impl>(site, limits, std::move(defaultHeaders))) {}
HttpServer::~HttpServer() = default;

bool HttpServer::Bind(const ListenAddress& address, const std::string& cert, const std::string& key, int* port,
                      std::string* err) {
  return impl_->Bind(address, cert, key, port, err);
}
bool HttpServer::Run(std::string* err) { return impl_->Run(err); }
void HttpServer::Stop() { impl_->Stop(); }
int HttpServer::OpenConnections() const { return impl_->OpenConnections(); }
uint64_t HttpServer::RefusedConnections() const { return impl_->RefusedConnections(); }
