// Any command text through the frame builder, and any bytes into the
// simulated boot loader: frames are the text, its sum and CR; the device never
// fails and answers every frame it takes with one reply ended by CR.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include <vector>

#include "boot_loader_device.h"
#include "command_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<uint8_t> frame = kvr::BuildFrame(text);
  Check(frame.size() == size + 2, "frame length");
  Check(frame.back() == 13, "CR last");
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) {
    Check(frame[i] == data[i], "text bytes in order");
    sum = static_cast<uint8_t>(sum + data[i]);
  }
  Check(frame[size] == sum, "sum byte");

  kvr::sim::BootLoaderDevice device;
  device.Receive(data, size);
  device.LineIdle();
  device.Receive(frame.data(), frame.size());
  device.LineIdle();
  std::vector<uint8_t> piece;
  uint64_t replies = 0;
  while (device.TakePiece(piece)) {
    Check(!piece.empty() && piece.back() == 13, "reply ends with CR");
    ++replies;
  }
  Check(replies == device.FramesReceived(), "one reply per frame");
  return 0;
}
