// The hand-over from a worker thread to the main thread: a synchronous call
// that runs on the main thread while the worker waits, and the application's
// default exception reporter. A window-system program installs its own (the
// Qt window uses a blocking queued call); programs without one use
// TVaCallQueue and pump it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace va {

class TVaMainThread {
 public:
  virtual ~TVaMainThread() = default;
  // Runs `call` on the main thread and returns once it has run; an exception
  // it raised is raised again here. A call that can no longer run (the main
  // thread has shut its queue) is dropped and Synchronize returns.
  virtual void Synchronize(const std::function<void()>& call) = 0;
  // Runs `call` on the main thread later, without waiting for it (from the
  // main thread too: it runs once the current handler has returned). An
  // exception it raises goes to HandleException. Dropped, like Synchronize's
  // calls, once the main thread has shut its queue.
  virtual void Post(std::function<void()> call) = 0;
  // The application's default exception reporter (shows the error's text).
  virtual void HandleException(std::exception_ptr error) = 0;
};

// The process-wide main-thread hand-over used by components opened from now
// on; a TVaCallQueue owned by the first caller's thread until one is set.
void SetMainThread(std::shared_ptr<TVaMainThread> main);
std::shared_ptr<TVaMainThread> GetMainThread();

// A queue of calls that the main thread runs when it pumps it.
class TVaCallQueue final : public TVaMainThread {
 public:
  // The constructing thread is the main thread. `wake`, when given, runs on
  // the queuing thread after each call is queued: a window system's loop
  // uses it to post itself a message and pump the queue then.
  explicit TVaCallQueue(std::function<void()> wake = {});
  ~TVaCallQueue() override;

  void Synchronize(const std::function<void()>& call) override;
  void Post(std::function<void()> call) override;
  void HandleException(std::exception_ptr error) override;

  // Runs the queued calls on the main thread, first waiting up to `wait_ms`
  // for one to arrive; returns how many ran.
  int ProcessMessages(uint32_t wait_ms = 0);
  // The same, waiting until `until` at the latest (a deadline to the
  // microsecond, where a count of milliseconds would overshoot it).
  int ProcessMessages(std::chrono::steady_clock::time_point until);
  // Drops queued and later calls; their workers return from Synchronize.
  void Shutdown();

  // Reporter for exceptions handed to HandleException; without one the
  // message goes to standard error.
  std::function<void(const std::string& message)> OnException;

 private:
  // One call on its way; shared so that the main thread may still signal it
  // after the waiting worker has returned.
  struct Pending {
    const std::function<void()>* call = nullptr;
    std::function<void()> posted;  // a posted call's own copy (nobody waits for it)
    std::atomic<bool> done{false};
    std::exception_ptr error;
    // Its worker's own wake-up: a queue that serves many workers (one per
    // port) wakes only the one whose call ran.
    std::condition_variable ran;
  };
  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::shared_ptr<Pending>> queue_;
  bool shutdown_ = false;
  std::thread::id main_;
  const std::function<void()> wake_;
};

// The message of an exception_ptr (for reporters).
std::string ExceptionMessage(std::exception_ptr error);

}  // namespace va
