// Every command line that README.md and the manual pages show, run as written.
// The commands are read from the documents at run time: the README's code
// blocks (a "$ " line and its sample output, a line starting with one of the
// programs, a script, sudo, cmake or C:\), the manual pages' SYNOPSIS and
// EXAMPLES. A usage line ([optional], a | b inside [...] or (...),
// PLACEHOLDER) becomes its shortest and fullest forms and each alternative,
// with the placeholders filled from a table. Each command runs through
// /bin/sh in a fresh folder with the built programs first in PATH; a serial
// device it names is a simulated boot loader behind a pseudo-terminal (behind
// ser2net for rfc2217:// and socket:// URLs), an image it reads is made up.
// A command that ends must exit 0 (or as the expectation table says); one
// still running at the bound (a load at the real pace takes 35 minutes) must,
// on Ctrl-C, exit 130 having been loading into every port it names; the window
// must still be running with nothing on standard error. A completed load
// leaves the image in the stand-in device; sample output must appear in the
// output. A command that cannot run here must be in the skip table with the
// reason. The list of every command, as written and as run, is printed.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "pty_device.h"
#include "serial_server.h"
#include "test_support.h"
#include "update_file_maker.h"

namespace kvr {
namespace {

const std::string kSourceDir = KVR_SOURCE_DIR;
const std::string kProgramDir = KVR_PROGRAM_DIR;
const char* const kPrograms[] = {"kvr-loader-cli", "kvr-loader", "kvr-render", "kvr-simload", "kvr-makefile"};
constexpr int kBoundMs = 5000;        // a command still running then is interrupted (SIGINT)
constexpr int kWindowBoundMs = 3000;  // the window: SIGTERM
constexpr int kShownBoundMs = 60000;  // a "$ " command whose output is shown: that output is how it ends
constexpr int kGraceMs = 20000;       // to end after the signal, then it is killed
constexpr int kWorkers = 5;           // commands run at once (the loads mostly sleep in their pauses)
const std::string kPortsFile = "ports.txt";
// One load's record, as a record file holds it.
const std::string kRecordLine =
    "{\"kvr_loader_record\":1,\"tool\":\"kvr-loader-cli 1.0.0\",\"started\":\"2026-12-09T06:56:45.906Z\","
    "\"ended\":\"2026-12-09T06:56:50.287Z\",\"exit_code\":0,\"image\":{\"file\":\"FW.KVR\",\"size\":1253378,"
    "\"sha256\":\"f8513aa75819bbe7756af34303f946fd4b9c9cc062642eb9c60987404bcac130\"},\"loads\":[{\"port\":"
    "\"sim1\",\"device\":\"/dev/pts/1\",\"by_id\":null,\"usb\":null,\"started\":\"2026-12-09T06:56:45.906Z\","
    "\"ended\":\"2026-12-09T06:56:50.287Z\",\"commands\":41474,\"page_retries\":0,\"result\":\"complete\","
    "\"exit_code\":0,\"message\":\"load complete\"}]}\n";

// ---------------------------------------------------------------- text helpers

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

std::vector<std::string> Blanks(const std::string& s) {  // words between blanks
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string Base(const std::string& word) { return word.substr(word.rfind('/') + 1); }

bool IsProgram(const std::string& word) {  // also behind a path such as build/release/bin/
  return std::find(std::begin(kPrograms), std::end(kPrograms), Base(word)) != std::end(kPrograms);
}

bool Quoted(const std::string& w) { return w.find_first_of("'\"") != std::string::npos; }

// A command split into the shell's code and its trailing "# comment".
struct Code {
  std::string code, comment;
};

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

// The shell's words: blanks outside quotes separate; the quotes stay in the word.
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

std::string Join(const std::vector<std::string>& words, const std::string& between) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : between) + w;
  return out;
}

bool IsOperator(const std::string& w) { return w == "&&" || w == "||" || w == ";" || w == "|"; }

// The words of each simple command of a list (a && b; c).
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

// ------------------------------------------------------- the documents' commands

struct DocCommand {
  std::string where;                // README.md:214
  std::string text;                 // as written; a wrapped usage line joined
  std::vector<std::string> sample;  // the output shown after a "$ " command
  std::string block;                // a "$ " block's commands run in one folder, in order; empty: on its own
};

// A line that starts a command: a program (not the "->" of the libraries'
// dependency picture), a script, sudo, cmake or a Windows path.
bool StartsCommand(const std::string& line) {
  const std::vector<std::string> w = Blanks(line);
  if (w.empty() || line[0] == ' ') return false;
  if (IsProgram(w[0])) return w.size() < 2 || w[1] != "->";
  return w[0].rfind("scripts/", 0) == 0 || w[0] == "sudo" || w[0] == "cmake" || w[0].rfind("C:\\", 0) == 0;
}

// The commands of a Markdown text's code blocks (indented by four blanks
// after a blank line, or between ``` fences).
std::vector<DocCommand> MarkdownCommands(const std::string& text, const std::string& name) {
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
        commands.back().text += " " + Trim(line);
      } else if ((continues = StartsCommand(line))) {
        commands.push_back({name + ":" + std::to_string(n), Trim(line), {}, ""});
      }
    }
  }
  return commands;
}

// troff: escapes (\- is -, font changes dropped), a request's arguments
// (blanks separate, a quoted argument is kept whole).
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

// What one SYNOPSIS line adds: .B and .I join their arguments with blanks,
// the alternating font macros (.BR, .RB, ...) without; a text line as it is.
// False for other requests.
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

