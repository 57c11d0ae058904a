// Any --ports-from file (up to past its 64 KiB limit): either refused with a
// --ports-from message, or at most 64 ports, one per line that is not blank
// once its comment is cut, each trimmed, without '#', NUL or line break.
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_check.h"

#include "port_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file(reinterpret_cast<const char*>(data), size);
  const std::string& path = FileHolding(file);
  std::vector<std::string> ports;
  const base::Status read = kvr::cli::ReadPortList(path, ports);
  if (!read) {
    Check(read.error().text.rfind("--ports-from: " + path + " ", 0) == 0, "a refusal names the option and the file");
    return 0;
  }
  Check(size <= 64 * 1024, "a file over 64 KiB is refused");
  Check(ports.size() <= static_cast<size_t>(kvr::cli::kMaxPorts), "at most 64 ports");
  size_t named = 0;
  std::istringstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    line.erase(std::min(line.find('#'), line.size()));
    if (line.find_first_not_of(" \t\r") != std::string::npos) ++named;
  }
  Check(ports.size() == named, "one port per line with a name");
  for (const std::string& port : ports) {
    Check(!port.empty(), "no empty port");
    Check(port.find_first_of(std::string("#\n\0", 3)) == std::string::npos, "no comment, line break or NUL");
    Check(std::string(" \t\r").find(port.front()) == std::string::npos &&
              std::string(" \t\r").find(port.back()) == std::string::npos,
          "blanks around a name are cut");
  }
  return 0;
}
