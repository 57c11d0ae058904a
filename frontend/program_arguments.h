// A program's arguments as UTF-8, for the front ends' option parsing.
#pragma once

#include <string>
#include <vector>

namespace kvr {

// argv[1..] as UTF-8. On Windows they are taken from the wide command line
// instead: the narrow argv holds them in the ANSI code page, which cannot
// spell every path.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace kvr
