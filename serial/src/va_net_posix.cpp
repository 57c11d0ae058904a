// The network device's sockets on POSIX: a non-blocking TCP socket waited on
// with poll beside the I/O thread's wake-up descriptor.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "va_net_lookup.h"
#include "va_net_socket.h"

namespace va::platform::net {

int ClosedCode() { return EBADF; }
int InvalidCode() { return EINVAL; }
int ResetCode() { return ECONNRESET; }

namespace {

class PosixSocket final : public Socket {
 public:
  explicit PosixSocket(int fd) : fd_(fd) {}
  ~PosixSocket() override { close(fd_); }

  Readiness Wait(bool reading, bool writing, TVaEvent& kick) override {
    pollfd fds[2] = {{fd_, static_cast<short>((reading ? POLLIN : 0) | (writing ? POLLOUT : 0) | POLLRDHUP), 0},
                     {static_cast<int>(kick.Handle()), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) return {.failed = errno != EINTR};
    const short r = fds[0].revents;
    return {.readable = (r & (POLLIN | POLLHUP | POLLERR)) != 0,
            .writable = (r & POLLOUT) != 0,
            .closing = (r & (POLLRDHUP | POLLHUP | POLLERR)) != 0};
  }

  long Receive(char* buf, size_t size) override {
    const ssize_t n = recv(fd_, buf, size, MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EINTR ? -1 : -2;
    // Acknowledged at once: a server that passes a reply on a byte at a time
    // holds the rest (Nagle) until the first is acknowledged, and a delayed
    // acknowledgement costs 40 ms a reply. The kernel leaves the quick mode on
    // its own, so it is asked for after every read.
    const int quick = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
    return n;
  }

  long Send(const char* data, size_t size) override {
    const ssize_t n = send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : -2;
    return n;
  }

 private:
  const int fd_;
};

}  // namespace

void TellLookupFailure(const std::string& host, const NameLookup& lookup, ConnectFailure& failure) {
  if (lookup.result == EAI_SYSTEM)
    failure.code = lookup.error;
  else
    failure.host_not_found = host + ": " + gai_strerror(lookup.result);
}

std::unique_ptr<Socket> Connect(const std::string& host, const std::string& port, uint32_t limit_ms,
                                ConnectFailure& failure) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const std::shared_ptr<addrinfo> list = Resolve(host, port, limit_ms, failure);
  if (!list) return nullptr;
  int fd = -1;
  int error = ECONNREFUSED;
  for (addrinfo* a = list.get(); a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
      error = errno;
      close(fd);
      fd = -1;
      continue;
    }
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    pollfd p{fd, POLLOUT, 0};
    int r;
    do r = poll(&p, 1, static_cast<int>(std::max<int64_t>(0, limit_ms - spent)));
    while (r < 0 && errno == EINTR);
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (r <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0 || so_error != 0) {
      error = r == 0 ? ETIMEDOUT : (so_error != 0 ? so_error : errno);
      close(fd);
      fd = -1;
    }
  }
  if (fd < 0) {
    failure.code = error;
    return nullptr;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // commands are small and wait for replies
  return std::make_unique<PosixSocket>(fd);
}

}  // namespace va::platform::net
