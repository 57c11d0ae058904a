#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// The serial component's public headers after <windows.h>: the build fails
// here if one of its names is taken by the system's macros again.
#include "va_classes.h"
#include "va_comm.h"
#include "va_dispatch.h"
#include "va_ports.h"
#include "va_settings.h"
#include "va_sync.h"
#include "va_types.h"
#include "wine_support.h"

namespace kvr::wintest {

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto ticks = [](const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

std::string Env(const char* name) {
  char buf[512];
  const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

}  // namespace kvr::wintest
