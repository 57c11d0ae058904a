#include "update_file_maker.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "image_geometry.h"
#include "utf8_files.h"

namespace kvr::sim {

std::string MakeUpdateFileText(uint32_t seed) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::mt19937 rng(seed);
  std::string text;
  text.reserve(static_cast<size_t>(ExpectedFileSize));
  for (int64_t line = 0; line < ImageLines; ++line) {
    for (int i = 0; i < LineBytes; ++i) {
      const uint32_t b = rng() & 0xFF;
      text.push_back(kDigits[b >> 4]);
      text.push_back(kDigits[b & 0xF]);
    }
    text += "\r\n";
  }
  text += "\r\n";
  return text;
}

std::vector<uint8_t> ImageFromUpdateText(std::string_view text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::vector<uint8_t> image;
  image.reserve(static_cast<size_t>(ImageBytes));
  size_t at = 0;
  for (int64_t line = 0; line < ImageLines; ++line) {
    const size_t end = text.find_first_of("\r\n", at);
    const std::string_view digits = text.substr(at, (end == std::string_view::npos ? text.size() : end) - at);
    if (digits.size() < 2 * LineBytes) return {};
    for (int i = 0; i < LineBytes; ++i) {
      const int hi = hex(digits[2 * i]);
      const int lo = hex(digits[2 * i + 1]);
      if (hi < 0 || lo < 0) return {};
      image.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    if (end == std::string_view::npos) {
      at = text.size();
    } else {
      at = end + 1;
      if (text[end] == '\r' && at < text.size() && text[at] == '\n') ++at;
    }
  }
  return image;
}

void WriteFile(const std::string& path, std::string_view text) {
  const auto failed = [&path](const char* what) {
    return std::runtime_error(std::string("cannot ") + what + " " + path + ": " + std::strerror(errno));
  };
#ifdef _WIN32
  std::FILE* f = base::OpenFile(path, "wb");
#else
  // O_NOFOLLOW: a link planted at the path is refused (ELOOP), not followed;
  // O_NONBLOCK: a pipe there cannot block the open. Only a regular file with
  // no other name is replaced (a hard link planted there would carry the
  // text into the file it names).
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  struct stat st {};
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1)) {
    close(fd);
    throw std::runtime_error("cannot write " + path + ": " +
                             (!S_ISREG(st.st_mode) ? "not a regular file" : "it has other hard links (refused)"));
  }
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = fd < 0 || ftruncate(fd, 0) != 0 ? nullptr : fdopen(fd, "wb");
  if (fd >= 0 && !f) close(fd);
  if (!f && errno == ELOOP) throw std::runtime_error("cannot create " + path + ": it is a symbolic link (refused)");
  if (!f && errno == ENXIO) throw std::runtime_error("cannot write " + path + ": not a regular file (a pipe)");
#endif
  if (!f) throw failed("create");
  const size_t n = std::fwrite(text.data(), 1, text.size(), f);
  const bool written = n == text.size();
  if (std::fclose(f) != 0 || !written) throw failed("write");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(base::Utf8Path(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ImageEqualsFile(const std::vector<uint8_t>& image, const std::string& path) {
  return ImageEqualsText(image, ReadFile(path));
}

bool ImageEqualsText(const std::vector<uint8_t>& image, std::string_view text) {
  const std::vector<uint8_t> expected = ImageFromUpdateText(text);
  return !expected.empty() && image == expected;
}

}  // namespace kvr::sim
