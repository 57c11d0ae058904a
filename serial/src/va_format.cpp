#include "va_format.h"

namespace va {

std::string FormatWithInt(const std::string& format, int32_t value) {
  std::string out;
  bool used = false;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    size_t j = i + 1;
    if (j < format.size() && format[j] == '%') {
      out += '%';
      i = j;
      continue;
    }
    const bool left = j < format.size() && format[j] == '-';
    if (left) ++j;
    int width = 0, precision = -1;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') width = width * 10 + (format[j++] - '0');
    if (j < format.size() && format[j] == '.') {
      precision = 0;
      ++j;
      while (j < format.size() && format[j] >= '0' && format[j] <= '9')
        precision = precision * 10 + (format[j++] - '0');
    }
    const char kind = j < format.size() ? format[j] : '\0';
    if (used || (kind != 'd' && kind != 'u' && kind != 'x' && kind != 'X') || width > 1024 || precision > 1024)
      throw EConvertError("Format '" + format + "' invalid or incompatible with argument");
    used = true;
    std::string digits;
    bool negative = false;
    if (kind == 'd') {
      negative = value < 0;
      digits = std::to_string(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
    } else {
      const auto u = static_cast<uint32_t>(value);
      if (kind == 'u') {
        digits = std::to_string(u);
      } else {
        static const char* lower = "0123456789abcdef";
        static const char* upper = "0123456789ABCDEF";
        const char* set = kind == 'x' ? lower : upper;
        uint32_t v = u;
        do {
          digits.insert(digits.begin(), set[v & 0xF]);
          v >>= 4;
        } while (v != 0);
      }
    }
    if (precision > static_cast<int>(digits.size())) digits.insert(0, precision - digits.size(), '0');
    if (negative) digits.insert(digits.begin(), '-');
    if (width > static_cast<int>(digits.size())) {
      const std::string pad(width - digits.size(), ' ');
      digits = left ? digits + pad : pad + digits;
    }
    out += digits;
    i = j;
  }
  return out;
}

std::string EscapePercent(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

std::string TrimErrorText(std::string text) {
  while (!text.empty()) {
    const auto c = static_cast<unsigned char>(text.back());
    if (c <= ' ' || c == '.')
      text.pop_back();
    else
      break;
  }
  return text;
}

}  // namespace va
