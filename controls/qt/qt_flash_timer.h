// The flash timer's tick from a QTimer on the GUI thread.
#pragma once

#include <QTimer>

#include <functional>

#include "flash_timer.h"

namespace ab::qt {

class QtFlashTickSource : public TFlashTickSource {
 public:
  // A precise timer: the blinking keeps its rate.
  QtFlashTickSource();
  void Start(int interval_ms, std::function<void()> tick) override;
  void Stop() override { timer_.stop(); }
  bool Active() const { return timer_.isActive(); }
  int Interval() const { return timer_.interval(); }
  Qt::TimerType Type() const { return timer_.timerType(); }
  // What the timer's timeout runs (tests call it instead of waiting).
  void Tick() {
    if (tick_) tick_();
  }

 private:
  QTimer timer_;
  std::function<void()> tick_;
};

// The process's flash timer on a QtFlashTickSource: started at program start
// (after the application), stopped at program end, which also frees the
// remaining entries.
void StartFlashTimer();
void StopFlashTimer();
// The running timer's source (none before the start or after the stop).
const QtFlashTickSource* FlashTickSource();

}  // namespace ab::qt
