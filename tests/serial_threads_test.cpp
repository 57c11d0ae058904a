// The component's event and write threads on a scripted device: the order of
// events, handlers that raise, close, reopen or destroy the component, a lost
// device, failed writes, the display, AutoOpen.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial_test_support.h"
#include "va_comm.h"

namespace va {
namespace {

using test::ErrorMessage;
using test::FakeComm;
using test::MainLoop;

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

// The event thread hands a batch over and goes back to the line without
// waiting for the main thread; the next batch waits for the last to be
// handled, and all arrive in order, each on its own.
TEST_F(FakePort, ABatchOnItsWayLeavesTheThreadFreeAndTheNextWaitsForIt) {
  auto note = [&](const char* name) { return [this, name](TVaObject*) { calls.push_back(name); }; };
  comm.OnCts = note("cts");
  comm.OnDsr = note("dsr");
  comm.OnRing = note("ring");
  comm.Open();
  comm.device->PushEvents(kEvCts);
  comm.device->PushEvents(kEvDsr);
  comm.device->PushEvents(kEvRing);
  const auto queued = [&] {
    std::lock_guard<std::mutex> lock(comm.device->mutex);
    return comm.device->event_masks.size();
  };
  // Nothing pumped: the first batch is on its way, the second taken and held.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (queued() > 1 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_EQ(queued(), 1u);
  EXPECT_TRUE(calls.empty());
  ASSERT_TRUE(loop.PumpUntil([&] { return calls.size() == 3; }));
  EXPECT_EQ(calls, (std::vector<std::string>{"cts", "dsr", "ring"}));
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

// A read or a queue count that finds the device gone reports the loss once,
// before the event thread has seen it (here there is none), and raises nothing.
TEST(FakePortLost, IsReportedOnceToAReaderOrAQueueCount) {
  for (const bool by_count : {false, true}) {
    SCOPED_TRACE(by_count ? "queue count" : "read");
    MainLoop loop;
    FakeComm comm;
    comm.SetMonitorEvents({});
    std::vector<int> errors;
    comm.OnError = [&](TVaObject*, int e) { errors.push_back(e); };
    comm.Open();
    (by_count ? comm.device->lose_on_status : comm.device->lose_on_read) = true;
    for (int i = 0; i < 2; ++i) {
      if (by_count) {
        int waiting = -1;
        EXPECT_EQ(ErrorMessage([&] { waiting = comm.InQueue(); }), "(no error)");
        EXPECT_EQ(waiting, 0);
      } else {
        char buf[8];
        EXPECT_EQ(comm.ReadBuf(buf, 8), 0);
      }
    }
    ASSERT_TRUE(loop.PumpUntil([&] { return !errors.empty(); }));
    loop.PumpFor(20);
    EXPECT_EQ(errors, std::vector<int>{static_cast<int>(kCeDeviceLost)});
  }
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
  comm.device->fail_writes = 1000000;
  comm.Open();
  comm.WriteBuf("DL:7\1\r", 6);
  // The pause comes between tries: over 300 ms, at most one try a pause (and
  // the first); a retry without it makes thousands.
  ASSERT_TRUE(loop.PumpUntil([&] { return errors.size() >= 2; }));
  loop.PumpFor(300);
  const int tries = comm.device->write_calls.load();
  EXPECT_LE(tries, 300 / static_cast<int>(kRetryPauseMs) + 3);
  {
    std::lock_guard<std::mutex> lock(comm.device->mutex);
    comm.device->fail_writes = 0;
  }
  ASSERT_TRUE(loop.PumpUntil([&] { return tx_empty == 1; }));
  EXPECT_EQ(comm.device->output, "DL:7\1\r");
  // The failed tries are reported (reports that meet are merged into one),
  // the one that went through is not.
  ASSERT_FALSE(errors.empty());
  EXPECT_LE(static_cast<int>(errors.size()), comm.device->write_calls.load() - 1);
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

}  // namespace
}  // namespace va
