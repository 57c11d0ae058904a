// Settings objects, setter rules, event mask and device naming of the serial
// component; the line configuration the POSIX layer builds from them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "serial_test_support.h"
#include "va_comm.h"
#include "va_format.h"
#include "va_line_flags.h"
#include "va_posix.h"
#include "va_settings.h"

namespace va {
namespace {

using test::ErrorMessage;
using test::FakeComm;
using test::MainLoop;
using test::TestComm;
using namespace platform::line_flags;

TEST(VaPersistent, BatchesNotifyOnceAtTheOutermostEndUpdate) {
  TVaBuffers b;
  int notes = 0;
  b.OnChange = [&](TVaObject* sender) {
    EXPECT_EQ(sender, &b);
    ++notes;
  };
  b.SetReadSize(100);
  b.SetReadSize(100);  // unchanged: no notification
  EXPECT_EQ(notes, 1);
  b.SetReadTimeout(5);  // plain field
  EXPECT_EQ(notes, 1);
  b.BeginUpdate();
  b.BeginUpdate();
  b.SetWriteSize(10);
  b.SetXonLimit(10);
  b.EndUpdate();
  EXPECT_EQ(notes, 1);
  b.EndUpdate();
  EXPECT_EQ(notes, 2);
  b.EndUpdate();  // with nothing open, still one notification
  EXPECT_EQ(notes, 3);
}

TEST(VaPersistent, FlowControlSettingsMakeTheirFlagBits) {
  TVaFlowControl f;
  EXPECT_EQ(f.FlagBits(), 0u);
  f.SetControlDtr(dtrHandshake);
  f.SetControlRts(rtsToggle);
  f.SetOutCtsFlow(true);
  f.SetTxContinueOnXoff(true);
  EXPECT_EQ(f.FlagBits(), kDtrHandshake | kRtsToggle | kOutxCtsFlow | kTxContinueOnXoff);
}

TEST(VaPersistent, EventCharsNotifyOnEveryWriteEvenOutOfRange) {
  TVaEventChars c;
  int notes = 0;
  c.OnChange = [&](TVaObject*) { ++notes; };
  c.SetXonChar(17);  // same value
  c.SetChar(0, 'x');
  c.SetChar(6, 'x');
  EXPECT_EQ(notes, 3);
  EXPECT_EQ(c.XonChar(), 17);
  c.SetEventChar('\r');
  EXPECT_EQ(c.GetChar(4), '\r');
}

TEST(VaPersistent, AssignCopiesWithOneNotificationAndRefusesOtherClasses) {
  TVaFlowControl target, source;
  source.SetOutCtsFlow(true);
  source.SetOutDsrFlow(true);
  source.SetControlDtr(dtrEnabled);
  source.SetControlRts(rtsHandshake);
  source.SetXonXoffOut(true);
  source.SetXonXoffIn(true);
  source.SetDsrSensitivity(true);
  source.SetTxContinueOnXoff(true);
  int notes = 0;
  target.OnChange = [&](TVaObject*) { ++notes; };
  target.Assign(source);
  EXPECT_EQ(notes, 1);
  EXPECT_EQ(target.FlagBits(), source.FlagBits());

  TVaBuffers buffers;
  try {
    target.Assign(buffers);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TVaBuffers to a TVaFlowControl");
  }
  EXPECT_EQ(notes, 1);

  TVaBuffers b2;
  b2.SetReadTimeout(7);  // plain fields are copied too
  int bnotes = 0;
  buffers.OnChange = [&](TVaObject*) { ++bnotes; };
  buffers.Assign(b2);
  EXPECT_EQ(buffers.ReadTimeout(), 7);
  EXPECT_EQ(bnotes, 1);
}

// What a component opens with when nothing was set: the device sees it.
TEST(VaCommSettings, ANewComponentOpensA1200Baud8N1LineAndWatchesErrorsAndArrivals) {
  MainLoop loop;
  FakeComm c;
  EXPECT_EQ(c.DevicePath(), "COM0");  // DeviceName "COM%d" with PortNum 0
  c.Open();
  const platform::LineSettings& s = c.device->last_settings;
  EXPECT_EQ(s.BaudRate, 1200u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, 0);
  EXPECT_EQ(s.StopBits, 0);
  EXPECT_EQ(s.Flags, kBinary);  // no flow control, no parity check
  EXPECT_EQ(s.XonChar, 17);
  EXPECT_EQ(s.XoffChar, 19);
  EXPECT_EQ(s.EvtChar, 0);
  EXPECT_EQ(s.XonLim, 1024);
  EXPECT_EQ(s.XoffLim, 1024);
  EXPECT_EQ(c.device->queue_sizes, std::make_pair(4096u, 2048u));
  // Transmit-empty is monitored too, but the write thread reports it itself.
  EXPECT_EQ(c.device->event_mask, kEvErr | kEvRxChar);
  c.Close();
}

TEST(VaCommSettings, EachRateAndDataBitsReachTheDeviceAsTheirNumbers) {
  MainLoop loop;
  FakeComm c;
  c.Open();
  const std::pair<TVaBaudrate, uint32_t> rates[] = {
      {br110, 110},     {br300, 300},     {br600, 600},       {br1200, 1200},     {br2400, 2400},
      {br4800, 4800},   {br9600, 9600},   {br14400, 14400},   {br19200, 19200},   {br38400, 38400},
      {br56000, 56000}, {br57600, 57600}, {br115200, 115200}, {br128000, 128000}, {br256000, 256000}};
  for (const auto& [rate, value] : rates) {
    c.SetBaudrate(rate);
    EXPECT_EQ(c.device->last_settings.BaudRate, value);
  }
  const std::pair<TVaDatabits, int> sizes[] = {{db4, 4}, {db5, 5}, {db6, 6}, {db7, 7}, {db8, 8}};
  for (const auto& [databits, value] : sizes) {
    c.SetDatabits(databits);
    EXPECT_EQ(c.device->last_settings.ByteSize, value);
  }
  c.Close();
}

TEST(VaCommSettings, BaudrateAndUserBaudrateFollowEachOther) {
  TestComm c;
  c.BeginLoading();  // stored layout: brUser, then UserBaudrate 10400
  c.SetBaudrate(brUser);
  c.SetUserBaudrate(10400);
  c.Loaded();
  EXPECT_EQ(c.Baudrate(), brUser);
  EXPECT_EQ(c.UserBaudrate(), 10400);
  c.SetBaudrate(brUser);  // unchanged
  EXPECT_EQ(c.UserBaudrate(), 10400);
  c.SetBaudrate(br38400);
  EXPECT_EQ(c.UserBaudrate(), 0);
  c.SetUserBaudrate(0);  // unchanged: stays br38400
  EXPECT_EQ(c.Baudrate(), br38400);
  c.SetUserBaudrate(250000);
  EXPECT_EQ(c.Baudrate(), brUser);
}

TEST(VaCommSettings, ValuesThatIndexATableOrSizeABufferAreRangeChecked) {
  TVaComm comm;
  struct Case {
    std::function<void()> set;
    const char* message;
  };
  const std::vector<Case> cases = {
      {[&] { comm.SetDatabits(static_cast<TVaDatabits>(9)); }, "Invalid value 9 for Databits (0..4)"},
      {[&] { comm.SetParity(static_cast<TVaParity>(5)); }, "Invalid value 5 for Parity (0..4)"},
      {[&] { comm.SetStopbits(static_cast<TVaStopbits>(3)); }, "Invalid value 3 for Stopbits (0..2)"},
      {[&] { comm.SetBaudrate(static_cast<TVaBaudrate>(16)); }, "Invalid value 16 for Baudrate (0..15)"},
      {[&] { comm.SetEventPriority(static_cast<TThreadPriority>(7)); }, "Invalid value 7 for EventPriority (0..6)"},
      {[&] { comm.SetWritePriority(static_cast<TThreadPriority>(200)); }, "Invalid value 200 for WritePriority (0..6)"},
      {[&] { comm.Buffers().SetReadSize(0); }, "Invalid value 0 for ReadSize (1..2147483647)"},
      {[&] { comm.Buffers().SetWriteSize(-5); }, "Invalid value -5 for WriteSize (1..2147483647)"},
      {[&] { comm.Buffers().SetXonLimit(-1); }, "Invalid value -1 for XonLimit (0..2147483647)"},
      {[&] { comm.Buffers().SetXoffLimit(-1); }, "Invalid value -1 for XoffLimit (0..2147483647)"},
      {[&] {
         TVaFlowControl f;
         f.SetControlDtr(static_cast<TVaControlDtr>(3));
       },
       "Invalid value 3 for ControlDtr (0..2)"},
      {[&] {
         TVaFlowControl f;
         f.SetControlRts(static_cast<TVaControlRts>(4));
       },
       "Invalid value 4 for ControlRts (0..3)"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorMessage(c.set), c.message);
  // Nothing was stored.
  EXPECT_EQ(comm.Databits(), db8);
  EXPECT_EQ(comm.Buffers().WriteSize(), 2048);
  EXPECT_EQ(comm.Buffers().XonLimit(), 1024);
}

// The driver's own figures (Windows' EV_ values), written out so that a wrong
// bit constant shows too.
TEST(VaCommSettings, EventMaskFigures) {
  TestComm c;
  c.ApplyEventMask();
  EXPECT_EQ(c.EventMask(), 0x81u);  // error, received character; the write thread reports transmit-empty
  c.SetDirectWrite(true);
  c.ApplyEventMask();
  EXPECT_EQ(c.EventMask(), 0x85u);  // and transmit-empty from the driver
  c.SetMonitorEvents({ceTxEmpty});
  c.ApplyEventMask();
  EXPECT_EQ(c.EventMask(), 0x4u);
  c.SetDirectWrite(false);
  c.ApplyEventMask();
  EXPECT_EQ(c.EventMask(), 0u);
  c.SetMonitorEvents({ceBreak, ceCts, ceDsr, ceError, ceRing, ceRlsd, ceRxChar, ceTxEmpty, ceRxFlag, cePErr, ceRx80Full,
                      ceEvent1, ceEvent2});
  c.ApplyEventMask();
  EXPECT_EQ(c.EventMask(), 0x1FFBu);
}

TEST(VaCommSettings, DevicePathFormatsPortNum) {
  TestComm c;
  c.SetPortNum(3);
  EXPECT_EQ(c.DevicePath(), "COM3");
  c.SetDeviceName("/dev/ttyUSB%d");
  EXPECT_EQ(c.DevicePath(), "/dev/ttyUSB3");
  c.SetDeviceName("\\\\.\\COM7");  // no directive: unchanged
  EXPECT_EQ(c.DevicePath(), "\\\\.\\COM7");
  EXPECT_EQ(FormatWithInt("P%.3d%%", 10), "P010%");
  EXPECT_EQ(FormatWithInt("[%-4x]", 10), "[a   ]");
  EXPECT_EQ(FormatWithInt("[%4X]", 10), "[   A]");
  EXPECT_EQ(FormatWithInt("%u", -1), "4294967295");
  EXPECT_EQ(FormatWithInt("%5.3d", -7), " -007");
  EXPECT_THROW(FormatWithInt("%s", 1), EConvertError);
  EXPECT_THROW(FormatWithInt("%d%d", 1), EConvertError);
  EXPECT_THROW(FormatWithInt("COM%", 1), EConvertError);
  EXPECT_THROW(c.SetPortNum(-1), std::out_of_range);
}

class OpenFakePort : public ::testing::Test {
 protected:
  MainLoop loop;
  FakeComm comm;
};

TEST_F(OpenFakePort, SettingsReachAnOpenPortAtOnce) {
  comm.Open();
  const int after_open = comm.device->line_settings_calls.load();
  EXPECT_EQ(after_open, 1);
  EXPECT_EQ(comm.device->last_settings.BaudRate, 1200u);
  EXPECT_EQ(comm.device->last_settings.Flags, kBinary);

  comm.SetBaudrate(br38400);
  comm.SetBaudrate(br38400);  // unchanged: no write
  EXPECT_EQ(comm.device->line_settings_calls.load(), after_open + 1);
  EXPECT_EQ(comm.device->last_settings.BaudRate, 38400u);

  comm.EventChars().SetXonChar(17);  // same value: written again
  EXPECT_EQ(comm.device->line_settings_calls.load(), after_open + 2);

  TVaFlowControl f;
  f.SetOutCtsFlow(true);
  f.SetOutDsrFlow(true);
  f.SetControlDtr(dtrEnabled);
  f.SetControlRts(rtsEnabled);
  f.SetXonXoffOut(true);
  f.SetXonXoffIn(true);
  f.SetDsrSensitivity(true);
  f.SetTxContinueOnXoff(true);
  comm.SetFlowControl(f);  // eight changes, one write
  EXPECT_EQ(comm.device->line_settings_calls.load(), after_open + 3);
  EXPECT_EQ(comm.device->last_settings.Flags, kBinary | kOutxCtsFlow | kOutxDsrFlow | kDtrEnable | kRtsEnable | kOutX |
                                                 kInX | kDsrSensitivity | kTxContinueOnXoff);

  comm.SetOptions({coParityCheck, coNullStrip});
  EXPECT_EQ(comm.device->last_settings.Flags & (kErrorChar | kNull | kParityCheck), kNull | kParityCheck);
  comm.SetUserBaudrate(10400);
  EXPECT_EQ(comm.device->last_settings.BaudRate, 10400u);
  comm.SetParity(paMark);
  comm.SetDatabits(db7);
  comm.SetStopbits(sb2);
  EXPECT_EQ(comm.device->last_settings.Parity, 3);
  EXPECT_EQ(comm.device->last_settings.ByteSize, 7);
  EXPECT_EQ(comm.device->last_settings.StopBits, 2);
}

TEST_F(OpenFakePort, ThresholdsTakeTheLow16Bits) {
  comm.Buffers().SetXonLimit(65536 + 1024);
  comm.Open();
  EXPECT_EQ(comm.device->last_settings.XonLim, 1024);
}

TEST_F(OpenFakePort, WithoutUpdateDcbTheLineIsNeverWritten) {
  comm.SetUpdateDCB(false);
  comm.Open();
  comm.SetBaudrate(br9600);
  EXPECT_EQ(comm.device->line_settings_calls.load(), 0);
}

TEST_F(OpenFakePort, RefusedSettersKeepTheirValue) {
  comm.Open();
  auto refused = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const EVaCommError& e) {
      return std::string(e.what()) == "Can't perform this operation while port is open";
    }
    return false;
  };
  EXPECT_TRUE(refused([&] { comm.SetPortNum(4); }));
  EXPECT_TRUE(refused([&] { comm.SetDeviceName("x"); }));
  EXPECT_TRUE(refused([&] { comm.SetMonitorEvents({}); }));
  EXPECT_TRUE(refused([&] { comm.SetBuffers(TVaBuffers()); }));
  EXPECT_TRUE(refused([&] { comm.SetDirectWrite(true); }));
  EXPECT_TRUE(refused([&] { comm.SetUpdateDCB(false); }));
  EXPECT_TRUE(refused([&] { comm.Open(); }));
  EXPECT_EQ(comm.PortNum(), 0);
  EXPECT_EQ(comm.DeviceName(), "COM%d");
  EXPECT_FALSE(comm.DirectWrite());
  EXPECT_TRUE(comm.Active());
  // A member of the owned buffers is stored, then refused.
  EXPECT_TRUE(refused([&] { comm.Buffers().SetReadSize(1); }));
  EXPECT_EQ(comm.Buffers().ReadSize(), 1);
  // Time limits and priorities may change at any time.
  comm.Buffers().SetReadTimeout(5000);
  comm.Buffers().SetWriteTimeout(0);
  comm.SetEventPriority(tpLower);
  comm.SetWritePriority(tpNormal);
  EXPECT_EQ(comm.Buffers().ReadTimeout(), 5000);
}

}  // namespace

