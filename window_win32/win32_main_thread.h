// The serial component's hand-over to the GUI thread on Win32: a call queue
// whose every new call posts a message to a message-only window of the GUI
// thread; that window runs the queued calls. A posted window message (unlike
// a thread message) is also delivered inside modal loops: message boxes, the
// open dialog, a dropped-down list.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "va_dispatch.h"

struct HWND__;

namespace kvr {

class Win32MainThread final : public va::TVaMainThread {
 public:
  // Made on the GUI thread; `report` shows an error's text to the operator.
  explicit Win32MainThread(std::function<void(const std::string&)> report);
  ~Win32MainThread() override;

  void Synchronize(const std::function<void()>& call) override { queue_->Synchronize(call); }
  void Post(std::function<void()> call) override { queue_->Post(std::move(call)); }
  void HandleException(std::exception_ptr error) override { queue_->HandleException(error); }

  // Drops queued and later calls (the window is going).
  void Shutdown() { queue_->Shutdown(); }
  // Runs what is queued (the message's handler).
  void RunQueued() { queue_->ProcessMessages(0); }

 private:
  HWND__* window_ = nullptr;
  std::unique_ptr<va::TVaCallQueue> queue_;
};

}  // namespace kvr
