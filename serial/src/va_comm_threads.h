// Inside the serial component: what its threads share with it for one open
// period (the session), the thread base, the event thread, the write thread
// with its output queue. Included by the component's own sources only.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "va_comm.h"
#include "va_platform.h"

namespace va {

// ---------------------------------------------------------------------------
// What the component's threads share with it for one open period. It outlives
// the component if a thread still runs; `owner` is used only on the main
// thread while `closed` is false (Close sets it there first).

namespace detail {

struct PortSession : std::enable_shared_from_this<PortSession> {
  PortSession(std::shared_ptr<platform::Device> d, std::shared_ptr<TVaMainThread> m,
              std::shared_ptr<TVaCriticalSection> lock, TVaCustomComm* o)
      : device(std::move(d)), main(std::move(m)), write_lock(std::move(lock)), owner(o) {}

  // Has the owner's DoEvents(mask) run on the main thread later, unless the
  // port has been closed meanwhile; the reporting thread does not wait, so a
  // write never stalls behind its own report. Bits already on their way are
  // not posted again; a handler's exception goes to the reporter. The queued
  // call holds the session weakly: the session holds the queue, and a report
  // still queued when the port closes must not keep both alive.
  void Report(uint32_t mask) {
    if ((posted.fetch_or(mask) & mask) == mask) return;
    main->Post([weak = weak_from_this()] {
      const std::shared_ptr<PortSession> self = weak.lock();
      if (!self) return;  // the port is closed and its session gone
      const uint32_t bits = self->posted.exchange(0);
      if (bits == 0 || self->closed.load()) return;
      try {
        self->owner->DoEvents(bits);
      } catch (...) {
        self->main->HandleException(std::current_exception());
      }
    });
  }

  // The device has gone: every thread leaves it alone from now on, and the
  // loss is reported once, as a line error with kCeDeviceLost.
  void DeviceLost() {
    lost.store(true);
    pending_errors.fetch_or(kCeDeviceLost);
    if (!lost_reported.exchange(true)) Report(kEvErr);
  }

  const std::shared_ptr<platform::Device> device;
  const std::shared_ptr<TVaMainThread> main;
  const std::shared_ptr<TVaCriticalSection> write_lock;
  TVaCustomComm* const owner;
  std::atomic<bool> closed{false};
  std::atomic<bool> lost{false};
  std::atomic<bool> lost_reported{false};
  std::atomic<uint32_t> pending_errors{0};  // reported with the driver's bits by GetStatus
  std::atomic<uint32_t> posted{0};          // event bits of a report on its way
};

}  // namespace detail

using detail::PortSession;

// ---------------------------------------------------------------------------
// What both threads share: a detached thread that keeps its own object alive
// until its body returns, and a priority that may change while it runs.

class TVaThread : public std::enable_shared_from_this<TVaThread> {
 public:
  virtual ~TVaThread() = default;
  void Start(TThreadPriority priority) {
    priority_.store(priority);
    std::thread([self = shared_from_this()] {
      self->tid_.store(platform::CurrentThreadId());
      platform::SetCurrentThreadPriority(self->priority_.load());
      self->Execute();
    }).detach();
  }
  void SetPriority(TThreadPriority priority) {
    priority_.store(priority);
    const int64_t tid = tid_.load();
    if (tid != 0) platform::SetThreadPriority(tid, priority);
  }

 protected:
  virtual void Execute() = 0;

 private:
  std::atomic<TThreadPriority> priority_{tpNormal};
  std::atomic<int64_t> tid_{0};
};

// ---------------------------------------------------------------------------
// Event thread: waits for line events and hands each batch to the main thread,
// one at a time. A batch is posted, not waited for: the thread goes back to
// the line at once, and waits only when the next batch comes while the last
// one is still on its way (a busy main thread), so batches neither merge nor
// pile up.

class TVaCommEventThread : public TVaThread {
 public:
  explicit TVaCommEventThread(std::shared_ptr<PortSession> session) : session_(std::move(session)) {}

  // Main thread: the thread delivers nothing more and ends.
  void Stop() {
    terminated_.store(true);
    IoSignal.Signal();
    Delivered.Signal();
  }

  TVaWaitEvent IoSignal;

 private:
  void Execute() override;
  // Posts `events` once the batch before it has been handled; false when the
  // thread was stopped meanwhile.
  bool Deliver(uint32_t events);

  std::atomic<bool> in_flight_{false};  // a batch is on its way to the main thread
  std::atomic<bool> waiting_{false};    // this thread waits for it to arrive
  TVaWaitEvent Delivered;               // signalled when a waited-for batch has been handled

  std::shared_ptr<PortSession> session_;
  std::atomic<bool> terminated_{false};
};

// ---------------------------------------------------------------------------
// Write thread: sends the output queue straight from its memory.

class TVaCommWriteThread : public TVaThread {
 public:
  TVaCommWriteThread(std::shared_ptr<PortSession> session, int32_t capacity)
      : Buffer(capacity), session_(std::move(session)) {}

  // Main thread: copies the bytes into the queue, sleeping up to
  // `timeout_ms` until the thread has made room; false when there was none.
  bool Enqueue(const void* data, int32_t n, uint32_t timeout_ms) {
    {
      // An empty queue means the thread is not writing (its bytes leave the
      // queue only once written): the driver may take them at once, which
      // spares a hand-over to the thread. What it does not take is queued.
      TVaLock lock(*session_->write_lock);
      if (n > Buffer.Capacity()) return false;  // it would never fit
      if (Buffer.Size() == 0 && !session_->lost.load()) {
        uint32_t written = 0;
        if (session_->device->WriteNow(data, static_cast<uint32_t>(n), written) == platform::IoResult::kDone &&
            written > 0) {
          if (written == static_cast<uint32_t>(n)) {
            session_->Report(kEvTxEmpty);
          } else {  // the rest fits the empty queue
            Buffer.Append(static_cast<const uint8_t*>(data) + written, n - static_cast<int32_t>(written));
            WriteSignal.Signal();
          }
          return true;
        }
      }
    }
    TVaTimeout timeout;
    timeout.Start(timeout_ms);
    for (;;) {
      {
        TVaLock lock(*session_->write_lock);
        if (n <= Buffer.Capacity() - Buffer.Size()) {
          Buffer.Append(data, n);
          WriteSignal.Signal();
          return true;
        }
        RoomSignal.Reset();  // the thread signals it, under the lock, when bytes leave
      }
      const uint32_t waited = GetTickCount() - timeout.StartTick;
      if (waited > timeout.Interval) return false;
      RoomSignal.WaitFor(timeout.Interval - waited + 1);
    }
  }
  void RequestClose() { CloseSignal.Signal(); }

  TVaCommBuffer Buffer;
  TVaWaitEvent WriteSignal;
  TVaWaitEvent CloseSignal;
  TVaWaitEvent IoSignal;
  TVaWaitEvent RoomSignal;  // bytes have left the queue

 private:
  void Execute() override;

  void WriteDone(int32_t written) {
    bool empty;
    {
      TVaLock lock(*session_->write_lock);
      Buffer.Remove(written);
      RoomSignal.Signal();
      empty = Buffer.Size() == 0;
      if (empty)
        WriteSignal.Reset();
      else
        WriteSignal.Signal();
    }
    if (empty) session_->Report(kEvTxEmpty);
  }

  std::shared_ptr<PortSession> session_;
};

}  // namespace va
