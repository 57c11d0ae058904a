#include "va_dispatch.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace va {

namespace {

std::mutex g_main_mutex;
std::shared_ptr<TVaMainThread> g_main;

}  // namespace

void SetMainThread(std::shared_ptr<TVaMainThread> main) {
  std::lock_guard<std::mutex> lock(g_main_mutex);
  g_main = std::move(main);
}

std::shared_ptr<TVaMainThread> GetMainThread() {
  std::lock_guard<std::mutex> lock(g_main_mutex);
  if (!g_main) g_main = std::make_shared<TVaCallQueue>();
  return g_main;
}

std::string ExceptionMessage(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
  return {};
}

TVaCallQueue::TVaCallQueue(std::function<void()> wake) : main_(std::this_thread::get_id()), wake_(std::move(wake)) {}

TVaCallQueue::~TVaCallQueue() { Shutdown(); }

void TVaCallQueue::Synchronize(const std::function<void()>& call) {
  if (std::this_thread::get_id() == main_) {
    call();
    return;
  }
  auto pending = std::make_shared<Pending>();
  pending->call = &call;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return;
    queue_.push_back(pending);
  }
  queued_.notify_one();
  if (wake_) wake_();
  {
    // A mutex and condition rather than an atomic wait: the latter loses
    // wake-ups in some standard libraries (mingw-w64's libstdc++ 12).
    std::unique_lock<std::mutex> lock(mutex_);
    pending->ran.wait(lock, [&] { return pending->done.load(); });
  }
  if (pending->error) std::rethrow_exception(pending->error);
}

void TVaCallQueue::Post(std::function<void()> call) {
  auto pending = std::make_shared<Pending>();
  pending->posted = std::move(call);
  pending->call = &pending->posted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return;
    queue_.push_back(std::move(pending));
  }
  queued_.notify_one();
  if (wake_) wake_();
}

void TVaCallQueue::HandleException(std::exception_ptr error) {
  const std::string message = ExceptionMessage(error);
  if (OnException)
    OnException(message);
  else
    std::fprintf(stderr, "%s\n", message.c_str());
}

int TVaCallQueue::ProcessMessages(uint32_t wait_ms) {
  return ProcessMessages(std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms));
}

int TVaCallQueue::ProcessMessages(std::chrono::steady_clock::time_point until) {
  int ran = 0;
  for (;;) {
    std::shared_ptr<Pending> p;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (ran == 0 && until > std::chrono::steady_clock::now())
        queued_.wait_until(lock, until, [&] { return !queue_.empty() || shutdown_; });
      if (queue_.empty()) return ran;
      p = std::move(queue_.front());
      queue_.pop_front();
    }
    try {
      (*p->call)();
    } catch (...) {
      p->error = std::current_exception();
      if (p->posted) HandleException(p->error);  // nobody waits to raise it again
    }
    {
      // The waiting worker owns the record from here on, and with it an
      // exception it raises again: it is never released on this thread
      // while the worker may still be reading it.
      std::lock_guard<std::mutex> lock(mutex_);
      p->done.store(true);
      p->ran.notify_one();
      p.reset();
    }
    ++ran;
  }
}

void TVaCallQueue::Shutdown() {
  std::deque<std::shared_ptr<Pending>> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutdown_ = true;
    dropped.swap(queue_);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& p : dropped) {
      p->done.store(true);
      p->ran.notify_one();
    }
  }
  queued_.notify_all();
}

}  // namespace va
