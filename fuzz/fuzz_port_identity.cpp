// What the system says of a port's adapter, made up at will, through the
// identity readers over their platform seams: on Linux the kernel's
// attribute files of a USB adapter in a sysfs tree of the target's own (any
// bytes, any length, no line end), on Windows the setup API's records (device
// instance ids such as USB\VID_xxxx&PID_xxxx\SERIAL, composite devices'
// interfaces, FTDI's bus ids, made-up serials with '&', friendly names).
// Invariants: Linux takes an attribute's first line, no longer than a sysfs
// page; Windows' USB ids are both there or neither, four lower-case hex
// digits each, a serial number is never one Windows made up, and a COM
// port's number reads back as its name; and whatever the system said, the
// lists' descriptions and the JSON of the adapter are printable.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_check.h"

#include "port_info.h"
#include "port_json.h"
#include "va_ports.h"
#include "va_win32_port_identity.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kSysfsPage = 4096;

void CheckShown(const va::TVaPortIdentity& identity) {
  Check(Printable(kvr::UsbDescription(identity), ""), "the lists' description is printable");
  Check(Printable(kvr::UsbJson(identity).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace), ""),
        "the adapter's JSON is printable");
}

// A USB adapter's tree under a sysfs root of its own, with /dev/null's number
// leading to its tty: TREE/sys/dev/char/M:N -> .../1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0.
struct FakeSysfs {
  fs::path root, usb;
  FakeSysfs() {
    char name[] = "/tmp/fuzz_port_identity.XXXXXX";
    root = mkdtemp(name);
    usb = root / "sys/devices/pci0000:00/usb1/1-1";
    const fs::path port = usb / "1-1:1.0/ttyUSB0";
    fs::create_directories(port / "tty/ttyUSB0");
    fs::create_symlink(port, port / "tty/ttyUSB0/device");
    struct stat st {};
    stat("/dev/null", &st);
    fs::create_directories(root / "sys/dev/char");
    fs::create_symlink(port / "tty/ttyUSB0",
                       root / "sys/dev/char" / (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))));
    fs::create_directories(root / "dev/serial/by-id");
    fs::create_symlink("/dev/null", root / "dev/serial/by-id/usb-Maker_Adapter_A5012345-if00-port0");
  }
  ~FakeSysfs() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

std::string FirstLine(const std::string& text) { return text.substr(0, std::min(text.find('\n'), text.size())); }

void Linux(FuzzedDataProvider& in) {
  static FakeSysfs tree;
  const char* names[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
  std::string said[5];
  for (int i = 0; i < 5; ++i) {
    said[i] = in.ConsumeRandomLengthString(3 * kSysfsPage);
    std::ofstream(tree.usb / names[i], std::ios::binary | std::ios::trunc) << said[i];
  }
  const va::TVaPortIdentity identity =
      va::IdentifyPort("/dev/null", (tree.root / "sys").string(), (tree.root / "dev").string());
  Check(identity.Name == "ttyUSB0", "the kernel's name");
  Check(identity.ById == (tree.root / "dev/serial/by-id/usb-Maker_Adapter_A5012345-if00-port0").string(),
        "the by-id name");
  const std::string* got[] = {&identity.VendorId, &identity.ProductId, &identity.Manufacturer, &identity.Product,
                              &identity.SerialNumber};
  for (int i = 0; i < 5; ++i) {
    Check(got[i]->size() <= kSysfsPage, "an attribute is no longer than a sysfs page");
    Check(*got[i] == FirstLine(said[i]).substr(0, kSysfsPage), "an attribute's first line");
  }
  CheckShown(identity);
}

void Windows(FuzzedDataProvider& in) {
  std::vector<va::win32::PortDevice> records(in.ConsumeIntegralInRange<size_t>(1, 3));
  for (va::win32::PortDevice& d : records) {
    d.PortName = in.ConsumeRandomLengthString(12);
    d.FriendlyName = in.ConsumeRandomLengthString(160);
    d.Manufacturer = in.ConsumeRandomLengthString(40);
    d.HardwareIds.resize(in.ConsumeIntegralInRange<size_t>(0, 3));
    for (std::string& id : d.HardwareIds) id = in.ConsumeRandomLengthString(80);
    d.InstanceId = in.ConsumeRandomLengthString(80);
    d.BusDescription = in.ConsumeRandomLengthString(130);
    d.ParentInstanceId = in.ConsumeRandomLengthString(80);
    d.ParentBusDescription = in.ConsumeRandomLengthString(130);
  }
  const std::string name = in.ConsumeBool() ? records[0].PortName : in.ConsumeRandomLengthString(12);

  const int number = va::win32::ComPortNumber(name);
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Check(number >= 0 && (number == 0 || upper == "COM" + std::to_string(number)), "a COM port's number reads back");
  const std::vector<int> listed = va::win32::RecordedComPorts(records);
  Check(std::adjacent_find(listed.begin(), listed.end(), std::greater_equal<int>()) == listed.end(),
        "the recorded ports ascend, each once");
  Check(listed.empty() || listed.front() > 0, "recorded port numbers from 1");

  const va::TVaPortIdentity identity = va::win32::PortIdentityFromRecords(name, records);
  Check(identity.Name == name, "the name as given");
  Check(identity.VendorId.empty() == identity.ProductId.empty(), "both USB ids or neither");
  for (const std::string* id : {&identity.VendorId, &identity.ProductId})
    Check(id->empty() || (id->size() == 4 && std::all_of(id->begin(), id->end(),
                                                         [](char c) { return std::isxdigit(c) && !std::isupper(c); })),
          "a USB id is four lower-case hex digits");
  Check(identity.SerialNumber.find('&') == std::string::npos, "no serial number Windows made up");
  Check(identity.SerialNumber.empty() || identity.IsUsb(), "a serial number only with USB ids");
  CheckShown(identity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool())
    Linux(in);
  else
    Windows(in);
  return 0;
}
