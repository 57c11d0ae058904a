#include "qt_flash_timer.h"

#include <memory>
#include <utility>

namespace ab::qt {

QtFlashTickSource::QtFlashTickSource() {
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Tick(); });
}

void QtFlashTickSource::Start(int interval_ms, std::function<void()> tick) {
  tick_ = std::move(tick);
  timer_.setInterval(interval_ms);
  timer_.start();
}

void StartFlashTimer() { ab::StartFlashTimer(std::make_unique<QtFlashTickSource>()); }

void StopFlashTimer() { ab::StopFlashTimer(); }

const QtFlashTickSource* FlashTickSource() { return dynamic_cast<const QtFlashTickSource*>(FlashTimerSource()); }

}  // namespace ab::qt
