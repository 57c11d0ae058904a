// The simulated boot loader behind a pseudo-terminal (POSIX): a thread plays
// the device on the master side, so a program opens the slave like any serial
// port. A run of bytes followed by 20 ms of silence counts as the end of a
// burst (a frame with a bad sum is answered then).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "boot_loader_device.h"

namespace kvr::sim {

// A pseudo-terminal in raw mode (no echo, no line editing) whose slave end is
// held open, so that the line stays up between a program's opens.
struct RawPty {
  int master = -1;
  int holder = -1;
  std::string slave_path;  // e.g. /dev/pts/3
};
// Throws std::runtime_error when the system has none to give.
RawPty OpenRawPty();

class PtyDevice {
 public:
  explicit PtyDevice(DeviceOptions options = {});
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  // The slave's path, e.g. /dev/pts/3.
  const std::string& SlavePath() const { return slave_path_; }
  std::vector<uint8_t> Image();
  uint64_t FramesReceived();
  uint64_t Rejected();
  std::vector<uint32_t> Addresses();
  // Reads the device under its lock (its faults, its protocol checks).
  template <class F>
  auto Inspect(F&& look) {
    std::lock_guard<std::mutex> lock(mutex_);
    return look(static_cast<const BootLoaderDevice&>(device_));
  }
  // The device's clock (its SetTime): ms since the device was made.
  int64_t NowMs() const;
  // Ends the device side: the slave sees the far end vanish.
  void Hangup();

 private:
  void Run();
  // Sends a piece to the program, at the line's pace when it has one.
  void Send(const std::vector<uint8_t>& piece);

  BootLoaderDevice device_;
  const std::chrono::nanoseconds char_time_;  // 0: no line timing
  const std::chrono::steady_clock::time_point born_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point tx_free_{};
  std::mutex mutex_;
  int master_ = -1;
  int holder_ = -1;  // keeps the pty alive between the program's opens
  int wake_[2] = {-1, -1};
  std::string slave_path_;
  std::thread thread_;
};

}  // namespace kvr::sim
