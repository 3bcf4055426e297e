// taxoscope-cli send against the real server and real stand-ins for what
// lies between them: certificates of an office's own authority named in
// every way, a proxy of the environment, a server that answers too much.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <thread>

#include "server/server_test_support.h"
#include "sim/dump_builder.h"

namespace {

std::string Quote(const std::string& text) { return "'" + text + "'"; }

// A listening socket on a loopback port chosen by the system.
int Listen(int* port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(fd, 4);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return fd;
}

// The request's head: everything up to the blank line.
std::string ReadHead(int fd) {
  std::string head;
  char c;
  while (head.find("\r\n\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1) head += c;
  return head;
}

class SendClient : public ::testing::Test {
 protected:
  void SetUp() override {
    state = dir.File("state");
    int status = -1;
    WriteFileBytes(dir.File("token"), RunShell(Quote(TAXOSCOPE_SERVER) + " token add till --role upload --state " +
                                               Quote(state) + " 2>/dev/null", &status));
    chmod(dir.File("token").c_str(), 0600);
    GenerateOptions options;
    options.seed = 5;
    options.reports = 6;
    options.variant = 2;
    const std::vector<uint8_t> bytes = GenerateDump(options);
    WriteFileBytes(dir.File("DV1.bin"), std::string(bytes.begin(), bytes.end()));
  }

  // An authority of the office's own, and a certificate from it for the
  // subject and the alternative names given ("" for none).
  void MakeCertificate(const std::string& subject, const std::string& altNames) {
    int status = -1;
    RunShell("cd " + Quote(dir.path()) +
                 " && { [ -f ca.pem ] || openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 "
                 "-subj /CN=Office-CA 2>/dev/null; } && openssl req -newkey rsa:2048 -nodes -keyout server.key "
                 "-out server.csr -subj /CN=" + subject + " 2>/dev/null && " +
                 (altNames.empty() ? ": >ext" : "printf 'subjectAltName=" + altNames + "\\n' >ext") +
                 " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem "
                 "-days 2 -extfile ext 2>/dev/null",
             &status);
    ASSERT_EQ(0, status);
  }

  // taxoscope-cli send to the URL, with the environment given before it.
  std::string Send(const std::string& url, int* status, const std::string& environment = "",
                   const std::string& options = "") {
    return RunShell(environment + " " + Quote(TAXOSCOPE_CLI) + " send " + url + " " + Quote(dir.File("DV1.bin")) +
                        " --token-file " + Quote(dir.File("token")) + " " + options + " 2>&1",
                    status);
  }

  TempDir dir;
  std::string state;
  ServerProcess server;
};

// RFC 6125: the alternative names decide when there are any; the common name
// only when there are none; an address only against addresses.
TEST_F(SendClient, TheCertificateMustNameTheHostAsRfc6125Says) {
  struct Case {
    const char* subject;
    const char* altNames;
    const char* host;
    bool taken;
  } cases[] = {
      {"localhost", "DNS:ledger.example", "localhost", false},  // the common name beside other names
      {"ledger.example", "DNS:localhost", "localhost", true},
      {"127.0.0.1", "DNS:localhost", "127.0.0.1", false},  // an address is no DNS name
      {"127.0.0.1", "", "127.0.0.1", false},               // nor a common name
      {"office", "IP:127.0.0.1", "127.0.0.1", true},       // docs/server.md's form for an address
      {"localhost", "", "localhost", true},
  };
  for (const Case& c : cases) {
    MakeCertificate(c.subject, c.altNames);
    ASSERT_TRUE(server.Start(state, {"--cert", dir.File("server.pem"), "--key", dir.File("server.key")}))
        << server.Log();
    int status = -1;
    const std::string out = Send("https://" + std::string(c.host) + ":" + std::to_string(server.port()), &status, "",
                                 "--ca " + Quote(dir.File("ca.pem")));
    EXPECT_EQ(c.taken ? 0 : 20, status) << c.subject << " " << c.altNames << " for " << c.host << ": " << out;
    if (!c.taken) { EXPECT_NE(std::string::npos, out.find("not for this host name")) << out; }
    server.Stop();
  }
}

// A key the server's user may not read is named with the system's reason,
// not taken for a certificate that cannot be loaded.
TEST_F(SendClient, TheServerNamesAKeyItMayNotRead) {
  if (geteuid() != 0) GTEST_SKIP() << "another user for the server needs root";
  MakeCertificate("localhost", "DNS:localhost");
  chmod(dir.path().c_str(), 0755);
  chmod(dir.File("server.pem").c_str(), 0644);
  chmod(dir.File("server.key").c_str(), 0600);
  const std::string own = dir.File("own-state");
  mkdir(own.c_str(), 0750);
  ASSERT_EQ(0, chown(own.c_str(), 65534, 65534));
  EXPECT_FALSE(server.Start(own, {"--cert", dir.File("server.pem"), "--key", dir.File("server.key")},
                            {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}));
  EXPECT_NE(std::string::npos,
            server.Log().find("cannot read the key '" + dir.File("server.key") + "': Permission denied"))
      << server.Log();
}

// A relay of CONNECT tunnels on a loopback port: what a proxy of an office
// does, without looking inside.
class ConnectProxy {
 public:
  ConnectProxy() : listener_(Listen(&port_)) {
    thread_ = std::thread([this] {
      int client = accept(listener_, nullptr, nullptr);
      if (client < 0) return;
      const std::string head = ReadHead(client);
      request_ = head.substr(0, head.find("\r\n"));
      const size_t colon = request_.rfind(':');
      int upstream = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address = {};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(std::atoi(request_.c_str() + colon + 1)));
      if (connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string ok = "HTTP/1.1 200 Connection established\r\n\r\n";
        send(client, ok.data(), ok.size(), MSG_NOSIGNAL);
        std::thread back([&] { Relay(upstream, client); });
        Relay(client, upstream);
        back.join();
      }
      close(upstream);
      close(client);
    });
  }
  ~ConnectProxy() { Finish(); }
  int port() const { return port_; }
  // Stops taking connections; then the request line it was sent is read.
  void Finish() {
    if (!thread_.joinable()) return;
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  const std::string& request() const { return request_; }

 private:
  static void Relay(int from, int to) {
    char buffer[16384];
    ssize_t got;
    while ((got = recv(from, buffer, sizeof buffer, 0)) > 0) send(to, buffer, static_cast<size_t>(got), MSG_NOSIGNAL);
    shutdown(to, SHUT_WR);
  }

  int port_ = 0;
  int listener_;
  std::string request_;
  std::thread thread_;
};

TEST_F(SendClient, HttpsGoesThroughTheProxyOfTheEnvironmentUnlessNoProxySaysNot) {
  MakeCertificate("localhost", "DNS:localhost");
  ASSERT_TRUE(server.Start(state, {"--cert", dir.File("server.pem"), "--key", dir.File("server.key")})) << server.Log();
  const std::string url = "https://localhost:" + std::to_string(server.port());
  const std::string ca = "--ca " + Quote(dir.File("ca.pem"));
  int status = -1;
  ConnectProxy proxy;
  std::string out = Send(url, &status, "https_proxy=http://127.0.0.1:" + std::to_string(proxy.port()), ca);
  proxy.Finish();
  EXPECT_EQ(0, status) << out;
  EXPECT_NE(std::string::npos, out.find(": device DV1, 6 new")) << out;
  EXPECT_EQ("CONNECT localhost:" + std::to_string(server.port()) + " HTTP/1.1", proxy.request());
  // A proxy that is not there: the send goes to it, and fails; NO_PROXY
  // takes the server's host out of its way.
  int closed = 0;
  close(Listen(&closed));
  out = Send(url, &status, "HTTPS_PROXY=http://127.0.0.1:" + std::to_string(closed), ca);
  EXPECT_EQ(20, status) << out;
  out = Send(url, &status, "HTTPS_PROXY=http://127.0.0.1:" + std::to_string(closed) + " NO_PROXY=localhost", ca);
  EXPECT_EQ(0, status) << out;
  // Plain http to this machine never goes through a proxy.
  server.Stop();
  ASSERT_TRUE(server.Start(state)) << server.Log();
  out = Send("http://127.0.0.1:" + std::to_string(server.port()), &status,
             "http_proxy=http://127.0.0.1:" + std::to_string(closed));
  EXPECT_EQ(0, status) << out;
}

// What the shop's side says of each failure, with the status the docs give.
TEST_F(SendClient, EachFailureIsToldAsItIs) {
  ASSERT_TRUE(server.Start(state)) << server.Log();
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port());
  int status = -1;
  // A wrong path: the server's answer, named.
  std::string out = Send(url + "/ledger", &status);
  EXPECT_EQ(22, status) << out;
  EXPECT_NE(std::string::npos, out.find("the server answered 404: no such path")) << out;
  // An authority file that is not there, or a folder: the command line's fault.
  out = Send(url, &status, "", "--ca " + Quote(dir.File("missing.pem")));
  EXPECT_EQ(2, status) << out;
  EXPECT_NE(std::string::npos, out.find("cannot read the certificate authority '" + dir.File("missing.pem") +
                                        "': No such file or directory"))
      << out;
  out = Send(url, &status, "", "--ca " + Quote(dir.path()));
  EXPECT_EQ(2, status) << out;
  // A name that does not resolve.
  out = Send("https://no-such-host.invalid", &status);
  EXPECT_EQ(20, status) << out;
  EXPECT_NE(std::string::npos, out.find("the host name 'no-such-host.invalid' does not resolve")) << out;
  // Token files: a byte-order mark before the token, a folder, a file others may read.
  const std::string token = ReadFileBytes(dir.File("token"));
  WriteFileBytes(dir.File("token"), "\xEF\xBB\xBF" + token);
  out = Send(url, &status);
  EXPECT_EQ(2, status) << out;
  EXPECT_NE(std::string::npos, out.find("begins with a byte-order mark")) << out;
  out = RunShell(Quote(TAXOSCOPE_CLI) + " send " + url + " " + Quote(dir.File("DV1.bin")) + " --token-file " +
                     Quote(dir.path()) + " 2>&1",
                 &status);
  EXPECT_EQ(2, status) << out;
  EXPECT_NE(std::string::npos, out.find("is a folder, not a file")) << out;
  WriteFileBytes(dir.File("token"), token);
  chmod(dir.File("token").c_str(), 0644);
  out = Send(url, &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_NE(std::string::npos, out.find("warning: the token file '" + dir.File("token") + "' may be read by others"))
      << out;
  chmod(dir.File("token").c_str(), 0600);
  out = Send(url, &status);
  EXPECT_EQ(std::string::npos, out.find("warning")) << out;
}

// An answer larger than any a server gives is cut off at 16 MB, not read
// into memory whole.
TEST_F(SendClient, AnAnswerOverSixteenMegabytesIsRefused) {
  int port = 0;
  const int listener = Listen(&port);
  std::thread flood([&] {
    int client = accept(listener, nullptr, nullptr);
    ReadHead(client);
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 800000000\r\n\r\n";
    send(client, head.data(), head.size(), MSG_NOSIGNAL);
    const std::string chunk(1 << 20, ' ');
    for (int i = 0; i < 800; ++i)
      if (send(client, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
    close(client);
  });
  int status = -1;
  const std::string out = Send("http://127.0.0.1:" + std::to_string(port), &status);
  flood.join();
  close(listener);
  EXPECT_EQ(20, status) << out;
  EXPECT_NE(std::string::npos, out.find("answered more than 16777216 bytes")) << out;
}

}  // namespace
