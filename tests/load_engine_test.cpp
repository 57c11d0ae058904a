// The load engine on an injected clock: the image check, devices that never
// stop talking, a reply time-out counted from the send, faults healed by page
// restarts, and stop requests in the middle of a pause.
#include "load_engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "boot_loader_device.h"
#include "image_geometry.h"
#include "simulated_port.h"
#include "test_support.h"
#include "update_file_maker.h"

namespace kvr {
namespace {

// Time moves only when the test says so; with a hook set it moves a
// millisecond at a time so that the hook can act at each.
class ScriptClock final : public TickSource {
 public:
  uint32_t Ticks() override { return now; }
  void Pass(uint32_t ms) {
    if (!on_tick) {
      now += ms;
      return;
    }
    for (uint32_t i = 0; i < ms; ++i) on_tick(++now);
  }
  uint32_t now = 1000;
  std::function<void(uint32_t)> on_tick;
};

struct View final : LoadView, UpdateFileUi {
  void SetProgress(int percent) override { progress.push_back(percent); }
  void SetStatus(const std::string& caption) override { status.push_back(caption); }
  void LoadRetry(int, const std::string&, const std::string& why) override { retries.push_back(why); }
  void LoadEnded(LoadOutcome r, const std::string& m) override {
    results.push_back(r);
    message = m;
  }
  void ClearLogs() override {}
  void WarnWrongSize() override {}

  std::vector<int> progress;
  std::vector<std::string> status, retries;
  std::vector<LoadOutcome> results;
  std::string message;
};

// The engine over any port, with a file written to a scratch folder.
struct Rig {
  explicit Rig(ByteChannel& port) : engine(port, clock, table, file, view) {}
  void Load(const std::string& text, const std::string& name = "image.KVR") {
    const std::string path = dir.File(name);
    sim::WriteFile(path, text);
    ASSERT_TRUE(OpenUpdateFile(path, table, file, view));
  }

  test::TempDir dir;
  PageTable table;
  UpdateFileState file;
  View view;
  ScriptClock clock;
  LoadEngine engine;
};

TEST(LoadEngineImage, NothingIsSentForAnImageThatCannotBeRight) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> prepare;
    ImageProblem::Kind kind;
    int64_t line;
  };
  const std::string good = sim::MakeUpdateFileText(31);
  const std::vector<Case> cases = {
      {"no file opened", [](Rig&) {}, ImageProblem::Kind::kNoFile, 0},
      {"64 MiB + 1 after a good file",
       [&](Rig& rig) {
         rig.Load(good);
         const std::string big = rig.dir.File("big.KVR");
         sim::WriteFile(big, "");
         std::filesystem::resize_file(big, MaxUpdateFileSize + 1);
         ASSERT_TRUE(OpenUpdateFile(big, rig.table, rig.file, rig.view));
       },
       ImageProblem::Kind::kNoFile, 0},
      {"unreadable after a good file",
       [&](Rig& rig) {
         rig.Load(good);
         EXPECT_THROW(OpenUpdateFile(rig.dir.File("missing.KVR"), rig.table, rig.file, rig.view), EInOutError);
       },
       ImageProblem::Kind::kNoFile, 0},
      {"100 lines", [&](Rig& rig) { rig.Load(good.substr(0, 34 * 100)); }, ImageProblem::Kind::kBadRow, 101},
      {"non-hex row",
       [&](Rig& rig) {
         std::string text = good;
         text[34 * 776 + 31] = 'x';
         rig.Load(text);
       },
       ImageProblem::Kind::kBadRow, 777},
      {"right size, no hex at all",
       [](Rig& rig) {
         std::string text;
         for (int i = 0; i < 36864; ++i) text += std::string(32, 'Z') + "\r\n";
         rig.Load(text + "\r\n");
       },
       ImageProblem::Kind::kBadRow, 1},
      {"a cell edited to three digits", [&](Rig& rig) {
         rig.Load(good);
         rig.table.SetCell(16, 36864, "ABC");
       },
       ImageProblem::Kind::kBadRow, 36864},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::RecordingChannel port;
    Rig rig(port);
    c.prepare(rig);
    const ImageProblem problem = rig.engine.Begin();
    EXPECT_EQ(problem.kind, c.kind);
    EXPECT_EQ(problem.line, c.line);
    EXPECT_FALSE(problem.Describe().empty());
    rig.engine.SendOpening();
    rig.clock.Pass(100);
    rig.engine.Poll();
    EXPECT_TRUE(port.writes.empty());
    EXPECT_FALSE(rig.engine.Running());
    EXPECT_EQ(rig.engine.Outcome(), LoadOutcome::kImageError);
    EXPECT_EQ(rig.view.results, std::vector<LoadOutcome>{LoadOutcome::kImageError});
    EXPECT_EQ(rig.engine.MsUntilDue(), -1);
  }
  // Lower-case digits are digits.
  test::RecordingChannel port;
  Rig rig(port);
  std::string lower = good;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  rig.Load(lower, "lower.KVR");
  EXPECT_FALSE(rig.engine.Begin());
}

