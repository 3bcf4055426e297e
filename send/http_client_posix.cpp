// The HTTP seam over cpp-httplib (OpenSSL): certificates verified, the host
// name checked, every wait bounded.
#include <httplib.h>
#include <signal.h>

#include "send/http_client.h"

namespace {

std::string FailureText(httplib::Error error, const HttpPost& post) {
  const std::string where = UrlOrigin(post.url);
  switch (error) {
    case httplib::Error::Connection: return "no connection to " + where;
    case httplib::Error::ConnectionTimeout: return "no connection to " + where + " within the time-out";
    case httplib::Error::BindIPAddress: return "cannot bind a local address";
    case httplib::Error::Read: return where + " ended the connection before its answer (or sent none in time)";
    case httplib::Error::Write: return "cannot send to " + where;
    case httplib::Error::SSLConnection: return "the TLS handshake with " + where + " failed";
    case httplib::Error::SSLLoadingCerts:
      return post.caFile.empty() ? "cannot load the system's certificate authorities"
                                 : "cannot load the certificate authority '" + post.caFile + "'";
    case httplib::Error::SSLServerVerification:
      return "the certificate of " + where + " is not from a trusted authority, or not for this host name";
    default: return "the exchange with " + where + " failed (" + httplib::to_string(error) + ")";
  }
}

}  // namespace

bool HttpClientTakesCaFile() { return true; }

bool SendHttpPost(const HttpPost& post, HttpAnswer* answer, std::string* err) {
  // A server that closes the connection while the body is on its way (its
  // answer came first) is a failed write, not the end of the program.
  ::signal(SIGPIPE, SIG_IGN);
  httplib::Client client(UrlOrigin(post.url));
  if (!client.is_valid()) {
    *err = "cannot make a client for " + UrlOrigin(post.url);
    return false;
  }
  client.set_connection_timeout(kHttpConnectSeconds, 0);
  client.set_read_timeout(kHttpReadWriteSeconds, 0);
  client.set_write_timeout(kHttpReadWriteSeconds, 0);
  client.set_keep_alive(false);
  client.set_follow_location(false);
  if (post.url.https) {
    client.enable_server_certificate_verification(true);
    if (!post.caFile.empty()) client.set_ca_cert_path(post.caFile.c_str());
  }
  httplib::Headers headers(post.headers.begin(), post.headers.end());
  httplib::Result result = client.Post(post.target.c_str(), headers, *post.body, post.contentType.c_str());
  if (!result) {
    *err = FailureText(result.error(), post);
    return false;
  }
  answer->status = result->status;
  answer->body = result->body;
  return true;
}
