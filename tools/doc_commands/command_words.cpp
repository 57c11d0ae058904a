#include "command_words.h"

#include <algorithm>
#include <iterator>
#include <sstream>

namespace kvr::docs {
namespace {

const char* const kPrograms[] = {"kvr-loader-cli", "kvr-loader", "kvr-render", "kvr-simload", "kvr-makefile"};

}  // namespace

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> Blanks(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string Join(const std::vector<std::string>& words, const std::string& between) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : between) + w;
  return out;
}

std::string Squeeze(const std::string& s) { return Join(Blanks(s), " "); }

std::string Base(const std::string& word) { return word.substr(word.rfind('/') + 1); }

bool IsProgram(const std::string& word) {
  return std::find(std::begin(kPrograms), std::end(kPrograms), Base(word)) != std::end(kPrograms);
}

bool Quoted(const std::string& w) { return w.find_first_of("'\"") != std::string::npos; }

Code SplitComment(const std::string& s) {
  char quote = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (quote) {
      quote = s[i] == quote ? 0 : quote;
    } else if (s[i] == '\'' || s[i] == '"') {
      quote = s[i];
    } else if (s[i] == '#' && (i == 0 || s[i - 1] == ' ')) {
      size_t start = i;
      while (start > 0 && s[start - 1] == ' ') --start;
      return {s.substr(0, start), s.substr(start)};
    }
  }
  return {s, ""};
}

std::vector<std::string> ShellWords(const std::string& code) {
  std::vector<std::string> words;
  std::string word;
  char quote = 0;
  for (const char c : code) {
    if (!quote && (c == ' ' || c == '\t')) {
      if (!word.empty()) words.push_back(word);
      word.clear();
      continue;
    }
    if (quote ? c == quote : (c == '\'' || c == '"')) quote = quote ? 0 : c;
    word += c;
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool IsOperator(const std::string& w) { return w == "&&" || w == "||" || w == ";" || w == "|"; }

std::vector<std::vector<std::string>> Segments(const std::string& command) {
  std::vector<std::vector<std::string>> out(1);
  for (const std::string& w : ShellWords(SplitComment(command).code)) {
    if (IsOperator(w)) {
      out.emplace_back();
    } else {
      out.back().push_back(w);
    }
  }
  return out;
}

}  // namespace kvr::docs
