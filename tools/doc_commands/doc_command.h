// One command line as a document shows it, with where it stands and the
// output shown after it.
#pragma once

#include <string>
#include <vector>

namespace kvr::docs {

struct DocCommand {
  std::string where;                // README.md:214
  std::string text;                 // as written; a wrapped usage line joined
  std::vector<std::string> sample;  // the output shown after a "$ " command
  std::string block;                // a "$ " block's commands run in one folder, in order; empty: on its own
};

}  // namespace kvr::docs
