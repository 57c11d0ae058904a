// A Windows port's identity from the setup API's records of the Ports class
// (va::win32::PortDevice): the USB ids and serial number read out of the
// device instance ids, the product and manufacturer as Linux gives them where
// Windows has them. Pure text work, so the fake table's records test it.
#pragma once

#include <string>
#include <vector>

#include "va_ports.h"
#include "va_win32.h"

namespace va::win32 {

// The number of a COM port's name ("COM3", "com12" -> 3, 12); 0 for any other
// name ("LPT1", "COM", "COM0", "COM3x").
int ComPortNumber(const std::string& name);

// The numbers of the COM ports the records name, ascending, each once.
std::vector<int> RecordedComPorts(const std::vector<PortDevice>& devices);

// The identity of the port `name` ("COM3"): its Name as given, the rest from
// its record; the name only when no record names the port.
TVaPortIdentity PortIdentityFromRecords(const std::string& name, const std::vector<PortDevice>& devices);

}  // namespace va::win32