// A line that never falls quiet: whatever it sends, the load is given up
// within (retries + 1) x (time-out + quiet period + pause).
class TalkingDevice : public ::testing::TestWithParam<std::pair<uint32_t, std::string>> {};

TEST_P(TalkingDevice, IsGivenUpWithinTheBound) {
  const auto& [every_ms, text] = GetParam();
  test::RecordingChannel port;
  Rig rig(port);
  rig.Load(sim::MakeUpdateFileText(32));
  rig.clock.on_tick = [&](uint32_t now) {
    if (now % every_ms == 0) port.Queue(text);
  };
  ASSERT_FALSE(rig.engine.Begin());
  const LoadSettings& s = rig.engine.Settings();
  const uint32_t start = rig.clock.now;
  rig.engine.SendOpening();
  while (rig.engine.Running() && rig.clock.now - start < 600000) {
    rig.clock.Pass(1);
    if (!port.input.empty()) rig.engine.OnRxChar(static_cast<int>(port.input.size()));
    rig.engine.Poll();
  }
  const uint32_t bound = (s.retries + 1) * (s.reply_timeout_ms + QuietPeriodMs(s.reply_timeout_ms) + s.pause_ms + 1);
  EXPECT_EQ(rig.engine.Outcome(), LoadOutcome::kNoAnswer);
  EXPECT_LE(rig.clock.now - start, bound);
  EXPECT_EQ(rig.view.retries.size(), static_cast<size_t>(s.retries));
  EXPECT_NE(rig.view.message.find("the device stopped answering at opening, command DL:0"), std::string::npos)
      << rig.view.message;
  // The line never fell quiet, so no restart went out into it.
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.Command(0), "DL:0");
}

INSTANTIATE_TEST_SUITE_P(Each, TalkingDevice,
                         ::testing::Values(std::make_pair(100u, std::string("T=23.5 OK\r")),  // its own firmware
                                           std::make_pair(1u, std::string("xxxxxxxx"))));     // a flood, no CR

// An in-process device that answers at once, and the loop a front end runs:
// the device's bytes as they come, else the clock on to the engine's next
// deadline and a Poll then. Every command is checked to have gone out more
// than the pause after the reply that asked for it.
struct DeviceRig {
  explicit DeviceRig(sim::DeviceOptions options = {}) : device(std::move(options)), rig(port) {}
  void Run() {
    ASSERT_FALSE(rig.engine.Begin());
    rig.engine.SendOpening();
    uint32_t asked = rig.clock.now;  // when the last command was asked for
    uint64_t frames = 0;
    while (rig.engine.Running()) {
      if (port.Pump([this, &asked](int n) { asked = rig.clock.now, rig.engine.OnRxChar(n); }, 1) > 0) continue;
      const int64_t due = rig.engine.MsUntilDue();
      ASSERT_GE(due, 0);
      rig.clock.Pass(static_cast<uint32_t>(std::max<int64_t>(due, 1)));
      rig.engine.Poll();
      if (device.FramesReceived() > frames) {
        frames = device.FramesReceived();
        ASSERT_GT(rig.clock.now - asked, rig.engine.Settings().pause_ms) << "command " << frames;
      }
    }
  }
  sim::BootLoaderDevice device;
  sim::SimulatedPort port{device};
  Rig rig;
};

