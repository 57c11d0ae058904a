// The serial component on pseudo-terminals (the test plays the far end on the
// master) and on a scripted fake device: lifecycle, reads and writes, event
// delivery, listeners, a vanishing device, and threads under churn.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hex_text.h"
#include "serial_server.h"
#include "serial_test_support.h"
#include "test_support.h"
#include "va_comm.h"
#include "va_ports.h"
#include "va_posix.h"
#include "va_rfc2217.h"

namespace va {
namespace {

using test::ErrorMessage;
using test::FakeComm;
using test::MainLoop;
using test::PtyPair;
using test::TestComm;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class PtyPort : public ::testing::Test {
 protected:
  PtyPort() {
    comm.SetDeviceName(pty.SlavePath());
    comm.OnOpen = [this](TVaObject*) { log.push_back("open"); };
    comm.OnClose = [this](TVaObject*) { log.push_back("close"); };
  }
  ~PtyPort() override { platform::posix::BeforeSetTermios = nullptr; }

  MainLoop loop;
  PtyPair pty;
  std::vector<std::string> log;
  TestComm comm;
};

TEST_F(PtyPort, OpenAppliesTheLineAndCloseEndsIt) {
  std::vector<struct termios2> written;
  platform::posix::BeforeSetTermios = [&](const struct termios2& t) { written.push_back(t); };
  comm.SetBaudrate(br38400);
  comm.Open();
  EXPECT_TRUE(comm.Active());
  EXPECT_EQ(log, std::vector<std::string>{"open"});
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<unsigned>(CS8));

  struct termios2 back {};
  ASSERT_EQ(ioctl(pty.Master(), TCGETS2, &back), 0);
  EXPECT_EQ(back.c_cflag & CBAUD, static_cast<unsigned>(B38400));
  EXPECT_EQ(back.c_ospeed, 38400u);

  // Live changes: an arbitrary rate, and a configuration the pty does not keep.
  comm.SetUserBaudrate(10400);
  ASSERT_EQ(ioctl(pty.Master(), TCGETS2, &back), 0);
  EXPECT_EQ(back.c_ospeed, 10400u);
  comm.SetDatabits(db7);
  comm.SetParity(paEven);
  comm.SetStopbits(sb2);
  TVaFlowControl f;
  f.SetOutCtsFlow(true);
  f.SetXonXoffIn(true);
  comm.SetFlowControl(f);
  ASSERT_EQ(written.size(), 6u);
  EXPECT_EQ(written.back().c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS),
            static_cast<unsigned>(CS7 | PARENB | CSTOPB | CRTSCTS));
  EXPECT_EQ(written.back().c_iflag & (IXON | IXOFF), static_cast<unsigned>(IXOFF));

  comm.Close();
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(log, (std::vector<std::string>{"open", "close"}));
  EXPECT_EQ(*comm.pauses, std::vector<uint32_t>{300});
  comm.Close();  // closed: no event, no pause
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(comm.pauses->size(), 1u);
}

TEST_F(PtyPort, SettingsTheLineCannotTakeAreRefused) {
  comm.SetDatabits(db4);
  EXPECT_EQ(ErrorMessage([&] { comm.Open(); }), "Error writing dcb (22), Invalid argument");
  EXPECT_FALSE(comm.Active());  // the failed Open closed the device again
  EXPECT_TRUE(log.empty());
  comm.SetDatabits(db8);
  comm.Open();
  EXPECT_EQ(ErrorMessage([&] { comm.SetStopbits(sb15); }), "Error writing dcb (22), Invalid argument");
  EXPECT_EQ(comm.Stopbits(), sb15);  // stored all the same
  EXPECT_TRUE(comm.Active());
}

TEST_F(PtyPort, OpenTwiceIsRefusedAndThePortKeepsWorking) {
  comm.Open();
  EXPECT_EQ(ErrorMessage([&] { comm.Open(); }), "Can't perform this operation while port is open");
  EXPECT_EQ(comm.WriteBuf("ok", 2), 2);
  EXPECT_EQ(pty.Read(2), "ok");
}

TEST_F(PtyPort, DeviceErrorsNameThePath) {
  TestComm other;
  other.SetDeviceName(pty.SlavePath());
  comm.Open();
  EXPECT_EQ(ErrorMessage([&] { other.Open(); }),
            "Can't open specified device " + pty.SlavePath() + " (Error 16, Device or resource busy)");
  EXPECT_FALSE(other.Active());

  TestComm missing;
  EXPECT_EQ(ErrorMessage([&] { missing.Open(); }), "Specified device not found (COM0).");
  missing.SetDeviceName("/dev/no-such-port%d");
  missing.SetPortNum(7);
  EXPECT_EQ(ErrorMessage([&] { missing.Open(); }), "Specified device not found (/dev/no-such-port7).");
  missing.SetDeviceName("/dev/null");
  EXPECT_EQ(ErrorMessage([&] { missing.Open(); }),
            "Can't open specified device /dev/null (Error 25, Inappropriate ioctl for device)");
  missing.SetDeviceName("/tmp/100%%-missing");  // a percent sign in the path stays as it is
  EXPECT_EQ(ErrorMessage([&] { missing.Open(); }), "Specified device not found (/tmp/100%-missing).");
}

TEST_F(PtyPort, ClosedPortReadsAndWritesNothing) {
  char buf[4];
  EXPECT_EQ(comm.ReadBuf(buf, 4), 0);
  EXPECT_EQ(comm.WriteBuf("abcd", 4), 0);
  EXPECT_EQ(comm.InQueue(), 0);
}

