#include "tick_source.h"

#include "monotonic_clock.h"

namespace kvr {

uint32_t SystemTicks::Ticks() { return base::MonotonicTicks(); }

uint32_t MsUntilMoreThan(TickSource& ticks, uint32_t since, uint32_t ms) {
  const uint32_t elapsed = ticks.Ticks() - since;
  return elapsed > ms ? 0 : ms + 1 - elapsed;
}

}  // namespace kvr
