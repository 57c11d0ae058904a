// The ports of a gang load: at most kMaxPorts, named on the command line or
// in a --ports-from file.
#pragma once

#include <string>
#include <vector>

#include "result.h"

namespace kvr::cli {

inline constexpr int kMaxPorts = 64;

// --ports-from: one port per line; # starts a comment that runs to the end of
// the line; blank lines are skipped, blanks around a name too. Appends the
// ports to `ports`; the failure says what is wrong with the file.
base::Status ReadPortList(const std::string& path, std::vector<std::string>& ports);

}  // namespace kvr::cli