TEST_F(PtyPort, ReadBufTimesOutAndReadsWhatCame) {
  comm.Buffers().SetReadTimeout(60);
  comm.Open();
  char buf[16];
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(comm.ReadBuf(buf, 16), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(55));
  pty.Write("hello");
  EXPECT_EQ(comm.ReadBuf(buf, 16), 5);  // five bytes, then the line pauses
  EXPECT_EQ(std::string(buf, 5), "hello");
}

TEST_F(PtyPort, QueuedWriteReturnsAtOnceAndTxEmptyFollowsTheDrain) {
  int tx_empty = 0;
  comm.OnTxEmpty = [&](TVaObject*) { ++tx_empty; };
  comm.Open();
  const std::string frame = "DL:0\xFA\r";
  EXPECT_EQ(comm.WriteBuf(frame.data(), static_cast<int>(frame.size())), 6);
  EXPECT_EQ(pty.Read(6), frame);
  EXPECT_TRUE(loop.PumpUntil([&] { return tx_empty == 1; }));
  // ceTxEmpty is not needed in MonitorEvents: the write thread reports it.
  EXPECT_EQ(comm.EventMask() & kEvTxEmpty, 0u);
}

TEST_F(PtyPort, WritesFromTxEmptyStreamWithoutARefusal) {
  // Each report queues two 1500-byte pieces into the 2048-byte queue: the
  // second one needs the thread to go on sending while its report is handled.
  comm.Buffers().SetWriteTimeout(2000);
  comm.Open();
  const size_t total = 300 * 1500;
  std::string sent;
  std::vector<std::string> refusals;
  auto piece = [&] {
    std::string p(1500, '\0');
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<char>((sent.size() + i) * 7 % 251);
    return p;
  };
  comm.OnTxEmpty = [&](TVaObject*) {
    for (int i = 0; i < 2 && sent.size() < total; ++i) {
      const std::string p = piece();
      try {
        comm.WriteBuf(p.data(), static_cast<int>(p.size()));
        sent += p;
      } catch (const EVaCommError& e) {
        refusals.push_back(e.what());
        return;
      }
    }
  };
  std::string got;
  std::thread reader([&] { got = pty.Read(total, 20000); });
  const std::string first = piece();
  comm.WriteBuf(first.data(), static_cast<int>(first.size()));
  sent += first;
  EXPECT_TRUE(loop.PumpUntil([&] { return sent.size() >= total || !refusals.empty(); }, 20000));
  reader.join();
  EXPECT_TRUE(refusals.empty()) << refusals.front();
  EXPECT_EQ(got.size(), sent.size());
  EXPECT_TRUE(got == sent);
}

// A read that lands while the event thread is counting the waiting bytes:
// the next arrival must still be announced.
struct CountRace {
  static inline std::mutex mutex;
  static inline std::condition_variable changed;
  static inline bool counting = false, read_done = false, once = false;
  static void Hook() {
    std::unique_lock<std::mutex> lock(mutex);
    if (once) return;
    once = counting = true;
    changed.notify_all();
    changed.wait_for(lock, std::chrono::milliseconds(300), [] { return read_done; });
  }
};

TEST_F(PtyPort, AReadRacingTheArrivalCountLosesNoAnnouncement) {
  std::vector<int> counts;
  char buf[8];
  comm.OnRxChar = [&](TVaObject*, int count) { counts.push_back(count); };
  comm.Open();
  platform::posix::AfterQueueCount.store(&CountRace::Hook);
  pty.Write("aaaa");
  {
    std::unique_lock<std::mutex> lock(CountRace::mutex);
    ASSERT_TRUE(CountRace::changed.wait_for(lock, std::chrono::seconds(2), [] { return CountRace::counting; }));
  }
  EXPECT_EQ(comm.ReadBuf(buf, 4), 4);  // while the thread holds its count of 4
  {
    std::lock_guard<std::mutex> lock(CountRace::mutex);
    CountRace::read_done = true;
  }
  CountRace::changed.notify_all();
  loop.PumpFor(50);  // the batch finds nothing left to announce
  EXPECT_TRUE(counts.empty());
  pty.Write("b");
  EXPECT_TRUE(loop.PumpUntil([&] { return !counts.empty(); }, 2000));
  EXPECT_EQ(counts, std::vector<int>{1});
  platform::posix::AfterQueueCount.store(nullptr);
}

// Modem-line transitions as the driver counts them (a pseudo-terminal has
// no modem lines: the counts come through the layer's seam).
// A driver's serial_struct as the open and the close ask for it: a USB
// adapter's driver takes the low-latency request, and the close puts back
// what was there; a driver that refuses, or has the flag already, is left alone.
struct FakeSerialDriver {
  static inline int flags = 0;
  static inline bool refuse_set = false, refuse_get = false;
  static inline std::vector<int> set;  // the flags of each TIOCSSERIAL
  static int Request(int, unsigned long request, struct serial_struct* s) {
    if (request == TIOCGSERIAL) {
      if (refuse_get) return -1;
      s->flags = flags;
      return 0;
    }
    if (refuse_set) return -1;
    set.push_back(s->flags);
    flags = s->flags;
    return 0;
  }
};

TEST_F(PtyPort, OpenAsksTheDriverForLowLatencyAndCloseRestoresIt) {
  struct Case {
    int flags;
    bool refuse_get, refuse_set;
    std::vector<int> set;  // what the open and the close write
  };
  const int other = ASYNC_SPD_HI;  // another flag of the driver's, kept as it is
  const std::vector<Case> cases = {
      {other, false, false, {other | ASYNC_LOW_LATENCY, other}},
      {other | ASYNC_LOW_LATENCY, false, false, {}},  // so already: nothing to undo either
      {0, false, true, {}},                           // refused: the port opens as before
      {0, true, false, {}},                           // no serial_struct (a pseudo-terminal)
  };
  platform::posix::SerialRequest.store(&FakeSerialDriver::Request);
  for (const Case& c : cases) {
    FakeSerialDriver::flags = c.flags;
    FakeSerialDriver::refuse_get = c.refuse_get;
    FakeSerialDriver::refuse_set = c.refuse_set;
    FakeSerialDriver::set.clear();
    comm.Open();
    EXPECT_TRUE(comm.Active());
    comm.Close();
    EXPECT_EQ(FakeSerialDriver::set, c.set) << c.flags;
  }
  platform::posix::SerialRequest.store(nullptr);
}

