#include "va_win32_port_identity.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace va::win32 {

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SameText(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

// A device instance id's parts: enumerator, device, instance
// ("USB", "VID_0403&PID_6001", "A5012345"); the device part keeps any
// further backslashes.
struct InstanceParts {
  std::string enumerator, device, instance;
};

InstanceParts PartsOf(const std::string& id) {
  InstanceParts parts;
  const size_t first = id.find('\\'), last = id.rfind('\\');
  if (first == std::string::npos) {
    parts.enumerator = Upper(id);
    return parts;
  }
  parts.enumerator = Upper(id.substr(0, first));
  if (last == first) {
    parts.device = id.substr(first + 1);
    return parts;
  }
  parts.device = id.substr(first + 1, last - first - 1);
  parts.instance = id.substr(last + 1);
  return parts;
}

// Four hexadecimal digits after `key` ("VID_") at or after `from`, lower case;
// "" when there are none. `at` gets where they end.
std::string HexAfter(const std::string& upper, const char* key, size_t from, size_t& at) {
  for (size_t i = upper.find(key, from); i != std::string::npos; i = upper.find(key, i + 1)) {
    const size_t start = i + std::strlen(key);
    if (start + 4 > upper.size()) break;
    const std::string digits = upper.substr(start, 4);
    if (std::all_of(digits.begin(), digits.end(),
                    [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }) &&
        (start + 4 == upper.size() || !std::isxdigit(static_cast<unsigned char>(upper[start + 4])))) {
      at = start + 4;
      return Lower(digits);
    }
  }
  return {};
}

// The USB vendor and product id an id names ("USB\VID_0403&PID_6001\...",
// "FTDIBUS\VID_0403+PID_6001+...", "FTDIBUS\COMPORT&VID_0403&PID_6001");
// false when it names no pair.
bool UsbIdsIn(const std::string& id, std::string& vendor, std::string& product) {
  const std::string upper = Upper(id);
  size_t at = 0;
  const std::string v = HexAfter(upper, "VID_", 0, at);
  if (v.empty()) return false;
  const std::string p = HexAfter(upper, "PID_", at, at);
  if (p.empty()) return false;
  vendor = v;
  product = p;
  return true;
}

// Whether the id is a USB device's own (not one of its interfaces, "&MI_nn").
bool IsUsbDeviceId(const std::string& id) {
  const InstanceParts parts = PartsOf(id);
  std::string vendor, product;
  return parts.enumerator == "USB" && UsbIdsIn(parts.device, vendor, product) &&
         Upper(parts.device).find("&MI_") == std::string::npos;
}

// A USB device's instance part is its serial number when the device reports a
// usable one; otherwise Windows makes one up from where the device is plugged
// in ("6&2A3B4C5D&0&1"), with '&', which a serial number never has there.
std::string SerialNumberIn(const std::string& instance) {
  if (instance.empty() || instance.find('&') != std::string::npos) return {};
  return instance;
}

// FTDI's bus driver names its port VID_0403+PID_6001+<serial><channel>: the
// serial number with the chip's channel letter (A, B, ...) appended.
std::string FtdiSerialNumber(const InstanceParts& parts) {
  if (parts.enumerator != "FTDIBUS") return {};
  const size_t first = parts.device.find('+');
  const size_t second = first == std::string::npos ? std::string::npos : parts.device.find('+', first + 1);
  if (second == std::string::npos) return {};
  const std::string with_channel = parts.device.substr(second + 1);
  if (with_channel.size() < 2 || with_channel.find('&') != std::string::npos) return {};
  const char channel = with_channel.back();
  return channel >= 'A' && channel <= 'Z' ? with_channel.substr(0, with_channel.size() - 1) : with_channel;
}

// The friendly name without the port's own " (COM3)" at its end.
std::string WithoutPortName(const std::string& friendly, const std::string& port) {
  const std::string suffix = " (" + port + ")";
  std::string name = friendly;
  if (name.size() >= suffix.size() && SameText(name.substr(name.size() - suffix.size()), suffix))
    name.erase(name.size() - suffix.size());
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

// The INF's manufacturer, unless it names no maker of the device: Windows'
// own groups ("(Standard port types)") and its in-box drivers' provider
// ("Microsoft" on another vendor's USB device, with usbser.sys).
std::string MakerOf(const std::string& manufacturer, const std::string& vendor_id) {
  if (manufacturer.empty() || manufacturer[0] == '(') return {};
  if (SameText(manufacturer, "Microsoft") && vendor_id != "045e") return {};
  return manufacturer;
}

bool NamesUart(const std::string& id) {
  const std::string upper = Upper(id);
  return upper.find("PNP0500") != std::string::npos || upper.find("PNP0501") != std::string::npos;
}

}  // namespace

int ComPortNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 10 || !SameText(name.substr(0, 3), "COM") || name[3] == '0') return 0;
  int number = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

std::vector<int> RecordedComPorts(const std::vector<PortDevice>& devices) {
  std::vector<int> numbers;
  for (const PortDevice& d : devices)
    if (const int n = ComPortNumber(d.PortName); n > 0) numbers.push_back(n);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

TVaPortIdentity PortIdentityFromRecords(const std::string& name, const std::vector<PortDevice>& devices) {
  TVaPortIdentity identity;
  identity.Name = name;
  const auto record =
      std::find_if(devices.begin(), devices.end(), [&](const PortDevice& d) { return SameText(d.PortName, name); });
  if (record == devices.end()) return identity;
  const PortDevice& d = *record;
  const InstanceParts own = PartsOf(d.InstanceId);
  const std::string product_name = WithoutPortName(d.FriendlyName, d.PortName);

  // The USB device itself: the port's own node (CP210x, PL2303, CH340) or its
  // parent (FTDI's bus driver, an interface of a composite device).
  const bool own_is_usb = IsUsbDeviceId(d.InstanceId);
  const std::string* usb_id = own_is_usb                          ? &d.InstanceId
                              : IsUsbDeviceId(d.ParentInstanceId) ? &d.ParentInstanceId
                                                                  : nullptr;
  std::string vendor, product;
  bool usb = usb_id && UsbIdsIn(PartsOf(*usb_id).device, vendor, product);
  if (!usb && own.enumerator != "BTHENUM") {  // Bluetooth ids carry the remote device's ids, not a USB adapter's
    usb = UsbIdsIn(own.device, vendor, product);
    for (size_t i = 0; !usb && i < d.HardwareIds.size(); ++i) usb = UsbIdsIn(d.HardwareIds[i], vendor, product);
  }

  if (usb) {
    identity.VendorId = vendor;
    identity.ProductId = product;
    if (usb_id) {
      identity.SerialNumber = SerialNumberIn(PartsOf(*usb_id).instance);
      identity.Product = own_is_usb ? d.BusDescription : d.ParentBusDescription;
    } else {
      identity.SerialNumber = FtdiSerialNumber(own);
    }
    if (identity.Product.empty()) identity.Product = product_name;
  } else {
    identity.Product = product_name;
    if (own.enumerator == "BTHENUM") {
      identity.Kind = pkBluetooth;
    } else if (own.enumerator == "ACPI" || own.enumerator == "PCI" || NamesUart(d.InstanceId) ||
               std::any_of(d.HardwareIds.begin(), d.HardwareIds.end(), NamesUart)) {
      identity.Kind = pkBuiltIn;
    }
  }
  identity.Manufacturer = MakerOf(d.Manufacturer, identity.VendorId);
  return identity;
}

}  // namespace va::win32
