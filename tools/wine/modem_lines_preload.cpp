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

bool IsModemRequest(unsigned long request) {
  return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

// The request through the C library's function `real`, answered here when a
// terminal refuses a modem-line request.
int Answer(IoctlFn real, int fd, unsigned long request, void* arg) {
  const int r = real(fd, request, arg);
  if (r == 0 || !IsModemRequest(request) || (errno != ENOTTY && errno != EINVAL)) return r;
  // Only for terminals: a pseudo-terminal answers TCGETS.
  termios t;
  if (real(fd, TCGETS, &t) != 0) {
    errno = ENOTTY;
    return -1;
  }
  if (request == TIOCMGET && arg) *static_cast<int*>(arg) = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
  errno = 0;
  return 0;
}

void* ThirdArgument(va_list args) { return va_arg(args, void*); }

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  static IoctlFn real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
  va_list args;
  va_start(args, request);
  void* arg = ThirdArgument(args);
  va_end(args);
  return Answer(real, fd, request, arg);
}

#if defined(__i386__)
// A 32-bit program built with 64-bit time (as the 32-bit Wine is) calls
// this one instead of ioctl.
extern "C" int __ioctl_time64(int fd, unsigned long request, ...) {
  static IoctlFn real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "__ioctl_time64"));
  va_list args;
  va_start(args, request);
  void* arg = ThirdArgument(args);
  va_end(args);
  return Answer(real, fd, request, arg);
}
#endif