struct FakeModem {
  static inline std::atomic<uint32_t> cts{0}, dsr{0}, rng{0}, dcd{0};
  static bool Read(int, platform::posix::ModemCounts& c) {
    c = {cts.load(), dsr.load(), rng.load(), dcd.load()};
    return true;
  }
};

TEST_F(PtyPort, ModemLineChangesArriveAsTheirEvents) {
  std::vector<std::string> seen;
  comm.OnCts = [&](TVaObject*) { seen.push_back("cts"); };
  comm.OnDsr = [&](TVaObject*) { seen.push_back("dsr"); };
  comm.OnRlsd = [&](TVaObject*) { seen.push_back("rlsd"); };
  comm.OnRing = [&](TVaObject*) { seen.push_back("ring"); };
  comm.SetMonitorEvents({ceRxChar, ceCts, ceDsr, ceRlsd, ceRing});
  platform::posix::ReadModemCounts.store(&FakeModem::Read);
  comm.Open();
  loop.PumpFor(50);
  EXPECT_TRUE(seen.empty());  // the first look only sets the base
  FakeModem::cts += 2;        // a pulse: up and down between two looks
  ASSERT_TRUE(loop.PumpUntil([&] { return seen.size() == 1; }));
  FakeModem::dsr += 1;
  FakeModem::dcd += 1;
  FakeModem::rng += 1;
  ASSERT_TRUE(loop.PumpUntil([&] { return seen.size() == 4; }));
  std::sort(seen.begin() + 1, seen.end());  // one batch or several
  EXPECT_EQ(seen, (std::vector<std::string>{"cts", "dsr", "ring", "rlsd"}));
  loop.PumpFor(30);
  EXPECT_EQ(seen.size(), 4u);  // each transition once
  comm.Close();
  platform::posix::ReadModemCounts.store(nullptr);
}

TEST_F(PtyPort, TheEventCharacterRaisesRxFlagAndTheBytesStayInOrder) {
  int flags = 0;
  std::string got;
  comm.EventChars().SetEventChar('\r');
  comm.SetMonitorEvents({ceRxChar, ceRxFlag});
  comm.OnRxFlag = [&](TVaObject*) { ++flags; };
  comm.OnRxChar = [&](TVaObject*, int count) {
    std::string piece(static_cast<size_t>(count), '\0');
    piece.resize(static_cast<size_t>(comm.ReadBuf(piece.data(), count)));
    got += piece;
  };
  comm.Open();
  pty.Write("PL");
  ASSERT_TRUE(loop.PumpUntil([&] { return got == "PL"; }));
  EXPECT_EQ(flags, 0);
  pty.Write("0\rPL6");
  ASSERT_TRUE(loop.PumpUntil([&] { return got == "PL0\rPL6"; }));
  EXPECT_EQ(flags, 1);
  // A reader outside the handlers gets what the event thread took first.
  comm.OnRxChar = nullptr;
  pty.Write("\rPL1\r");
  ASSERT_TRUE(loop.PumpUntil([&] { return flags == 2; }));
  char buf[16];
  EXPECT_EQ(std::string(buf, static_cast<size_t>(comm.ReadBuf(buf, 16))), "\rPL1\r");
}

TEST_F(PtyPort, FullQueueFailsWithItsMessage) {
  comm.Buffers().SetWriteTimeout(0);
  comm.Open();
  const std::string block(2049, 'x');
  EXPECT_EQ(ErrorMessage([&] { comm.WriteBuf(block.data(), 2049); }),
            "Output buffer is full. Please check comm status.");
  // The far end reads nothing: the pty fills up, then the queue does.
  std::string error;
  for (int i = 0; i < 200 && error.empty(); ++i) {
    try {
      comm.WriteBuf(block.data(), 1000);
    } catch (const EVaCommError& e) {
      error = e.what();
    }
    loop.PumpFor(1);
  }
  EXPECT_EQ(error, "Output buffer is full. Please check comm status.");
  EXPECT_TRUE(comm.Active());
}

TEST_F(PtyPort, RxCharAnnouncesEachArrivalOnce) {
  std::vector<int> counts;
  comm.OnRxChar = [&](TVaObject* sender, int count) {
    EXPECT_EQ(sender, &comm);
    counts.push_back(count);
  };
  comm.Open();
  pty.Write("1234567");
  ASSERT_TRUE(loop.PumpUntil([&] { return !counts.empty(); }));
  EXPECT_EQ(counts, std::vector<int>{7});
  // The handler read nothing: the bytes wait, and nothing is announced again.
  const double cpu = CpuSeconds();
  loop.PumpFor(150);
  EXPECT_EQ(counts.size(), 1u);
  EXPECT_LT(CpuSeconds() - cpu, 0.1);
  EXPECT_EQ(comm.InQueue(), 7);
  pty.Write("89A");
  ASSERT_TRUE(loop.PumpUntil([&] { return counts.size() == 2; }));
  EXPECT_EQ(counts[1], 10);
  char buf[16];
  EXPECT_EQ(comm.ReadBuf(buf, counts[1]), 10);
  EXPECT_EQ(std::string(buf, 10), "123456789A");
}

