// Any byte stream from a network serial server through the network device,
// over a socket layer of its own that hands the device the stream in pieces
// cut anywhere: telnet commands, option negotiations, com-port
// subnegotiations (cut, unterminated, oversized, with escaped 255s) and data.
// The data delivered equals the stream's data bytes unescaped (a raw
// socket:// port: the stream itself); a subnegotiation past its limit ends
// the port as lost with the broken-stream error and nothing after it is
// delivered; the device answers each negotiation at most once, so what it
// sends back stays bounded; a refused setting is told in printable words.
//
// Input: a flags byte (bit 0: telnet, bit 1: the server takes the com-port
// option first, bits 2-7: how the stream is cut), a byte where the stream is
// held back until the device sends its line settings, then the stream.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "fuzz_check.h"

#include "va_net_socket.h"
#include "va_platform.h"
#include "va_rfc2217.h"

namespace net = va::platform::net;
namespace tn = va::rfc2217;

namespace {

constexpr size_t kSubLimit = 4096;  // the decoder's bound on a subnegotiation

// What a correct telnet client delivers of `s`: its data bytes, up to a
// subnegotiation that runs past the limit (`broken` then); `answered` when
// the server said DO or DONT to the com-port option before that.
std::string ExpectedData(const std::string& s, bool& broken, bool& answered) {
  const auto at = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  std::string data;
  broken = answered = false;
  size_t i = 0;
  while (i < s.size()) {
    if (at(i) != tn::IAC) {
      data += s[i++];
      continue;
    }
    if (i + 1 >= s.size()) break;
    const uint8_t verb = at(i + 1);
    if (verb == tn::IAC) {
      data += s[i + 1];
      i += 2;
    } else if (verb >= tn::WILL && verb <= tn::DONT) {
      if (i + 2 < s.size() && at(i + 2) == tn::kComPort && (verb == tn::DO || verb == tn::DONT)) answered = true;
      i += 3;
    } else if (verb == tn::SB) {
      size_t j = i + 2, length = 0;
      for (;;) {
        if (j >= s.size()) return data;  // cut short: nothing more
        if (++length > kSubLimit) {
          broken = true;
          return data;
        }
        if (at(j) != tn::IAC) {
          ++j;
          continue;
        }
        if (j + 1 >= s.size()) return data;
        if (at(j + 1) == tn::IAC) {
          j += 2;
        } else {
          // SE ends it; any other command ends it and is taken as one.
          i = at(j + 1) == tn::SE ? j + 2 : j;
          break;
        }
      }
    } else {
      i += 2;
    }
  }
  return data;
}

// The server's side: the stream in pieces, the second part only once the
// device has sent its line settings, then the end of the connection.
struct Script {
  std::mutex m;
  std::string stream;
  size_t held_from = 0, next = 0;
  bool released = false;
  uint8_t cut = 0;
  std::string sent;  // what the device sent
};
Script* g_script = nullptr;

class ScriptedSocket final : public net::Socket {
 public:
  net::Readiness Wait(bool reading, bool writing, va::TVaEvent& kick) override {
    {
      std::lock_guard<std::mutex> lock(g_script->m);
      const bool end = g_script->next >= g_script->stream.size();
      const bool readable = reading && (end || g_script->next < Available());
      if (writing || readable) return {.readable = readable, .writable = writing, .closing = end};
    }
    // Nothing to do until the device queues bytes, is read or shuts down.
    if (va::WaitForAny({&kick}) != 0) return {.failed = true};
    return {};
  }
  long Receive(char* buf, size_t size) override {
    std::lock_guard<std::mutex> lock(g_script->m);
    const size_t end = Available();
    if (g_script->next >= g_script->stream.size()) return 0;
    if (g_script->next >= end) return -1;
    // Pieces of 1 to 64 bytes (or to a whole read's 4096) in a pattern the flags choose.
    const size_t piece = 1 + (g_script->cut * 7 + g_script->next * 13) % (g_script->cut & 32 ? 4096 : 64);
    const size_t n = std::min({size, piece, end - g_script->next});
    std::memcpy(buf, g_script->stream.data() + g_script->next, n);
    g_script->next += n;
    return static_cast<long>(n);
  }
  long Send(const char* data, size_t size) override {
    std::lock_guard<std::mutex> lock(g_script->m);
    g_script->sent.append(data, size);
    // The line settings start with the rate: the rest of the stream follows them.
    if (g_script->sent.find("\xFF\xFA\x2C\x01") != std::string::npos) g_script->released = true;
    return static_cast<long>(size);
  }

 private:
  size_t Available() const { return g_script->released ? g_script->stream.size() : g_script->held_from; }
};

}  // namespace

// The platform's side of the network device, scripted.
namespace va::platform::net {
int ClosedCode() { return 9; }
int InvalidCode() { return 22; }
int ResetCode() { return 104; }
std::unique_ptr<Socket> Connect(const std::string&, const std::string&, uint32_t, ConnectFailure&) {
  return std::make_unique<ScriptedSocket>();
}
}  // namespace va::platform::net

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool telnet = data[0] & 1, takes_option = data[0] & 2;
  Script script;
  script.cut = static_cast<uint8_t>(data[0] >> 2);
  std::string stream(reinterpret_cast<const char*>(data + 2), size - 2);
  if (telnet && takes_option) stream = tn::Negotiation(tn::DO, tn::kComPort) + stream;
  script.stream = stream;
  script.held_from = telnet && takes_option ? std::min(stream.size(), 3 + size_t{data[1]} * 16) : stream.size();
  g_script = &script;

  bool broken = false, answered = false;
  const std::string expected = telnet ? ExpectedData(stream, broken, answered) : stream;
  va::platform::NetworkAddress address{telnet, "server", "2217"};
  std::unique_ptr<va::platform::Device> device = va::platform::OpenNetworkDevice(address);
  std::string got;
  int why = 0;
  if (!device) {
    why = va::platform::LastError();
    // The stream always ends: the open never waits out the server's silence.
    Check(telnet, "a raw port opens");
    Check(why == va::platform::kErrorBrokenStream || why == va::platform::kErrorComPortRefused ||
              why == net::ResetCode(),
          "a failed open says why");
    Check(!broken || answered || why == va::platform::kErrorBrokenStream, "a broken stream is named");
  } else {
    va::platform::LineSettings line;
    line.BaudRate = 38400;
    if (!device->SetLineSettings(line) && va::platform::LastError() == va::platform::kErrorSettingRefused) {
      const std::string& words = va::platform::NetworkDetail();
      Check(words.size() < 200, "a refused setting's words are short");
      Check(std::all_of(words.begin(), words.end(), [](char c) { return c >= 32 && c < 127; }),
            "a refused setting's words are printable");
    }
    char buf[4096];
    for (;;) {
      uint32_t read = 0;
      const va::platform::IoResult r = device->Read(buf, sizeof buf, 10000, read);
      got.append(buf, read);
      if (r == va::platform::IoResult::kLost) {
        why = va::platform::LastError();
        break;
      }
      Check(r == va::platform::IoResult::kDone, "the stream's end is a lost port, not a time-out");
      Check(got.size() <= expected.size(), "no more data than the stream holds");
    }
    Check(got == expected, "the data delivered is the stream's data unescaped");
    Check(why == (broken ? va::platform::kErrorBrokenStream : net::ResetCode()), "the port is lost for its reason");
    device->Shutdown();
  }
  // Refusals go out once per verb and option: what the device sends back is bounded.
  Check(script.sent.size() <= 2 * 256 * 3 + 512, "what the device sends back is bounded");
  g_script = nullptr;
  return 0;
}
