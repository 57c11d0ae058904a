#include "output_shape.h"

#include <algorithm>
#include <cctype>

#include "command_words.h"

namespace kvr::docs {
namespace {

bool TokenMatches(const std::string& shown, const std::string& real) {
  const auto digit = [](const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  };
  return digit(shown) ? digit(real) : shown == real;
}

// shown[i...] against real[j...], to the end of both.
bool WordsMatch(const std::vector<std::string>& shown, size_t i, const std::vector<std::string>& real, size_t j) {
  if (i == shown.size()) return j == real.size();
  if (shown[i].find("...") != std::string::npos) {  // "(...)" or "...": any run of words
    for (size_t k = j; k <= real.size(); ++k)
      if (WordsMatch(shown, i + 1, real, k)) return true;
    return false;
  }
  return j < real.size() && TokenMatches(shown[i], real[j]) && WordsMatch(shown, i + 1, real, j + 1);
}

}  // namespace

std::string MissingLine(const std::vector<std::string>& shown, const std::string& output) {
  const std::vector<std::string> lines = Lines(output);
  size_t at = 0;
  for (const std::string& line : shown) {
    if (Trim(line).empty()) continue;
    const std::vector<std::string> want = Blanks(line);
    while (at < lines.size() && !WordsMatch(want, 0, Blanks(lines[at]), 0)) ++at;
    if (at == lines.size()) return line;
    ++at;
  }
  return "";
}

}  // namespace kvr::docs
