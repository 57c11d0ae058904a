// Synchronisation objects of the serial component and its threads: waitable
// manual-reset events (pollable, so a thread can wait on an event and the
// device at once), a critical section and a polling time-out.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace va {

// An event's handle: a descriptor (POSIX) or an event object's handle
// (Windows), in an integer wide enough for either.
using TVaPlatformHandle = std::intptr_t;
inline constexpr TVaPlatformHandle kInvalidPlatformHandle = -1;

inline constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

enum class TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

class TVaHandleObject {
 public:
  TVaHandleObject() = default;
  TVaHandleObject(const TVaHandleObject&) = delete;
  TVaHandleObject& operator=(const TVaHandleObject&) = delete;
  virtual ~TVaHandleObject();  // closes Handle

  TWaitResult WaitFor(uint32_t ms = INFINITE_WAIT);
  TVaPlatformHandle Handle() const { return handle_; }
  int LastError() const { return last_error_; }

 protected:
  TVaPlatformHandle handle_ = kInvalidPlatformHandle;
  int last_error_ = 0;
};

class TVaEvent : public TVaHandleObject {
 public:
  void Signal();
  void Reset();
  bool IsSignaled() const;
};

// An unnamed manual-reset event, clear at construction: it stays signalled
// until Reset.
class TVaWaitEvent : public TVaEvent {
 public:
  TVaWaitEvent();
};

// Waits until one of `events` is signalled; returns the index of the first
// signalled one in the given order, -1 on time-out, -2 on failure.
int WaitForAny(const std::vector<TVaEvent*>& events, uint32_t ms = INFINITE_WAIT);
inline int WaitForAny(std::initializer_list<TVaEvent*> events, uint32_t ms = INFINITE_WAIT) {
  return WaitForAny(std::vector<TVaEvent*>(events), ms);
}

// Recursive lock: the system's critical section on Windows.
#ifdef _WIN32
class TVaCriticalSection {
 public:
  TVaCriticalSection();
  ~TVaCriticalSection();
  TVaCriticalSection(const TVaCriticalSection&) = delete;
  TVaCriticalSection& operator=(const TVaCriticalSection&) = delete;
  void Enter();
  void Leave();

 private:
  alignas(8) unsigned char storage_[64];
};
#else
class TVaCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};
#endif

class TVaLock {
 public:
  explicit TVaLock(TVaCriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~TVaLock() { cs_.Leave(); }
  TVaLock(const TVaLock&) = delete;
  TVaLock& operator=(const TVaLock&) = delete;

 private:
  TVaCriticalSection& cs_;
};

// The platform's 32-bit millisecond counter.
uint32_t GetTickCount();

// Expired when (now - start) modulo 2^32 is strictly greater than the interval.
struct TVaTimeout {
  uint32_t StartTick = 0;
  uint32_t Interval = 0;
  void Start(uint32_t interval_ms) {
    Interval = interval_ms;
    StartTick = GetTickCount();
  }
  bool Expired() const { return static_cast<uint32_t>(GetTickCount() - StartTick) > Interval; }
};

}  // namespace va
