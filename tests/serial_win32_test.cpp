// The serial component with its Windows platform layer, over a fake table of
// the Win32 functions: what Windows does and Wine does not (exclusive open,
// any baud rate, every control-block field), the error codes and texts, the
// write thread's wait sets, and ending operations that are outstanding.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>

#include "fake_win32.h"
#include "main_loop.h"
#include "va_comm.h"
#include "va_dispatch.h"
#include "va_platform.h"

namespace {

using va::fake::Port;
using va::fake::World;
using va::win32::Handle;

const std::string kCom3 = "\\\\.\\COM3";

class Win32Port : public ::testing::Test {
 protected:
  void SetUp() override {
    World::Get().Reset({"\\\\.\\COM1", kCom3, "\\\\.\\COM4", "\\\\.\\COM7"});
    comm_ = MakeComm();
  }
  std::unique_ptr<va::TVaComm> MakeComm() {
    auto c = std::make_unique<va::TVaComm>();
    c->ClosePause = [](uint32_t) {};
    c->SetDeviceName("\\\\.\\COM%d");
    c->SetPortNum(3);
    return c;
  }
  bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 3000) {
    return loop_.PumpUntil(done, timeout_ms);
  }
  static bool NoneOutstanding() {
    return World::Get().Inspect([](World& w) { return w.ports.at(kCom3).ops.empty(); });
  }

  va::test::MainLoop loop_;  // declared first: outlives the component
  std::unique_ptr<va::TVaComm> comm_;
};

using va::test::ErrorMessage;

TEST_F(Win32Port, OpenIsExclusiveOverlappedAndNamesTheErrors) {
  comm_->Open();
  const std::vector<uint32_t> flags = World::Get().Inspect([](World& w) { return w.create_flags; });
  EXPECT_EQ(flags, (std::vector<uint32_t>{0xC0000000u, 0u, 3u, 0x40000000u}));  // R/W, no sharing, existing, overlapped
  EXPECT_EQ(World::Get().create_calls.back(), kCom3);

  auto second = MakeComm();
  EXPECT_EQ(ErrorMessage([&] { second->Open(); }), "Can't open specified device \\\\.\\COM3 (Error 5, Access is denied)");
  EXPECT_FALSE(second->Active());

  second->SetPortNum(9);
  EXPECT_EQ(ErrorMessage([&] { second->Open(); }), "Specified device not found (\\\\.\\COM9).");

  comm_->Close();
  second->SetPortNum(3);
  second->Open();  // free again once closed
  EXPECT_TRUE(second->Active());
}

