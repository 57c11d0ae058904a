// The one millisecond clock every library reads: the system's monotonic
// clock, never set back.
#pragma once

#include <chrono>
#include <cstdint>

namespace base {

// Milliseconds since an arbitrary start.
inline int64_t MonotonicMs() {
  using namespace std::chrono;
  return floor<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The same count as a 32-bit tick count that wraps (the system tick count's
// shape).
inline uint32_t MonotonicTicks() { return static_cast<uint32_t>(MonotonicMs()); }

// The moment the count has moved on by `ms` from what it reads now: the
// start of the current millisecond plus `ms`. A wait for "ms milliseconds"
// of the count that ends `ms` from now ends up to a millisecond after the
// count moved; one that ends here ends as it moves.
inline std::chrono::steady_clock::time_point MonotonicMsFromNow(int64_t ms) {
  using namespace std::chrono;
  return floor<milliseconds>(steady_clock::now()) + milliseconds(ms);
}

}  // namespace base