namespace platform::posix {
namespace {

using namespace line_flags;

struct termios2 Build(const LineSettings& s, int* err = nullptr) {
  struct termios2 current {
  }, out{};
  const int e = BuildTermios(s, current, out);
  if (err) *err = e;
  return out;
}

TEST(PosixLineSettings, BuildsRawTermiosForTheLine) {
  LineSettings s;
  s.BaudRate = 38400;
  const struct termios2 t = Build(s);
  EXPECT_EQ(t.c_cflag & CBAUD, static_cast<unsigned>(B38400));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<unsigned>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);

  s.BaudRate = 10400;  // not a standard rate
  s.ByteSize = 7;
  s.Parity = 1;
  s.StopBits = 2;
  s.Flags = kBinary | kOutxCtsFlow | kOutX | kInX | kParityCheck;
  s.XonChar = 'a';
  const struct termios2 u = Build(s);
  EXPECT_EQ(u.c_cflag & CBAUD, static_cast<unsigned>(BOTHER));
  EXPECT_EQ(u.c_ospeed, 10400u);
  EXPECT_EQ(u.c_cflag & CSIZE, static_cast<unsigned>(CS7));
  EXPECT_EQ(u.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<unsigned>(PARENB | PARODD));
  EXPECT_NE(u.c_cflag & CSTOPB, 0u);
  EXPECT_NE(u.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(u.c_iflag & (IXON | IXOFF | INPCK), static_cast<unsigned>(IXON | IXOFF | INPCK));
  EXPECT_EQ(u.c_cc[VSTART], 'a');

  s.Parity = 4;  // space
  EXPECT_EQ(Build(s).c_cflag & (PARENB | PARODD | CMSPAR), static_cast<unsigned>(PARENB | CMSPAR));
  s.ByteSize = 5;
  s.StopBits = 1;  // 1.5 with five data bits
  EXPECT_NE(Build(s).c_cflag & CSTOPB, 0u);
}

TEST(PosixLineSettings, RefusesWhatTheLineCannotDo) {
  auto refused = [](void (*change)(LineSettings&)) {
    LineSettings s;
    s.BaudRate = 9600;
    change(s);
    int err = 0;
    Build(s, &err);
    return err == EINVAL;
  };
  EXPECT_TRUE(refused([](LineSettings& s) { s.ByteSize = 4; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.StopBits = 1; }));  // 1.5 with 8 data bits
  EXPECT_TRUE(refused([](LineSettings& s) { s.BaudRate = 0; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.Flags |= kOutxDsrFlow; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.Flags |= kDtrHandshake; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.Flags |= kDtrControl; }));  // the field's undefined value
  EXPECT_TRUE(refused([](LineSettings& s) { s.Flags |= kDsrSensitivity; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.Flags |= kRtsToggle; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.Flags |= kErrorChar; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.Flags |= kNull; }));
  EXPECT_FALSE(refused([](LineSettings& s) { s.Flags |= kDtrEnable | kRtsEnable | kTxContinueOnXoff; }));
}

TEST(PosixPorts, NamesAndNaturalOrder) {
  EXPECT_TRUE(IsSerialNodeName("ttyS0"));
  EXPECT_TRUE(IsSerialNodeName("ttyUSB12"));
  EXPECT_TRUE(IsSerialNodeName("rfcomm1"));
  EXPECT_FALSE(IsSerialNodeName("ttyS"));
  EXPECT_FALSE(IsSerialNodeName("tty1"));
  EXPECT_FALSE(IsSerialNodeName("ttyUSB0x"));
  std::vector<std::string> names = {"ttyUSB10", "ttyS10", "ttyS2", "ttyACM0", "ttyUSB9"};
  std::sort(names.begin(), names.end(), NaturalLess);
  EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS2", "ttyS10", "ttyUSB9", "ttyUSB10"}));
  // A listed name is a node under /dev; a path stays as given.
  EXPECT_EQ(va::platform::DevicePathFor("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(va::platform::DevicePathFor("pts/3"), "/dev/pts/3");
  EXPECT_EQ(va::platform::DevicePathFor("/dev/pts/3"), "/dev/pts/3");
  EXPECT_EQ(va::platform::DevicePathFor("./port"), "./port");
  EXPECT_EQ(va::platform::DevicePathFor(""), "");
  // The probe on this machine: whatever it finds opens and is in order.
  const std::vector<TVaPortFound> ports = ProbePorts();
  EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(),
                             [](const TVaPortFound& a, const TVaPortFound& b) { return NaturalLess(a.Path, b.Path); }));
  for (const TVaPortFound& p : ports) {
    if (p.Access == acReady) {
      EXPECT_NE(OpenDevice(p.Path), nullptr) << p.Path;
    }
  }
}

}  // namespace
}  // namespace platform::posix
}  // namespace va
