#include "win32_flash_timer.h"

#include <memory>
#include <utility>

// The system's headers last: their macros (RGB, DrawText) would rename ours.
#include <windows.h>

namespace ab::win32 {

namespace {

// A thread timer's procedure gets no context: the one running source.
Win32FlashTickSource* running = nullptr;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (running) running->Tick();
}

}  // namespace

void Win32FlashTickSource::Start(int interval_ms, std::function<void()> tick) {
  Stop();
  tick_ = std::move(tick);
  running = this;
  timer_ = SetTimer(nullptr, 0, static_cast<UINT>(interval_ms), OnTimer);
}

void Win32FlashTickSource::Stop() {
  if (timer_) KillTimer(nullptr, timer_);
  timer_ = 0;
  if (running == this) running = nullptr;
}

void StartFlashTimer() { ab::StartFlashTimer(std::make_unique<Win32FlashTickSource>()); }

void StopFlashTimer() { ab::StopFlashTimer(); }

}  // namespace ab::win32
