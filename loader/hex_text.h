// Upper-case hexadecimal texts as the status line and the commands use them.
#pragma once

#include <cstdint>
#include <string>

namespace kvr {

// `value` in upper-case hexadecimal with at least `min_digits` digits. A negative
// value shows its 64-bit two's complement (sixteen digits).
std::string HexUpper(int64_t value, int min_digits);

}  // namespace kvr
