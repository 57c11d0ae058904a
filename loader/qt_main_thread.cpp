#include "qt_main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace kvr {

void QtMainThread::Synchronize(const std::function<void()>& call) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    call();
    return;
  }
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      app,
      [&] {
        try {
          call();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

void QtMainThread::HandleException(std::exception_ptr error) { report_(va::ExceptionMessage(error)); }

}  // namespace kvr
