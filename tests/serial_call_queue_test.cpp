// The queue that hands a port's events to the thread it was given.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial_test_support.h"
#include "va_comm.h"

namespace va {
namespace {

using test::PtyPair;
using test::TestComm;

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

// Many ports' event threads handing over to one queue (a gang's loads on one
// thread): each worker returns once its own call has run, with its own
// exception, while the others still wait; a worker woken for another's call,
// or not woken for its own, shows as a wrong result or a worker that never
// returns (the pumping is bounded).
TEST(VaCallQueue, ManyWorkersWaitingAtOnceEachGetTheirOwnCall) {
  constexpr int kWorkers = 16;
  auto queue = std::make_shared<TVaCallQueue>();
  std::atomic<int> returned{0};
  std::vector<std::string> saw(kWorkers);
  std::vector<int> ran(kWorkers, 0);
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i) {
    workers.emplace_back([&, i] {
      for (int round = 0; round < 20; ++round) {
        try {
          queue->Synchronize([&, i, round] {
            ++ran[i];
            if ((i + round) % 3 == 0) throw EVaCommError("worker " + std::to_string(i));
          });
          saw[i] += '.';
        } catch (const EVaCommError& e) {
          saw[i] += e.what() == "worker " + std::to_string(i) ? 'e' : '?';
        }
      }
      returned.fetch_add(1);
    });
  }
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (returned.load() < kWorkers && std::chrono::steady_clock::now() < limit) queue->ProcessMessages(10);
  queue->Shutdown();  // a worker still waiting returns now
  for (std::thread& w : workers) w.join();
  for (int i = 0; i < kWorkers; ++i) {
    std::string want;
    for (int round = 0; round < 20; ++round) want += (i + round) % 3 == 0 ? 'e' : '.';
    EXPECT_EQ(saw[i], want) << "worker " << i;
    EXPECT_EQ(ran[i], 20) << "worker " << i;
  }
}

}  // namespace
}  // namespace va