TEST_F(PtyPort, ListenersTakeTheDataAndOnRxBufFollows) {
  struct Recorder : TVaCommListenerHandler {
    void EventsArrived(TVaCustomComm*, uint32_t events) override { log->push_back("events " + std::to_string(events)); }
    void DataArrived(TVaCustomComm*, const void* data, int count) override {
      log->push_back("data " + std::string(static_cast<const char*>(data), count));
    }
    std::vector<std::string>* log;
  } recorder;
  recorder.log = &log;
  TVaCommListener listener(&recorder);
  comm.AttachListener(&listener);
  EXPECT_TRUE(listener.Enabled);
  EXPECT_EQ(listener.Comm, &comm);
  comm.OnRxBuf = [&](TVaObject*, const void* data, int count) {
    log.push_back("rxbuf " + std::string(static_cast<const char*>(data), count));
  };
  comm.OnRxChar = [&](TVaObject*, int) { log.push_back("rxchar"); };
  comm.Open();
  log.clear();
  pty.Write("abc");
  ASSERT_TRUE(loop.PumpUntil([&] { return log.size() >= 2; }));
  EXPECT_EQ(log, (std::vector<std::string>{"data abc", "rxbuf abc"}));
  EXPECT_EQ(comm.InQueue(), 0);

  comm.DetachListener(&listener);
  EXPECT_EQ(listener.Comm, nullptr);
  log.clear();
  pty.Write("d");
  ASSERT_TRUE(loop.PumpUntil([&] { return !log.empty(); }));
  EXPECT_EQ(log, std::vector<std::string>{"rxchar"});
}

TEST_F(PtyPort, VanishedDeviceIsReportedOnceAndNothingSpins) {
  std::vector<int> errors;
  comm.OnError = [&](TVaObject*, int e) { errors.push_back(e); };
  int reads = 0;
  comm.OnRxChar = [&](TVaObject*, int count) {
    char buf[64];
    reads += comm.ReadBuf(buf, std::min(count, 64));
  };
  comm.Open();
  pty.Write("PL0\r");
  ASSERT_TRUE(loop.PumpUntil([&] { return reads == 4; }));
  comm.WriteBuf("DL:6\0\r", 6);
  pty.CloseMaster();  // the far end goes away mid-traffic
  ASSERT_TRUE(loop.PumpUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors[0] & static_cast<int>(kCeDeviceLost), static_cast<int>(kCeDeviceLost));
  comm.WriteBuf("DL:7\1\r", 6);  // queued; the write thread leaves the device alone
  const double cpu = CpuSeconds();
  loop.PumpFor(300);
  EXPECT_LT(CpuSeconds() - cpu, 0.15);
  EXPECT_EQ(errors.size(), 1u);
  char buf[4];
  EXPECT_EQ(comm.ReadBuf(buf, 4), 0);
  comm.Close();
  EXPECT_FALSE(comm.Active());
}

