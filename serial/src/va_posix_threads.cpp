// Threads on Linux: their ids, scheduling priorities (nice values per
// thread) and sleeping.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "va_platform.h"

namespace va::platform {

int64_t CurrentThreadId() { return static_cast<int64_t>(syscall(SYS_gettid)); }

void SetThreadPriority(int64_t thread_id, TThreadPriority priority) {
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
  // Raising a priority needs privileges; without them the thread keeps its own.
  setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), kNice[priority <= tpTimeCritical ? priority : tpNormal]);
}

void SetCurrentThreadPriority(TThreadPriority priority) { SetThreadPriority(CurrentThreadId(), priority); }

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace va::platform
