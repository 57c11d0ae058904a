// Finding the machine's ports and telling what they are: identity from the
// kernel's records, the probe that tells a ready port from a held one.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "serial_test_support.h"
#include "test_support.h"
#include "va_comm.h"
#include "va_ports.h"

namespace va {
namespace {

using test::PtyPair;
using test::TestComm;

// A port's identity from a sysfs and /dev tree built here, found by device
// number: a USB serial adapter (ids two levels above the tty, a by-id link), a
// CDC-ACM modem (ids on the interface's parent), a built-in UART, the
// adapter under another name (as a container maps it), and paths that are no
// device. Device nodes need root.
TEST(PortIdentity, ReadFromTheKernelsRecordOfTheDeviceNumber) {
  if (geteuid() != 0) GTEST_SKIP() << "making device nodes needs root";
  namespace fs = std::filesystem;
  kvr::test::TempDir dir;
  const fs::path sys = fs::path(dir.Path()) / "sys", dev = fs::path(dir.Path()) / "dev";
  const auto write = [](const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  };
  const auto usb_device = [&](const std::string& at, const std::string& vendor, const std::string& product,
                              const std::string& maker, const std::string& name, const std::string& serial) {
    const fs::path d = sys / "devices/pci0000:00/usb1" / at;
    write(d / "idVendor", vendor);
    write(d / "idProduct", product);
    write(d / "manufacturer", maker);
    write(d / "product", name);
    if (!serial.empty()) write(d / "serial", serial);
    return d;
  };
  // The tty's record (class/tty/NAME and dev/char/MAJ:MIN lead to it, its
  // device link to the port's device) and a node for it under /dev.
  const auto tty = [&](const std::string& name, const fs::path& port_device, int major_number, int minor_number) {
    const fs::path record = port_device / "tty" / name;
    fs::create_directories(record);
    fs::create_symlink(port_device, record / "device");
    fs::create_directories(sys / "class/tty");
    fs::create_symlink(record, sys / "class/tty" / name);
    fs::create_directories(sys / "dev/char");
    fs::create_symlink(record, sys / "dev/char" / (std::to_string(major_number) + ":" + std::to_string(minor_number)));
    fs::create_directories(dev);
    ASSERT_EQ(mknod((dev / name).c_str(), S_IFCHR | 0600, makedev(major_number, minor_number)), 0);
  };
  const fs::path ftdi = usb_device("1-1", "0403", "6001", "FTDI", "FT232R USB UART", "A10K5XYZ");
  tty("ttyUSB0", ftdi / "1-1:1.0/ttyUSB0", 188, 0);
  fs::create_directories(dev / "serial/by-id");
  fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0");
  tty("ttyACM0", usb_device("1-2", "2341", "0043", "Arduino", "Uno", "") / "1-2:1.0", 166, 0);
  tty("ttyS0", sys / "devices/platform/serial8250", 4, 64);
  ASSERT_EQ(mknod((dev / "ttyS7").c_str(), S_IFCHR | 0600, makedev(188, 0)), 0);  // the adapter, named ttyS7
  write(dev / "plain/ttyUSB0", "");                                               // a file, no device
  fs::create_directories(dev / "pts");
  ASSERT_EQ(mknod((dev / "pts/3").c_str(), S_IFCHR | 0620, makedev(136, 3)), 0);  // no record, named by its path

  const auto identify = [&](const fs::path& path) { return IdentifyPort(path.string(), sys.string(), dev.string()); };
  const TVaPortIdentity usb = identify(dev / "ttyUSB0");
  EXPECT_EQ(usb.Name, "ttyUSB0");
  EXPECT_EQ(usb.ById, (dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0").string());
  EXPECT_EQ(usb.VendorId + ":" + usb.ProductId, "0403:6001");
  EXPECT_EQ(usb.Manufacturer + "|" + usb.Product + "|" + usb.SerialNumber, "FTDI|FT232R USB UART|A10K5XYZ");
  EXPECT_EQ(identify(usb.ById).SerialNumber, "A10K5XYZ");  // asked for by its stable name
  const TVaPortIdentity renamed = identify(dev / "ttyS7");
  EXPECT_EQ(renamed.Name + " " + renamed.SerialNumber, "ttyUSB0 A10K5XYZ");

  const TVaPortIdentity modem = identify(dev / "ttyACM0");
  EXPECT_EQ(modem.VendorId + ":" + modem.ProductId + " " + modem.Product, "2341:0043 Uno");
  EXPECT_EQ(modem.SerialNumber, "");
  EXPECT_EQ(modem.ById, "");
  // An attribute file longer than the kernel ever writes one (no line end):
  // read no further than a page.
  std::ofstream(sys / "devices/pci0000:00/usb1/1-2/product", std::ios::trunc) << std::string(100000, 'U');
  EXPECT_EQ(identify(dev / "ttyACM0").Product.size(), 4096u);
  for (const char* plain : {"ttyS0", "plain/ttyUSB0", "ttyUSB9"}) {
    const TVaPortIdentity none = identify(dev / plain);
    EXPECT_FALSE(none.IsUsb()) << plain;
    EXPECT_EQ(none.Name, fs::path(plain).filename().string());
  }
  const TVaPortIdentity pty = identify(dev / "pts/3");
  EXPECT_EQ(pty.Name + "|" + pty.ById + "|" + pty.VendorId, "pts/3||");
}

// The probe tells a port that opens from one another program holds, and
// leaves the holder as it was: its waiting input, its exclusive mode.
TEST(PortProbe, TellsReadyFromHeldWithoutDisturbingTheHolder) {
  namespace fs = std::filesystem;
  kvr::test::TempDir dir;
  const fs::path dev = fs::path(dir.Path()) / "dev";
  fs::create_directories(dev);
  PtyPair free_line, locked_line, exclusive_line, used_line, no_uart;
  TestComm locker;  // this component's way: a lock on the open file
  locker.SetDeviceName(locked_line.SlavePath());
  locker.Open();
  const int exclusive = open(exclusive_line.SlavePath().c_str(), O_RDWR | O_NOCTTY);  // TIOCEXCL only
  ASSERT_GE(exclusive, 0);
  ASSERT_EQ(ioctl(exclusive, TIOCEXCL), 0);
  const int user = open(used_line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);  // no lock at all
  ASSERT_GE(user, 0);
  used_line.Write("waiting\n");
  // The input waits at the holder's end before the probe looks.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int waiting = 0; ioctl(user, FIONREAD, &waiting) == 0 && waiting < 8;) {
    ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "the holder's input never came";
    std::this_thread::yield();
  }
  const std::pair<const char*, const PtyPair*> nodes[] = {{"ttyUSB0", &free_line},
                                                          {"ttyUSB1", &locked_line},
                                                          {"ttyACM0", &exclusive_line},
                                                          {"ttyUSB2", &used_line},
                                                          {"ttyS5", &no_uart}};
  for (const auto& [name, line] : nodes) fs::create_symlink(line->SlavePath(), dev / name);
  fs::create_symlink("/nonexistent/tty", dev / "ttyUSB9");

  std::vector<std::string> found;
  for (const TVaPortFound& port : FindPorts(dev.string(), (fs::path(dir.Path()) / "sys").string()))
    found.push_back(fs::path(port.Path).filename().string() + (port.Access == acReady  ? " ready"
                                                               : port.Access == acBusy ? " busy"
                                                                                       : " denied"));
  EXPECT_EQ(found, (std::vector<std::string>{"ttyACM0 busy", "ttyUSB0 ready", "ttyUSB1 busy", "ttyUSB2 ready"}));
  int still = 0;
  EXPECT_EQ(ioctl(exclusive, TIOCGEXCL, &still), 0);
  EXPECT_EQ(still, 1);
  char got[16] = {};
  EXPECT_EQ(read(user, got, sizeof got), 8);
  EXPECT_STREQ(got, "waiting\n");
  close(user);
  close(exclusive);
  locker.Close();
}

}  // namespace
}  // namespace va