TEST_F(PtyPort, ClosingAndDestroyingWhileBytesArrive) {
  std::atomic<bool> stop{false};
  std::thread far_end([&] {
    while (!stop.load()) {
      try {
        pty.Write("PL20\r");
      } catch (...) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (int i = 0; i < 30; ++i) {
    auto c = std::make_unique<TestComm>();
    c->SetDeviceName(pty.SlavePath());
    int events = 0;
    c->OnRxChar = [&](TVaObject*, int count) {
      std::vector<char> buf(static_cast<size_t>(count));
      c->ReadBuf(buf.data(), count);
      c->WriteBuf("DL:21:\r", 7);
      ++events;
    };
    c->Open();
    loop.PumpUntil([&] { return events >= 2; }, 1000);
    if (i % 2 == 0) c->Close();
    c.reset();  // destroyed with deliveries still queued
    loop.PumpFor(2);
  }
  stop.store(true);
  far_end.join();
  // Reads by the far end keep the pty from filling; whatever is left is dropped.
  pty.Read(1 << 20, 50);
}

TEST_F(PtyPort, TwoHundredOpenCloseCyclesWithTraffic) {
  int replies = 0;
  std::string got;
  comm.OnRxChar = [&](TVaObject*, int count) {
    char buf[64];
    const int n = comm.ReadBuf(buf, std::min(count, 64));
    got.append(buf, static_cast<size_t>(n));
    if (got.find('\r') != std::string::npos) {
      ++replies;
      got.clear();
    }
  };
  for (int cycle = 0; cycle < 200; ++cycle) {
    comm.Open();
    comm.WriteBuf("DL:0\xFA\r", 6);
    ASSERT_EQ(pty.Read(6), "DL:0\xFA\r") << "cycle " << cycle;
    pty.Write("PL0\r");
    ASSERT_TRUE(loop.PumpUntil([&] { return replies == cycle + 1; })) << "cycle " << cycle;
    comm.Close();
  }
  EXPECT_EQ(comm.pauses->size(), 200u);
}

// --- the threads' logic on a scripted device -------------------------------

class FakePort : public ::testing::Test {
 protected:
  MainLoop loop;
  std::vector<std::string> calls;
  FakeComm comm;
};

TEST_F(FakePort, ReceivedCharactersComeBeforeLineErrors) {
  comm.OnRxChar = [&](TVaObject*, int count) { calls.push_back("rxchar " + std::to_string(count)); };
  comm.OnError = [&](TVaObject*, int e) { calls.push_back("error " + std::to_string(e)); };
  comm.OnBreak = [&](TVaObject*) { calls.push_back("break"); };
  comm.Open();
  comm.device->Receive("PL0\r");
  comm.device->line_errors = kCeFrame;
  comm.device->PushEvents(kEvRxChar | kEvErr | kEvBreak);
  ASSERT_TRUE(loop.PumpUntil([&] { return calls.size() == 3; }));
  EXPECT_EQ(calls, (std::vector<std::string>{"rxchar 4", "error 8", "break"}));
}

TEST_F(FakePort, DispatchOrderOfLineEvents) {
  auto note = [&](const char* name) { return [this, name](TVaObject*) { calls.push_back(name); }; };
  comm.OnRxFlag = note("rxflag");
  comm.OnCts = note("cts");
  comm.OnDsr = note("dsr");
  comm.OnRing = note("ring");
  comm.OnRlsd = note("rlsd");
  comm.OnTxEmpty = note("txempty");
  comm.OnBreak = note("break");
  comm.OnPErr = note("perr");
  comm.OnRx80Full = note("rx80full");
  comm.OnEvent1 = note("event1");
  comm.OnEvent2 = note("event2");
  comm.OnError = [&](TVaObject*, int) { calls.push_back("error"); };
  comm.Open();
  comm.device->line_errors = kCeOverrun;
  comm.DoEvents(0x1FFE);
  EXPECT_EQ(calls, (std::vector<std::string>{"error", "rxflag", "cts", "dsr", "ring", "rlsd", "txempty", "break",
                                             "perr", "rx80full", "event1", "event2"}));
}

TEST_F(FakePort, HandlerExceptionIsReportedAndLaterBatchesArrive) {
  int batches = 0;
  comm.OnRxChar = [&](TVaObject*, int) {
    if (++batches == 1) throw EVaCommError("handler failed");
  };
  comm.OnCts = [&](TVaObject*) { calls.push_back("cts"); };
  comm.Open();
  comm.device->Receive("x");
  comm.device->PushEvents(kEvRxChar | kEvCts);  // the CTS of this batch is skipped
  comm.device->PushEvents(kEvRxChar);
  ASSERT_TRUE(loop.PumpUntil([&] { return batches == 2; }));
  EXPECT_EQ(loop.reported, std::vector<std::string>{"handler failed"});
  EXPECT_TRUE(calls.empty());
}

TEST_F(FakePort, ExceptionsOfOpenAndCloseHandlers) {
  comm.OnOpen = [](TVaObject*) { throw EVaCommError("open handler"); };
  comm.Open();
  EXPECT_TRUE(comm.Active());
  EXPECT_EQ(loop.reported, std::vector<std::string>{"open handler"});
  comm.OnClose = [](TVaObject*) { throw EVaCommError("close handler"); };
  EXPECT_EQ(ErrorMessage([&] { comm.Close(); }), "close handler");
  EXPECT_FALSE(comm.Active());
  EXPECT_TRUE(comm.pauses->empty());  // the pause is skipped after a failing OnClose
}

// A handler may destroy the component; nothing of it is touched afterwards
// (AddressSanitizer reads the freed object otherwise) and the rest of the
// batch is dropped.
TEST_F(FakePort, HandlersMayDestroyTheComponent) {
  struct Killer : TVaCommListenerHandler {
    std::function<void()> kill;
    void EventsArrived(TVaCustomComm*, uint32_t) override { kill(); }
    void DataArrived(TVaCustomComm*, const void*, int) override { kill(); }
  };
  struct Case {
    const char* name;
    uint32_t batch;
    std::function<void(FakeComm&, const std::function<void()>&, Killer&, std::unique_ptr<TVaCommListener>&)> arm;
  };
  const std::vector<Case> cases = {
      {"OnCts, DSR still in the batch", kEvCts | kEvDsr,
       [](FakeComm& c, const std::function<void()>& kill, Killer&, auto&) {
         c.OnCts = [&kill](TVaObject*) { kill(); };
       }},
      {"OnRxChar, CTS still in the batch", kEvRxChar | kEvCts,
       [](FakeComm& c, const std::function<void()>& kill, Killer&, auto&) {
         c.OnRxChar = [&kill](TVaObject*, int) { kill(); };
       }},
      {"OnError, CTS still in the batch", kEvErr | kEvCts,
       [](FakeComm& c, const std::function<void()>& kill, Killer&, auto&) {
         c.device->line_errors = kCeFrame;
         c.OnError = [&kill](TVaObject*, int) { kill(); };
       }},
      {"a listener's events", kEvCts | kEvDsr,
       [](FakeComm& c, const std::function<void()>&, Killer& k, std::unique_ptr<TVaCommListener>& l) {
         l = std::make_unique<TVaCommListener>(&k);
         c.AttachListener(l.get());
       }},
      {"a listener's data, OnRxBuf set", kEvRxChar | kEvCts,
       [](FakeComm& c, const std::function<void()>&, Killer& k, std::unique_ptr<TVaCommListener>& l) {
         l = std::make_unique<TVaCommListener>(&k);
         c.AttachListener(l.get());
         c.OnRxBuf = [](TVaObject*, const void*, int) { ADD_FAILURE() << "OnRxBuf after the component was gone"; };
       }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    auto owner = std::make_unique<FakeComm>();
    FakeComm* c = owner.get();
    bool gone = false;
    std::unique_ptr<TVaCommListener> listener;  // outlives the component
    const std::function<void()> kill = [&] {
      owner.reset();
      gone = true;
    };
    Killer killer;
    killer.kill = kill;
    int later = 0;
    c->OnCts = c->OnDsr = [&](TVaObject*) { ++later; };
    k.arm(*c, kill, killer, listener);
    c->Open();
    c->device->Receive("abc");
    std::shared_ptr<test::FakeDevice> device = c->device;
    device->PushEvents(k.batch);
    ASSERT_TRUE(loop.PumpUntil([&] { return gone; }));
    loop.PumpFor(20);
    EXPECT_EQ(later, 0);
    EXPECT_TRUE(device->shut.load());
  }
  // OnClose destroying its component: the close pause is not read from it.
  auto owner = std::make_unique<FakeComm>();
  owner->OnClose = [&](TVaObject*) { owner.reset(); };
  owner->Open();
  owner->Close();
  EXPECT_EQ(owner, nullptr);
}

TEST_F(FakePort, OpenHandlerThatClosesAndRaisesIsReported) {
  comm.OnOpen = [this](TVaObject*) {
    comm.Close();
    throw EVaCommError("refused by the handler");
  };
  comm.Open();
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(loop.reported, std::vector<std::string>{"refused by the handler"});
}

TEST_F(FakePort, ReopenInsideOnRxCharDropsTheRestOfTheOldBatch) {
  int cts = 0, opens = 0;
  comm.OnOpen = [&](TVaObject*) { ++opens; };
  comm.OnCts = [&](TVaObject*) { ++cts; };
  comm.OnRxChar = [&](TVaObject*, int) {
    comm.Close();
    comm.Open();
  };
  comm.Open();
  comm.device->Receive("x");
  comm.device->PushEvents(kEvRxChar | kEvCts);
  ASSERT_TRUE(loop.PumpUntil([&] { return opens == 2; }));
  loop.PumpFor(20);
  EXPECT_EQ(cts, 0);
  EXPECT_TRUE(comm.Active());
}

TEST_F(FakePort, LostDeviceIsReportedToAReaderWithoutAnEventThread) {
  comm.SetMonitorEvents({});
  std::vector<int> errors;
  comm.OnError = [&](TVaObject*, int e) { errors.push_back(e); };
  comm.Open();
  comm.device->lose_on_read = true;
  char buf[8];
  EXPECT_EQ(comm.ReadBuf(buf, 8), 0);
  EXPECT_EQ(comm.ReadBuf(buf, 8), 0);
  ASSERT_TRUE(loop.PumpUntil([&] { return !errors.empty(); }));
  loop.PumpFor(20);
  EXPECT_EQ(errors, std::vector<int>{static_cast<int>(kCeDeviceLost)});
}

TEST_F(FakePort, DestroyingAnOpenPortDoesNotFireOnClose) {
  auto c = std::make_unique<FakeComm>();
  bool closed = false;
  c->OnClose = [&](TVaObject*) { closed = true; };
  c->Open();
  std::shared_ptr<test::FakeDevice> device = c->device;
  c.reset();
  EXPECT_FALSE(closed);
  EXPECT_TRUE(device->shut.load());
}

TEST_F(FakePort, NoEventThreadWithoutMonitoredEvents) {
  comm.SetMonitorEvents({});
  int rx = 0, tx = 0;
  comm.OnRxChar = [&](TVaObject*, int) { ++rx; };
  comm.OnTxEmpty = [&](TVaObject*) { ++tx; };
  comm.Open();
  comm.device->Receive("x");
  comm.device->PushEvents(kEvRxChar);
  comm.WriteBuf("abc", 3);
  ASSERT_TRUE(loop.PumpUntil([&] { return tx == 1; }));
  loop.PumpFor(30);
  EXPECT_EQ(rx, 0);
  EXPECT_EQ(comm.device->wait_calls.load(), 0);
}

TEST_F(FakePort, FailedWriteIsReportedAndRetriedAfterAPause) {
  std::vector<int> errors;
  int tx_empty = 0;
  comm.OnError = [&](TVaObject*, int e) { errors.push_back(e); };
  comm.OnTxEmpty = [&](TVaObject*) { ++tx_empty; };
  comm.device->fail_writes = 2;
  comm.Open();
  const auto t0 = std::chrono::steady_clock::now();
  comm.WriteBuf("DL:7\1\r", 6);
  ASSERT_TRUE(loop.PumpUntil([&] { return tx_empty == 1; }));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2 * kRetryPauseMs - 5));
  EXPECT_EQ(comm.device->write_calls.load(), 3);
  EXPECT_EQ(comm.device->output, "DL:7\1\r");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0], static_cast<int>(kCeIoe));
}