std::string Squeeze(const std::string& s) { return Join(Blanks(s), " "); }

// A manual page's SYNOPSIS lines (.br ends one) and the lines between .nf and
// .fi in its EXAMPLES.
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

// ------------------------------------------------------------ the usage grammar

// A usage line parsed: text, and groups ([...] optional, (...) required)
// of alternatives separated by '|'.
struct Part {
  std::string text;
  bool optional = false;
  int id = -1;  // a group's number, in the order met
  std::vector<std::vector<Part>> alternatives;
};
using Parts = std::vector<Part>;

class UsageParser {
 public:
  explicit UsageParser(const std::string& s) : s_(s) {}
  Parts Parse(std::string& error) {
    Parts parts = Sequence(false, error);
    if (error.empty() && pos_ < s_.size()) error = std::string("'") + s_[pos_] + "' without its opening bracket";
    return parts;
  }
  const std::vector<int>& Sizes() const { return sizes_; }  // alternatives per group

 private:
  Parts Sequence(bool in_group, std::string& error) {
    Parts parts;
    while (pos_ < s_.size() && error.empty()) {
      const char c = s_[pos_];
      if (c == '\'' || c == '"') {  // kept as it is
        const size_t end = s_.find(c, pos_ + 1);
        if (end == std::string::npos) {
          error = "a quote without its end";
          break;
        }
        Add(parts, s_.substr(pos_, end + 1 - pos_));
        pos_ = end + 1;
      } else if (c == '[' || c == '(') {
        ++pos_;
        Part group;
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
        parts.push_back(std::move(group));
      } else if (in_group && (c == ']' || c == ')' || c == '|')) {
        break;
      } else if (c == ']' || c == ')') {
        break;  // Parse names it
      } else {
        Add(parts, std::string(1, c));  // a '|' outside brackets is the shell's pipe
        ++pos_;
      }
    }
    return parts;
  }
  static void Add(Parts& parts, const std::string& text) {
    if (parts.empty() || !parts.back().alternatives.empty()) parts.emplace_back();
    parts.back().text += text;
  }

  const std::string& s_;
  size_t pos_ = 0;
  std::vector<int> sizes_;
};

// Optional parts in (full) or out; the group `group` takes alternative `alternative`, the others their first.
struct Choice {
  bool full = false;
  int group = -1, alternative = 0;
};

