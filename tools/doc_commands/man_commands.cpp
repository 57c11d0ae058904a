#include "man_commands.h"

#include <set>

#include "command_words.h"

namespace kvr::docs {

std::string TroffText(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
    } else if (s[i + 1] == 'f') {
      i += 2;  // \fR \fB \fI \fP
    } else if (s[i + 1] == '&') {
      ++i;
    } else if (s[i + 1] == '-' || s[i + 1] == 'e') {
      out += s[++i] == '-' ? '-' : '\\';
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string> TroffArguments(const std::string& s) {
  std::vector<std::string> args;
  std::string arg;
  bool quoted = false, any = false;
  for (const char c : s) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && c == ' ') {
      if (any) args.push_back(arg);
      arg.clear();
      any = false;
    } else {
      arg += c;
      any = true;
    }
  }
  if (any) args.push_back(arg);
  return args;
}

bool TroffPiece(const std::string& line, std::string& piece) {
  if (line.empty() || line[0] != '.') {
    piece = line;
    return true;
  }
  const size_t blank = line.find(' ');
  const std::string macro = line.substr(1, blank == std::string::npos ? std::string::npos : blank - 1);
  const std::vector<std::string> args = TroffArguments(blank == std::string::npos ? "" : line.substr(blank + 1));
  static const std::set<std::string> kAlternating = {"BR", "RB", "IR", "RI", "BI", "IB"};
  if (macro != "B" && macro != "I" && !kAlternating.count(macro)) return false;
  piece = Join(args, kAlternating.count(macro) ? "" : " ");
  return true;
}

std::vector<DocCommand> ManCommands(const std::string& text, const std::string& name) {
  std::vector<DocCommand> commands;
  std::string section, current;
  int number = 0, first = 0;
  bool unfilled = false;
  const auto end_line = [&] {
    const std::string line = Squeeze(TroffText(current));
    if (!line.empty()) commands.push_back({name + ":" + std::to_string(first), line, {}, ""});
    current.clear();
  };
  for (const std::string& line : Lines(text)) {
    ++number;
    std::string piece;
    if (line.rfind(".SH", 0) == 0) {
      end_line();
      section = Join(TroffArguments(line.substr(3)), " ");
    } else if (section == "SYNOPSIS" && line == ".br") {
      end_line();
    } else if (section == "SYNOPSIS" && TroffPiece(line, piece)) {
      if (current.empty()) first = number;
      current += " " + piece;
    } else if (section == "EXAMPLES" && (line == ".nf" || line == ".fi")) {
      unfilled = line == ".nf";
    } else if (section == "EXAMPLES" && unfilled && !Trim(line).empty()) {
      commands.push_back({name + ":" + std::to_string(number), Trim(TroffText(line)), {}, ""});
    }
  }
  end_line();
  return commands;
}

}  // namespace kvr::docs
