#include "usage_forms.h"

#include <algorithm>
#include <regex>
#include <sstream>
#include <utility>

#include "command_words.h"

namespace kvr::docs {
namespace {

// A usage line parsed: text, and groups ([...] optional, (...) required)
// of alternatives separated by '|'.
struct Piece {
  std::string text;
  bool optional = false;
  int id = -1;  // a group's number, in the order met
  std::vector<std::vector<Piece>> alternatives;
};
using Pieces = std::vector<Piece>;

class UsageParser {
 public:
  explicit UsageParser(const std::string& s) : s_(s) {}
  Pieces Parse(std::string& error) {
    Pieces pieces = Sequence(false, error);
    if (error.empty() && pos_ < s_.size()) error = std::string("'") + s_[pos_] + "' without its opening bracket";
    return pieces;
  }
  const std::vector<int>& Sizes() const { return sizes_; }  // alternatives per group

 private:
  Pieces Sequence(bool in_group, std::string& error) {
    Pieces pieces;
    while (pos_ < s_.size() && error.empty()) {
      const char c = s_[pos_];
      if (c == '\'' || c == '"') {  // kept as it is
        const size_t end = s_.find(c, pos_ + 1);
        if (end == std::string::npos) {
          error = "a quote without its end";
          break;
        }
        Add(pieces, s_.substr(pos_, end + 1 - pos_));
        pos_ = end + 1;
      } else if (c == '[' || c == '(') {
        ++pos_;
        Piece group;
        group.optional = c == '[';
        group.id = static_cast<int>(sizes_.size());
        sizes_.push_back(0);
        bool closed = false;
        while (error.empty() && !closed) {
          group.alternatives.push_back(Sequence(true, error));
          if (pos_ >= s_.size() || s_[pos_] != '|') closed = pos_ < s_.size() && s_[pos_] == (c == '[' ? ']' : ')');
          if (pos_ >= s_.size() || (s_[pos_] != '|' && !closed)) break;
          ++pos_;
        }
        if (error.empty() && !closed) error = std::string("'") + c + "' without its closing bracket";
        sizes_[group.id] = static_cast<int>(group.alternatives.size());
        pieces.push_back(std::move(group));
      } else if (in_group && (c == ']' || c == ')' || c == '|')) {
        break;
      } else if (c == ']' || c == ')') {
        break;  // Parse names it
      } else {
        Add(pieces, std::string(1, c));  // a '|' outside brackets is the shell's pipe
        ++pos_;
      }
    }
    return pieces;
  }
  static void Add(Pieces& pieces, const std::string& text) {
    if (pieces.empty() || !pieces.back().alternatives.empty()) pieces.emplace_back();
    pieces.back().text += text;
  }

