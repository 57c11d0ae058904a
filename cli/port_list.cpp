#include "port_list.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "program_arguments.h"

namespace kvr::cli {

base::Status ReadPortList(const std::string& path, std::vector<std::string>& ports) {
  const auto refused = [&path](const std::string& why) {
    return base::UsageFailure("--ports-from: " + path + " " + why);
  };
  // A plain file of reasonable size: a device or a pipe could be read without end.
  std::error_code ec;
  const std::filesystem::path file = Utf8Path(path);
  const std::filesystem::file_status status = std::filesystem::status(file, ec);
  if (ec) return refused("cannot be read: " + ec.message());
  if (!std::filesystem::is_regular_file(status)) return refused("is not a plain file");
  if (std::filesystem::file_size(file, ec) > 64 * 1024) return refused("is larger than 64 KiB");
  errno = 0;
  std::ifstream in(file);
  if (!in) return refused(std::string("cannot be read: ") + (errno ? std::strerror(errno) : "refused"));
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    line.erase(std::min(line.find('#'), line.size()));
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    // The system would open the name only up to the NUL: another port.
    if (line.find('\0') != std::string::npos) return refused("line " + std::to_string(number) + " holds a NUL byte");
    const size_t last = line.find_last_not_of(" \t\r");
    ports.push_back(line.substr(first, last - first + 1));
    if (ports.size() > static_cast<size_t>(kMaxPorts))
      return refused("names more than " + std::to_string(kMaxPorts) + " ports");
  }
  if (in.bad()) return refused(std::string("cannot be read: ") + (errno ? std::strerror(errno) : "a read failed"));
  return {};
}

}  // namespace kvr::cli