TEST_F(Win32Port, EveryControlBlockFieldComesFromTheSettings) {
  comm_->SetUserBaudrate(250000);  // any rate: the driver takes it as given
  comm_->SetDatabits(va::db7);
  comm_->SetParity(va::paMark);
  comm_->SetStopbits(va::sb15);
  comm_->SetOptions({va::coParityCheck, va::coErrorChar, va::coNullStrip});
  va::TVaFlowControl& f = comm_->FlowControl();
  f.SetOutCtsFlow(true);
  f.SetOutDsrFlow(true);
  f.SetControlDtr(va::dtrHandshake);
  f.SetControlRts(va::rtsToggle);
  f.SetXonXoffOut(true);
  f.SetXonXoffIn(true);
  f.SetDsrSensitivity(true);
  f.SetTxContinueOnXoff(true);
  comm_->EventChars().SetXonChar(0x11);
  comm_->EventChars().SetChar(2, 0x13);
  comm_->EventChars().SetChar(3, '?');
  comm_->EventChars().SetChar(4, '\r');  // event character
  comm_->EventChars().SetChar(5, 0x1A);  // end of input
  comm_->Buffers().SetXonLimit(65536 + 1024);
  comm_->Buffers().SetXoffLimit(512);
  comm_->Open();

  const Port port = World::Get().Inspect([](World& w) { return w.ports.at(kCom3); });
  ASSERT_EQ(port.dcbs.size(), 1u);
  const va::win32::Dcb& d = port.dcbs[0];
  EXPECT_EQ(d.DCBlength, 28u);
  EXPECT_EQ(d.BaudRate, 250000u);
  EXPECT_EQ(d.ByteSize, 7);
  EXPECT_EQ(d.Parity, 3);
  EXPECT_EQ(d.StopBits, 1);
  // fBinary, fParity, CTS and DSR flow, DTR handshake, DSR sensitivity,
  // continue on XOFF, XON/XOFF both ways, error char, null strip, RTS toggle;
  // never abort-on-error.
  EXPECT_EQ(d.Flags, 0x1u | 0x2 | 0x4 | 0x8 | 0x20 | 0x40 | 0x80 | 0x100 | 0x200 | 0x400 | 0x800 | 0x3000);
  EXPECT_EQ(d.XonLim, 1024);
  EXPECT_EQ(d.XoffLim, 512);
  EXPECT_EQ(d.XonChar, 0x11);
  EXPECT_EQ(d.XoffChar, 0x13);
  EXPECT_EQ(d.ErrorChar, '?');
  EXPECT_EQ(d.EofChar, 0x1A);
  EXPECT_EQ(d.EvtChar, '\r');
  EXPECT_EQ(d.wReserved, 0);
  EXPECT_EQ(d.wReserved1, 0);

  // Then the queues, the time limits (5 ms interval, nothing else) and the
  // event mask without the transmit-empty bit (the write thread reports it).
  ASSERT_EQ(port.queue_sizes.size(), 1u);
  EXPECT_EQ(port.queue_sizes[0], std::make_pair(uint32_t(comm_->Buffers().ReadSize()), uint32_t(comm_->Buffers().WriteSize())));
  ASSERT_EQ(port.timeouts.size(), 1u);
  EXPECT_EQ(port.timeouts[0].ReadIntervalTimeout, 5u);
  EXPECT_EQ(port.timeouts[0].ReadTotalTimeoutMultiplier + port.timeouts[0].ReadTotalTimeoutConstant +
                port.timeouts[0].WriteTotalTimeoutMultiplier + port.timeouts[0].WriteTotalTimeoutConstant,
            0u);
  ASSERT_FALSE(port.masks.empty());
  EXPECT_EQ(port.masks[0] & 0x4, 0u);
  EXPECT_EQ(port.masks[0], comm_->EventMask());

  // A live change writes the block again.
  comm_->SetBaudrate(va::br38400);
  const auto dcbs = World::Get().Inspect([](World& w) { return w.ports.at(kCom3).dcbs; });
  ASSERT_EQ(dcbs.size(), 2u);
  EXPECT_EQ(dcbs[1].BaudRate, 38400u);
}

TEST_F(Win32Port, RefusedControlBlockClosesThePortWithTheTrimmedText) {
  World::Get().Atomically([](World& w) { w.ports.at(kCom3).fail_set_state = 31; });
  EXPECT_EQ(ErrorMessage([&] { comm_->Open(); }),
            "Error writing dcb (31), A device attached to the system is not functioning");
  EXPECT_FALSE(comm_->Active());
  EXPECT_FALSE(World::Get().Inspect([](World& w) { return w.ports.at(kCom3).open; }));
}

TEST_F(Win32Port, ReceivedCharactersRoundTripAndCloseEndsTheEventWait) {
  std::string got;
  comm_->OnRxChar = [&](va::TVaObject*, int count) {
    std::string b(static_cast<size_t>(count), '\0');
    b.resize(static_cast<size_t>(comm_->ReadBuf(b.data(), count)));
    got += b;
  };
  comm_->Open();
  ASSERT_TRUE(World::Get().WaitUntil([](World& w) { return !w.ports.at(kCom3).ops.empty(); }));
  World::Get().Feed(kCom3, "PL0\r");
  EXPECT_TRUE(PumpUntil([&] { return got == "PL0\r"; })) << got;
  World::Get().Feed(kCom3, "PL1");
  EXPECT_TRUE(PumpUntil([&] { return got == "PL0\rPL1"; })) << got;

  comm_->Close();
  EXPECT_TRUE(NoneOutstanding());
  EXPECT_FALSE(World::Get().Inspect([](World& w) { return w.ports.at(kCom3).open; }));
}

TEST_F(Win32Port, AnEventWaitTheDriverWillNotCancelIsEndedByANewMask) {
  World::Get().Atomically([](World& w) { w.ports.at(kCom3).cancel_ignores_waits = true; });
  comm_->Open();
  ASSERT_TRUE(World::Get().WaitUntil([](World& w) { return !w.ports.at(kCom3).ops.empty(); }));
  comm_->Close();  // a close that only cancelled would leave the event wait outstanding
  const std::vector<uint32_t> masks = World::Get().Inspect([](World& w) { return w.ports.at(kCom3).masks; });
  EXPECT_NE(std::find(masks.begin(), masks.end(), 0u), masks.end());
  EXPECT_TRUE(NoneOutstanding());
}