TEST_F(FakePort, LostDeviceStopsBothThreads) {
  std::vector<int> errors;
  comm.OnError = [&](TVaObject*, int e) { errors.push_back(e); };
  comm.device->lose_on_write = true;
  comm.Open();
  comm.WriteBuf("a", 1);  // the write thread finds the device gone
  ASSERT_TRUE(loop.PumpUntil([&] { return !errors.empty(); }));
  comm.device->PushLost();  // and so does the event thread's wait
  comm.WriteBuf("b", 1);
  loop.PumpFor(100);
  EXPECT_EQ(errors, std::vector<int>{static_cast<int>(kCeDeviceLost)});
  EXPECT_EQ(comm.device->write_calls.load(), 1);
  EXPECT_EQ(comm.device->wait_calls.load(), 1);
}

TEST_F(FakePort, QueueKeepsTheCapacityItWasOpenedWith) {
  comm.Buffers().SetWriteTimeout(0);
  comm.Open();
  // A larger size is stored (and refused) while open; it is not the queue's.
  EXPECT_THROW(comm.Buffers().SetWriteSize(8192), EVaCommError);
  const std::string block(4000, 'z');
  EXPECT_EQ(ErrorMessage([&] { comm.WriteBuf(block.data(), 4000); }),
            "Output buffer is full. Please check comm status.");
  EXPECT_EQ(comm.WriteBuf(block.data(), 2048), 2048);  // exactly the capacity fits at once
}

