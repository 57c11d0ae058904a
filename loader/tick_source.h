// The millisecond tick count the loader paces itself with, and the stop
// request that ends a load. The product reads the system's monotonic clock;
// tests inject a source whose time only moves when they say so. Nothing here
// waits: the loader's pauses are deadlines on this count, which the front
// end's own loop acts on when they are due.
#pragma once

#include <atomic>
#include <cstdint>

namespace kvr {

// A request to stop a load, raised from the loader's own thread, another
// thread or a signal handler (it is only an atomic flag); the load sees it
// at its next step.
class StopSignal {
 public:
  void Request() noexcept { requested_.store(true); }
  // Only an atomic store: safe inside a signal handler.
  void RequestFromSignal() noexcept { requested_.store(true); }
  void Clear() noexcept { requested_.store(false); }
  bool Requested() const noexcept { return requested_.load(); }

 private:
  std::atomic<bool> requested_{false};
};

class TickSource {
 public:
  virtual ~TickSource() = default;
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual uint32_t Ticks() = 0;
};

// The system's monotonic millisecond count.
class SystemTicks final : public TickSource {
 public:
  uint32_t Ticks() override;
};

// Milliseconds from now until the count has moved on by more than `ms` since
// `since` (wrap-around safe): 0 once it has.
uint32_t MsUntilMoreThan(TickSource& ticks, uint32_t since, uint32_t ms);

}  // namespace kvr
