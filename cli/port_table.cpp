#include "port_table.h"

#include <algorithm>

#include "hex_text.h"
#include "port_info.h"
#include "port_texts.h"

namespace kvr::cli {

namespace {

using json = nlohmann::ordered_json;

// Whether a port can be opened: the JSON's key and the table's words.
struct AccessName {
  const char* key;
  const char* words;
};

AccessName NameOf(va::TVaPortAccess access) {
  if (access == va::acDenied) return {"denied", "no permission"};
  if (access == va::acBusy) return {"busy", "in use"};
  return {"ready", "ready"};
}

// A cell: the device's text, escaped and cut to a width a terminal can show.
std::string Cell(const std::string& text, size_t max_chars) { return text.empty() ? "-" : DeviceText(text, max_chars); }

}  // namespace

std::vector<ListedPort> ListedPorts() {
  std::vector<ListedPort> ports;
  for (const va::TVaPortFound& found : va::FindPorts()) ports.push_back({found, va::IdentifyPort(found.Path)});
  return ports;
}

std::string PortDescription(const va::TVaPortIdentity& identity) { return PortKindText(identity, kEnglishPortWords); }

std::string PortTable(const std::vector<ListedPort>& ports) {
  std::vector<std::vector<std::string>> rows = {{"PORT", "ACCESS", "DESCRIPTION", "USB ID", "SERIAL", "BY-ID"}};
  for (const ListedPort& p : ports) {
    const va::TVaPortIdentity& id = p.identity;
    rows.push_back({Cell(PortName(p.found.Path), 40), NameOf(p.found.Access).words, Cell(PortDescription(id), 70),
                    id.IsUsb() ? DeviceText(id.VendorId + ":" + id.ProductId, 9) : "-", Cell(id.SerialNumber, 40),
                    Cell(id.ById, 120)});
  }
  std::vector<size_t> width(rows[0].size(), 0);
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(width[c] - row[c].size() + 2, ' ');
    }
    table += line + "\n";
  }
  return table;
}

json PortsJson(const std::vector<ListedPort>& ports) {
  json list = json::array();
  for (const ListedPort& p : ports)
    list.push_back({{"port", PortName(p.found.Path)},
                    {"device", p.found.Path},
                    {"access", NameOf(p.found.Access).key},
                    {"description", PortDescription(p.identity)},
                    {"by_id", DeviceTextJson(p.identity.ById)},
                    {"usb", UsbJson(p.identity)}});
  return list;
}

}  // namespace kvr::cli
