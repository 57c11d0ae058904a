// The telnet stream of a network serial port (RFC 854 with the com-port
// control option of RFC 2217): data bytes with IAC (255) doubled, option
// negotiation, and the com-port option's subnegotiations in both directions.
// Platform-neutral: the network device of each platform feeds it the bytes
// it receives and sends what it builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace va::rfc2217 {

constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;

// The client's commands; the server answers with the same code plus 100.
enum Command : uint8_t {
  SET_BAUDRATE = 1,
  SET_DATASIZE = 2,
  SET_PARITY = 3,
  SET_STOPSIZE = 4,
  SET_CONTROL = 5,
  NOTIFY_LINESTATE = 6,
  NOTIFY_MODEMSTATE = 7,
  SET_LINESTATE_MASK = 10,
  SET_MODEMSTATE_MASK = 11,
  PURGE_DATA = 12,
};
constexpr uint8_t kServer = 100;
// NOTIFY-LINESTATE's bits (the errors among them) and NOTIFY-MODEMSTATE's
// change bits (delta CTS, DSR, trailing edge of RI, delta DCD).
constexpr uint8_t kLineOverrun = 0x02, kLineParity = 0x04, kLineFraming = 0x08, kLineBreak = 0x10;
constexpr uint8_t kLineErrors = kLineOverrun | kLineParity | kLineFraming | kLineBreak;
constexpr uint8_t kDeltaCts = 0x01, kDeltaDsr = 0x02, kRingEnded = 0x04, kDeltaDcd = 0x08;
constexpr uint8_t kAllModemBits = 0xFF;

// SET-CONTROL values.
constexpr uint8_t kNoFlow = 1, kXonXoff = 2, kHardware = 3, kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12,
                  kInboundNone = 14, kInboundXonXoff = 15, kInboundHardware = 16;

// Data for the wire: every IAC doubled.
std::string EscapeData(const void* data, size_t count);
// IAC verb option.
std::string Negotiation(uint8_t verb, uint8_t option);
// IAC SB COM-PORT-OPTION command value IAC SE, with IAC in the value doubled.
std::string ComPortCommand(uint8_t command, const std::string& value);
// A rate as the four bytes of SET-BAUDRATE (network order).
std::string BigEndian32(uint32_t value);

// Splits a received stream into data, negotiations and com-port
// subnegotiations; a command cut between two arrivals is carried over.
class Decoder {
 public:
  std::function<void(const char* data, size_t count)> OnData;
  std::function<void(uint8_t verb, uint8_t option)> OnNegotiation;
  std::function<void(uint8_t command, const std::string& value)> OnComPort;  // the server's, code with 100 added

  // Bytes after a break are not decoded: nothing more is delivered.
  void Feed(const void* bytes, size_t count);
  // A subnegotiation longer than any com-port command runs on without end:
  // the stream is broken, for good, wherever the arrivals were cut.
  bool Broken() const { return broken_; }

 private:
  enum class State { kData, kIac, kOption, kSub, kSubIac };
  State state_ = State::kData;
  uint8_t verb_ = 0;
  std::string sub_;  // a subnegotiation being gathered (at most kMaxSub bytes kept)
  size_t sub_length_ = 0;
  bool broken_ = false;
  static constexpr size_t kMaxSub = 64, kMaxSubLength = 4096;
};

}  // namespace va::rfc2217
