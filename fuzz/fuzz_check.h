// What the fuzz targets share: the invariant check (a broken invariant is a
// finding), a file for readers that take a path, the test for printable text.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// A temporary file of the target's own, rewritten to hold `bytes`, for a
// reader that takes a path; its path.
inline const std::string& FileHolding(std::string_view bytes) {
  static const std::string path = [] {
    char name[] = "/tmp/fuzz_input.XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// Printable text: valid UTF-8 without C0, DEL, C1 or direction controls;
// `allowed` names the line ends the form writes.
inline bool Printable(const std::string& text, const std::string& allowed) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      if ((c < 0x20 && allowed.find(static_cast<char>(c)) == std::string::npos) || c == 0x7F) return false;
      ++i;
      continue;
    }
    const size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (n == 0 || c > 0xF4 || i + n > text.size()) return false;
    uint32_t cp = c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = cp << 6 | (p[i + k] & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    if ((cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
        (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069))
      return false;
    i += n;
  }
  return true;
}
