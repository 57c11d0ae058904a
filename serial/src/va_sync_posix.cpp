// POSIX side of the synchronisation objects: an event is an eventfd whose
// counter is non-zero while it is signalled.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "monotonic_clock.h"
#include "va_posix.h"
#include "va_sync.h"

namespace va {

using platform::posix::PollMs;

namespace {

int Fd(TVaPlatformHandle h) { return static_cast<int>(h); }

}  // namespace

namespace platform::posix {

int PollMs(uint32_t ms) { return ms == INFINITE_WAIT ? -1 : static_cast<int>(std::min<uint32_t>(ms, INT32_MAX)); }

}  // namespace platform::posix

TVaHandleObject::~TVaHandleObject() {
  if (handle_ >= 0) close(Fd(handle_));
}

TWaitResult TVaHandleObject::WaitFor(uint32_t ms) {
  pollfd p{Fd(handle_), POLLIN, 0};
  for (;;) {
    const int r = poll(&p, 1, PollMs(ms));
    if (r > 0) return TWaitResult::wrSignaled;
    if (r == 0) return TWaitResult::wrTimeout;
    if (errno == EINTR) continue;
    last_error_ = errno;
    return TWaitResult::wrError;
  }
}

TVaWaitEvent::TVaWaitEvent() {
  handle_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (handle_ < 0) last_error_ = errno;
}

void TVaEvent::Signal() {
  const uint64_t one = 1;
  // A full counter (never in practice) is still signalled.
  [[maybe_unused]] ssize_t r = write(Fd(handle_), &one, sizeof one);
}

void TVaEvent::Reset() {
  uint64_t value;
  [[maybe_unused]] ssize_t r = read(Fd(handle_), &value, sizeof value);
}

bool TVaEvent::IsSignaled() const {
  pollfd p{Fd(handle_), POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

int WaitForAny(const std::vector<TVaEvent*>& events, uint32_t ms) {
  std::vector<pollfd> fds;
  fds.reserve(events.size());
  for (TVaEvent* e : events) fds.push_back({Fd(e->Handle()), POLLIN, 0});
  for (;;) {
    const int r = poll(fds.data(), fds.size(), PollMs(ms));
    if (r > 0) {
      for (size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents != 0) return static_cast<int>(i);
    }
    if (r == 0) return -1;
    if (r < 0 && errno != EINTR) return -2;
  }
}

uint32_t GetTickCount() { return base::MonotonicTicks(); }

}  // namespace va
