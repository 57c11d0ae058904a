// What a window program tells when a load ends, for --exit-at-end and
// --simulate: the simulated device's verdict on standard output, a load that
// did not complete on standard error, and the exit code.
#pragma once

#include <string>

#include "loader_window_logic.h"

namespace kvr {

// 1 when the load did not complete (told with --exit-at-end) or the
// simulated device's image differs from the one loaded, else 0.
int LoadEndVerdict(const LoaderWindowLogic& logic, LoadOutcome outcome, const std::string& message,
                   bool exit_at_end);

}  // namespace kvr
