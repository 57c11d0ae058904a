// The serial ports of a Linux machine: the nodes under /dev that may be
// ports, which of them open now, and what the kernel's records (sysfs) say
// of each one's adapter.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "va_posix.h"

namespace va::platform {

namespace posix {

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = a[i] >= '0' && a[i] <= '9', db = b[j] >= '0' && b[j] <= '9';
    if (da && db) {
      size_t ei = i, ej = j;
      while (ei < a.size() && a[ei] >= '0' && a[ei] <= '9') ++ei;
      while (ej < b.size() && b[ej] >= '0' && b[ej] <= '9') ++ej;
      // Compare the numbers by value: strip leading zeros, then length, then digits.
      size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      const int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

bool IsSerialNodeName(const std::string& name) {
  for (const char* prefix : {"ttyUSB", "ttyACM", "ttyAMA", "ttyS", "rfcomm"}) {
    const size_t n = std::strlen(prefix);
    if (name.size() > n && name.compare(0, n, prefix) == 0 &&
        std::all_of(name.begin() + n, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return true;
  }
  return false;
}

}  // namespace posix

namespace {

// The first line of a sysfs attribute, "" when there is none. The kernel
// gives an attribute at most a page: a longer one is not its word, and is
// read no further.
std::string ReadAttribute(const std::filesystem::path& file) {
  constexpr size_t kPage = 4096;
  std::ifstream in(file, std::ios::binary);
  std::string line(kPage, '\0');
  in.read(line.data(), kPage);
  line.resize(static_cast<size_t>(in.gcount()));
  line.erase(std::min(line.find('\n'), line.size()));
  return line;
}

// Whether the port could be opened now; nothing when there is no port. Found
// with one open and close, without disturbing a program that holds it:
// nothing is flushed, no exclusive mode set or cleared (root passes another's
// TIOCEXCL, so it is asked for). `uart_record` is given for a legacy ttyS node
// (one exists for every possible 8250 port): only one with a UART counts, as
// the driver says to whoever may open the node and the kernel's record says
// to everyone else (and while another program holds the port).
std::optional<TVaPortAccess> ProbeAccess(const std::string& path, const std::string& uart_record) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (!uart_record.empty()) {
      const std::string type = ReadAttribute(uart_record);
      if (type.empty() || type == "0") return std::nullopt;
    }
    if (error == EACCES || error == EPERM) return acDenied;
    if (error == EBUSY) return acBusy;
    return std::nullopt;
  }
  std::optional<TVaPortAccess> access = acReady;
  int exclusive = 0;
  serial_struct info{};
  if (!isatty(fd) || (!uart_record.empty() && (ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type == PORT_UNKNOWN))) {
    access = std::nullopt;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)) {
    access = acBusy;
  }
  close(fd);  // and with it the lock
  return access;
}

}  // namespace

std::vector<TVaPortFound> ProbePorts(const std::string& dev_root, const std::string& sys_root) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(dev_root.c_str())) {
    while (const dirent* e = readdir(dir))
      if (posix::IsSerialNodeName(e->d_name)) names.emplace_back(e->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end(), posix::NaturalLess);
  std::vector<TVaPortFound> ports;
  for (const std::string& name : names) {
    const std::string path = dev_root + "/" + name;
    const bool legacy = name.compare(0, 4, "ttyS") == 0;
    if (const std::optional<TVaPortAccess> access =
            ProbeAccess(path, legacy ? sys_root + "/class/tty/" + name + "/type" : std::string()))
      ports.push_back({path, *access});
  }
  return ports;
}

std::string DevicePathFor(const std::string& port_name) {
  // Names are relative to /dev ("ttyUSB0", "pts/3"); paths start with / or .
  if (port_name.empty() || port_name[0] == '/' || port_name[0] == '.' || IsNetworkPortName(port_name)) return port_name;
  return "/dev/" + port_name;
}

TVaPortIdentity IdentifyPort(const std::string& device_path, const std::string& sys_root, const std::string& dev_root) {
  namespace fs = std::filesystem;
  std::error_code ec;
  TVaPortIdentity identity;
  if (IsNetworkPortName(device_path)) {  // a port on a serial server: its name is all there is
    identity.Name = device_path;
    return identity;
  }
  const fs::path device = fs::canonical(device_path, ec);
  identity.Name = (ec ? fs::path(device_path) : device).filename().string();
  struct stat st {};
  if (ec || stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return identity;  // no device there
  std::error_code dec;
  const std::string under = fs::canonical(dev_root, dec).string() + "/";
  if (!dec && device.string().compare(0, under.size(), under) == 0)
    identity.Name = device.string().substr(under.size());
  // The stable name: the by-id link that leads to this device.
  for (const fs::directory_entry& link : fs::directory_iterator(fs::path(dev_root) / "serial/by-id", ec)) {
    std::error_code lec;
    if (fs::canonical(link.path(), lec) == device && !lec) {
      identity.ById = link.path().string();
      break;
    }
  }
  // The kernel's record of the device number, not of the name: a container
  // may give a device another one's name.
  const std::string number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  const fs::path record = fs::canonical(fs::path(sys_root) / "dev/char" / number, ec);
  if (ec) return identity;
  identity.Name = record.filename().string();
  // The tty's device, then up the tree to the USB device that holds the ids.
  const fs::path root = fs::canonical(sys_root, ec);
  if (ec) return identity;
  for (fs::path dir = fs::canonical(record / "device", ec); !ec && dir != root && dir != dir.parent_path();
       dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", ec)) {
      identity.VendorId = ReadAttribute(dir / "idVendor");
      identity.ProductId = ReadAttribute(dir / "idProduct");
      identity.Manufacturer = ReadAttribute(dir / "manufacturer");
      identity.Product = ReadAttribute(dir / "product");
      identity.SerialNumber = ReadAttribute(dir / "serial");
      break;
    }
  }
  return identity;
}

}  // namespace va::platform
