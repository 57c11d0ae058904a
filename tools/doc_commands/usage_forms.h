// Usage lines made into commands that run. A usage line has optional groups
// [...], required groups (...), alternatives separated by '|' inside them,
// "..." for a repetition and upper-case PLACEHOLDERS; "[options]" stands for
// a program's options. It becomes its shortest form (no optional group, the
// first alternative of each required one), its fullest (every group), and
// the fullest with each further alternative of each group; the placeholders
// are then filled from a table.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kvr::docs {

struct Form {
  std::string label;  // "shortest", "fullest" or "alternative"
  std::string command;
};

// A usage line's forms, each command once, with the line's comment kept at
// the end. Quoted text is kept as written, a '|' outside brackets is the
// shell's pipe. On an unbalanced bracket or quote: no forms, and `error` says why.
std::vector<Form> Expand(const std::string& usage, std::string& error);

// A placeholder: upper-case words, perhaps joined by ':' or 'x' (REPLY:BYTES,
// WxH), perhaps with a lower-case suffix (FILE.json); FILE.KVR is a file name.
bool IsPlaceholder(const std::string& word);

// What placeholders become.
struct Placeholders {
  // Keyed by the word before the placeholder ("--baud N"), the command's
  // subcommand ("make-image FILE"), its item's name inside a word ("split=N",
  // "D:" before the first item) or the placeholder alone ("RATE"); tried in
  // that order.
  std::map<std::string, std::string> values;
  // What "[options]" becomes, by program and subcommand ("kvr-render gauge")
  // or by program alone.
  std::map<std::string, std::string> options;
};

// The form with its placeholders filled from `table`; those it does not know
// stay and go to `unknown`, and `seen` counts the placeholders met.
std::string Fill(const std::string& form, const Placeholders& table, std::vector<std::string>& unknown, int& seen);

// A usage line rather than a command as it runs: brackets outside quotes, or a placeholder.
bool IsUsage(const std::string& command);

}  // namespace kvr::docs
