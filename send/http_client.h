#pragma once
// One HTTP POST to a taxoscope-server: the thin seam over the platform's
// client (http_client_posix.cpp: libcurl with OpenSSL;
// http_client_win32.cpp: WinHTTP, part of Windows). HTTPS certificates are
// verified against the system's authorities, or on POSIX against caFile
// alone when it is given (an office's own authority); the host name must
// match the certificate. Both take the system's proxy for HTTPS.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "send/server_url.h"

struct HttpPost {
  ServerUrl url;
  std::string target;  // path and query, from '/'
  std::vector<std::pair<std::string, std::string>> headers;
  std::string contentType;
  const std::string* body = nullptr;
  std::string caFile;  // empty: the system's authorities
};

struct HttpAnswer {
  int status = 0;
  std::string body;
};

// Seconds the client waits: to connect, and for each read and write.
constexpr int kHttpConnectSeconds = 10;
constexpr int kHttpReadWriteSeconds = 120;
// The most of an answer's body that is read.
constexpr size_t kHttpMaxAnswerBytes = 16 * 1024 * 1024;

// False when no answer came (no connection, a refused certificate, a
// time-out), with the reason in *err.
bool SendHttpPost(const HttpPost& post, HttpAnswer* answer, std::string* err);

// Whether this platform's client takes a caFile (WinHTTP takes the Windows
// certificate store only).
bool HttpClientTakesCaFile();