void Render(const Parts& parts, const Choice& choice, std::string& out) {
  for (const Part& p : parts) {
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

struct Form {
  std::string label;  // shortest, fullest, or the alternative it shows
  std::string command;
};

// A usage line's concrete forms: the shortest, the fullest, and the fullest
// with each further alternative of each group; "..." is dropped.
std::vector<Form> Expand(const std::string& usage, std::string& error) {
  const Code split = SplitComment(usage);
  std::string code = split.code;
  for (size_t at; (at = code.find("...")) != std::string::npos;) code.erase(at, 3);
  UsageParser parser(code);
  const Parts parts = parser.Parse(error);
  if (!error.empty()) return {};
  std::vector<std::pair<std::string, Choice>> choices = {{"shortest", {}}, {"fullest", {true}}};
  for (int g = 0; g < static_cast<int>(parser.Sizes().size()); ++g)
    for (int a = 1; a < parser.Sizes()[g]; ++a) choices.push_back({"", {true, g, a}});
  std::vector<Form> forms;
  for (const auto& [label, choice] : choices) {
    std::string out;
    Render(parts, choice, out);
    const std::string command = Squeeze(out) + split.comment;
    if (std::any_of(forms.begin(), forms.end(), [&](const Form& f) { return f.command == command; })) continue;
    forms.push_back({label.empty() ? "alternative" : label, command});
  }
  return forms;
}

// A placeholder: upper-case words, perhaps joined by ':' or 'x' (REPLY:BYTES,
// WxH), perhaps with a lower-case suffix (FILE.json); FILE.KVR is a file name.
bool IsPlaceholder(const std::string& s) {
  static const std::regex kShape("[A-Z][A-Z0-9_]*([:x][A-Z][A-Z0-9_]*)*(\\.[a-z]+)?");
  return std::regex_match(s, kShape);
}

// What a placeholder becomes, keyed by the word before it ("--baud N"), the
// command's subcommand ("make-image FILE"), its item's name inside a word
// ("split=N", "D:" before an item) or the placeholder alone ("RATE").
const std::map<std::string, std::string> kValues = {
    {"--baud N", "38400"},
    {"--pause-ms N", "0"},
    {"--reply-timeout SECONDS", "1"},
    {"--retries N", "3"},
    {"--log FILE", "replies.log"},
    {"--record FILE.jsonl", "runs.jsonl"},
    {"--set-record FILE.jsonl", "runs.jsonl"},
    {"records FILE.jsonl", "runs.jsonl"},
    {"--port NAME", "sim1"},
    {"--serial SERIAL", "A10K5XYZ"},
    {"--result RESULT", "complete"},
    {"--since TIME", "2026-12-01"},
    {"--simulate-devices N", "2"},
    {"--seed N", "5"},
    {"make-image FILE", "NEW.KVR"},
    {"kvr-makefile PATH", "NEW.KVR"},
    {"SEED", "5"},
    {"--file PATH.KVR", "FILE.KVR"},
    {"--pieces N", "2"},
    {"--ports-from FILE", kPortsFile},
    {"PORT", "/dev/ttyUSB0"},
    {"PATH", "/dev/ttyUSB0"},
    {"A", "/dev/ttyUSB0"},
    {"B", "/dev/ttyUSB1"},
    {"C", "/dev/ttyUSB2"},
    {"D:", "1"},
    {"split=N", "3"},
    {"RATE", "0.001"},
    {"hangup=FRAMES", "100000"},
    {"seed=N", "1"},
    {"noiseat=REPLY:BYTES", "10:5"},
    {"line=BAUD", "38400"},
    {"kvr-render PICTURE", "gauge"},
    {"--style STYLE", "gsElliptic2"},
    {"--size WxH", "120x40"},
    {"--from C", "'$F0F0F0'"},
    {"--to C", "'$696969'"},
    {"--kind KIND", "gkPie"},
    {"-o FILE.png", "picture.png"},
};

// What "[options]" becomes, by program and subcommand.
const std::map<std::string, std::string> kOptions = {
    {"kvr-loader-cli load", "--baud 38400 --pause-ms 0 --retries 3 --record runs.jsonl"},
    {"kvr-loader", "--simulate --fast --autostart"},
    {"kvr-render gauge", "--progress 42 --border bsSingle --showtext 1"},
    {"kvr-render button", "--textoff Off --texton On --checked 1"},
};

// The form with its placeholders filled; those the tables do not know go to
// `unknown`, and `seen` counts the placeholders met.
std::string Fill(const std::string& form, std::vector<std::string>& unknown, int& seen) {
  const Code split = SplitComment(form);
  const std::vector<std::string> words = ShellWords(split.code);
  std::vector<std::string> out;
  std::string program, sub;  // of the current simple command
  const auto value = [&](const std::vector<std::string>& keys, const std::string& placeholder) {
    ++seen;
    for (const std::string& key : keys)
      if (const auto it = kValues.find(key); it != kValues.end()) return it->second;
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
      auto it = kOptions.find(program + " " + sub);
      if (it == kOptions.end()) it = kOptions.find(program);
      if (it == kOptions.end()) unknown.push_back("[options] of " + program);
      out.push_back(it == kOptions.end() ? w : it->second);
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
        prefix = (IsPlaceholder(m[1].str()) ? value({m[1].str() + ":"}, m[1].str() + ":") : m[1].str()) + ":";
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

// A usage line: brackets, or placeholders.
bool IsUsage(const std::string& command) {
  const std::string code = SplitComment(command).code;
  std::string outside;  // outside quotes
  char quote = 0;
  for (const char c : code) {
    if (quote ? c == quote : (c == '\'' || c == '"')) quote = quote ? 0 : c;
    if (!quote) outside += c;
  }
  std::vector<std::string> unknown;
  int seen = 0;
  Fill(command, unknown, seen);
  return outside.find_first_of("[(") != std::string::npos || seen > 0;
}

// ------------------------------------------------------------- sample output

bool TokenMatches(const std::string& shown, const std::string& real) {
  const auto digit = [](const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  };
  return digit(shown) ? digit(real) : shown == real;
}

bool WordsMatch(const std::vector<std::string>& shown, size_t i, const std::vector<std::string>& real, size_t j) {
  if (i == shown.size()) return j == real.size();
  if (shown[i].find("...") != std::string::npos) {  // "(...)" or "...": any run of words
    for (size_t k = j; k <= real.size(); ++k)
      if (WordsMatch(shown, i + 1, real, k)) return true;
    return false;
  }
  return j < real.size() && TokenMatches(shown[i], real[j]) && WordsMatch(shown, i + 1, real, j + 1);
}

// The first shown line that the output does not hold by shape, in order; "" when all are there.
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

// ---------------------------------------------------------------- the tables

// Commands that are not run here, and why.
const struct {
  const char* pattern;
  const char* reason;
} kSkips[] = {
    {"^scripts/run-tests\\.sh", "the test command itself, which runs this test"},
    {"^scripts/wine-tests\\.sh", "the Windows build under Wine: a step of the test command (scripts/run-tests.sh)"},
    {"^scripts/check-windows-imports\\.sh",
     "reads the Windows build's programs: run by scripts/wine-tests.sh right after that build"},
    {"^scripts/run-main\\.sh",
     "the main job: installs what is missing, builds into build/release and keeps the window open until it is "
     "closed"},
    {"^scripts/package\\.sh|^sudo apt install \\S+\\.deb",
     "builds or installs the package: scripts/package-check.sh builds, installs, uses and removes it in the test "
     "command"},
    {"^cmake .*\\^$|^cmake --build build$|^C:\\\\", "the Windows build, from a Visual Studio developer prompt"},
    {"^sudo usermod ", "changes the system's groups"},
    {"\\bCOM[0-9]+\\b", "names a Windows port"},
    {"^kvr-loader\\.exe ", "the Windows window: run under Wine by the Wine stage (tests/win32/window_wine_*.sh)"},
};

// Documented commands whose exit code is not 0, by a pattern of the command.
const struct {
  const char* pattern;
  int code;
} kExpected[] = {
    // The README's gang whose third device hangs up: the highest code is the lost port's.
    {"--simulate-faults 3:hangup=9000 ", 4},
    // The record's two devices, the second silent.
    {"--simulate-devices 2 --simulate-faults 2:drop=1 ", 3},
};

std::string SkipReason(const std::string& text) {
  for (const auto& s : kSkips)
    if (std::regex_search(text, std::regex(s.pattern))) return s.reason;
  return "";
}

int ExpectedCode(const std::string& command) {
  for (const auto& e : kExpected)
    if (std::regex_search(Trim(SplitComment(command).code), std::regex(e.pattern))) return e.code;
  return 0;
}

// --------------------------------------------------------- stand-ins and runs

// A serial device a command names: /dev/ttyUSB0, bare ttyUSB0, a by-id name, a serial server's URL.
const std::regex kDevice(
    R"(/dev/serial/by-id/[^\s'"#]+|/dev/tty(USB|ACM|S)[0-9]+|\btty(USB|ACM|S)[0-9]+|\b(rfc2217|socket)://[^\s'"#]+)");

std::set<std::string> DevicesIn(const std::string& text) {
  std::set<std::string> out;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kDevice); it != std::sregex_iterator(); ++it)
    out.insert(it->str());
  return out;
}

// The file names ending in .KVR (any case) among a simple command's words.
std::vector<std::string> ImageNames(const std::vector<std::string>& words) {
  std::vector<std::string> out;
  for (const std::string& w : words) {
    std::string name = w;
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '\'' || c == '"'; }), name.end());
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".KVR") == 0) out.push_back(name);
  }
  return out;
}

