#include "main_loop.h"

#include <chrono>
#include <exception>

namespace va::test {

MainLoop::MainLoop() : queue(std::make_shared<TVaCallQueue>()) {
  queue->OnException = [this](const std::string& m) { reported.push_back(m); };
  SetMainThread(queue);
}

MainLoop::~MainLoop() {
  queue->Shutdown();
  SetMainThread(nullptr);
}

bool MainLoop::PumpUntil(const std::function<bool()>& done, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    queue->ProcessMessages(5);
  }
  return true;
}

void MainLoop::PumpFor(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) queue->ProcessMessages(5);
}

std::string ErrorMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace va::test
