// A port's identity as JSON, as the port list and the load record write it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "va_ports.h"

namespace kvr {

// A device's own text (controls escaped); null when it has none.
nlohmann::ordered_json DeviceTextJson(const std::string& text);

// The USB adapter's ids and strings (controls escaped); null for a port that
// is not on USB.
nlohmann::ordered_json UsbJson(const va::TVaPortIdentity& identity);

}  // namespace kvr
