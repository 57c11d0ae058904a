// Update files made up for tests, the demo and the benchmarks, and the image
// a file describes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tick_source.h"

namespace kvr::sim {

// A standard update file: 36864 lines of 32 upper-case hex digits, each ended
// by CR LF, then one more CR LF (1253378 bytes), with pseudo-random bytes.
std::string MakeUpdateFileText(uint32_t seed);

// The image bytes the first 36864 lines of an update file describe; empty when
// a line is shorter than 32 characters or holds anything but hex digits.
std::vector<uint8_t> ImageFromUpdateText(std::string_view text);

// Writes `text` to `path` byte for byte, replacing a regular file there but
// never writing through a symbolic or hard link or into a device or pipe;
// throws std::runtime_error (naming the path and the reason) on failure.
void WriteFile(const std::string& path, std::string_view text);
// The bytes of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// True when `image` is the image the update file's `text` describes.
bool ImageEqualsText(const std::vector<uint8_t>& image, std::string_view text);
// True when `image` is the image the update file at `path` describes.
bool ImageEqualsFile(const std::vector<uint8_t>& image, const std::string& path);

// A tick source that moves on by `step` ms at every reading, so busy waits end
// without real time passing.
class SteppingTicks final : public TickSource {
 public:
  explicit SteppingTicks(uint32_t start = 0, uint32_t step = 1) : now_(start), step_(step) {}
  uint32_t Ticks() override {
    ++readings_;
    return now_ += step_;
  }
  // Simulated milliseconds since construction.
  uint64_t ElapsedMs() const { return readings_ * step_; }

 private:
  uint32_t now_;
  uint32_t step_;
  uint64_t readings_ = 0;
};

}  // namespace kvr::sim
