// Shared pieces of the serial component tests: a pseudo-terminal pair whose
// master plays the far end, a main-thread call queue the test pumps, a
// component that records its close pause, and a scriptable fake device.
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "main_loop.h"
#include "va_comm.h"
#include "va_platform.h"

namespace va::test {

// A pseudo-terminal: the component opens SlavePath(), the test is the far end.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  const std::string& SlavePath() const { return slave_path_; }
  int Master() const { return master_; }
  void Write(const std::string& bytes);
  // Reads until `n` bytes came or `timeout_ms` passed.
  std::string Read(size_t n, int timeout_ms = 2000);
  void CloseMaster();

 private:
  int master_ = -1;
  std::string slave_path_;
};

// TVaComm that records its close pause instead of sleeping, with the
// protected steps reachable.
class TestComm : public TVaComm {
 public:
  TestComm() {
    ClosePause = [p = pauses](uint32_t ms) { p->push_back(ms); };
  }
  using TVaCustomComm::ApplyEventMask;
  using TVaCustomComm::DoEvents;
  std::shared_ptr<std::vector<uint32_t>> pauses = std::make_shared<std::vector<uint32_t>>();
};

// The calling thread's id, as /proc/self/task names it.
pid_t ThisThreadId();
// Waits (at most `timeout_ms`) until thread `tid` of this process sleeps in a
// call, i.e. it has got as far as a blocking wait; false when it did not (it
// ended, say, or never blocked).
bool WaitUntilAsleep(pid_t tid, int timeout_ms = 3000);

// A device whose behaviour the test scripts.
class FakeDevice final : public platform::Device {
 public:
  bool SetLineSettings(const platform::LineSettings& s) override;
  bool SetQueueSizes(uint32_t read_size, uint32_t write_size) override {
    queue_sizes = {read_size, write_size};
    return true;
  }
  bool SetReadInterval(uint32_t) override { return true; }
  bool SetEventMask(uint32_t mask) override;
  platform::IoResult WaitEvents(uint32_t& events, TVaEvent& wake) override;
  platform::IoResult Read(void* buf, uint32_t count, uint32_t timeout_ms, uint32_t& read) override;
  platform::IoResult Write(const void* buf, uint32_t count, uint32_t timeout_ms,
                           std::initializer_list<TVaEvent*> wake, uint32_t& written, int& woken) override;
  // As on Windows, every byte goes through the write thread.
  platform::IoResult WriteNow(const void*, uint32_t, uint32_t& written) override {
    written = 0;
    return platform::IoResult::kTimeout;
  }
  bool ClearErrors(TVaCommStatus& status) override;
  void Shutdown() override { shut = true; }

  // Queues a driver event batch (or a lost device) for WaitEvents.
  void PushEvents(uint32_t mask);
  void PushLost();
  // Bytes that Read hands out and ClearErrors counts as waiting.
  void Receive(const std::string& bytes);

  std::mutex mutex;
  std::deque<platform::IoResult> event_results;
  std::deque<uint32_t> event_masks;
  std::string input;
  std::string output;
  uint32_t line_errors = 0;  // reported (and cleared) by ClearErrors
  int fail_writes = 0;       // so many writes fail before one succeeds
  bool lose_on_write = false;
  bool lose_on_read = false;
  bool lose_on_status = false;  // ClearErrors finds the device gone
  std::atomic<int> write_calls{0};
  std::atomic<int> wait_calls{0};
  std::atomic<int> line_settings_calls{0};
  platform::LineSettings last_settings;
  uint32_t event_mask = 0;
  std::pair<uint32_t, uint32_t> queue_sizes;  // input, output
  std::atomic<bool> shut{false};
};

// A component that opens a FakeDevice instead of a real one.
class FakeComm : public TestComm {
 public:
  std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();

 protected:
  void OpenDevice() override { SetDevice(device); }
};

}  // namespace va::test