bool Makes(const std::vector<std::string>& segment) {  // writes the images it names
  return !segment.empty() && (Base(segment[0]) == "kvr-makefile" || (Base(segment[0]) == "kvr-loader-cli" &&
                                                                     segment.size() > 1 && segment[1] == "make-image"));
}

bool IsLoad(const std::vector<std::string>& segment) {
  return segment.size() > 1 && Base(segment[0]) == "kvr-loader-cli" && segment[1] == "load" &&
         std::find(segment.begin(), segment.end(), "--help") == segment.end() &&
         std::find(segment.begin(), segment.end(), "--version") == segment.end();
}

// What `--opt V` or `--opt=V` gives in a simple command's words, each time it is given.
std::vector<std::string> OptionValues(const std::vector<std::string>& words, const std::string& option) {
  std::vector<std::string> out;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == option && i + 1 < words.size()) out.push_back(words[i + 1]);
    if (words[i].rfind(option + "=", 0) == 0) out.push_back(words[i].substr(option.size() + 1));
  }
  return out;
}

// The ports a load goes to, as its standard error labels them; one port is not labelled.
std::vector<std::string> LoadPorts(const std::vector<std::string>& load, const std::string& dir) {
  std::vector<std::string> ports = OptionValues(load, "--port");
  for (const std::string& list : OptionValues(load, "--ports-from"))
    for (const std::string& line : Lines(sim::ReadFile(dir + "/" + list)))
      if (const std::string port = Trim(SplitComment(line).code); !port.empty()) ports.push_back(port);
  if (std::find(load.begin(), load.end(), "--simulate") != load.end()) {
    const std::vector<std::string> n = OptionValues(load, "--simulate-devices");
    ports.clear();
    for (int i = 1; i <= (n.empty() ? 1 : std::atoi(n.back().c_str())); ++i) ports.push_back("sim" + std::to_string(i));
  }
  return ports;
}

// Standard error shows a load under way: a page for one port, one per port for several.
std::string NotLoading(const std::string& err, const std::vector<std::string>& ports) {
  static const std::regex kPage("page [0-9]{4}");
  if (ports.size() <= 1) return std::regex_search(err, kPage) ? "" : "no page on standard error";
  std::string missing;
  for (const std::string& port : ports) {
    bool found = false;
    for (const std::string& line : Lines(err))
      found = found || (line.rfind(port + ": ", 0) == 0 && std::regex_search(line, kPage));
    if (!found) missing += (missing.empty() ? "" : ", ") + port;
  }
  return missing.empty() ? "" : "no page on standard error for " + missing;
}

const std::string& StandardImage() {
  static const std::string text = sim::MakeUpdateFileText(1);
  return text;
}

struct Step {
  const DocCommand* doc = nullptr;
  std::string label;    // the form of a usage line; empty for a command as written
  std::string command;  // filled, before the stand-ins
  std::string as_run;   // with the stand-ins and the programs' folder
  std::string skip;     // why it is not run
  std::vector<std::string> faults;
  test::ChildResult result;
  bool ran = false;
  std::string outcome;  // what the list shows after "passed"
};

struct Job {
  std::vector<Step> steps;
};

class Stand {  // the stand-in devices of one job and the names they replace
 public:
  void Add(const std::string& name) {
    if (names_.count(name)) return;
    auto device = std::make_unique<sim::PtyDevice>();
    std::string path = device->SlavePath();
    if (name.find("://") != std::string::npos) {
      auto server = std::make_unique<sim::SerialServer>(device->SlavePath());
      if (!server->Installed()) {
        unavailable_ = server->Why();
        return;
      }
      if (!server->Running()) throw std::runtime_error("the serial server for " + name + ": " + server->Why());
      path = name.rfind("rfc2217", 0) == 0 ? server->Rfc2217Url() : server->RawUrl();
      servers_.push_back(std::move(server));
    }
    names_[name] = {path, device.get()};
    devices_.push_back(std::move(device));
  }
  // With every named device replaced by its stand-in, longest names first.
  std::string Replace(std::string text) const {
    std::vector<std::string> names;
    for (const auto& [name, unused] : names_) names.push_back(name);
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const std::string& name : names) {
      const std::string& path = names_.at(name).path;
      for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + path.size()))
        text.replace(at, name.size(), path);
    }
    return text;
  }
  // The stand-ins whose path `text` names.
  std::vector<std::pair<std::string, sim::PtyDevice*>> In(const std::string& text) const {
    std::vector<std::pair<std::string, sim::PtyDevice*>> out;
    for (const auto& [name, s] : names_) {
      const std::regex path("(^|[\\s=])" + std::regex_replace(s.path, std::regex("[.]"), "\\.") + "(?![0-9])");
      if (std::regex_search(text, path)) out.emplace_back(s.path, s.device);
    }
    return out;
  }
  const std::string& Unavailable() const { return unavailable_; }

 private:
  struct StandIn {
    std::string path;
    sim::PtyDevice* device;
  };
  std::vector<std::unique_ptr<sim::PtyDevice>> devices_;
  std::vector<std::unique_ptr<sim::SerialServer>> servers_;
  std::map<std::string, StandIn> names_;
  std::string unavailable_;
};

