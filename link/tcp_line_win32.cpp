// The TCP line's socket over Winsock: non-blocking, every wait a select()
// (WSAPoll is newer than the systems the program runs on).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstring>

#include "link/port_timeouts.h"
#include "link/tcp_line.h"

namespace {

SOCKET Socket(intptr_t socket) { return static_cast<SOCKET>(socket); }

// Winsock is started once, on the first connection, and left to the
// process's end.
bool StartWinsock(int* error) {
  static int started = -1;
  if (started < 0) {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data);
  }
  *error = started;
  return started == 0;
}

std::string SystemText(int error) {
  char text[512] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
    text[--length] = '\0';
  if (length == 0) return "error " + std::to_string(error);
  return text;
}

timeval Timeval(int waitMs) {
  timeval time;
  time.tv_sec = waitMs / 1000;
  time.tv_usec = (waitMs % 1000) * 1000;
  return time;
}

// Waits until the socket is readable (or writable) or the time is up: 1, 0
// on time-out, -1 on failure. A failed connection attempt shows as an
// exception.
int WaitFor(SOCKET socket, bool write, int waitMs) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket, &ready);
  FD_SET(socket, &failed);
  timeval time = Timeval(waitMs);
  int count = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &time);
  if (count == SOCKET_ERROR) return -1;
  return count > 0 ? 1 : 0;
}

// One lookup, shared by the thread that runs getaddrinfo() and the caller
// that waits for it in slices and may leave before it ends: whoever lets go
// last frees it.
struct Lookup {
  LONG references = 2;
  HANDLE ended = nullptr;  // set once the lookup is done
  std::string host;
  std::string port;
  int status = 0;
  std::vector<SocketAddress> addresses;
};

void Release(Lookup* lookup) {
  if (InterlockedDecrement(&lookup->references) != 0) return;
  if (lookup->ended) CloseHandle(lookup->ended);
  delete lookup;
}

DWORD WINAPI RunLookup(void* parameter) {
  Lookup* lookup = static_cast<Lookup*>(parameter);
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  lookup->status = getaddrinfo(lookup->host.c_str(), lookup->port.c_str(), &hints, &found);
  for (const addrinfo* at = found; lookup->status == 0 && at; at = at->ai_next) {
    SocketAddress address;
    address.family = at->ai_family;
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(at->ai_addr);
    address.bytes.assign(raw, raw + at->ai_addrlen);
    lookup->addresses.push_back(address);
  }
  if (found) freeaddrinfo(found);
  if (lookup->ended) SetEvent(lookup->ended);
  Release(lookup);
  return 0;
}

void Note(ConnectAttempts* attempts, int error) {
  if (error == WSAECONNREFUSED) {
    attempts->Refused();
  } else if (error == WSAETIMEDOUT) {
    attempts->TimedOut();
  } else {
    attempts->Failed(SystemText(error));
  }
}

}  // namespace

bool TcpLine::LookUp(const std::string& host, uint16_t port, Clock::time_point deadline,
                     const StopCheck& stop, std::vector<SocketAddress>* addresses, std::string* why) {
  int error = 0;
  if (!StartWinsock(&error)) {
    if (why) *why = "no network (" + SystemText(error) + ")";
    return false;
  }
  Lookup* lookup = new Lookup;
  lookup->host = host;
  lookup->port = std::to_string(port);
  lookup->ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = lookup->ended ? CreateThread(nullptr, 0, RunLookup, lookup, 0, nullptr) : nullptr;
  bool ended = false;
  if (!thread) {
    // No thread to spare: the lookup runs here and cannot be cut short.
    RunLookup(lookup);
    ended = true;
  } else {
    CloseHandle(thread);  // detached: it ends on its own, the record kept until then
  }
  while (!ended) {
    if (WaitForSingleObject(lookup->ended, 0) == WAIT_OBJECT_0) {
      ended = true;
      break;
    }
    if (stop && stop()) {
      if (why) *why = kOpeningStopped;
      break;
    }
    if (Clock::now() >= deadline) {
      if (why) {
        *why = "the host " + host + " could not be looked up within " +
               std::to_string(kConnectTimeoutMs / 1000) + " seconds";
      }
      break;
    }
    WaitForSingleObject(lookup->ended, kStopSliceMs);
  }
  bool found = false;
  if (ended) {
    if (lookup->status != 0 || lookup->addresses.empty()) {
      if (why) *why = "the host " + host + " is not known (" + SystemText(lookup->status) + ")";
    } else {
      *addresses = lookup->addresses;
      found = true;
    }
  }
  Release(lookup);
  return found;
}

