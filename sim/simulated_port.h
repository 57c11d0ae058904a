// An in-process port wired to a simulated boot-loader device: what the loader
// writes reaches the device at once (one write is one burst, followed by an
// idle line), and the device's answer arrives piece by piece through Pump().
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "boot_loader_device.h"
#include "byte_channel.h"

namespace kvr::sim {

class SimulatedPort final : public ByteChannel {
 public:
  explicit SimulatedPort(BootLoaderDevice& device) : device_(device) {}

  void WriteBuf(const void* buf, int count) override;
  int ReadBuf(void* buf, int count) override;

  // Bytes received and not yet read.
  int Waiting() const { return static_cast<int>(rx_.size() - rx_pos_); }
  uint64_t BytesWritten() const { return bytes_written_; }

  // Lets the device's pieces arrive one at a time; after each arrival
  // `on_rx_char` gets the number of bytes waiting (as a port's received-bytes
  // event does). Returns when the device has nothing more to send or after
  // `max_events` events; returns the number of events raised.
  uint64_t Pump(const std::function<void(int)>& on_rx_char, uint64_t max_events = UINT64_MAX);

 private:
  BootLoaderDevice& device_;
  std::vector<uint8_t> rx_;
  size_t rx_pos_ = 0;
  uint64_t bytes_written_ = 0;
};

}  // namespace kvr::sim
