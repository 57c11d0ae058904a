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

namespace {

// The length of the well-formed UTF-8 sequence at text[i] and its code point;
// 0 when the bytes there are not one (a stray byte, a cut, overlong or
// surrogate sequence).
size_t Utf8Sequence(std::string_view text, size_t i, uint32_t& cp) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = at(i);
  size_t n;
  uint32_t min;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    n = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (at(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// Characters that act on a terminal or reorder the text around them: C0, DEL,
// C1, and the bidirectional formatting marks.
bool IsControl(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string WithoutControls(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const size_t n = Utf8Sequence(text, i, cp);
    if (n == 0) {
      AppendEscaped(out, static_cast<unsigned char>(text[i++]));
    } else if (IsControl(cp)) {
      for (size_t k = 0; k < n; ++k) AppendEscaped(out, static_cast<unsigned char>(text[i + k]));
      i += n;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string HexLower(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

bool IsUtf8(std::string_view text) {
  uint32_t cp = 0;
  for (size_t i = 0, n = 0; i < text.size(); i += n)
    if ((n = Utf8Sequence(text, i, cp)) == 0) return false;
  return true;
}

}  // namespace kvr