TEST_F(FakePort, DisplayIsToldBeforeEachBatchAndForgottenWhenGone) {
  struct Display : TVaDisplay {
    void UpdateDisplay(TVaCustomComm* c) override { calls->push_back(c ? "display" : "?"); }
    std::vector<std::string>* calls;
  };
  auto display = std::make_unique<Display>();
  display->calls = &calls;
  comm.SetDisplay(display.get());
  comm.OnCts = [&](TVaObject*) { calls.push_back("cts"); };
  comm.Open();
  comm.device->PushEvents(kEvCts);
  ASSERT_TRUE(loop.PumpUntil([&] { return calls.size() == 2; }));
  EXPECT_EQ(calls, (std::vector<std::string>{"display", "cts"}));
  display.reset();
  EXPECT_EQ(comm.Display(), nullptr);
  comm.device->PushEvents(kEvCts);
  ASSERT_TRUE(loop.PumpUntil([&] { return calls.size() == 3; }));
}

TEST_F(FakePort, AutoOpenOpensOnceLoaded) {
  comm.BeginLoading();
  comm.SetAutoOpen(true);
  EXPECT_FALSE(comm.Active());
  comm.Loaded();
  EXPECT_TRUE(comm.Active());
}

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
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
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

// The telnet stream decodes the same however it is cut into arrivals: data
// with doubled IACs, negotiations, the server's com-port answers (an IAC in
// a value doubled too).
TEST(Rfc2217Stream, DecodesTheSameInAnyPieces) {
  namespace tn = rfc2217;
  const std::string stream = std::string(
                                 "ab\xFF\xFF"
                                 "c") +
                             tn::Negotiation(tn::WILL, tn::kComPort) +
                             "\xFF\xFA\x2C\x6B\x31\xFF\xF0" +                                   // modem state 0x31
                             std::string("\xFF\xFA\x2C\x65\x00\x00\xFF\xFF\x00\xFF\xF0", 11) +  // rate 0x0000FF00
                             "d" + tn::Negotiation(tn::DO, 1);
  for (const size_t piece : {stream.size(), size_t{1}, size_t{2}, size_t{5}}) {
    tn::Decoder decoder;
    std::string data;
    std::vector<std::string> seen;
    decoder.OnData = [&](const char* d, size_t n) { data.append(d, n); };
    decoder.OnNegotiation = [&](uint8_t verb, uint8_t option) {
      seen.push_back(std::to_string(verb) + "/" + std::to_string(option));
    };
    decoder.OnComPort = [&](uint8_t command, const std::string& value) {
      seen.push_back(std::to_string(command) + ":" + kvr::Printable(value));
    };
    for (size_t at = 0; at < stream.size(); at += piece)
      decoder.Feed(stream.data() + at, std::min(piece, stream.size() - at));
    EXPECT_EQ(data, std::string("ab\xFF"
                                "cd"))
        << piece;
    EXPECT_EQ(seen, (std::vector<std::string>{"251/44", "107:1", "101:\\x00\\x00\\xFF\\x00", "253/1"})) << piece;
  }
  EXPECT_EQ(tn::ComPortCommand(tn::SET_BAUDRATE, tn::BigEndian32(0xFF)),
            std::string("\xFF\xFA\x2C\x01\x00\x00\x00\xFF\xFF\xFF\xF0", 11));
}

// Servers that misbehave, scripted on a thread: the port does not open, and
// the message names the server and what it did.
TEST(NetworkPort, AServerThatRefusesOrBreaksTheProtocolIsNamed) {
  namespace tn = rfc2217;
  using Answer = std::function<std::string(uint8_t command, const std::string& value)>;
  const auto same = [](uint8_t command, const std::string& value) {
    return tn::ComPortCommand(command + tn::kServer, value);
  };
  struct Case {
    const char* what;
    std::string greeting;  // sent once the connection is taken
    Answer answer;         // to each com-port request
    int late_ms;           // answers to SET-PARITY come this much later
    std::string message;   // part of the message
  } cases[] = {
      {"refuses the option", tn::Negotiation(tn::DONT, tn::kComPort), nullptr, 0,
       "the server refuses the RFC 2217 com-port option"},
      {"keeps another rate", tn::Negotiation(tn::DO, tn::kComPort),
       [&](uint8_t c, const std::string& v) { return same(c, c == tn::SET_BAUDRATE ? tn::BigEndian32(9600) : v); }, 0,
       "took 9600 baud when asked for 38400 baud"},
      {"answers the parity late and otherwise", tn::Negotiation(tn::DO, tn::kComPort),
       [&](uint8_t c, const std::string& v) { return same(c, c == tn::SET_PARITY ? std::string(1, '\x04') : v); }, 300,
       "took parity 4 when asked for parity 1"},
      {"no flow control", tn::Negotiation(tn::DO, tn::kComPort),
       [&](uint8_t c, const std::string& v) { return same(c, v == "\x03" ? std::string(1, '\x01') : v); }, 0,
       "took flow control 1 when asked for flow control 3"},
      {"a subnegotiation without end",
       tn::Negotiation(tn::DO, tn::kComPort) + "\xFF\xFA\x2C\x65" + std::string(5000, 'x'), nullptr, 0,
       "the server's telnet stream is broken"},
  };
  for (const Case& c : cases) {
    int port = 0;
    const int listener = kvr::sim::ListenOnLoopback(port);
    ASSERT_GE(listener, 0);
    std::thread server([&] {
      const int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      const auto put = [fd](const std::string& bytes) { return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); };
      put(c.greeting);
      tn::Decoder decoder;
      std::string late;
      decoder.OnComPort = [&](uint8_t command, const std::string& value) {
        if (!c.answer) return;
        if (c.late_ms > 0 && command == tn::SET_PARITY)
          late = c.answer(command, value);
        else
          put(c.answer(command, value));
      };
      char buf[512];
      pollfd p{fd, POLLIN, 0};
      const auto start = std::chrono::steady_clock::now();
      while (poll(&p, 1, 50) >= 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(6)) {
        if (!late.empty() && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(c.late_ms))
          put(std::exchange(late, std::string()));
        if (!(p.revents & POLLIN)) continue;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        decoder.Feed(buf, static_cast<size_t>(n));
      }
      close(fd);
    });
    TestComm comm;
    comm.SetDeviceName("rfc2217://127.0.0.1:" + std::to_string(port));
    comm.SetBaudrate(br38400);
    if (std::string(c.what) == "no flow control") comm.FlowControl().SetOutCtsFlow(true);
    const std::string message = ErrorMessage([&] { comm.Open(); });
    EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
    EXPECT_FALSE(comm.Active()) << c.what;
    shutdown(listener, SHUT_RDWR);
    server.join();
    close(listener);
  }
}

