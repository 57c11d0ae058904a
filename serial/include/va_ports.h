// The machine's serial ports, for a program's port list and port choice.
#pragma once

#include <string>
#include <vector>

namespace va {

// What a port is where its name does not say (Windows' COMn): the system's
// device records tell there. Linux leaves it unknown (ttyS0, rfcomm0 say it);
// a USB adapter is told by its VendorId everywhere.
enum TVaPortKind { pkUnknown, pkBuiltIn, pkBluetooth };

// What the system knows of a port's adapter; empty fields where it knows
// nothing (a built-in UART, a pseudo-terminal, a system without records).
// Windows also gives a port that is not on USB its Product and Manufacturer
// from the device's records ("Communications Port").
struct TVaPortIdentity {
  std::string Name;      // the kernel's name: ttyUSB0, ttyACM1, COM7
  std::string ById;      // the stable /dev/serial/by-id/... name
  std::string VendorId;  // USB ids, four hexadecimal digits
  std::string ProductId;
  std::string Manufacturer;
  std::string Product;
  std::string SerialNumber;
  TVaPortKind Kind = pkUnknown;
  bool IsUsb() const { return !VendorId.empty(); }
};

// The identity of the port at `device_path` (a symbolic link is followed); its
// Name is the path below `dev_root` ("ttyUSB0", "pts/3") where it lies there.
// Linux finds the kernel's record of the device's number under `sys_root` and
// the by-id links under `dev_root`; a path that is no character device gives
// the name only. Windows takes `\\.\COM3` or `COM3` and looks the port up in
// the setup API's records of the Ports class (no by-id name there); a port
// without a record (Wine's dosdevices mappings) gives the name only.
TVaPortIdentity IdentifyPort(const std::string& device_path, const std::string& sys_root = "/sys",
                             const std::string& dev_root = "/dev");

// Whether a port found can be opened now.
enum TVaPortAccess { acReady, acDenied, acBusy };

struct TVaPortFound {
  std::string Path;  // the device path: /dev/ttyUSB0, COM3
  TVaPortAccess Access = acReady;
};

// The machine's serial ports in natural order: those that can be opened now,
// and on Linux also those the user may not open (acDenied) or another program
// holds (acBusy). Windows tries COM1 to COM256 and any higher COM port the
// device records name. Linux looks for the nodes under `dev_root` and for a UART's
// record under `sys_root`; a port is only opened and closed again, nothing
// is sent, flushed or locked.
std::vector<TVaPortFound> FindPorts(const std::string& dev_root = "/dev", const std::string& sys_root = "/sys");

// Device paths of the serial ports that can be opened now, in natural order.
std::vector<std::string> ListPorts();

// The device path for a port name ("COM3" -> \\.\COM3 on Windows, "ttyUSB0" or
// "pts/3" -> /dev/... elsewhere); a name that already is a path is kept as given.
std::string DevicePathFor(const std::string& port_name);

}  // namespace va