std::string Tail(const std::string& text, size_t lines = 6) {
  std::vector<std::string> all = Lines(text);
  if (all.size() > lines) all.erase(all.begin(), all.end() - static_cast<long>(lines));
  return Join(all, "\n");
}

void RunStep(Step& step, const Stand& stand, const std::string& dir) {
  const std::vector<std::vector<std::string>> segments = Segments(step.as_run);
  const std::string program = segments[0].empty() ? "" : Base(segments[0][0]);
  const bool window = program == "kvr-loader";
  for (const auto& segment : segments)
    if (!segment.empty() && IsProgram(segment[0]) &&
        access((kProgramDir + "/" + Base(segment[0])).c_str(), X_OK) != 0) {
      step.skip = Base(segment[0]) + " is not built in this configuration";
      return;
    }
  // A simple command is exec'd, so that its own exit code is seen; a list
  // runs in a shell that, like an interactive one, outlives Ctrl-C.
  const bool simple = segments.size() == 1;
  test::ChildOptions o;
  o.argv = {"/bin/sh", "-c", (simple ? "exec " : "trap : INT TERM; ") + step.as_run};
  o.cwd = dir;
  o.env = {"PATH=" + kProgramDir + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"),
           "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + dir + "/.runtime", "HOME=" + dir};
  o.own_group = true;
  o.signal_after_ms = window ? kWindowBoundMs : step.doc->sample.empty() ? kBoundMs : kShownBoundMs;
  o.sig = window ? SIGTERM : SIGINT;
  o.limit_ms = o.signal_after_ms + kGraceMs;
  step.result = test::RunChild(o);
  step.ran = true;
  const test::ChildResult& r = step.result;
  const std::string bound = std::to_string(o.signal_after_ms / 1000) + " s";
  std::vector<std::string>& faults = step.faults;
  // A load that finished as the signal came (its summary written, exit 0
  // within a moment of the signal) ended by itself: an interrupted load
  // exits 130 and says so.
  const bool finished_at_signal = r.signalled && !window && r.code == 0 &&
                                  r.seconds * 1000 < o.signal_after_ms + 1000 &&
                                  r.out.find("load complete: ") != std::string::npos;
  const bool ended = !r.signalled || finished_at_signal;

  if (r.code == -2) {
    faults.push_back("still running " + std::to_string(kGraceMs / 1000) + " s after " +
                     (window ? "SIGTERM" : "SIGINT") + ": killed");
  } else if (ended) {
    const int expected = ExpectedCode(step.command);
    step.outcome = finished_at_signal ? "ended by itself as the signal came" : "ended by itself";
    if (r.code != expected)
      faults.push_back("exit " + std::to_string(r.code) + (expected ? ", expected " + std::to_string(expected) : ""));
  } else if (window) {
    step.outcome = "still running at " + bound + ", stopped with SIGTERM";
    if (!r.err.empty()) faults.push_back("the window wrote to standard error");
  } else {
    step.outcome = "still running at " + bound + ", interrupted with SIGINT";
    if (r.code != 130) faults.push_back("exit " + std::to_string(r.code) + " after SIGINT, expected 130");
    const auto load = std::find_if(segments.begin(), segments.end(), IsLoad);
    if (program == "kvr-simload") {  // the demo at the real pace: it has opened its image and sends
      if (r.out.find("Update file: ") == std::string::npos) faults.push_back("opened no update file");
    } else if (load == segments.end()) {
      faults.push_back("runs for ever but is no load");
    } else if (std::find(load->begin(), load->end(), "--quiet") != load->end()) {
      step.outcome += " (quiet: the stand-ins tell whether it was loading)";
    } else if (const std::string why = NotLoading(r.err, LoadPorts(*load, dir)); !why.empty()) {
      faults.push_back("was not loading: " + why);
    } else {
      step.outcome += " while loading";
    }
  }
  const bool exit_right = faults.empty();  // the stand-ins are looked at only then
  if (!step.doc->sample.empty())
    if (const std::string line = MissingLine(Lines(stand.Replace(Join(step.doc->sample, "\n"))), r.out + r.err);
        !line.empty())
      faults.push_back("the output lacks the shown line \"" + line + "\"");

  for (const auto& segment : segments) {
    if (Makes(segment) && r.code == 0)
      for (const std::string& image : ImageNames(segment))
        if (sim::ImageFromUpdateText(sim::ReadFile(dir + "/" + image)).empty())
          faults.push_back("made no image " + image);
    if (!IsLoad(segment) || !exit_right) continue;
    // The stand-ins the load names, itself or in a list file it reads.
    std::string named = Join(segment, " ");
    for (const std::string& list : OptionValues(segment, "--ports-from"))
      named += "\n" + sim::ReadFile(dir + "/" + list);
    const std::vector<std::string> images = ImageNames(segment);
    for (const auto& [path, device] : stand.In(named)) {
      if (device->FramesReceived() == 0) faults.push_back("nothing reached the stand-in " + path);
      if (r.code == 0 && ended && images.size() == 1 &&
          !sim::ImageEqualsFile(device->Image(), dir + "/" + images[0]))
        faults.push_back("the load completed, but the stand-in " + path + " does not hold the image");
    }
    if (r.code == 0 && ended && std::find(segment.begin(), segment.end(), "--simulate") != segment.end() &&
        r.out.find("image equal to the file") == std::string::npos)
      faults.push_back("the simulated device's verdict is missing");
  }
  if (!faults.empty())
    faults.push_back("standard error ends:\n" + Tail(r.err) + "\nstandard output ends:\n" + Tail(r.out));
}

void RunJobSteps(Job& job) {
  test::TempDir dir;
  mkdir((dir.Path() + "/.runtime").c_str(), 0700);
  Stand stand;
  std::map<std::string, std::string> files;  // written before the job's commands run
  std::set<std::string> made, read;          // image names
  std::set<std::string> recorded;            // record files a load of the job writes
  for (const Step& step : job.steps) {
    if (!step.skip.empty()) continue;
    for (const std::string& name : DevicesIn(step.command)) stand.Add(name);
    for (const auto& segment : Segments(step.command)) {
      for (const std::string& image : ImageNames(segment)) (Makes(segment) ? made : read).insert(image);
      if (segment.size() == 2 && segment[0] == "cat" && !step.doc->sample.empty())
        files[segment[1]] = Join(step.doc->sample, "\n") + "\n";
      for (const std::string& list : OptionValues(segment, "--ports-from"))
        if (list == kPortsFile) files[list] = "# the test's stand-ins\n/dev/ttyUSB0  # first\n/dev/ttyUSB1\n";
      for (const std::string& record : OptionValues(segment, "--record")) recorded.insert(record);
      // A record file read before any step of the job writes one: a record of a load.
      if (segment.size() >= 3 && Base(segment[0]) == "kvr-loader-cli" && segment[1] == "records" &&
          !recorded.count(segment[2]))
        files[segment[2]] = kRecordLine;
    }
  }
  for (const auto& [name, text] : files)
    for (const std::string& device : DevicesIn(text)) stand.Add(device);
  for (const auto& [name, text] : files) sim::WriteFile(dir.File(name), stand.Replace(text));
  for (const std::string& image : read)
    if (!made.count(image)) sim::WriteFile(dir.File(image), StandardImage());

  for (Step& step : job.steps) {
    if (!step.skip.empty()) continue;
    if (!stand.Unavailable().empty()) {
      step.skip = stand.Unavailable();
      continue;
    }
    step.as_run = stand.Replace(step.command);
    // The folder itself may be build/release/bin: look on after each replacement.
    for (size_t at = 0; (at = step.as_run.find("build/release/bin/", at)) != std::string::npos;
         at += kProgramDir.size() + 1)
      step.as_run.replace(at, 18, kProgramDir + "/");
    RunStep(step, stand, dir.Path());
  }
}

void RunJob(Job& job) {
  try {
    RunJobSteps(job);
  } catch (const std::exception& e) {
    for (Step& step : job.steps)
      if (step.skip.empty()) step.faults.push_back(std::string("could not be run: ") + e.what());
  }
}

// The jobs for the documents' commands: a "$ " block is one job, any other command one of its own.
std::vector<Job> Plan(const std::vector<DocCommand>& commands) {
  std::vector<Job> jobs;
  for (const DocCommand& doc : commands) {
    std::vector<Step> steps;
    const auto add = [&](const std::string& label, const std::string& command) {
      Step s;
      s.doc = &doc;
      s.label = label;
      s.command = command;
      steps.push_back(s);
      return &steps.back();
    };
    if (const std::string why = SkipReason(doc.text); !why.empty()) {
      add("", doc.text)->skip = why;
    } else if (!IsUsage(doc.text)) {
      add("", doc.text);
    } else {
      std::string error;
      const std::vector<Form> forms = Expand(doc.text, error);
      if (!error.empty()) add("", doc.text)->faults.push_back("the usage line does not parse: " + error);
      for (const Form& form : forms) {
        std::vector<std::string> unknown;
        int seen = 0;
        Step* s = add(form.label, Fill(form.command, unknown, seen));
        for (const std::string& u : unknown)
          s->faults.push_back("the placeholder " + u + " is not in the test's table (form: " + form.command + ")");
      }
    }
    for (Step& s : steps) {
      if (!s.skip.empty() || !s.faults.empty()) continue;
      for (const auto& segment : Segments(s.command))
        if (segment.empty() || !(IsProgram(segment[0]) || (segment[0] == "cat" && !doc.block.empty())))
          s.faults.push_back(
              "neither run here nor in the skip table: " +
              (segment.empty() ? std::string("an empty command") : segment[0] + " is no program it runs"));
    }
    for (Step& s : steps)
      if (!s.faults.empty()) s.skip = "-";  // not run: a fault of the document or the tables
    if (doc.block.empty() || jobs.empty() || jobs.back().steps.back().doc->block != doc.block) jobs.emplace_back();
    for (Step& s : steps) jobs.back().steps.push_back(std::move(s));
  }
  return jobs;
}

struct Totals {
  int passed = 0, failed = 0, skipped = 0;
};
Totals all_totals;

// Runs the jobs, prints the list and reports each fault; the totals of this run.
Totals RunAndList(std::vector<Job> jobs) {
  StandardImage();  // made once, before the workers share it
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i)
    workers.emplace_back([&] {
      for (size_t j; (j = next++) < jobs.size();) RunJob(jobs[j]);
    });
  for (std::thread& t : workers) t.join();

  Totals totals;
  std::ostringstream list;
  const DocCommand* shown = nullptr;
  for (const Job& job : jobs)
    for (const Step& step : job.steps) {
      if (step.doc != shown) list << step.doc->where << ": " << step.doc->text << "\n";
      shown = step.doc;
      if (!step.label.empty() || (step.ran && step.as_run != step.doc->text))
        list << "    " << (step.label.empty() ? "as run" : step.label) << ": "
             << (step.as_run.empty() ? step.command : step.as_run) << "\n";
      const test::ChildResult& r = step.result;
      std::ostringstream figures;
      figures << "exit " << r.code << ", " << std::fixed << std::setprecision(1) << r.seconds << " s";
      if (!step.faults.empty()) {
        ++totals.failed;
        list << "        FAILED" << (step.ran ? " (" + figures.str() + ")" : "") << ": " << step.faults[0] << "\n";
        std::string all;
        for (const std::string& f : step.faults) all += "\n  " + f;
        ADD_FAILURE() << step.doc->where << ": " << step.doc->text << "\n  "
                      << (step.label.empty() ? "" : step.label + ": ")
                      << (step.as_run.empty() ? step.command : step.as_run) << all;
      } else if (!step.skip.empty()) {
        ++totals.skipped;
        list << "        skipped: " << step.skip << "\n";
      } else {
        ++totals.passed;
        list << "        passed (" << figures.str() << "): ran, " << step.outcome << "\n";
      }
    }
  list << totals.passed << " passed, " << totals.failed << " failed, " << totals.skipped << " skipped\n";
  std::cout << list.str() << std::flush;
  all_totals.passed += totals.passed;
  all_totals.failed += totals.failed;
  all_totals.skipped += totals.skipped;
  return totals;
}

