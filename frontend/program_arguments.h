// A program's arguments as UTF-8, for the front ends' option parsing.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "utf8_files.h"

namespace kvr {

// argv[1..] as UTF-8. On Windows they are taken from the wide command line
// instead: the narrow argv holds them in the ANSI code page, which cannot
// spell every path.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

using base::Utf8Path;

// The file a name given in UTF-8 leads to (links and ".." resolved as far as
// it exists); the name itself where the system cannot say.
inline std::filesystem::path RealPath(const std::string& text) {
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::weakly_canonical(Utf8Path(text), ec);
  return ec ? Utf8Path(text) : real;
}

}  // namespace kvr
