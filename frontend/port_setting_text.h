// The text-to-integer rules of the stored port index: leading blanks, an
// optional sign, then decimal digits, or hexadecimal digits after "$", "x",
// "X", "0x" or "0X"; the value must fit 32 bits.
#pragma once

#include <cstdint>
#include <string_view>

namespace kvr {

// False when the text is refused.
bool ParseSettingInt(std::string_view text, int32_t& value);

// The stored index, or -1 when the text is refused.
inline int32_t SettingIndexOrMinusOne(std::string_view text) {
  int32_t v;
  return ParseSettingInt(text, v) ? v : -1;
}

}  // namespace kvr
