// The words of a documented command line and the small text helpers the
// documents' readers share: lines, blank-separated words, a trailing
// "# comment", the shell's words (quotes kept) and the simple commands of a
// list (a && b; c).
#pragma once

#include <string>
#include <vector>

namespace kvr::docs {

// The text without leading and trailing blanks, tabs and carriage returns.
std::string Trim(const std::string& s);
// The text's lines, without their newlines.
std::vector<std::string> Lines(const std::string& s);
// The words between blanks (blanks, tabs and newlines).
std::vector<std::string> Blanks(const std::string& s);
// The words with `between` between each two.
std::string Join(const std::vector<std::string>& words, const std::string& between);
// The words with one blank between each two.
std::string Squeeze(const std::string& s);

// The last name of a path: build/release/bin/kvr-render is kvr-render.
std::string Base(const std::string& word);
// One of the programs built here, also behind a path such as build/release/bin/.
bool IsProgram(const std::string& word);
// A word with a quote in it, kept as written.
bool Quoted(const std::string& word);

// A command split into the shell's code and its trailing "# comment" (with
// the blanks before the '#'). A '#' inside quotes or inside a word is code.
struct Code {
  std::string code, comment;
};
Code SplitComment(const std::string& s);

// The shell's words: blanks outside quotes separate; the quotes stay in the word.
std::vector<std::string> ShellWords(const std::string& code);
// &&, ||, ; and | between the simple commands of a list.
bool IsOperator(const std::string& word);
// The words of each simple command of a list (a && b; c), its comment left out.
std::vector<std::vector<std::string>> Segments(const std::string& command);

}  // namespace kvr::docs
