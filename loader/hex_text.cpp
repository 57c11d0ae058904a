#include "hex_text.h"

namespace kvr {

std::string HexUpper(int64_t value, int min_digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  uint64_t v = static_cast<uint64_t>(value);
  char buf[16];
  int n = 0;
  do {
    buf[n++] = kDigits[v & 0xF];
    v >>= 4;
  } while (v != 0);
  std::string out;
  if (min_digits > n) out.assign(static_cast<size_t>(min_digits - n), '0');
  while (n > 0) out.push_back(buf[--n]);
  return out;
}

}  // namespace kvr
