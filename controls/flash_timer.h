// The process-wide flash timer: every 50 ms a shared counter advances and each
// registered control gets WM_FLASH when its phase bit changes, so controls
// with the same rate blink in step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace ab {

inline constexpr uint32_t WM_FLASH = 1024 + 100;

enum TFlashFreq : uint8_t { ff8Hz, ff4Hz, ff2Hz, ff1Hz, ff05Hz };
// The counter mask each frequency registers with: 1, 2, 4, 8, 16.
inline constexpr uint32_t FlashRate(TFlashFreq f) { return 1u << (f <= ff05Hz ? f : ff1Hz); }

// Something that receives flash notifications.
class TFlashControl {
 public:
  virtual ~TFlashControl() = default;
  // WM_FLASH: wparam = the counter, lparam = -1 in the on phase, 0 off.
  virtual void FlashMessage(uint32_t msg, uint32_t wparam, int32_t lparam) = 0;
};

struct TFlashEntry {
  TFlashControl* Control;
  uint32_t Rate;
  uint32_t Mark;
};

extern uint32_t FlashCounter;

void RegisterFlashControl(TFlashControl* control, uint32_t rate);
void UnregisterFlashControl(TFlashControl* control);
// One tick (run by the periodic timer; tests call it directly).
void FlashTick();

// The entries, in registration order, and the storage kept for them.
const std::vector<TFlashEntry*>& FlashEntries();
size_t FlashCapacity();

// The flash timer's period.
inline constexpr int kFlashIntervalMs = 50;

// A periodic tick on the thread of the controls, given by the toolkit.
class TFlashTickSource {
 public:
  virtual ~TFlashTickSource() = default;
  // Calls `tick` every `interval_ms` milliseconds until stopped or destroyed.
  virtual void Start(int interval_ms, std::function<void()> tick) = 0;
  virtual void Stop() = 0;
};

// Runs FlashTick every kFlashIntervalMs from `source`: started at program
// start (a second start while one runs is ignored), stopped at program end,
// which also frees the remaining entries.
void StartFlashTimer(std::unique_ptr<TFlashTickSource> source);
void StopFlashTimer();
// The running timer's source; none before the start or after the stop.
TFlashTickSource* FlashTimerSource();

}  // namespace ab
