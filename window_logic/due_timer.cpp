#include "due_timer.h"

#include "monotonic_clock.h"

namespace kvr {

DueTimer::DueTimer(std::function<void(unsigned)> due) : due_(std::move(due)) {
  thread_ = std::thread([this] { Run(); });
}

DueTimer::~DueTimer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_one();
  thread_.join();
}

unsigned DueTimer::Start(unsigned ms) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (++last_ == 0 || last_ == ~0u) last_ = 1;
    id_ = last_;
    at_ = base::MonotonicMsFromNow(ms);
  }
  changed_.notify_one();
  return last_;
}

void DueTimer::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  id_ = 0;
}

void DueTimer::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (id_ == 0) {
      changed_.wait(lock);
      continue;
    }
    const unsigned id = id_;
    // A wait may end a little early where the system waits in whole
    // milliseconds: the window looks at the load's clock and arms the timer
    // again for what is left.
    if (changed_.wait_until(lock, at_) == std::cv_status::timeout && id_ == id) {
      id_ = 0;
      lock.unlock();
      due_(id);
      lock.lock();
    }
  }
}

}  // namespace kvr
