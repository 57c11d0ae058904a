// An LD_PRELOAD library for running Windows serial programs under Wine
// against pseudo-terminals: Wine asks the modem lines (TIOCMGET) before each
// WaitCommEvent, and a pseudo-terminal refuses that, so every event wait
// would fail at once. Here the modem-line requests on a terminal that refuses
// them succeed with DTR, RTS, CTS, DSR and CD up; everything else goes to the
// real ioctl.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstdarg>

namespace {

using IoctlFn = int (*)(int, unsigned long, ...);

IoctlFn RealIoctl() {
  static IoctlFn real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
  return real;
}

bool IsModemRequest(unsigned long request) {
  return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  const int r = RealIoctl()(fd, request, arg);
  if (r == 0 || !IsModemRequest(request) || (errno != ENOTTY && errno != EINVAL)) return r;
  // Only for terminals: a pseudo-terminal answers TCGETS.
  termios t;
  if (RealIoctl()(fd, TCGETS, &t) != 0) {
    errno = ENOTTY;
    return -1;
  }
  if (request == TIOCMGET && arg) *static_cast<int*>(arg) = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
  errno = 0;
  return 0;
}