  const std::string& s_;
  size_t pos_ = 0;
  std::vector<int> sizes_;
};

// Optional groups in (full) or out; the group `group` takes alternative `alternative`, the others their first.
struct Choice {
  bool full = false;
  int group = -1, alternative = 0;
};

void Render(const Pieces& pieces, const Choice& choice, std::string& out) {
  for (const Piece& p : pieces) {
    if (p.alternatives.empty()) {
      out += p.text;
    } else if (p.optional && p.alternatives.size() == 1 && p.alternatives[0].size() == 1 &&
               p.alternatives[0][0].text == "options") {
      if (choice.full) out += "[options]";  // filled from the program's table
    } else if (!p.optional || choice.full || choice.group == p.id) {
      Render(p.alternatives[choice.group == p.id ? choice.alternative : 0], choice, out);
    }
  }
}

}  // namespace

std::vector<Form> Expand(const std::string& usage, std::string& error) {
  const Code split = SplitComment(usage);
  std::string code = split.code;
  for (size_t at; (at = code.find("...")) != std::string::npos;) code.erase(at, 3);
  UsageParser parser(code);
  const Pieces pieces = parser.Parse(error);
  if (!error.empty()) return {};
  std::vector<std::pair<std::string, Choice>> choices = {{"shortest", {}}, {"fullest", {true}}};
  for (int g = 0; g < static_cast<int>(parser.Sizes().size()); ++g)
    for (int a = 1; a < parser.Sizes()[g]; ++a) choices.push_back({"", {true, g, a}});
  std::vector<Form> forms;
  for (const auto& [label, choice] : choices) {
    std::string out;
    Render(pieces, choice, out);
    const std::string command = Squeeze(out) + split.comment;
    if (std::any_of(forms.begin(), forms.end(), [&](const Form& f) { return f.command == command; })) continue;
    forms.push_back({label.empty() ? "alternative" : label, command});
  }
  return forms;
}

bool IsPlaceholder(const std::string& s) {
  static const std::regex kShape("[A-Z][A-Z0-9_]*([:x][A-Z][A-Z0-9_]*)*(\\.[a-z]+)?");
  return std::regex_match(s, kShape);
}

std::string Fill(const std::string& form, const Placeholders& table, std::vector<std::string>& unknown, int& seen) {
  const Code split = SplitComment(form);
  const std::vector<std::string> words = ShellWords(split.code);
  std::vector<std::string> out;
  std::string program, sub;  // of the current simple command
  const auto value = [&](const std::vector<std::string>& keys, const std::string& placeholder) {
    ++seen;
    for (const std::string& key : keys)
      if (const auto it = table.values.find(key); it != table.values.end()) return it->second;
    unknown.push_back(placeholder);
    return placeholder;
  };
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    const std::string before = i > 0 ? (IsProgram(words[i - 1]) ? Base(words[i - 1]) : words[i - 1]) : "";
    if (IsOperator(w)) {
      program.clear();
      sub.clear();
      out.push_back(w);
      continue;
    }
    if (program.empty()) {
      program = Base(w);
    } else if (sub.empty() && i > 0 && IsProgram(words[i - 1]) && w[0] != '-') {
      sub = w;
    }
    if (Quoted(w)) {
      out.push_back(w);
    } else if (w == "[options]") {
      ++seen;
      auto it = table.options.find(program + " " + sub);
      if (it == table.options.end()) it = table.options.find(program);
      if (it == table.options.end()) unknown.push_back("[options] of " + program);
      out.push_back(it == table.options.end() ? w : it->second);
    } else if (IsPlaceholder(w)) {
      out.push_back(value({before + " " + w, sub + " " + w, w}, w));
    } else if (w[0] == '-') {  // --opt=VALUE
      const size_t eq = w.find('=');
      const std::string v = eq == std::string::npos ? "" : w.substr(eq + 1);
      out.push_back(IsPlaceholder(v) ? w.substr(0, eq + 1) + value({w.substr(0, eq) + " " + v, v}, v) : w);
    } else {  // items inside a word: D:split=N,noise=RATE,...
      std::string prefix, rest = w;
      static const std::regex kDevicePrefix("^([^:,=]+):(?=[a-z])");  // D: before the first item
      if (std::smatch m; std::regex_search(rest, m, kDevicePrefix)) {
        prefix = (IsPlaceholder(m[1].str()) ? value({m[1].str() + ":"}, m[1].str()) : m[1].str()) + ":";
        rest = m.suffix();
      }
      std::string filled;
      std::istringstream in(rest);
      for (std::string item; std::getline(in, item, ',');) {
        const size_t eq = item.find('=');
        const std::string v = eq == std::string::npos ? item : item.substr(eq + 1);
        if (IsPlaceholder(v)) item = item.substr(0, item.size() - v.size()) + value({item, v}, v);
        filled += (filled.empty() ? "" : ",") + item;
      }
      out.push_back(prefix + filled);
    }
  }
  return Join(out, " ") + split.comment;
}

bool IsUsage(const std::string& command) {
  const std::string code = SplitComment(command).code;
  std::string outside;  // outside quotes
  char quote = 0;
  for (const char c : code) {
    if (quote ? c == quote : (c == '\'' || c == '"')) quote = quote ? 0 : c;
    if (!quote) outside += c;
  }
  // Filled against no table, only to count the placeholders.
  std::vector<std::string> unknown;
  int seen = 0;
  Fill(command, Placeholders{}, unknown, seen);
  return outside.find_first_of("[(") != std::string::npos || seen > 0;
}

}  // namespace kvr::docs
