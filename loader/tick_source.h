// The millisecond tick count the loader paces itself with. The product reads
// the system's monotonic clock; tests inject their own source.
#pragma once

#include <cstdint>

namespace kvr {

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

// Busy-waits until the tick count exceeds its first reading by more than
// `ms` (wrap-around safe).
void PauseMoreThan(TickSource& ticks, uint32_t ms);

}  // namespace kvr
