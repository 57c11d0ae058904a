// The serial port a load runs on, set up the same way by every front end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "va_comm.h"

namespace kvr {

// The load's line on `device_path` at `baud` bits per second: no flow
// control, a read waits up to 5 s for its bytes, writes have no time-out.
// Received bytes go to `on_bytes`; a device that goes away to `on_lost`
// (both on the thread the component hands its events to). The port must be
// closed.
void SetUpLoadPort(va::TVaComm& port, const std::string& device_path, uint32_t baud,
                   std::function<void(int count)> on_bytes, std::function<void()> on_lost);

}  // namespace kvr