TEST(LoadEngineLoad, LongPauseWithAShortTimeOutCompletes) {
  DeviceRig r;
  const std::string text = sim::MakeUpdateFileText(33);
  r.rig.Load(text);
  r.rig.engine.Configure({1200, 1000, 3});
  r.Run();
  EXPECT_EQ(r.rig.engine.Outcome(), LoadOutcome::kComplete);
  EXPECT_TRUE(r.rig.view.retries.empty());
  EXPECT_EQ(r.device.FramesReceived(), 41474u);
  EXPECT_EQ(r.device.Image(), sim::ImageFromUpdateText(text));
  const LoadProgress p = r.rig.engine.Progress();
  EXPECT_EQ(p.pages_done, 2304);
  EXPECT_EQ(p.remaining_ms, 0);
  EXPECT_EQ(p.commands, 41474u);
  // The injected clock's reading, not the wall's: every command waited out
  // its pause on it.
  EXPECT_GE(p.elapsed_ms, 41474u * 1201);
}

// Faults that put the exchange out of step start the page again.
class HealedFault : public ::testing::TestWithParam<sim::DeviceOptions> {};

TEST_P(HealedFault, LoadsTheWholeImage) {
  DeviceRig r(GetParam());
  const std::string text = sim::MakeUpdateFileText(34);
  r.rig.Load(text);
  r.rig.engine.Configure({50, 1000, 5});
  r.Run();
  EXPECT_EQ(r.rig.engine.Outcome(), LoadOutcome::kComplete) << r.rig.view.message;
  EXPECT_FALSE(r.rig.view.retries.empty());
  EXPECT_EQ(r.device.Image(), sim::ImageFromUpdateText(text));
  EXPECT_EQ(r.rig.view.status.back(), "Загрузка завершена");
}

sim::DeviceOptions Faults(std::vector<sim::DeviceFault> faults) {
  sim::DeviceOptions o;
  o.faults = std::move(faults);
  return o;
}

INSTANTIATE_TEST_SUITE_P(
    Each, HealedFault,
    ::testing::Values(Faults({{sim::DeviceFault::Kind::kRepeat, 30, ""}}),  // a repeated reply
                      Faults({{sim::DeviceFault::Kind::kNoise, 40, "\x07"}}),
                      Faults({{sim::DeviceFault::Kind::kDrop, 5, ""}, {sim::DeviceFault::Kind::kDrop, 6, ""}}),
                      Faults({{sim::DeviceFault::Kind::kNoise, 1, std::string(3000, '~')}})));

// A stop that comes while a command waits for its pause ends the load at
// once: the command never goes out, and nothing more falls due.
TEST(LoadEngineStop, AStopDuringAPauseSendsNothingMore) {
  for (const bool from_signal : {false, true}) {
    SCOPED_TRACE(from_signal ? "from a signal handler" : "from the program");
    test::RecordingChannel port;
    Rig rig(port);
    rig.Load(sim::MakeUpdateFileText(35));
    rig.engine.Configure({5000, 10000, 3});
    ASSERT_FALSE(rig.engine.Begin());
    rig.engine.SendOpening();  // returns at once: the pause is a deadline
    EXPECT_EQ(rig.engine.MsUntilDue(), 5001);
    rig.clock.Pass(1000);
    EXPECT_EQ(rig.engine.MsUntilDue(), 4001);
    if (from_signal) {
      rig.engine.Stopper().RequestFromSignal();
      EXPECT_EQ(rig.engine.MsUntilDue(), 0);  // the front end looks at once
      rig.engine.Poll();
    } else {
      rig.engine.Stop();
    }
    EXPECT_EQ(rig.engine.Outcome(), LoadOutcome::kInterrupted);
    EXPECT_EQ(rig.view.results, std::vector<LoadOutcome>{LoadOutcome::kInterrupted});
    EXPECT_EQ(rig.engine.MsUntilDue(), -1);
    rig.clock.Pass(10000);
    rig.engine.Poll();
    EXPECT_TRUE(port.writes.empty());
  }
}

