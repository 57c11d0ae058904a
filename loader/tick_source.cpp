#include "tick_source.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "monotonic_clock.h"

namespace kvr {

namespace {

using Clock = std::chrono::steady_clock;
// A stop raised by a signal handler cannot wake a sleeper: sleeps are cut
// into slices no longer than this.
constexpr auto kSignalSlice = std::chrono::milliseconds(10);
#ifdef _WIN32
// A timed wait on a condition ends up to 2 ms late on Windows (its time-out
// is whole milliseconds, rounded up, on the system's timer): the last 2 ms of
// a pause are slept instead, or every pause of a load would be that much
// longer.
constexpr auto kWaitSlack = std::chrono::milliseconds(2);
#else
constexpr auto kWaitSlack = std::chrono::milliseconds(0);
#endif

int64_t NowMs() { return base::MonotonicMs(); }

}  // namespace

void StopSignal::Request() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_.store(true);
  }
  wake_.notify_all();
}

bool StopSignal::WaitUntil(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!requested_.load()) {
    const auto now = Clock::now();
    if (now >= deadline) return false;
    if (deadline - now <= kWaitSlack) {
      // The end of the pause is slept: a stop raised meanwhile is seen at once after it.
      lock.unlock();
      std::this_thread::sleep_until(deadline);
      lock.lock();
      continue;
    }
    wake_.wait_until(lock, std::min(deadline - kWaitSlack, now + kSignalSlice));
  }
  return true;
}

uint32_t SystemTicks::Ticks() { return static_cast<uint32_t>(NowMs()); }

void SystemTicks::SleepTicks(uint32_t ticks, StopSignal* stop) {
  // The count moves on at whole milliseconds of the clock: sleep to the
  // boundary `ticks` counts ahead.
  const Clock::time_point until{std::chrono::milliseconds(NowMs() + ticks)};
  if (stop)
    stop->WaitUntil(until);
  else
    std::this_thread::sleep_until(until);
}

bool PauseMoreThan(TickSource& ticks, uint32_t ms, StopSignal* stop) {
  const uint32_t start = ticks.Ticks();
  for (;;) {
    if (stop && stop->Requested()) return false;
    const uint32_t elapsed = ticks.Ticks() - start;
    if (elapsed > ms) return true;
    ticks.SleepTicks(ms + 1 - elapsed, stop);
  }
}

}  // namespace kvr
