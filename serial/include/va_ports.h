// The machine's serial ports, for a program's port list and port choice.
#pragma once

#include <string>
#include <vector>

namespace va {

// Device paths of the serial ports that can be opened now, in natural order.
std::vector<std::string> ListPorts();

// The device path for a port name ("COM3" -> \\.\COM3 on Windows, "ttyUSB0" or
// "pts/3" -> /dev/... elsewhere); a name that already is a path is kept as given.
std::string DevicePathFor(const std::string& port_name);

}  // namespace va
