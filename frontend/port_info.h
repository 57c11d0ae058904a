// What the port lists say of a port (its kind, a short description) and why a
// port may not be opened, for a hint that names the fix.
#pragma once

#include <string>

#include "va_ports.h"

namespace kvr {

enum class PortKind { kUsb, kBuiltIn, kPseudoTerminal, kBluetooth, kOther };

PortKind KindOf(const va::TVaPortIdentity& identity);

// A USB adapter in its own words, "FT232R USB UART (FTDI)"; its ids
// ("USB 0403:6001") when it gives none.
std::string UsbDescription(const va::TVaPortIdentity& identity);

// Whether the user may open a device, and what stands in the way.
struct PortPermission {
  bool denied = false;           // the user may not read and write the device
  std::string user;              // the user's name
  std::string owner;             // the device's owner
  std::string group;             // the group that owns the device, when that group may read and write it
  bool listed_in_group = false;  // the user is a member of that group already: the login predates it
};

// Looks at the device as it is now (on Windows a port is never denied: a port
// that refuses access is held by another program).
PortPermission CheckPortPermission(const std::string& device_path);

}  // namespace kvr
