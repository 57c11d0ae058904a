#include "va_comm_threads.h"

#include <algorithm>
#include <cstring>

namespace va {

TVaCommBuffer::TVaCommBuffer(int32_t capacity)
    : memory_(new uint8_t[static_cast<size_t>(std::max(capacity, 1))]), capacity_(std::max(capacity, 0)) {}

void TVaCommBuffer::Append(const void* source, int32_t n) {
  const int32_t size = Size();
  std::memcpy(memory_.get() + size, source, static_cast<size_t>(n));
  size_.store(size + n, std::memory_order_release);
}

void TVaCommBuffer::Remove(int32_t n) {
  const int32_t size = Size();
  n = std::clamp(n, 0, size);
  std::memmove(memory_.get(), memory_.get() + n, static_cast<size_t>(size - n));
  size_.store(size - n, std::memory_order_release);
}

// Waits for line events and hands each batch to the main thread, one at a time.
void TVaCommEventThread::Execute() {
  platform::Device& device = *session_->device;
  while (!terminated_.load()) {
    uint32_t events = 0;
    switch (device.WaitEvents(events, IoSignal)) {
      case platform::IoResult::kDone:
        if (!terminated_.load()) Deliver(events);
        break;
      case platform::IoResult::kWoken:
        IoSignal.Reset();
        break;
      case platform::IoResult::kLost:
        session_->DeviceLost();
        while (!terminated_.load()) IoSignal.WaitFor();
        break;
      default:  // a failing wait is tried again after a pause, not at once
        if (IoSignal.WaitFor(kRetryPauseMs) == TWaitResult::wrSignaled) IoSignal.Reset();
        break;
    }
  }
}

bool TVaCommEventThread::Deliver(uint32_t events) {
  // The flags are sequentially consistent: either the handled batch sees this
  // thread waiting and signals, or this thread sees the batch handled.
  if (in_flight_.load()) {
    waiting_.store(true);
    while (in_flight_.load() && !terminated_.load()) {
      Delivered.WaitFor();
      Delivered.Reset();
    }
    waiting_.store(false);
    if (terminated_.load()) return false;
  }
  in_flight_.store(true);
  // The call holds the thread weakly: a call the main thread never runs (its
  // queue shut) must not keep the thread, its session and that queue alive.
  session_->main->Post([weak = weak_from_this(), events] {
    const std::shared_ptr<TVaThread> alive = weak.lock();
    if (!alive) return;
    auto* self = static_cast<TVaCommEventThread*>(alive.get());
    if (!self->terminated_.load() && !self->session_->closed.load()) self->session_->owner->DeliverEvents(events);
    self->in_flight_.store(false);
    if (self->waiting_.load()) self->Delivered.Signal();
  });
  return true;
}

// Sends the output queue straight from its memory.
void TVaCommWriteThread::Execute() {
  bool terminated = false;
  while (!terminated) {
    // Close, or a wait that failed: nothing sensible is left to do.
    if (WaitForAny({&CloseSignal, &WriteSignal}) != 1) break;
    if (session_->lost.load()) {
      CloseSignal.WaitFor();  // leave the device alone until Close
      continue;
    }
    const uint8_t* memory;
    int32_t size;
    {
      TVaLock lock(*session_->write_lock);
      memory = Buffer.Memory();
      size = Buffer.Size();
      if (size == 0) {
        WriteSignal.Reset();
        continue;
      }
    }
    uint32_t written = 0;
    int woken = -1;
    switch (session_->device->Write(memory, static_cast<uint32_t>(size), INFINITE_WAIT, {&CloseSignal}, written, woken)) {
      case platform::IoResult::kDone:
        WriteDone(static_cast<int32_t>(written));
        break;
      case platform::IoResult::kWoken:  // Close
        terminated = true;
        break;
      case platform::IoResult::kLost:
        session_->DeviceLost();
        break;
      default:
        // Reported as a line error; the same bytes go again after a pause.
        session_->pending_errors.fetch_or(kCeIoe);
        session_->Report(kEvErr);
        if (CloseSignal.WaitFor(kRetryPauseMs) == TWaitResult::wrSignaled) terminated = true;
        break;
    }
  }
}

}  // namespace va
