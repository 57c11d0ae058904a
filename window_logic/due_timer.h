// The load's next step, to the millisecond, on a thread of the window's own:
// Start(ms) arms it (replacing an earlier deadline), and when the load's
// clock has moved on by `ms` `due(id)` runs on that thread with the id Start
// returned; it only hands the step to the window's own thread. One thread for
// the window's life. A toolkit's timer ends on its loop's whole milliseconds
// (or on the system's timer step), which every one of a load's 41474
// commands would wait for again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kvr {

class DueTimer {
 public:
  explicit DueTimer(std::function<void(unsigned id)> due);
  ~DueTimer();
  DueTimer(const DueTimer&) = delete;
  DueTimer& operator=(const DueTimer&) = delete;

  // Arms the timer to end when the millisecond count has moved on by `ms`;
  // returns the id its end comes with (never 0 and never ~0u, which a window
  // may keep for a step it hands itself).
  unsigned Start(unsigned ms);
  // Disarms it; an end already on its way keeps its id.
  void Stop();

 private:
  void Run();

  const std::function<void(unsigned)> due_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::chrono::steady_clock::time_point at_;
  unsigned id_ = 0;     // the armed deadline's id (0: none)
  unsigned last_ = 0;   // the last id given out
  bool quit_ = false;
  std::thread thread_;  // last: started once the rest is set
};

}  // namespace kvr
