// The `ports` command: the machine's serial ports with what the system knows
// of each (kind, adapter, USB ids, serial number, stable name) and whether it
// can be opened now, as a table for people or as JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "port_json.h"
#include "va_ports.h"

namespace kvr::cli {

struct ListedPort {
  va::TVaPortFound found;
  va::TVaPortIdentity identity;
};

// Every port found, with its identity.
std::vector<ListedPort> ListedPorts();

// A port in a few words: the adapter's own, or its kind.
std::string PortDescription(const va::TVaPortIdentity& identity);

// Port, access, description, USB ids, serial number, by-id name: a line each
// under a heading (the devices' own texts escaped and cut to a sane width).
std::string PortTable(const std::vector<ListedPort>& ports);

// An array with an object per port: port, device, access, description, by_id, usb.
nlohmann::ordered_json PortsJson(const std::vector<ListedPort>& ports);

}  // namespace kvr::cli
