// The flash timer's tick from a Win32 thread timer: SetTimer on the GUI
// thread, so that the tick runs in its message loop (modal loops included)
// and every control blinks in step with the others.
#pragma once

#include <cstdint>
#include <functional>

#include "flash_timer.h"

namespace ab::win32 {

class Win32FlashTickSource : public TFlashTickSource {
 public:
  ~Win32FlashTickSource() override { Stop(); }
  void Start(int interval_ms, std::function<void()> tick) override;
  void Stop() override;
  bool Active() const { return timer_ != 0; }
  // What the timer runs (tests call it instead of waiting).
  void Tick() {
    if (tick_) tick_();
  }

 private:
  uintptr_t timer_ = 0;
  std::function<void()> tick_;
};

// The process's flash timer on a Win32FlashTickSource, started and stopped
// on the GUI thread; the stop also frees the remaining entries.
void StartFlashTimer();
void StopFlashTimer();

}  // namespace ab::win32
