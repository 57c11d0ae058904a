// The line settings as termios2 on Linux: a standard rate by its code, any
// other through BOTHER; what the driver cannot honour is refused.
#include <asm/termbits.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "va_line_flags.h"
#include "va_posix.h"

namespace va::platform::posix {

namespace {

struct RateCode {
  uint32_t rate;
  unsigned code;
};
constexpr RateCode kRates[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                               {150, B150},       {200, B200},       {300, B300},       {600, B600},
                               {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                               {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                               {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};

}  // namespace

int BuildTermios(const LineSettings& s, const struct termios2& current, struct termios2& t) {
  t = current;
  using namespace line_flags;
  const uint32_t f = s.Flags;
  if (s.BaudRate == 0) return EINVAL;
  // DTR handshake, or the DTR field's undefined fourth value.
  if ((f & kOutxDsrFlow) || (f & kDtrControl) >= kDtrHandshake || (f & kDsrSensitivity) ||
      (f & kRtsControl) == kRtsToggle || (f & kErrorChar) || (f & kNull))
    return EINVAL;

  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  static constexpr unsigned kSize[] = {CS5, CS6, CS7, CS8};
  if (s.ByteSize < 5 || s.ByteSize > 8) return EINVAL;
  t.c_cflag |= kSize[s.ByteSize - 5];
  switch (s.Parity) {
    case 0:
      break;
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
    case 3:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      return EINVAL;
  }
  switch (s.StopBits) {
    case 0:
      break;
    case 1:  // a UART sends 1.5 stop bits for "two" with 5-bit characters only
      if (s.ByteSize != 5) return EINVAL;
      t.c_cflag |= CSTOPB;
      break;
    case 2:
      t.c_cflag |= CSTOPB;
      break;
    default:
      return EINVAL;
  }
  if ((f & kOutxCtsFlow) || (f & kRtsControl) == kRtsHandshake) t.c_cflag |= CRTSCTS;
  t.c_cflag |= CREAD | CLOCAL;

  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IUCLC |
                 IMAXBEL | IGNPAR);
  if (f & kOutX) t.c_iflag |= IXON;
  if (f & kInX) t.c_iflag |= IXOFF;
  if (f & kParityCheck) t.c_iflag |= INPCK;
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when nothing waits, 0 only at a hang-up
  t.c_cc[VTIME] = 0;
  t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);

  const auto* std_rate =
      std::find_if(std::begin(kRates), std::end(kRates), [&](const RateCode& r) { return r.rate == s.BaudRate; });
  if (std_rate != std::end(kRates)) {
    t.c_cflag |= std_rate->code;
  } else {
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  }
  t.c_ispeed = t.c_ospeed = s.BaudRate;
  return 0;
}

}  // namespace va::platform::posix
