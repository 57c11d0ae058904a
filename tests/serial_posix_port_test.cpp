// The serial component on pseudo-terminals, the test playing the far end on
// the master: lifecycle, the line's settings, reads and writes, events and
// listeners, the driver's requests, a vanishing device, threads under churn.
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial_test_support.h"
#include "va_comm.h"
#include "va_posix.h"

namespace va {
namespace {

using test::ErrorMessage;
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
  EXPECT_EQ(comm.ReadBuf(buf, 16), 0);  // nothing came: it ends at its time-out
  pty.Write("hello");
  EXPECT_EQ(comm.ReadBuf(buf, 16), 5);  // five bytes, then the line pauses
  EXPECT_EQ(std::string(buf, 5), "hello");
  // A read waits for its time-out: bytes that come once it is blocked are
  // its own (one that returned at once would have found none).
  comm.Buffers().SetReadTimeout(30000);
  std::atomic<pid_t> reader_id{0};
  int got = -1;
  std::thread reader([&] {
    reader_id = test::ThisThreadId();
    got = comm.ReadBuf(buf, 16);
  });
  while (reader_id.load() == 0) std::this_thread::yield();
  const bool blocked = test::WaitUntilAsleep(reader_id.load());
  pty.Write("PL1\r");
  reader.join();
  EXPECT_TRUE(blocked) << "the read did not wait";
  ASSERT_EQ(got, 4);
  EXPECT_EQ(std::string(buf, 4), "PL1\r");
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
  // The handler read nothing: the bytes wait, and nothing is announced again
  // (an event thread announcing them over and over would take a whole core).
  // The processor time stays as a check: an event thread woken again and
  // again by the waiting bytes, announcing nothing, shows in nothing else.
  const double cpu = CpuSeconds();
  loop.PumpFor(2000);  // a spinning thread: 1 to 2 s of CPU, a sleeping one a few ms
  EXPECT_EQ(counts.size(), 1u);
  EXPECT_LT(CpuSeconds() - cpu, 0.5);
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
  // Over 2 s a thread that spins on the dead device takes a whole core (at
  // least 1 s of CPU on a busy machine); a sleeping one a few milliseconds.
  // The processor time stays as a check: the device reports the loss once and
  // reads nothing whether a thread spins on it or not; only the time shows it.
  const double cpu = CpuSeconds();
  loop.PumpFor(2000);
  EXPECT_LT(CpuSeconds() - cpu, 0.5);
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

}  // namespace
}  // namespace va