std::unique_ptr<TcpLine> TcpLine::ConnectFirst(const std::vector<SocketAddress>& addresses,
                                               Clock::time_point deadline, const StopCheck& stop,
                                               std::string* why) {
  int startError = 0;
  if (!StartWinsock(&startError)) {
    if (why) *why = "no network (" + SystemText(startError) + ")";
    return nullptr;
  }
  ConnectSchedule schedule(addresses.size(), deadline);
  ConnectAttempts attempts;
  std::vector<SOCKET> pending;
  auto closePending = [&] {
    for (SOCKET socket : pending) closesocket(socket);
    pending.clear();
  };
  auto connected = [&](SOCKET socket) {
    closePending();
    // Frames are a few bytes each and the device waits for them whole.
    BOOL on = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return std::unique_ptr<TcpLine>(new TcpLine(static_cast<intptr_t>(socket)));
  };

  for (;;) {
    if (stop && stop()) {
      closePending();
      if (why) *why = kOpeningStopped;
      return nullptr;
    }
    Clock::time_point now = Clock::now();
    if (schedule.Exhausted(pending.size())) break;
    if (schedule.Expired(now)) {
      attempts.TimedOut();
      break;
    }
    while (schedule.NextDue(pending.size(), now) && pending.size() < FD_SETSIZE) {
      const SocketAddress& address = addresses[schedule.Begin(now)];
      SOCKET socket = ::socket(address.family, SOCK_STREAM, IPPROTO_TCP);
      if (socket == INVALID_SOCKET) {
        Note(&attempts, WSAGetLastError());
        continue;
      }
      u_long nonBlocking = 1;
      const sockaddr* target = reinterpret_cast<const sockaddr*>(address.bytes.data());
      int error = ioctlsocket(socket, FIONBIO, &nonBlocking) != 0 ? WSAGetLastError() : 0;
      if (error == 0 && connect(socket, target, static_cast<int>(address.bytes.size())) == 0)
        return connected(socket);
      if (error == 0) error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) {
        Note(&attempts, error);
        closesocket(socket);
        continue;
      }
      pending.push_back(socket);
    }
    if (pending.empty()) continue;

    // A connection shows as writable; a failed attempt as an exception.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    for (SOCKET socket : pending) {
      FD_SET(socket, &writable);
      FD_SET(socket, &failed);
    }
    timeval time = Timeval(schedule.WaitMs(now));
    int ready = select(0, nullptr, &writable, &failed, &time);
    if (ready == SOCKET_ERROR) {
      Note(&attempts, WSAGetLastError());
      break;
    }
    for (size_t i = 0; ready > 0 && i < pending.size();) {
      SOCKET socket = pending[i];
      if (!FD_ISSET(socket, &writable) && !FD_ISSET(socket, &failed)) {
        ++i;
        continue;
      }
      int error = 0;
      int length = sizeof error;
      if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        error = WSAGetLastError();
      pending.erase(pending.begin() + static_cast<long>(i));
      if (error == 0 && FD_ISSET(socket, &writable)) return connected(socket);
      Note(&attempts, error == 0 ? WSAECONNREFUSED : error);
      closesocket(socket);
    }
  }
  closePending();
  if (why) *why = attempts.Why();
  return nullptr;
}

TcpLine::~TcpLine() { closesocket(Socket(socket_)); }

int32_t TcpLine::Receive(void* buffer, int32_t count, int waitMs) {
  if (count <= 0) return 0;
  int ready = WaitFor(Socket(socket_), false, waitMs);
  if (ready < 0) return -1;
  if (ready == 0) return 0;
  int got = recv(Socket(socket_), static_cast<char*>(buffer), count, 0);
  if (got > 0) return got;
  if (got == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return -1;  // closed by the server (0) or failed
}

int32_t TcpLine::Send(const void* bytes, int32_t count, int waitMs) {
  const char* data = static_cast<const char*>(bytes);
  const auto deadline = port_timeouts::Clock::now() + std::chrono::milliseconds(waitMs);
  int32_t sent = 0;
  while (sent < count) {
    int n = send(Socket(socket_), data + sent, count - sent, 0);
    if (n > 0) {
      sent += n;
      continue;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return sent ? sent : -1;
    int wait = port_timeouts::MsUntil(deadline);
    if (wait == 0 || WaitFor(Socket(socket_), true, wait) <= 0) break;
  }
  return sent;
}

int32_t TcpLine::Pending() {
  u_long waiting = 0;
  if (ioctlsocket(Socket(socket_), FIONREAD, &waiting) != 0) return -1;
  return static_cast<int32_t>(waiting);
}
