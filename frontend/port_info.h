// What the port lists say of a port (its kind, a short description) and why a
// port may not be opened, for a hint that names the fix.
#pragma once

#include <cstddef>
#include <string>

#include "va_ports.h"

namespace kvr {

enum class PortKind { kUsb, kBuiltIn, kPseudoTerminal, kBluetooth, kNetwork, kOther };

PortKind KindOf(const va::TVaPortIdentity& identity);

// A USB adapter in its own words, "FT232R USB UART (FTDI)"; its ids
// ("USB 0403:6001") when it gives none. (Also another port's product and
// maker from Windows' records, "PCI Serial Port (Moxa)".)
std::string UsbDescription(const va::TVaPortIdentity& identity);

// A device's own text (USB strings: up to 126 characters, chosen by whoever
// made the device) for a list or a table: controls and bytes that are not
// UTF-8 escaped, cut to `max_chars` characters with "…".
std::string DeviceText(const std::string& text, size_t max_chars);

// The name a device path has in the port lists ("/dev/ttyUSB0" -> "ttyUSB0",
// "/dev/pts/3" -> "pts/3"); other paths as they are.
std::string PortName(const std::string& device_path);

// Whether the user may open a device, and what stands in the way.
struct PortPermission {
  bool denied = false;           // the user may not read and write the device
  std::string user;              // the user's name
  std::string owner;             // the device's owner
  std::string device_group;      // the device's group (its number when it has no name)
  std::string group;             // the group to join: the device's, when joining it gives access; "" otherwise
  bool listed_in_group = false;  // the user is a member of that group already: the login predates it
};

// What the system says of a device and of the user.
struct DeviceAccessFacts {
  bool accessible = true;  // the user may read and write it
  bool has_acl = false;    // an access list beyond the mode bits (which then do not tell the group's rights)
  unsigned mode = 0;       // the permission bits
  unsigned owner_uid = 0, uid = 0, gid = 0;
  std::string user, owner, group;  // names; the group's "" when it has none
  bool session_has_group = false;  // this login has the device's group already
  bool listed_in_group = false;    // the group database makes the user a member
};

// Joining the device's group is the fix only when that group may read and
// write it, is no system group, the login does not have it already, and no
// access list or owner's bits decide instead.
PortPermission DecidePortPermission(const DeviceAccessFacts& facts);

// Looks at the device as it is now (on Windows a port is never denied: a port
// that refuses access is held by another program).
PortPermission CheckPortPermission(const std::string& device_path);

}  // namespace kvr