class PrintTotals : public ::testing::Environment {
 public:
  void TearDown() override {
    if (all_totals.passed + all_totals.failed + all_totals.skipped > 0)
      std::cout << "all documents: " << all_totals.passed << " passed, " << all_totals.failed << " failed, "
                << all_totals.skipped << " skipped\n";
  }
};
::testing::Environment* const kPrintTotals = ::testing::AddGlobalTestEnvironment(new PrintTotals);

std::vector<DocCommand> ReadmeCommands() {
  const std::string text = sim::ReadFile(kSourceDir + "/README.md");
  return MarkdownCommands(text, "README.md");
}

bool ThroughAServer(const DocCommand& c) {
  return c.text.find("rfc2217://") != std::string::npos || c.text.find("socket://") != std::string::npos;
}

// ------------------------------------------------------------------ the tests

TEST(DocCommands, Readme) {
  std::vector<DocCommand> commands = ReadmeCommands();
  ASSERT_GE(commands.size(), 10u) << "README.md: too few commands found; is it where the test looks (" << kSourceDir
                                  << ")?";
  commands.erase(std::remove_if(commands.begin(), commands.end(), ThroughAServer), commands.end());
  RunAndList(Plan(commands));
}

TEST(DocCommands, ReadmeThroughASerialServer) {
  std::vector<DocCommand> commands = ReadmeCommands();
  commands.erase(std::remove_if(commands.begin(), commands.end(), [](const auto& c) { return !ThroughAServer(c); }),
                 commands.end());
  ASSERT_FALSE(commands.empty()) << "README.md shows no load through a serial server";
  const Totals t = RunAndList(Plan(commands));
  if (t.passed + t.failed == 0) GTEST_SKIP() << "no serial server here (ser2net is not installed)";
}

