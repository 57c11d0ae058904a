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

}  // namespace

// An entry point of the C library that takes ioctl's requests, answered
// through Answer with the library's own function of that name.
#define KVR_MODEM_LINES_ENTRY(name)                                                   \
  extern "C" int name(int fd, unsigned long request, ...) {                            \
    static IoctlFn real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, #name));          \
    va_list args;                                                                      \
    va_start(args, request);                                                           \
    void* arg = va_arg(args, void*);                                                   \
    va_end(args);                                                                      \
    return Answer(real, fd, request, arg);                                             \
  }

KVR_MODEM_LINES_ENTRY(ioctl)
#if defined(__i386__)
// A 32-bit program built with 64-bit time (as the 32-bit Wine is) calls
// this one instead of ioctl.
KVR_MODEM_LINES_ENTRY(__ioctl_time64)
#endif
