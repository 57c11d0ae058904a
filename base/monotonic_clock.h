// The one millisecond clock every library reads: the system's monotonic
// clock, never set back.
#pragma once

#include <chrono>
#include <cstdint>

namespace base {

// Milliseconds since an arbitrary start.
inline int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The same count as a 32-bit tick count that wraps (the system tick count's
// shape).
inline uint32_t MonotonicTicks() { return static_cast<uint32_t>(MonotonicMs()); }

}  // namespace base
