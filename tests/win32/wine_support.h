// What the Windows tests ask of the system beyond the component (kept apart:
// <windows.h> clashes with the component's constant names).
#pragma once

#include <string>

namespace kvr::wintest {

// User plus kernel time of this process so far, in seconds.
double ProcessCpuSeconds();
// An environment variable, empty when not set.
std::string Env(const char* name);

}  // namespace kvr::wintest
