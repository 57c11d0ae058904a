#include "qt_main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>

namespace kvr {

void QtMainThread::Synchronize(const std::function<void()>& call) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    call();
    return;
  }
  std::exception_ptr error;
  // The hand-over in both directions also goes through these two atomics, so
  // that what each side wrote is visibly ordered before the other side reads
  // it (ThreadSanitizer cannot see into Qt's own locks).
  std::atomic<bool> sent{false}, done{false};
  sent.store(true, std::memory_order_release);
  QMetaObject::invokeMethod(
      app,
      [&] {
        (void)sent.load(std::memory_order_acquire);
        try {
          call();
        } catch (...) {
          error = std::current_exception();
        }
        done.store(true, std::memory_order_release);
      },
      Qt::BlockingQueuedConnection);
  if (!done.load(std::memory_order_acquire)) return;  // dropped: the application is ending
  if (error) std::rethrow_exception(error);
}

void QtMainThread::Post(std::function<void()> call) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) {
    call();
    return;
  }
  // As in Synchronize, the atomic orders the hand-over for ThreadSanitizer.
  struct Box {
    std::function<void()> call;
    std::atomic<bool> sent{false};
  };
  auto box = std::make_shared<Box>();
  box->call = std::move(call);
  box->sent.store(true, std::memory_order_release);
  QMetaObject::invokeMethod(
      app,
      [report = report_, box] {
        (void)box->sent.load(std::memory_order_acquire);
        try {
          box->call();
        } catch (...) {
          report(va::ExceptionMessage(std::current_exception()));
        }
      },
      Qt::QueuedConnection);
}

void QtMainThread::HandleException(std::exception_ptr error) { report_(va::ExceptionMessage(error)); }

}  // namespace kvr
