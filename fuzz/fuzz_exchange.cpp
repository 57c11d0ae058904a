// Any sequence of received pieces through the reply gathering and the
// exchange, commands going out before the next piece or after it, the send
// side recording: every frame well formed (sum byte right,
// CR last, at most 255 bytes), LineCounter never decreasing and never past
// the image, the buffers never overrun (AddressSanitizer).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include "fuzz_check.h"

#include "command_link.h"
#include "exchange.h"
#include "hex_text.h"
#include "image_geometry.h"
#include "page_table.h"
#include "update_file_maker.h"

namespace {


struct Channel : kvr::ByteChannel {
  void WriteBuf(const void* buf, int count) override {
    const auto* p = static_cast<const uint8_t*>(buf);
    Check(count >= 3 && count <= 255, "frame length");
    Check(p[count - 1] == 13, "CR last");
    uint8_t sum = 0;
    for (int i = 0; i < count - 2; ++i) sum = static_cast<uint8_t>(sum + p[i]);
    Check(p[count - 2] == sum, "sum byte");
    ++frames;
  }
  int ReadBuf(void* buf, int count) override {
    int n = 0;
    while (n < count && !input.empty()) {
      static_cast<uint8_t*>(buf)[n++] = input.front();
      input.pop_front();
    }
    return n;
  }
  std::deque<uint8_t> input;
  uint64_t frames = 0;
};

struct View : kvr::LoadView {
  void SetProgress(int p) override { Check(p >= 0 && p <= 100, "gauge range"); }
  void SetStatus(const std::string&) override {}
  void LoadEnded(kvr::LoadOutcome r, const std::string&) override {
    Check(r == kvr::LoadOutcome::kComplete, "the exchange ends only a complete load");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kvr::PageTable table = [] {
    kvr::PageTable t;
    t.SetupHeadings(40);
    for (int r = 1; r <= 40; ++r) t.SetLine(r, std::string(32, static_cast<char>('0' + r % 10)));
    return t;
  }();
  Channel port;
  kvr::sim::SteppingTicks ticks;
  kvr::CommandLink link(port, ticks);
  kvr::UpdateFileState file;
  file.PageTotal = 2304;
  View view;
  kvr::Exchange exchange(link, table, file, view);
  link.on_reply = [&](std::string_view r) { exchange.OnReply(r); };
  exchange.Open();
  // Pieces: a length byte (0..255), a count mode byte, then the bytes.
  size_t i = 0;
  int64_t last = 0;
  while (i + 2 <= size) {
    const size_t len = data[i];
    const uint8_t mode = data[i + 1];
    i += 2;
    const size_t take = len < size - i ? len : size - i;
    for (size_t k = 0; k < take; ++k) port.input.push_back(data[i + k]);
    i += take;
    // The event announces what waits, or more, or a large burst.
    int announce = static_cast<int>(port.input.size());
    if (mode & 1) announce += mode;
    if (mode & 2) announce *= 7;
    link.OnRxChar(announce);
    // A command either goes out before the next piece or still waits for its
    // pause when the piece comes (and its bytes are kept for after it).
    if (mode & 4)
      while (link.SendWaiting()) link.SendIfDue();
    Check(exchange.LineCounter() >= last, "LineCounter never decreases");
    Check(exchange.LineCounter() <= kvr::ImageLines, "LineCounter within the image");
    last = exchange.LineCounter();
  }
  return 0;
}
