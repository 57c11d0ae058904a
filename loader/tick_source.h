// The millisecond tick count the loader paces itself with, and the stop
// request that ends a pause early. The product reads the system's monotonic
// clock and sleeps; tests inject a source whose time only moves when read or
// told to.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kvr {

// A request to stop a load, raised from the loader's own thread, another
// thread or a signal handler; a sleeping pause sees it at once (from a signal
// handler within one slice of 10 ms).
class StopSignal {
 public:
  void Request();
  // Only an atomic store: safe inside a signal handler.
  void RequestFromSignal() noexcept { requested_.store(true); }
  void Clear() { requested_.store(false); }
  bool Requested() const noexcept { return requested_.load(); }
  // Sleeps until `deadline` or a request; true when requested.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  std::atomic<bool> requested_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
};

class TickSource {
 public:
  virtual ~TickSource() = default;
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual uint32_t Ticks() = 0;
  // Waits until the count has moved on by `ticks` from now, or until `stop`
  // is requested. A fake source needs nothing here: its count moves as it is
  // read, or it moves the count itself.
  virtual void SleepTicks(uint32_t ticks, StopSignal* stop) {
    (void)ticks;
    (void)stop;
  }
};

// The system's monotonic millisecond count; its pauses sleep to the exact
// tick boundary, so they cost no processor time.
class SystemTicks final : public TickSource {
 public:
  uint32_t Ticks() override;
  void SleepTicks(uint32_t ticks, StopSignal* stop) override;
};

// The system's count with the pauses skipped: a pause moves the count on at
// once, while time-outs still run in real time (the window's fast mode).
class SkippedPauseTicks final : public TickSource {
 public:
  uint32_t Ticks() override { return system_.Ticks() + skipped_; }
  void SleepTicks(uint32_t ticks, StopSignal*) override { skipped_ += ticks; }

 private:
  SystemTicks system_;
  uint32_t skipped_ = 0;
};

// Waits until the tick count exceeds its first reading by more than `ms`
// (wrap-around safe). Returns false when `stop` was requested first.
bool PauseMoreThan(TickSource& ticks, uint32_t ms, StopSignal* stop = nullptr);

}  // namespace kvr
