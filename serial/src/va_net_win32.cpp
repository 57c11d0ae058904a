// The network device's sockets on Windows (Winsock 2): a non-blocking TCP
// socket whose network events (WSAEventSelect) the I/O thread waits on beside
// its wake-up event. Winsock posts a read, write or close event once, until
// the call that would block re-enables it: the socket keeps what was posted
// and clears it only when a receive or send finds nothing to do.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>

#include "va_net_lookup.h"
#include "va_net_socket.h"

namespace va::platform::net {

int ClosedCode() { return ERROR_INVALID_HANDLE; }
int InvalidCode() { return ERROR_INVALID_PARAMETER; }
int ResetCode() { return WSAECONNRESET; }

namespace {

// Winsock is started once for the process, at the first connection.
bool StartWinsock(int& error) {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  error = started;
  return started == 0;
}

class WinsockSocket final : public Socket {
 public:
  WinsockSocket(SOCKET s, WSAEVENT event) : s_(s), event_(event) {}
  ~WinsockSocket() override {
    closesocket(s_);
    WSACloseEvent(event_);
  }

  Readiness Wait(bool reading, bool writing, TVaEvent& kick) override {
    for (;;) {
      const bool can_read = (reading && readable_) || closed_, can_write = writing && writable_;
      if (can_read || can_write) return {.readable = can_read, .writable = can_write, .closing = closed_};
      HANDLE handles[2] = {event_, reinterpret_cast<HANDLE>(kick.Handle())};
      const DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      if (r == WAIT_OBJECT_0 + 1) return {};
      if (r != WAIT_OBJECT_0) return {.failed = true};
      WSANETWORKEVENTS happened{};
      if (WSAEnumNetworkEvents(s_, event_, &happened) != 0) return {.failed = true};
      if (happened.lNetworkEvents & FD_READ) readable_ = true;
      if (happened.lNetworkEvents & FD_WRITE) writable_ = true;
      if (happened.lNetworkEvents & FD_CLOSE) closed_ = readable_ = true;
    }
  }

  long Receive(char* buf, size_t size) override {
    const int n = recv(s_, buf, static_cast<int>(std::min<size_t>(size, INT32_MAX)), 0);
    if (n >= 0) return n;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return -2;
    readable_ = false;  // until the next read event
    return -1;
  }

  long Send(const char* data, size_t size) override {
    const int n = send(s_, data, static_cast<int>(std::min<size_t>(size, INT32_MAX)), 0);
    if (n >= 0) return n;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return -2;
    writable_ = false;  // until the next write event
    return 0;
  }

 private:
  const SOCKET s_;
  const WSAEVENT event_;
  // Posted and not yet used up; a fresh connection may be tried both ways.
  bool readable_ = true, writable_ = true, closed_ = false;
};

// A non-blocking socket connected to `a` within `limit_ms`, or INVALID_SOCKET
// with the reason in `error`.
SOCKET ConnectTo(const addrinfo& a, int64_t limit_ms, int& error) {
  const SOCKET s = socket(a.ai_family, a.ai_socktype, a.ai_protocol);
  if (s == INVALID_SOCKET) {
    error = WSAGetLastError();
    return s;
  }
  u_long non_blocking = 1;
  if (ioctlsocket(s, FIONBIO, &non_blocking) != 0 ||
      (connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) != 0 && WSAGetLastError() != WSAEWOULDBLOCK)) {
    error = WSAGetLastError();
    closesocket(s);
    return INVALID_SOCKET;
  }
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);  // Windows tells a refused connection here, not as writable
  timeval limit{static_cast<long>(limit_ms / 1000), static_cast<long>(limit_ms % 1000 * 1000)};
  const int r = select(0, nullptr, &writable, &failed, &limit);
  int so_error = 0;
  int len = sizeof so_error;
  if (r <= 0 || getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len) != 0 || so_error != 0 ||
      !FD_ISSET(s, &writable)) {
    error = r == 0 ? WSAETIMEDOUT : so_error != 0 ? so_error : r < 0 ? WSAGetLastError() : WSAECONNREFUSED;
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

}  // namespace

void TellLookupFailure(const std::string& host, const NameLookup& lookup, ConnectFailure& failure) {
  if (lookup.result == WSAHOST_NOT_FOUND || lookup.result == WSANO_DATA || lookup.result == WSATRY_AGAIN)
    failure.host_not_found = host + ": " + gai_strerrorA(lookup.result);
  else
    failure.code = lookup.result;
}

std::unique_ptr<Socket> Connect(const std::string& host, const std::string& port, uint32_t limit_ms,
                                ConnectFailure& failure) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  if (!StartWinsock(failure.code)) return nullptr;
  const std::shared_ptr<addrinfo> list = Resolve(host, port, limit_ms, failure);
  if (!list) return nullptr;
  SOCKET s = INVALID_SOCKET;
  int error = WSAECONNREFUSED;
  for (const addrinfo* a = list.get(); a && s == INVALID_SOCKET; a = a->ai_next) {
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    s = ConnectTo(*a, std::max<int64_t>(0, limit_ms - spent), error);
  }
  const WSAEVENT event = s == INVALID_SOCKET ? WSA_INVALID_EVENT : WSACreateEvent();
  if (s != INVALID_SOCKET && (event == WSA_INVALID_EVENT || WSAEventSelect(s, event, FD_READ | FD_WRITE | FD_CLOSE) != 0)) {
    error = WSAGetLastError();
    if (event != WSA_INVALID_EVENT) WSACloseEvent(event);
    closesocket(s);
    s = INVALID_SOCKET;
  }
  if (s == INVALID_SOCKET) {
    failure.code = error;
    return nullptr;
  }
  const BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);  // small commands
  return std::make_unique<WinsockSocket>(s, event);
}

}  // namespace va::platform::net
