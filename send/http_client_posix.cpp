// The HTTP seam over libcurl (with OpenSSL): certificates verified, the host
// name checked as RFC 6125 says (the subject alternative names when there are
// any, never the common name beside them; an address only against the
// certificate's addresses), the proxy of the environment for HTTPS
// (https_proxy, HTTPS_PROXY, NO_PROXY; plain HTTP goes to this machine only,
// never through a proxy), every wait bounded, the answer capped.
//
// The request asks "Expect: 100-continue": a server that refuses an upload
// on its headers (an unknown path, a token refused) answers before the body
// is sent, and the client reads that answer instead of losing it to a
// connection the server closed under a body it did not want.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <mutex>

#include "send/http_client.h"

namespace {

struct Exchange {
  std::string* body;
  bool overCap = false;
};

size_t Receive(char* data, size_t size, size_t count, void* user) {
  Exchange& exchange = *static_cast<Exchange*>(user);
  const size_t length = size * count;
  if (exchange.body->size() + length > kHttpMaxAnswerBytes) {
    exchange.overCap = true;
    return 0;  // ends the transfer
  }
  exchange.body->append(data, length);
  return length;
}

bool IsAddress(const std::string& host) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, host.c_str(), bytes) == 1 || inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

// OpenSSL checks the name with the chain: an address against the
// certificate's IP addresses alone, a name against its DNS names (the
// common name only when there are none).
CURLcode CheckNameWithChain(CURL*, void* context, void* host) {
  X509_VERIFY_PARAM* param = SSL_CTX_get0_param(static_cast<SSL_CTX*>(context));
  const std::string& name = *static_cast<const std::string*>(host);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  const int set = IsAddress(name) ? X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str())
                                  : X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size());
  return set == 1 ? CURLE_OK : CURLE_SSL_CERTPROBLEM;
}

std::string FailureText(CURLcode code, const char* detail, const HttpPost& post, bool overCap) {
  const std::string where = UrlOrigin(post.url);
  const std::string why = detail && *detail ? std::string(" (") + detail + ")" : std::string();
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST: return "the host name '" + post.url.host + "' does not resolve";
    case CURLE_COULDNT_RESOLVE_PROXY: return "the proxy's name does not resolve" + why;
    case CURLE_COULDNT_CONNECT: return "no connection to " + where + why;
    case CURLE_OPERATION_TIMEDOUT: return "no answer from " + where + " in time" + why;
    case CURLE_SSL_CONNECT_ERROR: return "the TLS handshake with " + where + " failed" + why;
    case CURLE_PEER_FAILED_VERIFICATION:
      return "the certificate of " + where + " is not from a trusted authority, or not for this host name" + why;
    case CURLE_SSL_CACERT_BADFILE:
      return post.caFile.empty() ? "cannot load the system's certificate authorities" + why
                                 : "cannot load the certificate authority '" + post.caFile + "'" + why;
    case CURLE_WRITE_ERROR:
      if (overCap) return where + " answered more than " + std::to_string(kHttpMaxAnswerBytes) + " bytes";
      break;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING: return where + " ended the connection before its answer" + why;
    default: break;
  }
  return "the exchange with " + where + " failed (" + curl_easy_strerror(code) + (detail && *detail ? std::string(": ") + detail : "") + ")";
}

using CurlHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using CurlList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

}  // namespace

bool HttpClientTakesCaFile() { return true; }

bool SendHttpPost(const HttpPost& post, HttpAnswer* answer, std::string* err) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CurlHandle curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    *err = "cannot make a client for " + UrlOrigin(post.url);
    return false;
  }
  CURL* handle = curl.get();
  const std::string url = UrlOrigin(post.url) + post.target;
  curl_slist* headers = nullptr;
  auto add = [&](const std::string& line) { headers = curl_slist_append(headers, line.c_str()); };
  add("Content-Type: " + post.contentType);
  for (const auto& header : post.headers) add(header.first + ": " + header.second);
  add("Expect: 100-continue");
  CurlList headerList(headers, curl_slist_free_all);
  char detail[CURL_ERROR_SIZE] = "";
  answer->body.clear();
  Exchange exchange{&answer->body};

  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, detail);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, post.body->data());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post.body->size()));
  curl_easy_setopt(handle, CURLOPT_EXPECT_100_TIMEOUT_MS, 3000L);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, static_cast<long>(kHttpConnectSeconds));
  // No byte for this long, either way: the exchange is given up.
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kHttpReadWriteSeconds));
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Receive);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &exchange);
  if (!post.url.https) {
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");  // a token in clear text never crosses a proxy
  } else {
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, CheckNameWithChain);
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, &post.url.host);
    if (!post.caFile.empty()) {
      // The office's authority alone, not the system's beside it.
      curl_easy_setopt(handle, CURLOPT_CAINFO, post.caFile.c_str());
      curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    }
  }
  const CURLcode code = curl_easy_perform(handle);
  if (code != CURLE_OK) {
    *err = FailureText(code, detail, post, exchange.overCap);
    return false;
  }
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  answer->status = static_cast<int>(status);
  return true;
}
