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

namespace {

void AppendEscaped(std::string& out, unsigned char c) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0xF];
}

}  // namespace

std::string Printable(std::string_view bytes) {
  std::string out;
  for (const unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F)
      out += static_cast<char>(c);
    else
      AppendEscaped(out, c);
  }
  return out;
}

std::string WithoutControls(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // The C1 controls (U+0080..U+009F, C2 80..C2 9F in UTF-8) act on terminals too.
    const bool c1 = c == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
    if (c1) {
      AppendEscaped(out, c);
      AppendEscaped(out, static_cast<unsigned char>(text[++i]));
    } else if (c < 0x20 || c == 0x7F) {
      AppendEscaped(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace kvr