TEST(DocCommands, ManualPages) {
  std::vector<DocCommand> commands;
  for (const char* page : {"kvr-loader-cli.1.in", "kvr-loader.1.in", "kvr-render.1.in"}) {
    const std::string text = sim::ReadFile(kSourceDir + "/packaging/" + page);
    const std::vector<DocCommand> found = ManCommands(text, std::string("packaging/") + page);
    EXPECT_FALSE(found.empty()) << page << ": no SYNOPSIS line found";
    commands.insert(commands.end(), found.begin(), found.end());
  }
  RunAndList(Plan(commands));
}

// The machinery on texts of its own.

TEST(DocExtract, MarkdownCodeBlocks) {
  const std::string text =
      "Prose naming `kvr-loader-cli ports`.\n\n"
      "    kvr-loader-cli load --port A FILE.KVR [--baud N]\n"
      "                   [--quiet]\n"
      "    error: not a command\n"
      "    kvr-loader       -> loader_window\n"
      "\n"
      "    build/release/bin/kvr-render gradients -o g.png  # all of them\n"
      "still prose\n"
      "    kvr-loader-cli ports (a continued paragraph, no block)\n\n"
      "```\n"
      "$ cat list.txt\n"
      "kvr-loader-cli shown output\n"
      "$ scripts/x.sh\n"
      "```\n";
  const std::vector<DocCommand> c = MarkdownCommands(text, "R");
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(c[0].where, "R:3");
  EXPECT_EQ(c[0].text, "kvr-loader-cli load --port A FILE.KVR [--baud N] [--quiet]");
  EXPECT_EQ(c[1].text, "build/release/bin/kvr-render gradients -o g.png  # all of them");
  EXPECT_EQ(c[2].text, "cat list.txt");
  EXPECT_EQ(c[2].sample, std::vector<std::string>{"kvr-loader-cli shown output"});
  EXPECT_EQ(c[3].text, "scripts/x.sh");
  EXPECT_TRUE(c[3].sample.empty());
  EXPECT_EQ(c[2].block, c[3].block);
  EXPECT_NE(c[2].block, "");
}