// Through a real serial server (ser2net in front of a pseudo-terminal): the
// line settings sent with RFC 2217 reach the server's line, and bytes with the
// value of telnet's IAC pass both ways.
TEST(NetworkPort, Rfc2217SetsTheServersLineAndCarriesEveryByte) {
  MainLoop loop;
  PtyPair line;
  kvr::sim::SerialServer server(line.SlavePath());
  if (!server.Installed()) GTEST_SKIP() << server.Why();
  ASSERT_TRUE(server.Running()) << server.Why();
  TestComm comm;
  comm.SetDeviceName(server.Rfc2217Url());
  comm.SetBaudrate(br9600);
  comm.SetDatabits(db7);
  comm.SetParity(paOdd);
  comm.SetStopbits(sb2);
  std::string got;
  comm.OnRxChar = [&](TVaObject*, int count) {
    std::string bytes(static_cast<size_t>(count), '\0');
    got += bytes.substr(0, static_cast<size_t>(comm.ReadBuf(bytes.data(), count)));
  };
  comm.Open();
  // The server's side of the line (a pseudo-terminal keeps the rate, the stop
  // bits and the parity's sense; it does not keep the data bits).
  termios2 t{};
  ASSERT_EQ(ioctl(line.Master(), TCGETS2, &t), 0);
  EXPECT_EQ(t.c_ospeed, 9600u);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & PARODD);
  comm.SetBaudrate(br19200);  // a live change goes to the server too
  ASSERT_EQ(ioctl(line.Master(), TCGETS2, &t), 0);
  EXPECT_EQ(t.c_ospeed, 19200u);
  const std::string bytes(
      "A\xFF\xFF"
      "B\xFF",
      5);
  comm.WriteBuf(bytes.data(), static_cast<int>(bytes.size()));
  EXPECT_EQ(line.Read(bytes.size(), 3000), bytes);
  line.Write(std::string("\xFFz\xFF", 3));
  loop.PumpUntil([&] { return got.size() >= 3; });
  EXPECT_EQ(got, std::string("\xFFz\xFF", 3));
  comm.Close();
}

// Ports served by threads of their own (a gang load): each port's events go
// to the queue it was given, pumped by its thread, not to the process-wide one.
TEST(VaCallQueue, EachPortsEventsGoToTheThreadItWasGiven) {
  PtyPair ptys[2];
  std::thread::id served_by[2], threads[2];
  std::string got[2];
  std::vector<std::thread> workers;
  for (int i = 0; i < 2; ++i) {
    workers.emplace_back([&, i] {
      threads[i] = std::this_thread::get_id();
      auto queue = std::make_shared<TVaCallQueue>();
      TestComm comm;
      comm.SetMainThread(queue);
      comm.SetDeviceName(ptys[i].SlavePath());
      comm.OnRxChar = [&](TVaObject*, int count) {
        served_by[i] = std::this_thread::get_id();
        std::string bytes(static_cast<size_t>(count), '\0');
        got[i] += bytes.substr(0, static_cast<size_t>(comm.ReadBuf(bytes.data(), count)));
      };
      comm.Open();
      ptys[i].Write(i == 0 ? "first" : "second");
      const std::string want = i == 0 ? "first" : "second";
      for (int turns = 0; got[i] != want && turns < 500; ++turns) queue->ProcessMessages(10);
      comm.Close();
    });
  }
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(got[0], "first");
  EXPECT_EQ(got[1], "second");
  EXPECT_EQ(served_by[0], threads[0]);
  EXPECT_EQ(served_by[1], threads[1]);
}

TEST(VaCallQueue, SynchronizeRunsOnTheMainThreadAndRethrows) {
  // The main thread pumps only when woken, as a window's message loop does:
  // a wake-up that came before its call was queued would leave it waiting.
  std::atomic<int> wakes{0};
  auto queue = std::make_shared<TVaCallQueue>([&] { wakes.fetch_add(1); });
  const auto main_id = std::this_thread::get_id();
  std::thread::id ran_on;
  std::string worker_saw;
  std::thread worker([&] {
    queue->Synchronize([&] { ran_on = std::this_thread::get_id(); });
    try {
      queue->Synchronize([] { throw EVaCommError("from main"); });
    } catch (const EVaCommError& e) {
      worker_saw = e.what();
    }
    queue->Synchronize([] {});  // dropped once the queue is shut
  });
  int ran = 0, seen = 0;
  while (ran < 2) {
    while (wakes.load() == seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    seen = wakes.load();
    ran += queue->ProcessMessages(0);
  }
  queue->Shutdown();
  worker.join();
  EXPECT_EQ(ran_on, main_id);
  EXPECT_EQ(worker_saw, "from main");
  // One per queued call: the last call may be queued (and dropped) before the
  // shutdown or refused after it.
  EXPECT_GE(wakes.load(), 2);
  EXPECT_LE(wakes.load(), 3);
}

}  // namespace
}  // namespace va
