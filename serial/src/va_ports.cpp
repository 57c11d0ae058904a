#include "va_ports.h"

#include "va_platform.h"

namespace va {

std::vector<TVaPortFound> FindPorts(const std::string& dev_root, const std::string& sys_root) {
  return platform::ProbePorts(dev_root, sys_root);
}

std::vector<std::string> ListPorts() {
  std::vector<std::string> ready;
  for (const TVaPortFound& port : platform::ProbePorts())
    if (port.Access == acReady) ready.push_back(port.Path);
  return ready;
}

std::string DevicePathFor(const std::string& port_name) { return platform::DevicePathFor(port_name); }

TVaPortIdentity IdentifyPort(const std::string& device_path, const std::string& sys_root, const std::string& dev_root) {
  return platform::IdentifyPort(device_path, sys_root, dev_root);
}

}  // namespace va