TEST(LoadEngineStop, NoRestartGoesOutAfterAStop) {
  test::RecordingChannel port;
  Rig rig(port);
  rig.Load(sim::MakeUpdateFileText(36));
  ASSERT_FALSE(rig.engine.Begin());
  rig.engine.SendOpening();
  rig.clock.Pass(51);
  rig.engine.Poll();
  port.Queue("PLE\r");  // out of step: the line is let fall quiet
  rig.engine.OnRxChar(4);
  ASSERT_EQ(rig.view.retries.size(), 1u);
  rig.engine.Stopper().RequestFromSignal();
  rig.clock.Pass(1000);
  rig.engine.Poll();
  EXPECT_EQ(rig.engine.Outcome(), LoadOutcome::kInterrupted);
  EXPECT_EQ(port.writes.size(), 1u);
}

// Without a pause a reply's next command goes out from the receive step
// itself: a stop raised (by a signal, say) before the reply is handled
// must still end the load there.
TEST(LoadEngineStop, AReplyAfterAStopSendsNothingWithoutAPause) {
  test::RecordingChannel port;
  Rig rig(port);
  rig.Load(sim::MakeUpdateFileText(37));
  rig.engine.Configure({0, 10000, 3});
  ASSERT_FALSE(rig.engine.Begin());
  rig.engine.SendOpening();
  ASSERT_EQ(port.writes.size(), 1u);  // DL:0, at once
  rig.engine.Stopper().RequestFromSignal();
  port.Queue("PL0\r");
  rig.engine.OnRxChar(4);
  EXPECT_EQ(rig.engine.Outcome(), LoadOutcome::kInterrupted);
  EXPECT_EQ(port.writes.size(), 1u);
}

// The front end's ends reach the view once, with their result, and nothing
// more is sent or reported after them.
TEST(LoadEngineStop, EveryEndIsReportedOnceWithItsResult) {
  struct Case {
    const char* name;
    std::function<void(LoadEngine&)> end;
    LoadOutcome result;
    size_t writes = 1;  // the opening only
  };
  const Case cases[] = {
      {"the operator stops", [](LoadEngine& e) { e.Stop(); }, LoadOutcome::kInterrupted},
      {"the port is lost", [](LoadEngine& e) { e.PortLost("lost"); }, LoadOutcome::kPortLost},
      {"the port refuses", [](LoadEngine& e) { e.Refuse(LoadOutcome::kPortError, "busy"); }, LoadOutcome::kPortError},
      {"the commands asked for are sent",  // the answer to the reply goes out, then the load stops
       [](LoadEngine& e) {
         LoadSettings s = e.Settings();
         s.stop_after = 2;
         e.Configure(s);
       },
       LoadOutcome::kStopped, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::RecordingChannel port;
    Rig rig(port);
    rig.Load(sim::MakeUpdateFileText(37));
    ASSERT_FALSE(rig.engine.Begin());
    rig.engine.SendOpening();
    rig.clock.Pass(51);
    rig.engine.Poll();
    c.end(rig.engine);
    port.Queue("PL0\r");
    rig.engine.OnRxChar(4);
    rig.clock.Pass(51);
    rig.engine.Poll();
    rig.engine.Stop();  // a later stop is no second end
    port.Queue("PL6\r");
    rig.engine.OnRxChar(4);
    rig.clock.Pass(20000);
    rig.engine.Poll();
    EXPECT_EQ(rig.engine.Outcome(), c.result);
    EXPECT_EQ(rig.view.results, std::vector<LoadOutcome>{c.result});
    EXPECT_EQ(port.writes.size(), c.writes);
    EXPECT_EQ(rig.engine.Progress().commands, c.writes);
  }
}

}  // namespace
}  // namespace kvr
