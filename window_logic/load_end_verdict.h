// What a window program tells when a load ends, for --exit-at-end and
// --simulate: the simulated device's verdict in the debug log and on standard
// output, a load that did not complete on standard error, and the exit code.
#pragma once

#include <functional>
#include <string>

#include "loader_window_logic.h"

namespace kvr {

// 1 when the load did not complete (told with --exit-at-end) or the device's
// image differs from the file (`device_image_equal`, when there is a
// simulated device), else 0.
int LoadEndVerdict(LoaderWindowLogic& logic, LoadOutcome outcome, const std::string& message, bool exit_at_end,
                   const std::function<bool()>& device_image_equal);

}  // namespace kvr
