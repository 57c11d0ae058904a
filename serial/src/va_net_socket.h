// What the network device (va_net_device.cpp) needs of the platform's sockets:
// a connected TCP socket that one I/O thread waits on, receives from and sends
// to without blocking. One implementation per platform (va_net_posix.cpp,
// va_net_win32.cpp); neither includes the other's headers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "va_sync.h"

namespace va::platform::net {

// The platform's error codes for the device's own failures.
int ClosedCode();  // a call on a device that was shut down
int InvalidCode(); // a line setting the device cannot carry
int ResetCode();   // the connection dropped

struct Readiness {
  bool readable = false;  // Receive has something to say (bytes, the end, a failure)
  bool writable = false;  // Send takes bytes
  bool closing = false;   // the far end closed or the connection failed
  bool failed = false;    // the wait itself failed
};

class Socket {
 public:
  virtual ~Socket() = default;  // closes the socket
  // Waits until the socket can be read (when `reading`) or written (when
  // `writing`), the far end closes, or `kick` is signalled (nothing ready then).
  virtual Readiness Wait(bool reading, bool writing, TVaEvent& kick) = 0;
  // Bytes received (> 0); 0 when the far end has closed; -1 when nothing is
  // there now; -2 on failure.
  virtual long Receive(char* buf, size_t size) = 0;
  // Bytes taken (0 when the socket's buffer is full); -2 on failure.
  virtual long Send(const char* data, size_t size) = 0;
};

// Why a connection was not made: the system's error code, or the words for a
// host that was not found (the name service's answer, or its silence).
struct ConnectFailure {
  int code = 0;
  std::string host_not_found;
};

// A connected socket (small writes go out at once) within `limit_ms`, the name
// look-up included; null on failure, said in `failure`.
std::unique_ptr<Socket> Connect(const std::string& host, const std::string& port, uint32_t limit_ms,
                                ConnectFailure& failure);

// What a name look-up that did not answer within the limit is told as.
inline std::string NoNameAnswer(const std::string& host, uint32_t limit_ms) {
  return host + ": no answer from the name service within " + std::to_string(limit_ms / 1000) + " s";
}

// Runs `work` on a thread of its own and waits at most `limit_ms` for its
// result (true, in `result`). A result that comes later is destroyed on that
// thread: a name server that never answers costs the caller only the limit.
template <class T>
bool RunWithin(uint32_t limit_ms, std::function<T()> work, T& result) {
  struct State {
    std::mutex m;
    std::condition_variable done_cv;
    bool done = false;
    T value{};
  };
  auto state = std::make_shared<State>();
  std::thread([state, work = std::move(work)] {
    T value = work();
    std::lock_guard<std::mutex> lock(state->m);
    state->value = std::move(value);
    state->done = true;
    state->done_cv.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(state->m);
  if (!state->done_cv.wait_for(lock, std::chrono::milliseconds(limit_ms), [&] { return state->done; })) return false;
  result = std::move(state->value);
  return true;
}

}  // namespace va::platform::net