TEST(DocExtract, ManualPageSynopsisAndExamples) {
  const std::string page =
      ".SH SYNOPSIS\n"
      ".B kvr-loader-cli load\n"
      ".RB [ \\-\\-port\n"
      ".IR PORT \" ...] [\" options ]\n"
      ".I FILE.KVR\n"
      ".br\n"
      ".BI \"kvr-render gauge \\-\\-size \" WxH \" \\fR[\\fPoptions\\fR]\\fP \\-o \" FILE.png\n"
      ".SH DESCRIPTION\n"
      ".B not this\n"
      ".SH EXAMPLES\n"
      "text\n"
      ".nf\n"
      "kvr\\-loader\\-cli ports\n"
      ".fi\n";
  const std::vector<DocCommand> c = ManCommands(page, "M");
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].text, "kvr-loader-cli load [--port PORT ...] [options] FILE.KVR");
  EXPECT_EQ(c[0].where, "M:2");
  EXPECT_EQ(c[1].text, "kvr-render gauge --size WxH [options] -o FILE.png");
  EXPECT_EQ(c[2].text, "kvr-loader-cli ports");
  EXPECT_EQ(c[2].where, "M:13");
}

std::vector<std::string> Commands(const std::string& usage) {
  std::string error;
  std::vector<std::string> out;
  for (const Form& f : Expand(usage, error)) out.push_back(f.command);
  EXPECT_EQ(error, "") << usage;
  return out;
}

TEST(UsageGrammar, ShortestFullestAndEachAlternative) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Commands("p [a|b|c] --help"), (V{"p --help", "p a --help", "p b --help", "p c --help"}));
  EXPECT_EQ(Commands("p (x X | y) [z [w]] F  # note"),
            (V{"p x X F  # note", "p x X z w F  # note", "p y z w F  # note"}));
  EXPECT_EQ(Commands("p --port A [--port C ...] f"), (V{"p --port A f", "p --port A --port C f"}));
  EXPECT_EQ(Commands("p --f [D:]s=N,r=RATE"), (V{"p --f s=N,r=RATE", "p --f D:s=N,r=RATE"}));
  EXPECT_EQ(Commands("p '[kept]' [options]"), (V{"p '[kept]'", "p '[kept]' [options]"}));
  EXPECT_EQ(Commands("p x | grep y"), (V{"p x | grep y"}));
  std::string error;
  Expand("p [a", error);
  EXPECT_NE(error, "");
  error.clear();
  Expand("p a]", error);
  EXPECT_NE(error, "");
}

TEST(UsageGrammar, PlaceholdersAreFilledOrNamed) {
  std::vector<std::string> unknown;
  int seen = 0;
  EXPECT_EQ(Fill("kvr-loader-cli load --simulate --simulate-faults D:split=N,drop=RATE,noiseat=REPLY:BYTES "
                 "--retries=N FILE.KVR",
                 unknown, seen),
            "kvr-loader-cli load --simulate --simulate-faults 1:split=3,drop=0.001,noiseat=10:5 --retries=3 FILE.KVR");
  EXPECT_EQ(Fill("kvr-loader-cli load --simulate-faults 2:seed=N", unknown, seen),
            "kvr-loader-cli load --simulate-faults 2:seed=1");
  EXPECT_EQ(Fill("kvr-loader-cli make-image --seed N FILE", unknown, seen),
            "kvr-loader-cli make-image --seed 5 NEW.KVR");
  EXPECT_EQ(Fill("kvr-render gauge --kind KIND [options] -o FILE.png  # A", unknown, seen),
            "kvr-render gauge --kind gkPie --progress 42 --border bsSingle --showtext 1 -o picture.png  # A");
  EXPECT_TRUE(unknown.empty());
  Fill("kvr-loader-cli load --port PORT --level LEVEL UPDATE.KVR", unknown, seen);
  EXPECT_EQ(unknown, std::vector<std::string>{"LEVEL"});
  EXPECT_FALSE(IsUsage("kvr-loader-cli load --port /dev/ttyUSB0 FW_2_14.KVR  # see NOTE"));
  EXPECT_TRUE(IsUsage("kvr-loader-cli make-image FILE"));
}

TEST(OutputShape, ShownLinesInOrderByShape) {
  const std::string out =
      "PORT  RESULT\n"
      "sim1  complete  00:02  0  load complete: 41474 commands in 2.1 s (19165.4 commands/s); simulated device: ok\n"
      "sim2  no answer  00:00  3  gave up\n";
  EXPECT_EQ(MissingLine({"sim1  complete  00:09  7  load complete: 1 commands in 9 s (...); simulated device: ok", "",
                         "sim2  no answer  00:01  1  gave up"},
                        out),
            "");
  EXPECT_EQ(MissingLine({"sim2  no answer  00:00  3  gave up", "sim1  complete ..."}, out), "sim1  complete ...");
  EXPECT_EQ(MissingLine({"sim2  no answer  00:00  x  gave up"}, out), "sim2  no answer  00:00  x  gave up");
  EXPECT_EQ(MissingLine({"sim2  no answer"}, out), "sim2  no answer");  // a whole line, not its start
}

}  // namespace
}  // namespace kvr
