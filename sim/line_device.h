// The simulated boot loader as a device the serial component opens in
// process (no pseudo-terminal needed, so also on Windows): LineDevice is one
// open line to it, InProcessDevice the device itself, which outlives the
// program's opens and hands out a fresh line for each one.
//
// The line keeps a real line's timing (10 bits a byte, at the rate of the last
// SetLineSettings, 38400 until then): what the program writes is taken at once
// but reaches the device byte by byte after its wire time, and the device's
// replies come back a byte at a time, a character time apart. A run of bytes
// followed by 20 ms of silence on the device's clock ends a burst (a frame with
// a bad sum is answered then). Without line timing everything passes at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "boot_loader_device.h"
#include "va_platform.h"

namespace kvr::sim {

struct LineDeviceOptions {
  DeviceOptions device;
  bool line_timing = true;  // false: no wire time at all (fast tests)
};

// The port name of the in-process device; the opener takes any device path
// that ends in it (SIM, /dev/SIM, \\.\SIM).
inline constexpr const char* kSimulatedPortName = "SIM";
bool IsSimulatedPortPath(const std::string& path);

// The boot loader behind the lines, with the lock every line takes to reach it.
struct SharedBootLoader {
  explicit SharedBootLoader(DeviceOptions options) : device(std::move(options)) {}
  std::mutex mutex;
  BootLoaderDevice device;
};

class LineDevice final : public va::platform::Device {
 public:
  // A line to a device of its own.
  explicit LineDevice(LineDeviceOptions options = {});
  // A line to `device`, which other lines may have led to before.
  LineDevice(std::shared_ptr<SharedBootLoader> device, bool line_timing);
  ~LineDevice() override;
  LineDevice(const LineDevice&) = delete;
  LineDevice& operator=(const LineDevice&) = delete;

  bool SetLineSettings(const va::platform::LineSettings& settings) override;
  bool SetQueueSizes(uint32_t in_bytes, uint32_t out_bytes) override;
  bool SetReadInterval(uint32_t interval_ms) override;
  bool SetEventMask(uint32_t mask) override;
  va::platform::IoResult WaitEvents(uint32_t& events, va::TVaEvent& wake) override;
  va::platform::IoResult Read(void* buf, uint32_t count, uint32_t timeout_ms, uint32_t& read) override;
  va::platform::IoResult Write(const void* buf, uint32_t count, uint32_t timeout_ms,
                               std::initializer_list<va::TVaEvent*> wake, uint32_t& written, int& woken) override;
  bool ClearErrors(va::TVaCommStatus& status) override;
  void Shutdown() override;

  // The device vanishes (unplugged): blocked and later calls report kLost.
  void Hangup();
  std::vector<uint8_t> Image();
  uint64_t FramesReceived();

 private:
  using Clock = std::chrono::steady_clock;
  struct TimedByte {
    Clock::time_point at;  // when its last bit has crossed the line
    uint8_t byte;
  };

  // The device's side of the line, on its own thread.
  void Run();
  // Carries out what is due by `now` on the device's clock (mutex_ held).
  void Advance(Clock::time_point now);
  // Puts the device's replies on the line from `at` (both locks held).
  void TakeReplies(Clock::time_point at);
  // The device's bits for the event mask since the last look (mutex_ held).
  uint32_t TakeEvents();
  uint32_t TakeReceived(uint8_t* out, uint32_t count);
  void LoseDevice();

  const std::shared_ptr<SharedBootLoader> device_;
  const bool line_timing_;
  std::shared_mutex gate_;  // shared for a call, exclusive for Shutdown to wait until they have left
  std::mutex mutex_;
  std::condition_variable arrived_;       // bytes for the program, the loss or the shut-down
  std::condition_variable line_changed_;  // bytes for the device, the end of the line
  va::TVaWaitEvent events_signal_;        // what WaitEvents waits on besides its wake-up event
  bool shut_ = false;
  bool lost_ = false;
  std::chrono::nanoseconds char_time_;
  uint32_t read_interval_ms_ = 5;
  uint32_t event_mask_ = 0;
  std::deque<TimedByte> to_device_;          // written, not yet at the device
  std::deque<TimedByte> to_program_;         // replies on their way back
  Clock::time_point tx_free_{}, rx_free_{};  // when each direction has sent its last byte
  Clock::time_point last_in_{};              // the last byte the device received
  bool burst_ = false;                       // bytes came since the line was last idle
  std::string received_;                     // arrived, not yet read
  size_t known_in_ = 0;                      // received bytes already announced and not yet read
  bool tx_empty_ = false;                    // the last byte written has crossed the line
  std::thread thread_;
};

// The simulated device on its own: its image persists across the program's
// opens, like a real device's. The opener gives each open a fresh line.
class InProcessDevice {
 public:
  explicit InProcessDevice(LineDeviceOptions options = {});
  InProcessDevice(const InProcessDevice&) = delete;
  InProcessDevice& operator=(const InProcessDevice&) = delete;

  // A new line for `path` when it names the simulated port; null for any
  // other path, and once the device has vanished.
  std::shared_ptr<va::platform::Device> Open(const std::string& path);
  // Open, for TVaCustomComm::DeviceOpener; valid while this object lives.
  std::function<std::shared_ptr<va::platform::Device>(const std::string& path)> Opener();
  // The device vanishes: the line open now reports it lost, later opens find none.
  void Hangup();

  std::vector<uint8_t> Image();
  uint64_t FramesReceived();
  uint64_t Rejected();
  std::vector<uint32_t> Addresses();

 private:
  const std::shared_ptr<SharedBootLoader> device_;
  const bool line_timing_;
  std::mutex mutex_;
  std::weak_ptr<LineDevice> line_;  // the line of the last open
  bool vanished_ = false;
};

}  // namespace kvr::sim
