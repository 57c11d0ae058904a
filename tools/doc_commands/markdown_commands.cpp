#include "markdown_commands.h"

#include <utility>

#include "command_words.h"

namespace kvr::docs {

bool StartsCommand(const std::string& line) {
  const std::vector<std::string> w = Blanks(line);
  if (w.empty() || line[0] == ' ') return false;
  if (IsProgram(w[0])) return w.size() < 2 || w[1] != "->";
  return w[0].rfind("scripts/", 0) == 0 || w[0] == "sudo" || w[0] == "cmake" || w[0].rfind("C:\\", 0) == 0;
}

std::vector<DocCommand> MarkdownCommands(const std::string& text, const std::string& name) {
  // The code blocks first, each line with its number.
  std::vector<std::vector<std::pair<int, std::string>>> blocks;
  bool fenced = false, indented = false, blank_before = true;
  int number = 0;
  for (const std::string& line : Lines(text)) {
    ++number;
    const bool blank = Trim(line).empty();
    if (line.rfind("```", 0) == 0) {
      fenced = !fenced;
      if (fenced) blocks.emplace_back();
      indented = false;
    } else if (fenced) {
      blocks.back().emplace_back(number, line);
    } else if (line.rfind("    ", 0) == 0 && (indented || blank_before)) {
      if (!indented) blocks.emplace_back();
      indented = true;
      blocks.back().emplace_back(number, line.substr(4));
    } else if (!blank) {
      indented = false;
    }
    blank_before = blank;
  }
  std::vector<DocCommand> commands;
  for (size_t b = 0; b < blocks.size(); ++b) {
    bool output = false;     // after a "$ " line: its sample output
    bool continues = false;  // the previous line was a command, which a "  [..." line continues
    for (const auto& [n, line] : blocks[b]) {
      const size_t indent = line.find_first_not_of(' ');
      if (line.rfind("$ ", 0) == 0) {
        commands.push_back({name + ":" + std::to_string(n), Trim(line.substr(2)), {}, name + "#" + std::to_string(b)});
        output = true;
      } else if (output) {
        commands.back().sample.push_back(line);
      } else if (continues && indent > 0 && indent != std::string::npos && line[indent] == '[') {
        commands.back().text.append(" ").append(Trim(line));
      } else if ((continues = StartsCommand(line))) {
        commands.push_back({name + ":" + std::to_string(n), Trim(line), {}, ""});
      }
    }
  }
  return commands;
}

}  // namespace kvr::docs
