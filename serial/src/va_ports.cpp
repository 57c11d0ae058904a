#include "va_ports.h"

#include "va_platform.h"

namespace va {

std::vector<std::string> ListPorts() { return platform::ProbePorts(); }

std::string DevicePathFor(const std::string& port_name) { return platform::DevicePathFor(port_name); }

}  // namespace va
