// The main thread of a serial component test: a call queue the test pumps,
// with the messages the component hands to its exception reporter. Portable,
// so the Linux, fake-Win32 and Wine tests share it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "va_dispatch.h"

namespace va::test {

// Installs a fresh call queue as the main-thread hand-over for one test.
class MainLoop {
 public:
  MainLoop();
  ~MainLoop();
  // Pumps queued calls until `done` holds or `timeout_ms` passed; returns done().
  bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 3000);
  // Pumps for a while regardless.
  void PumpFor(int ms);
  std::shared_ptr<TVaCallQueue> queue;
  std::vector<std::string> reported;  // messages given to the exception reporter
};

// The message of the exception `f` raises, or "(no error)".
std::string ErrorMessage(const std::function<void()>& f);

}  // namespace va::test
