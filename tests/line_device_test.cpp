// The simulated boot loader as an in-process device of the serial component:
// the calls its threads block in and what ends them, its replies a byte at a
// time on a timed line, the opener of the simulated port, and loads through
// the window logic and the real component into it.
#include "line_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "command_link.h"
#include "serial_test_support.h"
#include "va_ports.h"
#include "window_rig.h"

namespace kvr {
namespace {

using va::platform::IoResult;

std::string Frame(const std::string& text) {
  const std::vector<uint8_t> f = BuildFrame(text);
  return std::string(f.begin(), f.end());
}

sim::LineDeviceOptions Untimed() {
  sim::LineDeviceOptions o;
  o.line_timing = false;
  return o;
}

IoResult Send(sim::LineDevice& line, const std::string& bytes) {
  uint32_t written = 0;
  const IoResult r = line.WriteNow(bytes.data(), static_cast<uint32_t>(bytes.size()), written);
  if (r == IoResult::kDone) {
    EXPECT_EQ(written, bytes.size());
  }
  return r;
}

// The received-bytes events one reply raises, read as the component does: the
// queue's count after each event. A timed line hands the reply over a byte at
// a time, an untimed one all at once.
TEST(LineDevice, AReplyArrivesByteByByteOnlyOnATimedLine) {
  const std::string noise(1000, '~');  // about 260 ms of line time at 38400
  const std::string reply = noise + "PL0\r";
  for (const bool timed : {false, true}) {
    SCOPED_TRACE(timed ? "timed" : "untimed");
    sim::LineDeviceOptions options;
    options.line_timing = timed;
    options.device.faults.push_back({sim::DeviceFault::Kind::kNoise, 0, noise});
    sim::LineDevice line(options);
    ASSERT_TRUE(line.SetEventMask(va::kEvRxChar | va::kEvErr));
    ASSERT_EQ(Send(line, Frame("DL:0")), IoResult::kDone);
    va::TVaWaitEvent wake;
    va::TVaCommStatus status;
    int events = 0;
    do {
      uint32_t got = 0;
      ASSERT_EQ(line.WaitEvents(got, wake), IoResult::kDone);
      EXPECT_EQ(got, va::kEvRxChar);
      ++events;
      ASSERT_TRUE(line.ClearErrors(status));
    } while (status.InQueue < reply.size());
    EXPECT_EQ(status.InQueue, reply.size());
    std::string got(reply.size(), '\0');
    uint32_t read = 0;
    ASSERT_EQ(line.Read(got.data(), static_cast<uint32_t>(got.size()), 1000, read), IoResult::kDone);
    EXPECT_EQ(read, reply.size());
    EXPECT_EQ(got, reply);
    if (timed) {
      EXPECT_GT(events, 1);
    } else {
      EXPECT_EQ(events, 1);
    }
    EXPECT_EQ(line.FramesReceived(), 1u);
  }
}

// What ends the calls the component's event thread and reader block in, and
// what the calls after it get.
TEST(LineDevice, BlockedCallsEndAtAWakeUpAHangupOrAShutdown) {
  struct Case {
    const char* name;
    std::function<void(sim::LineDevice&, va::TVaEvent& wake)> end;
    IoResult wait, read;  // the blocked calls'
    IoResult later;       // a write, an event wait and a read afterwards
  };
  const Case cases[] = {
      {"wake-up", [](sim::LineDevice&, va::TVaEvent& wake) { wake.Signal(); }, IoResult::kWoken, IoResult::kTimeout,
       IoResult::kDone},
      {"hang-up", [](sim::LineDevice& line, va::TVaEvent&) { line.Hangup(); }, IoResult::kLost, IoResult::kLost,
       IoResult::kLost},
      {"shut-down", [](sim::LineDevice& line, va::TVaEvent&) { line.Shutdown(); }, IoResult::kFailed, IoResult::kFailed,
       IoResult::kFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::LineDevice line(Untimed());
    ASSERT_TRUE(line.SetEventMask(va::kEvRxChar));
    va::TVaWaitEvent wake;
    IoResult waited = IoResult::kDone, read = IoResult::kDone;
    // A wake-up does not end a read: that one waits a bounded time.
    const uint32_t read_timeout = c.read == IoResult::kTimeout ? 50 : va::INFINITE_WAIT;
    std::atomic<pid_t> waiter_id{0}, reader_id{0};
    std::thread waiter([&] {
      waiter_id = va::test::ThisThreadId();
      uint32_t events = 0;
      waited = line.WaitEvents(events, wake);
    });
    std::thread reader([&] {
      reader_id = va::test::ThisThreadId();
      char byte;
      uint32_t n = 0;
      read = line.Read(&byte, 1, read_timeout, n);
    });
    while (waiter_id.load() == 0 || reader_id.load() == 0) std::this_thread::yield();
    // Both blocked in their calls (the wake-up's read may already have timed out).
    EXPECT_TRUE(va::test::WaitUntilAsleep(waiter_id.load()));
    if (c.read != IoResult::kTimeout) {
      EXPECT_TRUE(va::test::WaitUntilAsleep(reader_id.load()));
    }
    c.end(line, wake);
    waiter.join();
    reader.join();
    EXPECT_EQ(waited, c.wait);
    EXPECT_EQ(read, c.read);

    wake.Reset();
    EXPECT_EQ(Send(line, Frame("DL:0")), c.later);
    uint32_t events = 0;
    EXPECT_EQ(line.WaitEvents(events, wake), c.later);
    char buf[8];
    uint32_t n = 0;
    EXPECT_EQ(line.Read(buf, 4, 1000, n), c.later);
    if (c.later == IoResult::kDone) {
      EXPECT_EQ(events, va::kEvRxChar);
      EXPECT_EQ(std::string(buf, n), "PL0\r");
    }
    va::TVaCommStatus status;
    EXPECT_EQ(line.ClearErrors(status), c.later != IoResult::kFailed);
  }
}

// The opener gives a line for the simulated port's name only; any other name,
// and the simulated one once the device has vanished, is a missing device.
TEST(InProcessDevice, OpensTheSimulatedPortOnlyWhileItIsThere) {
  va::test::MainLoop loop;
  sim::InProcessDevice device(Untimed());
  struct Case {
    std::string port;  // a name or a path, as the window gives it
    bool hangup_first;
    bool opens;
  };
  const Case cases[] = {
      {sim::kSimulatedPortName, false, true},
      {"/dev/SIM", false, true},
      {"COM3", false, false},
      {"SIM1", false, false},
      {"/dev/SIM/x", false, false},
      {sim::kSimulatedPortName, true, false},
  };
  // The Windows build's path for the name.
  EXPECT_TRUE(sim::IsSimulatedPortPath("\\\\.\\SIM"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    if (c.hangup_first) device.Hangup();
    va::test::TestComm comm;
    comm.DeviceOpener = device.Opener();
    const std::string path = va::DevicePathFor(c.port);
    comm.SetDeviceName(path);
    const std::string error = va::test::ErrorMessage([&] { comm.Open(); });
    if (!c.opens) {
      EXPECT_EQ(error, "Specified device not found (" + path + ").");
      EXPECT_FALSE(comm.Active());
      continue;
    }
    ASSERT_EQ(error, "(no error)");
    // The line leads to the device: a command is answered.
    std::string got;
    comm.OnRxChar = [&](va::TVaObject*, int count) {
      std::string buf(static_cast<size_t>(count), '\0');
      got.append(buf.data(), static_cast<size_t>(comm.ReadBuf(buf.data(), count)));
    };
    const uint64_t frames = device.FramesReceived();
    const std::string frame = Frame("DL:0");
    comm.WriteBuf(frame.data(), static_cast<int>(frame.size()));
    ASSERT_TRUE(loop.PumpUntil([&] { return got.size() >= 4; }));
    EXPECT_EQ(got, "PL0\r");
    EXPECT_EQ(device.FramesReceived(), frames + 1);
    comm.Close();
  }
}

// A device that stops after its last frame goes away as an unplugged one does:
// the component reports the loss, and the port is missing at the next open.
TEST(InProcessDevice, StoppingAfterItsLastFrameIsALostDevice) {
  va::test::MainLoop loop;
  sim::LineDeviceOptions options = Untimed();
  options.device.hangup_after = 2;
  sim::InProcessDevice device(options);
  va::test::TestComm comm;
  comm.DeviceOpener = device.Opener();
  comm.SetDeviceName(sim::kSimulatedPortName);
  std::string got;
  std::vector<int> errors;
  comm.OnRxChar = [&](va::TVaObject*, int count) {
    std::string buf(static_cast<size_t>(count), '\0');
    got.append(buf.data(), static_cast<size_t>(comm.ReadBuf(buf.data(), count)));
  };
  comm.OnError = [&](va::TVaObject*, int e) { errors.push_back(e); };
  comm.Open();
  const std::string frame = Frame("DL:0");
  comm.WriteBuf(frame.data(), static_cast<int>(frame.size()));
  ASSERT_TRUE(loop.PumpUntil([&] { return got.size() >= 4; }));
  comm.WriteBuf(frame.data(), static_cast<int>(frame.size()));  // the last frame: never answered
  ASSERT_TRUE(loop.PumpUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors, std::vector<int>{static_cast<int>(va::kCeDeviceLost)});
  EXPECT_EQ(got, "PL0\r");
  EXPECT_EQ(device.FramesReceived(), 2u);
  comm.Close();
  EXPECT_EQ(va::test::ErrorMessage([&] { comm.Open(); }),
            std::string("Specified device not found (") + sim::kSimulatedPortName + ").");
}

// The window's load on the simulated port: the serial component opens the
// in-process device through its opener at each start.
class WindowSimulatedLoad : public test::WindowRig {
 protected:
  ~WindowSimulatedLoad() override { logic.reset(); }
  void MakeWithDevice(sim::LineDeviceOptions options) {
    device = std::make_unique<sim::InProcessDevice>(std::move(options));
    Make({}, {sim::kSimulatedPortName});
    logic->Port().DeviceOpener = device->Opener();
    logic->OnLoadEnded = [this](LoadOutcome r, const std::string&) { ended.push_back(r); };
  }
  bool Complete() const { return screen.status == "Загрузка завершена" && !logic->Port().Active(); }

  std::unique_ptr<sim::InProcessDevice> device;
  std::vector<LoadOutcome> ended;
};

// A whole load, then a second one on a new open of the same device, which
// keeps what the first wrote beyond where the second got to.
TEST_F(WindowSimulatedLoad, WholeLoadThenASecondOpenOfTheSameDevice) {
  MakeWithDevice(Untimed());
  const std::string text = sim::MakeUpdateFileText(41);
  Open(WriteFile("image.KVR", text));
  Press();
  ASSERT_TRUE(Pump([&] { return Complete(); })) << screen.status;
  EXPECT_EQ(ended, std::vector<LoadOutcome>{LoadOutcome::kComplete});
  EXPECT_EQ(device->FramesReceived(), 41474u);
  const std::vector<uint8_t> first = sim::ImageFromUpdateText(text);
  EXPECT_EQ(device->Image(), first);
  EXPECT_EQ(device->Rejected(), 0u);
  EXPECT_TRUE(screen.reports.empty()) << screen.reports[0];

  Open(WriteFile("second.KVR", sim::MakeUpdateFileText(42)));
  Press();
  EXPECT_TRUE(Active());
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 41474u + 100; }));
  Press();
  EXPECT_FALSE(Active());
  EXPECT_EQ(ended, (std::vector<LoadOutcome>{LoadOutcome::kComplete, LoadOutcome::kInterrupted}));
  const std::vector<uint8_t> image = device->Image();
  const std::vector<uint8_t> second = sim::ImageFromUpdateText(sim::MakeUpdateFileText(42));
  EXPECT_TRUE(std::equal(second.begin(), second.begin() + 256, image.begin()));
  EXPECT_TRUE(std::equal(first.end() - 256, first.end(), image.end() - 256));
}

// On a timed line the load runs until the device vanishes: the window's
// lost-port path, and the device is not found at the next start.
TEST_F(WindowSimulatedLoad, VanishedDeviceIsALostPortThenAMissingOne) {
  MakeWithDevice({});
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(43)));
  Press();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 20; }));
  device->Hangup();
  ASSERT_TRUE(Pump([&] { return !screen.messages.empty(); }, 10000));
  EXPECT_EQ(screen.messages[0], std::string(FactsOf(LoadOutcome::kPortLost).russian) + sim::kSimulatedPortName);
  EXPECT_FALSE(Active());
  EXPECT_FALSE(screen.switch_on);
  EXPECT_EQ(ended, std::vector<LoadOutcome>{LoadOutcome::kPortLost});
  EXPECT_EQ(device->Rejected(), 0u);

  Press();
  ASSERT_EQ(screen.reports.size(), 1u);
  EXPECT_EQ(screen.reports[0], "Specified device not found (" + va::DevicePathFor(sim::kSimulatedPortName) + ").");
  EXPECT_FALSE(Active());
  EXPECT_EQ(logic->LastOutcome(), LoadOutcome::kPortError);
}

}  // namespace
}  // namespace kvr
