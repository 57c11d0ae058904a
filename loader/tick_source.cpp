#include "tick_source.h"

#include <chrono>

namespace kvr {

uint32_t SystemTicks::Ticks() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void PauseMoreThan(TickSource& ticks, uint32_t ms) {
  const uint32_t start = ticks.Ticks();
  while (static_cast<uint32_t>(ticks.Ticks() - start) <= ms) {
  }
}

}  // namespace kvr
