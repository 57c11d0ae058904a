// Internals of the POSIX platform layer that the tests reach directly.
#pragma once

#include <asm/termbits.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "va_platform.h"

namespace va::platform::posix {

// An event's descriptor.
inline int Fd(const TVaHandleObject& event) { return static_cast<int>(event.Handle()); }

// A wait in milliseconds as poll takes it: -1 for INFINITE_WAIT.
int PollMs(uint32_t ms);

// The termios2 for a line configuration, starting from `current`; 0, or the
// errno (EINVAL) for what this platform cannot honour: 4 data bits, one and a
// half stop bits with more than 5 data bits, DSR output flow, DTR handshake,
// DSR sensitivity, RTS toggle, error-character replacement, null stripping,
// a rate of 0.
int BuildTermios(const LineSettings& settings, const struct termios2& current, struct termios2& out);

// Called with the configuration just before it is written to the device
// (a seam for tests: a pseudo-terminal does not keep data bits or parity).
extern std::function<void(const struct termios2&)> BeforeSetTermios;

// Called by the event thread between counting the waiting bytes and deciding
// whether they are new (a seam for tests of a reader racing that decision).
extern std::atomic<void (*)()> AfterQueueCount;

// Transitions of the modem status lines counted by the driver (TIOCGICOUNT).
struct ModemCounts {
  uint32_t cts = 0, dsr = 0, rng = 0, dcd = 0;
};
// Reads the counts of the device `fd`; false when the driver keeps none.
// Null: the driver's own (TIOCGICOUNT, else the line states of TIOCMGET).
// A seam for tests: a pseudo-terminal has no modem lines.
extern std::atomic<bool (*)(int fd, ModemCounts& counts)> ReadModemCounts;

// The driver's serial_struct requests (TIOCGSERIAL, TIOCSSERIAL) go through
// this when it is set, else to ioctl: a seam for tests, since a
// pseudo-terminal refuses them. Returns what ioctl returns.
extern std::atomic<int (*)(int fd, unsigned long request, struct serial_struct* s)> SerialRequest;

// Natural order of device names: ttyS2 before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b);

// Names under /dev that may be serial ports (ttyS*, ttyUSB*, ttyACM*, ttyAMA*,
// rfcomm*, each followed by digits).
bool IsSerialNodeName(const std::string& name);

}  // namespace va::platform::posix
