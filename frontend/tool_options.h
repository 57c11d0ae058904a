// Option parsing for the command-line tools (CLI11): every tool has --help
// and --version; a refused value is named with its option, the value and what
// is allowed, and the tool exits with kToolUsageExit.
#pragma once

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hex_text.h"
#include "program_arguments.h"
#include "update_file.h"

namespace kvr {

inline constexpr int kToolUsageExit = 1;

// A tool's refusal of its arguments, on standard error, with the hint to its help.
inline void ReportRefusal(const std::string& tool, const std::string& problem) {
  std::cerr << tool << ": " << WithoutControls(problem) << "\n(" << tool << " --help lists the options)\n";
}

// `text` as a whole number from lo to hi, with nothing else in it.
template <class T>
bool WholeIn(std::string_view text, T lo, T hi, T& v) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && v >= lo && v <= hi;
}

// Whole numbers from lo to hi, nothing else in the text.
inline CLI::Validator WholeNumber(int64_t lo, int64_t hi) {
  const std::string range = "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
  return CLI::Validator(
      [lo, hi, range](std::string& text) -> std::string {
        int64_t v = 0;
        if (!WholeIn(text, lo, hi, v)) return "\"" + text + "\" is not " + range;
        return {};
      },
      "INT " + std::to_string(lo) + ".." + std::to_string(hi));
}

// The value of a decimal number as DecimalNumber accepts it: digits with an
// optional sign and fraction (no exponent, no hexadecimal, no blanks).
inline double DecimalValue(const std::string& text) {
  double v = std::numeric_limits<double>::quiet_NaN();
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
  return ec == std::errc() && end == text.data() + text.size() ? v : std::numeric_limits<double>::quiet_NaN();
}

// Finite decimal numbers from lo to hi, nothing else in the text.
inline CLI::Validator DecimalNumber(double lo, double hi) {
  const auto text_of = [](double v) {
    std::string s = std::to_string(v);
    s.erase(s.find_last_not_of('0') + 1);
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
  };
  const std::string range = "a number from " + text_of(lo) + " to " + text_of(hi);
  return CLI::Validator(
      [lo, hi, range](std::string& text) -> std::string {
        const double v = DecimalValue(text);
        if (!std::isfinite(v) || v < lo || v > hi) return "\"" + text + "\" is not " + range;
        return {};
      },
      "NUMBER " + text_of(lo) + ".." + text_of(hi));
}

// Parses a program's arguments (argv[1..] as UTF-8). Returns the exit code
// when the program ends here: 0 after --help or --version, kToolUsageExit
// after a refusal (named on standard error); nothing to go on.
inline std::optional<int> ParseToolOptions(CLI::App& app, std::vector<std::string> args) {
  const std::vector<std::string> given = args;  // the parser uses `args` up
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  // An option of one value given twice is refused in the tool's words: the
  // parser is told to keep both, and the count is looked at afterwards.
  std::vector<CLI::Option*> single;
  const auto collect = [&single](CLI::App* a, const auto& self) -> void {
    for (CLI::Option* opt : a->get_options()) {
      if (opt->get_expected_max() == 1 && opt->get_multi_option_policy() == CLI::MultiOptionPolicy::Throw &&
          !opt->get_positional()) {
        opt->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        single.push_back(opt);
      }
    }
    for (CLI::App* sub : a->get_subcommands({})) self(sub, self);
  };
  collect(&app, collect);
  try {
    app.parse(args);
    for (const CLI::Option* opt : single) {
      if (opt->count() > 1) throw CLI::ArgumentMismatch(opt->get_name() + " given twice");
    }
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    ReportRefusal(app.get_name(), e.what());
    // A file whose name starts with a dash reads as an option: the way out.
    for (auto it = given.begin(); it != given.end() && *it != "--"; ++it) {
      if (it->size() > 1 && (*it)[0] == '-' && HasUpdateFileExtension(*it)) {
        std::cerr << "hint: " << WithoutControls(*it) << " starts with a dash: give it after --, as in "
                  << app.get_name() << " ... -- " << WithoutControls(*it) << "\n";
        break;
      }
    }
    return kToolUsageExit;
  }
  return std::nullopt;
}

// The same for the program's own arguments.
inline std::optional<int> ParseToolOptions(CLI::App& app, int argc, char** argv) {
  return ParseToolOptions(app, Utf8Arguments(argc, argv));
}

}  // namespace kvr
