// The serial component's hand-over to the GUI thread: Qt's blocking queued
// call, and the application's standard error report (a message box).
#pragma once

#include <functional>
#include <string>

#include "va_dispatch.h"

namespace kvr {

class QtMainThread final : public va::TVaMainThread {
 public:
  // `report` shows an error's text to the operator.
  explicit QtMainThread(std::function<void(const std::string&)> report) : report_(std::move(report)) {}
  void Synchronize(const std::function<void()>& call) override;
  void Post(std::function<void()> call) override;
  void HandleException(std::exception_ptr error) override;

 private:
  std::function<void(const std::string&)> report_;
};

}  // namespace kvr
