// The HTTP seam over WinHTTP, part of Windows with its own TLS: certificates
// are verified against the Windows certificate store and the host name is
// checked, as the system does for every program.
#include <windows.h>
#include <winhttp.h>

#include "send/http_client.h"

namespace {

// A WinHTTP handle closed on every path.
class Handle {
 public:
  explicit Handle(HINTERNET handle) : handle_(handle) {}
  ~Handle() {
    if (handle_) WinHttpCloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

// The texts here are ASCII (host, percent-encoded target and headers).
std::wstring Wide(const std::string& text) {
  std::wstring wide;
  for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

std::string FailureText(DWORD error, const HttpPost& post) {
  const std::string where = UrlOrigin(post.url);
  switch (error) {
    case ERROR_WINHTTP_CANNOT_CONNECT: return "no connection to " + where;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "the host of " + where + " is not known";
    case ERROR_WINHTTP_TIMEOUT: return where + " did not answer in time";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "the connection to " + where + " broke off";
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
      return "the certificate of " + where + " is not from a trusted authority, or not for this host name";
  }
  char text[512] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                GetModuleHandleA("winhttp.dll"), error, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.')) --length;
  return "the exchange with " + where + " failed (" +
         (length ? std::string(text, length) : "error " + std::to_string(error)) + ")";
}

}  // namespace

bool HttpClientTakesCaFile() { return false; }

bool SendHttpPost(const HttpPost& post, HttpAnswer* answer, std::string* err) {
  Handle session(WinHttpOpen(L"taxoscope", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    *err = FailureText(GetLastError(), post);
    return false;
  }
  const int connectMs = kHttpConnectSeconds * 1000, transferMs = kHttpReadWriteSeconds * 1000;
  WinHttpSetTimeouts(session.get(), connectMs, connectMs, transferMs, transferMs);
  Handle connection(WinHttpConnect(session.get(), Wide(post.url.host).c_str(),
                                   static_cast<INTERNET_PORT>(post.url.port), 0));
  if (!connection) {
    *err = FailureText(GetLastError(), post);
    return false;
  }
  Handle request(WinHttpOpenRequest(connection.get(), L"POST", Wide(post.target).c_str(), nullptr,
                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                    post.url.https ? WINHTTP_FLAG_SECURE : 0));
  if (!request) {
    *err = FailureText(GetLastError(), post);
    return false;
  }
  // No redirect is followed: an answer elsewhere is the server's answer.
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);

  std::wstring headers = L"Content-Type: " + Wide(post.contentType) + L"\r\n";
  for (const auto& header : post.headers) headers += Wide(header.first) + L": " + Wide(header.second) + L"\r\n";
  const DWORD size = static_cast<DWORD>(post.body->size());
  if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(-1),
                          const_cast<char*>(post.body->data()), size, size, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    *err = FailureText(GetLastError(), post);
    return false;
  }
  DWORD status = 0, statusSize = sizeof status;
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
    *err = FailureText(GetLastError(), post);
    return false;
  }
  answer->status = static_cast<int>(status);
  answer->body.clear();
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.get(), &available)) {
      *err = FailureText(GetLastError(), post);
      return false;
    }
    if (available == 0) break;
    const size_t at = answer->body.size();
    if (at + available > kHttpMaxAnswerBytes) {
      *err = UrlOrigin(post.url) + " answered more than " + std::to_string(kHttpMaxAnswerBytes) + " bytes";
      return false;
    }
    answer->body.resize(at + available);
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), &answer->body[at], available, &read)) {
      *err = FailureText(GetLastError(), post);
      return false;
    }
    answer->body.resize(at + read);
  }
  return true;
}
