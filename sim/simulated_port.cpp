#include "simulated_port.h"

#include <algorithm>
#include <cstring>

namespace kvr::sim {

void SimulatedPort::WriteBuf(const void* buf, int count) {
  if (count <= 0) return;
  device_.Receive(static_cast<const uint8_t*>(buf), static_cast<size_t>(count));
  device_.LineIdle();
  bytes_written_ += static_cast<uint64_t>(count);
}

int SimulatedPort::ReadBuf(void* buf, int count) {
  const size_t n = std::min<size_t>(static_cast<size_t>(std::max(count, 0)), rx_.size() - rx_pos_);
  if (n > 0) std::memcpy(buf, rx_.data() + rx_pos_, n);
  rx_pos_ += n;
  if (rx_pos_ == rx_.size()) {
    rx_.clear();
    rx_pos_ = 0;
  }
  return static_cast<int>(n);
}

uint64_t SimulatedPort::Pump(const std::function<void(int)>& on_rx_char, uint64_t max_events) {
  uint64_t events = 0;
  std::vector<uint8_t> piece;
  while (events < max_events && device_.TakePiece(piece)) {
    rx_.insert(rx_.end(), piece.begin(), piece.end());
    ++events;
    on_rx_char(Waiting());
  }
  return events;
}

}  // namespace kvr::sim