TEST_F(Win32Port, ReadBufEndsItsReadAtTheTimeOutAndKeepsLateBytes) {
  comm_->SetMonitorEvents({});
  comm_->Buffers().SetReadTimeout(50);
  comm_->Open();
  char buf[16] = {};
  EXPECT_EQ(comm_->ReadBuf(buf, sizeof buf), 0);
  EXPECT_TRUE(NoneOutstanding()) << "a read was left running into the caller's buffer";

  // Bytes that complete the read while it is being ended are handed over.
  World::Get().Atomically([](World& w) { w.ports.at(kCom3).cancel_delivers = "PL7"; });
  EXPECT_EQ(comm_->ReadBuf(buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "PL7");

  World::Get().Feed(kCom3, "abc");
  EXPECT_EQ(comm_->ReadBuf(buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "ab");
}

// A direct write waits as long as a read may (ReadTimeout), not WriteTimeout,
// and is ended before it returns, so the caller's bytes are not used later.
TEST_F(Win32Port, DirectWriteIsBoundByTheReadLimitAndEndsItsWrite) {
  comm_->SetMonitorEvents({});
  comm_->SetDirectWrite(true);
  comm_->Buffers().SetReadTimeout(50);
  comm_->Buffers().SetWriteTimeout(600000);  // a write bound by this would outlast the test
  World::Get().Atomically([](World& w) { w.ports.at(kCom3).hold_writes = true; });
  comm_->Open();
  EXPECT_EQ(comm_->WriteBuf("DL:0\r", 5), 0);
  EXPECT_TRUE(NoneOutstanding()) << "a write was left running from the caller's buffer";
  // The caller's own wait for its write was given the read limit.
  const std::vector<va::fake::WaitCall> waits = World::Get().Inspect([](World& w) { return w.multi_waits; });
  std::vector<va::win32::Dword> mine;
  for (const va::fake::WaitCall& w : waits)
    if (w.thread == std::this_thread::get_id()) mine.push_back(w.ms);
  EXPECT_EQ(mine, std::vector<va::win32::Dword>{50});

  World::Get().ReleaseWrites(kCom3);
  EXPECT_EQ(comm_->WriteBuf("DL:1\r", 5), 5);
  EXPECT_EQ(World::Get().Inspect([](World& w) { return w.ports.at(kCom3).output; }), "DL:0\rDL:1\r");
  comm_->Close();
}

TEST_F(Win32Port, WriteThreadWaitsOnCloseThenWorkAndCloseWins) {
  comm_->SetMonitorEvents({});  // no event thread: every multiple wait is the write thread's
  int tx_empty = 0;
  comm_->OnTxEmpty = [&](va::TVaObject*) { ++tx_empty; };
  World::Get().Atomically([](World& w) { w.ports.at(kCom3).hold_writes = true; });
  comm_->Open();
  comm_->WriteBuf("DL:0\r", 5);
  ASSERT_TRUE(World::Get().WaitUntil([](World& w) { return w.ports.at(kCom3).ops.size() == 1; }));

  const auto waits = World::Get().Inspect([](World& w) { return w.multi_waits; });
  ASSERT_GE(waits.size(), 2u);
  const std::vector<Handle>& idle = waits[0].handles;
  const std::vector<Handle>& busy = waits.back().handles;
  ASSERT_EQ(idle.size(), 2u);  // close, work queued
  ASSERT_GE(busy.size(), 2u);  // close, the write's completion (then the shut-down signal)
  EXPECT_EQ(busy[0], idle[0]);
  const Handle io = World::Get().Inspect([](World& w) { return w.ports.at(kCom3).ops[0].ov->hEvent; });
  EXPECT_EQ(busy[1], io);

  // The write completes and the close signal arrives at the same moment: the
  // thread takes close, so no transmit-empty report follows.
  World::Get().Atomically([&](World& w) {
    w.CompletePendingWrite(w.ports.at(kCom3));
    w.SignalEvent(idle[0]);
  });
  loop_.PumpFor(100);
  EXPECT_EQ(tx_empty, 0);
  comm_->Close();
  EXPECT_EQ(World::Get().Inspect([](World& w) { return w.ports.at(kCom3).output; }), "DL:0\r");
}

TEST_F(Win32Port, CompletedWriteReportsTheEmptyQueue) {
  int tx_empty = 0;
  comm_->OnTxEmpty = [&](va::TVaObject*) { ++tx_empty; };
  World::Get().Atomically([](World& w) { w.ports.at(kCom3).hold_writes = true; });
  comm_->Open();
  comm_->WriteBuf("DL:1:000000\r", 12);
  ASSERT_TRUE(World::Get().WaitUntil([](World& w) {
    return std::any_of(w.ports.at(kCom3).ops.begin(), w.ports.at(kCom3).ops.end(),
                       [](const va::fake::PendingOp& op) { return op.kind == va::fake::PendingOp::kWrite; });
  }));
  World::Get().ReleaseWrites(kCom3);
  EXPECT_TRUE(PumpUntil([&] { return tx_empty == 1; }));
  comm_->Close();
  EXPECT_TRUE(NoneOutstanding());
}

TEST_F(Win32Port, HangUpIsReportedOnceAndTheThreadsLeaveTheDeviceAlone) {
  int lost = 0, errors = 0;
  comm_->OnError = [&](va::TVaObject*, int bits) {
    ++errors;
    if (bits & static_cast<int>(va::kCeDeviceLost)) ++lost;
  };
  comm_->Open();
  ASSERT_TRUE(World::Get().WaitUntil([](World& w) { return !w.ports.at(kCom3).ops.empty(); }));
  World::Get().HangUp(kCom3, va::win32::ERR_BROKEN_PIPE, va::win32::ERR_NOT_READY);
  EXPECT_TRUE(PumpUntil([&] { return lost == 1; }));
  const int waits = World::Get().Inspect([](World& w) { return w.ports.at(kCom3).wait_calls; });
  comm_->WriteBuf("x", 1);
  loop_.PumpFor(200);
  EXPECT_EQ(World::Get().Inspect([](World& w) { return w.ports.at(kCom3).wait_calls; }), waits);
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(errors, 1);
  char b;
  EXPECT_EQ(comm_->ReadBuf(&b, 1), 0);
  comm_->Close();
  EXPECT_TRUE(loop_.reported.empty()) << loop_.reported.front();
}

TEST_F(Win32Port, ThreadsGetTheirPriorities) {
  comm_->SetEventPriority(va::tpHigher);
  comm_->Open();
  ASSERT_TRUE(World::Get().WaitUntil([](World& w) { return w.priorities.size() >= 2; }));
  auto levels = World::Get().Inspect([](World& w) {
    std::vector<int> l;
    for (const auto& p : w.priorities) l.push_back(p.second);
    return l;
  });
  std::sort(levels.begin(), levels.end());
  EXPECT_EQ(levels, (std::vector<int>{1, 2}));  // above normal (event), highest (write)
  comm_->SetWritePriority(va::tpIdle);
  EXPECT_TRUE(World::Get().WaitUntil([](World& w) { return w.priorities.back().second == -15; }));
  comm_->Close();
}

TEST_F(Win32Port, ProbeListsThePortsThatOpenAndClosesThem) {
  auto holder = MakeComm();
  holder->SetPortNum(4);
  holder->Open();  // another program holds COM4
  std::vector<std::string> found;
  for (const va::TVaPortFound& port : va::platform::ProbePorts()) found.push_back(port.Path);
  EXPECT_EQ(found, (std::vector<std::string>{"COM1", "COM3", "COM7"}));
  World::Get().Inspect([](World& w) {
    EXPECT_EQ(w.create_calls.size(), 1u + 256u);
    EXPECT_EQ(w.create_calls[1], "\\\\.\\COM1");
    EXPECT_EQ(w.create_calls.back(), "\\\\.\\COM256");
    EXPECT_FALSE(w.ports.at("\\\\.\\COM1").open);
    EXPECT_FALSE(w.ports.at("\\\\.\\COM7").open);
    EXPECT_TRUE(w.ports.at("\\\\.\\COM4").open);
    return 0;
  });
  // A listed name opens as \\.\COMn (which reaches ports above COM9 too).
  EXPECT_EQ(va::platform::DevicePathFor("COM12"), "\\\\.\\COM12");
  EXPECT_EQ(va::platform::DevicePathFor("\\\\.\\COM3"), "\\\\.\\COM3");
}

// The setup API's records of the Ports class as Windows keeps them for
// common adapters (the ids and strings made up in each one's format).
va::win32::PortDevice Ftdi() {
  return {"COM3",
          "USB Serial Port (COM3)",
          "FTDI",
          {"FTDIBUS\\COMPORT&VID_0403&PID_6001"},
          "FTDIBUS\\VID_0403+PID_6001+A5012345A\\0000",
          "",
          "USB\\VID_0403&PID_6001\\A5012345",
          "FT232R USB UART"};
}
va::win32::PortDevice Cp210x() {
  return {"COM4",
          "Silicon Labs CP210x USB to UART Bridge (COM4)",
          "Silicon Labs",
          {"USB\\VID_10C4&PID_EA60&REV_0100", "USB\\VID_10C4&PID_EA60"},
          "USB\\VID_10C4&PID_EA60\\0001",
          "CP2102 USB to UART Bridge Controller",
          "USB\\ROOT_HUB30\\4&1A2B3C4D&0&0",
          ""};
}
va::win32::PortDevice Ch340WithoutSerial() {
  return {"COM5",
          "USB-SERIAL CH340 (COM5)",
          "wch.cn",
          {"USB\\VID_1A86&PID_7523&REV_0264", "USB\\VID_1A86&PID_7523"},
          "USB\\VID_1A86&PID_7523\\6&2A3B4C5D&0&1",
          "USB Serial",
          "USB\\ROOT_HUB30\\4&1A2B3C4D&0&0",
          ""};
}
// A CDC device with Windows' own driver: the port is an interface of a
// composite device, and the INF's manufacturer is Microsoft.
va::win32::PortDevice CdcInterface() {
  return {"COM6",
          "USB Serial Device (COM6)",
          "Microsoft",
          {"USB\\VID_2341&PID_0043&REV_0001&MI_00", "USB\\Class_02&SubClass_02"},
          "USB\\VID_2341&PID_0043&MI_00\\7&1F2E3D4C&0&0000",
          "Arduino Uno",
          "USB\\VID_2341&PID_0043\\85734323430351F0B1C1",
          "Arduino Uno"};
}
va::win32::PortDevice BuiltIn() {
  return {"COM1",
          "Communications Port (COM1)",
          "(Standard port types)",
          {"ACPI\\PNP0501", "*PNP0501"},
          "ACPI\\PNP0501\\0",
          "",
          "ACPI\\PNP0A08\\0",
          ""};
}
va::win32::PortDevice Bluetooth() {
  return {"COM8",
          "Standard Serial over Bluetooth link (COM8)",
          "Microsoft",
          {"BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0002"},
          "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&2B3C4D5E&0&000000000000_00000000",
          "",
          "BTH\\MS_BTHBRB\\6&1A2B3C4D&0&1",
          ""};
}
va::win32::PortDevice PrinterPort() {
  return {"LPT1",
          "ECP Printer Port (LPT1)",
          "(Standard port types)",
          {"ACPI\\PNP0401", "*PNP0401"},
          "ACPI\\PNP0401\\0",
          "",
          "ACPI\\PNP0A08\\0",
          ""};
}

// Each adapter comes out with what Linux's sysfs gives of it (its ids in
// lower case, the USB device's product string and serial number), asked by
// name or by the path a load opens; a port the records do not know has its
// name only.
TEST_F(Win32Port, IdentityComesFromTheDeviceRecords) {
  va::win32::PortDevice ftdi_alone = Ftdi();  // no USB parent to be found: the bus driver's own id
  ftdi_alone.PortName = "COM9";
  ftdi_alone.FriendlyName = "USB Serial Port (COM9)";
  ftdi_alone.ParentInstanceId = ftdi_alone.ParentBusDescription = "";
  va::win32::PortDevice renamed = Ftdi();  // a friendly name without the port, a port name in lower case
  renamed.PortName = "com11";
  renamed.FriendlyName = "Bench adapter 2";
  renamed.ParentBusDescription = "";
  World::Get().Inspect([&](World& w) {
    w.port_devices = {PrinterPort(), Ftdi(),     Cp210x(), Ch340WithoutSerial(), CdcInterface(), BuiltIn(),
                      Bluetooth(),   ftdi_alone, renamed};
    return 0;
  });
  struct Case {
    std::string name, vendor_id, product_id, manufacturer, product, serial_number;
    va::TVaPortKind kind = va::pkUnknown;
  } cases[] = {
      {"COM3", "0403", "6001", "FTDI", "FT232R USB UART", "A5012345"},
      {"COM4", "10c4", "ea60", "Silicon Labs", "CP2102 USB to UART Bridge Controller", "0001"},
      {"COM5", "1a86", "7523", "wch.cn", "USB Serial", ""},  // the instance id is made up by Windows
      {"COM6", "2341", "0043", "", "Arduino Uno", "85734323430351F0B1C1"},
      {"COM1", "", "", "", "Communications Port", "", va::pkBuiltIn},
      {"COM8", "", "", "", "Standard Serial over Bluetooth link", "", va::pkBluetooth},
      {"COM9", "0403", "6001", "FTDI", "USB Serial Port", "A5012345"},
      {"COM11", "0403", "6001", "FTDI", "Bench adapter 2", "A5012345"},
      {"COM2", "", "", "", "", ""},  // opens, but has no record (Wine's dosdevices)
      {"LPT1", "", "", "", "", ""},  // not a COM port: not looked up
  };
  for (const Case& c : cases) {
    for (const std::string& asked : {c.name, "\\\\.\\" + c.name}) {
      const va::TVaPortIdentity got = va::IdentifyPort(asked);
      EXPECT_EQ(got.Name, c.name) << asked;
      EXPECT_EQ(got.ById, "") << asked;
      EXPECT_EQ(got.VendorId, c.vendor_id) << asked;
      EXPECT_EQ(got.ProductId, c.product_id) << asked;
      EXPECT_EQ(got.Manufacturer, c.manufacturer) << asked;
      EXPECT_EQ(got.Product, c.product) << asked;
      EXPECT_EQ(got.SerialNumber, c.serial_number) << asked;
      EXPECT_EQ(got.Kind, c.kind) << asked;
    }
  }
  // A network port is never looked up.
  const int calls = World::Get().Inspect([](World& w) { return w.port_device_calls; });
  EXPECT_EQ(va::IdentifyPort("rfc2217://bench:4001").Name, "rfc2217://bench:4001");
  EXPECT_EQ(World::Get().Inspect([](World& w) { return w.port_device_calls; }), calls);
}

// The list is still the ports that open, in natural order: a recorded port
// that does not open is left out, one that opens without a record (Wine's
// dosdevices) is kept, and a recorded one above COM256 is tried as well.
TEST_F(Win32Port, ProbeTriesTheRecordedPortsBeyondCom256AndKeepsThoseWithout) {
  World::Get().Reset({"\\\\.\\COM1", "\\\\.\\COM2", "\\\\.\\COM3", "\\\\.\\COM10", "\\\\.\\COM300"});
  va::win32::PortDevice high = Cp210x();
  high.PortName = "COM300";
  va::win32::PortDevice gone = Ftdi();  // recorded, but it does not open (unplugged a moment ago)
  gone.PortName = "COM12";
  World::Get().Inspect([&](World& w) {
    w.port_devices = {PrinterPort(), BuiltIn(), Ftdi(), gone, high, Cp210x()};
    return 0;
  });
  std::vector<std::string> found, described;
  for (const va::TVaPortFound& port : va::FindPorts()) {
    EXPECT_EQ(port.Access, va::acReady);
    found.push_back(port.Path);
    const va::TVaPortIdentity id = va::IdentifyPort(port.Path);
    described.push_back(id.Name + "=" + id.Product);
  }
  EXPECT_EQ(found, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM10", "COM300"}));
  EXPECT_EQ(described, (std::vector<std::string>{"COM1=Communications Port", "COM2=", "COM3=FT232R USB UART",
                                                 "COM10=", "COM300=CP2102 USB to UART Bridge Controller"}));
  World::Get().Inspect([](World& w) {
    EXPECT_EQ(w.create_calls.size(), 256u + 1u);
    EXPECT_EQ(w.create_calls.back(), "\\\\.\\COM300");
    for (const auto& [name, port] : w.ports) EXPECT_FALSE(port.open) << name;
    return 0;
  });
  // No records at all (the enumeration failed, or Wine): the ports that open, as before.
  World::Get().Inspect([](World& w) {
    w.port_devices.clear();
    return 0;
  });
  found.clear();
  for (const va::TVaPortFound& port : va::FindPorts()) found.push_back(port.Path);
  EXPECT_EQ(found, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM10"}));
  EXPECT_EQ(va::IdentifyPort("COM3").Product, "");
}

}  // namespace
