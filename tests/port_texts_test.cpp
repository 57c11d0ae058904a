// What the programs say of a port: which permission fix applies (decided
// once), and the hint in each language's words.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "port_json.h"
#include "port_texts.h"

namespace kvr {
namespace {

// Joining the device's group is advised only where it gives access; an
// access list, the owner's own bits, a system group or a login that has the
// group already get the general advice.
TEST(PortPermission, JoiningTheGroupIsAdvisedOnlyWhereItHelps) {
  DeviceAccessFacts dialout;
  dialout.accessible = false;
  dialout.mode = 0660, dialout.owner_uid = 0, dialout.uid = 1000, dialout.gid = 20;
  dialout.user = "anna", dialout.owner = "root", dialout.group = "dialout";
  const auto with = [&](const std::function<void(DeviceAccessFacts&)>& change) {
    DeviceAccessFacts f = dialout;
    change(f);
    return DecidePortPermission(f);
  };
  struct Case {
    const char* what;
    PortPermission got;
    bool denied;
    std::string group;
    bool listed;
  } cases[] = {
      {"root:dialout 0660", with([](auto&) {}), true, "dialout", false},
      {"listed, the login older", with([](auto& f) { f.listed_in_group = true; }), true, "dialout", true},
      {"the login has the group", with([](auto& f) { f.session_has_group = true; }), true, "", false},
      {"an access list", with([](auto& f) { f.has_acl = true; }), true, "", false},
      {"root:root 0660", with([](auto& f) { f.gid = 0, f.group = "root"; }), true, "", false},
      {"the owner's own bits", with([](auto& f) { f.owner_uid = 1000, f.mode = 0060; }), true, "", false},
      {"no group rights", with([](auto& f) { f.mode = 0600; }), true, "", false},
      {"a group without a name", with([](auto& f) { f.group.clear(); }), true, "", false},
      {"accessible", with([](auto& f) { f.accessible = true; }), false, "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got.denied, c.denied) << c.what;
    EXPECT_EQ(c.got.group, c.group) << c.what;
    EXPECT_EQ(c.got.listed_in_group, c.listed) << c.what;
  }
  EXPECT_EQ(with([](auto& f) { f.group.clear(); }).device_group, "20");
}

// Each fix fills its own words in both catalogues; the port's controls are
// escaped, the names go in where their placeholders are.
TEST(PortPermission, EachFixHasItsHintInEveryLanguage) {
  struct Case {
    PortPermission permission;
    PermissionFix fix;
    std::vector<std::string> english, russian;  // parts of the hint; none when there is none
  } cases[] = {
      {{true, "anna", "root", "dialout", "dialout", false},
       PermissionFix::kJoinGroup,
       {"you may not open /dev/tty\\x1BX: it belongs to the group \"dialout\"", "sudo usermod -aG dialout anna"},
       {"Нет прав на порт /dev/tty\\x1BX.", "«dialout»", "sudo usermod -aG dialout anna", "войдите в систему заново"}},
      {{true, "anna", "root", "dialout", "dialout", true},
       PermissionFix::kLogInAgain,
       {"member of the group \"dialout\" that may open /dev/tty\\x1BX", "log out and log in again"},
       {"уже в группе «dialout»", "выйдите из системы и войдите заново"}},
      {{true, "anna", "root", "20", "", false},
       PermissionFix::kAskAdministrator,
       {"(owner root, group 20) do not let anna read and write it", "ask your administrator"},
       {"(владелец root, группа 20)", "пользователю anna", "Попросите администратора"}},
      {{}, PermissionFix::kNone, {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FixFor(c.permission), c.fix);
    const std::string english = PermissionHintText("/dev/tty\x1bX", c.permission, kEnglishPortWords);
    const std::string russian = PermissionHintText("/dev/tty\x1bX", c.permission, kRussianPortWords);
    EXPECT_EQ(english.empty(), c.english.empty()) << english;
    EXPECT_EQ(russian.empty(), c.russian.empty()) << russian;
    for (const std::string& part : c.english) EXPECT_NE(english.find(part), std::string::npos) << part << " in " << english;
    for (const std::string& part : c.russian) EXPECT_NE(russian.find(part), std::string::npos) << part << " in " << russian;
    for (const std::string& hint : {english, russian}) {
      EXPECT_EQ(hint.find('{'), std::string::npos) << hint;
      EXPECT_EQ(hint.find('\x1b'), std::string::npos) << hint;
    }
  }
}

// A port is described the same whether Linux's names or Windows' device
// records tell what it is: a USB adapter in its own words, else its kind,
// else (Windows' records of a card or a driver) the records' words.
TEST(PortDescription, LinuxAndWindowsPortsAlikeAreDescribedAlike) {
  const va::TVaPortIdentity linux_ftdi{"ttyUSB0",  "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A5012345-if00-port0",
                                       "0403",     "6001",
                                       "FTDI",     "FT232R USB UART",
                                       "A5012345", va::pkUnknown};
  va::TVaPortIdentity windows_ftdi = linux_ftdi;
  windows_ftdi.Name = "COM3";
  windows_ftdi.ById = "";
  va::TVaPortIdentity built_in, bluetooth, card, silent_usb, linux_built_in, linux_bluetooth, no_record;
  built_in.Name = "COM1", bluetooth.Name = "COM8", card.Name = "COM12", silent_usb.Name = "COM5";
  linux_built_in.Name = "ttyS0", linux_bluetooth.Name = "rfcomm0", no_record.Name = "COM2";
  built_in.Product = "Communications Port";
  built_in.Kind = va::pkBuiltIn;
  bluetooth.Product = "Standard Serial over Bluetooth link";
  bluetooth.Kind = va::pkBluetooth;
  card.Product = "PCI Serial Port";
  card.Manufacturer = "Moxa\x1b Inc.";
  silent_usb.VendorId = "1a86", silent_usb.ProductId = "7523";
  struct Case {
    va::TVaPortIdentity identity;
    std::string english, russian;
    bool usb;
  } cases[] = {
      {linux_ftdi, "FT232R USB UART (FTDI)", "FT232R USB UART (FTDI)", true},
      {windows_ftdi, "FT232R USB UART (FTDI)", "FT232R USB UART (FTDI)", true},
      {linux_built_in, "built-in serial port", "встроенный порт", false},
      {built_in, "built-in serial port", "встроенный порт", false},
      {linux_bluetooth, "Bluetooth serial port", "порт Bluetooth", false},
      {bluetooth, "Bluetooth serial port", "порт Bluetooth", false},
      {no_record, "serial port", "последовательный порт", false},  // no record (Wine)
      {card, "PCI Serial Port (Moxa\\x1B Inc.)", "PCI Serial Port (Moxa\\x1B Inc.)", false},
      {silent_usb, "USB 1a86:7523", "USB 1a86:7523", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PortKindText(c.identity, kEnglishPortWords), c.english) << c.identity.Name;
    EXPECT_EQ(PortKindText(c.identity, kRussianPortWords), c.russian) << c.identity.Name;
    // The port list's and the load record's "usb": only for a USB adapter.
    EXPECT_EQ(UsbJson(c.identity).is_null(), !c.usb) << c.identity.Name;
  }
  EXPECT_EQ(UsbJson(windows_ftdi), UsbJson(linux_ftdi));
  EXPECT_EQ(UsbJson(windows_ftdi).dump(),
            R"({"vendor_id":"0403","product_id":"6001","manufacturer":"FTDI","product":"FT232R USB UART",)"
            R"("serial_number":"A5012345"})");
}

}  // namespace
}  // namespace kvr
