// The window logic in a test: a fake screen that keeps what the logic shows
// and answers its questions, and a rig that makes the logic with fake port
// probes and permission checks over the main-thread loop of the serial tests.
// Portable: the Linux tests and the Wine tests share it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "loader_window_logic.h"
#include "main_loop.h"
#include "update_file_maker.h"
#include "window_texts.h"

namespace kvr::test {

class FakeScreen final : public LoaderScreen {
 public:
  void ShowStatus(const std::string& text) override { status = text; }
  void ShowProgress(int percent) override { progress = percent; }
  void ShowSwitch(bool on) override { switch_on = on; }
  void LockInputs(bool locked) override { inputs_locked = locked; }
  void AppendLog(const std::string& line) override { log += (log.empty() ? "" : "\n") + line; }
  void ClearLog() override { log.clear(); }
  void ShowTimes(const std::string& text) override { times = text; }
  void ShowFilePath(const std::string& path) override { file_path = path; }
  void ShowPorts(const std::vector<PortEntry>& entries, int chosen_index) override {
    ports = entries;
    chosen = chosen_index;
  }
  int ChosenPort() const override { return chosen; }
  int32_t StoredPortIndex() override {
    if (!stored_readable) throw std::runtime_error("Invalid data type for 'COM'");
    return stored_index;
  }
  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    Told();
  }
  void ReportError(const std::string& text) override {
    reports.push_back(text);
    Told();
  }
  bool Ask(const std::string& question) override {
    questions.push_back(question);
    if (while_asked) while_asked();
    return answer_yes;
  }
  void TakeDownQuestion() override { ++questions_taken_down; }
  void Told() {
    switch_when_told.push_back(switch_on);
    if (load_runs) runs_when_told.push_back(load_runs());
  }
  std::string ChooseFile() override { return chosen_file; }
  std::string ChooseSaveFile(const std::string& suggested) override {
    offered = suggested;
    return save_file;
  }
  std::optional<std::string> AskText(const std::string& question, const std::string& text) override {
    questions.push_back(question);
    offered = text;
    return typed;
  }
  void ShowCell(int row, int column) override { shown_cell = {row, column}; }
  void BeginGridReset() override { ++grid_resets; }
  void EndGridReset() override {}
  void RedrawGrid() override { ++grid_redraws; }
  void CommitCellEdit() override {
    if (on_commit) on_commit();
  }
  void StartTimer(WindowTimer timer, uint32_t interval_ms) override {
    timers[timer] = true;
    intervals[timer] = interval_ms;
  }
  void StopTimer(WindowTimer timer) override { timers[timer] = false; }
  void Later(std::function<void()> step) override { later.push_back(std::move(step)); }

  bool Running(WindowTimer timer) const { return timers.count(timer) && timers.at(timer); }
  std::string ChosenName() const { return chosen >= 0 ? ports[static_cast<size_t>(chosen)].name : ""; }

  std::string status, log, times, file_path, chosen_file, save_file;
  int progress = 0;
  bool switch_on = false, inputs_locked = false;
  std::vector<PortEntry> ports;
  int chosen = -1;
  int32_t stored_index = -1;
  bool stored_readable = true;
  std::vector<std::string> messages, reports, questions;
  std::vector<bool> switch_when_told;  // what the switch showed as each message or report came up
  std::function<bool()> load_runs;     // whether a load runs (the rig's logic)
  std::vector<bool> runs_when_told;
  bool answer_yes = false;
  std::optional<std::string> typed;  // the answer to AskText (nothing: cancelled)
  std::string offered;               // the text AskText or the save dialog offered
  std::pair<int, int> shown_cell{-1, -1};
  std::function<void()> while_asked;  // what happens while a question is up (the window's loop runs on)
  int questions_taken_down = 0;
  int grid_resets = 0, grid_redraws = 0;
  std::function<void()> on_commit;
  std::map<WindowTimer, bool> timers;
  std::map<WindowTimer, uint32_t> intervals;
  std::deque<std::function<void()>> later;
};

// Auto-advancing clock whose time the test may also jump. Frozen, it moves
// only when the test or the rig's timer of the load's next step moves it, and
// a handler that reads it on and on, as a wait for it to move would, is
// caught: the read throws.
class TestClock final : public TickSource {
 public:
  uint32_t Ticks() override {
    if (!frozen) return now += 1;
    if (++reads > kMaxReadsPerStep) throw std::logic_error("a handler waits for the clock to move");
    return now;
  }
  static constexpr int kMaxReadsPerStep = 10000;
  uint32_t now = 0;
  bool frozen = false;
  int reads = 0;  // since the rig's last step
};

class WindowRig : public ::testing::Test {
 protected:
  WindowRig() {
    folder_ = std::filesystem::temp_directory_path() /
              ("kvr-window-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder_);
  }
  ~WindowRig() override {
    logic.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  void Make(std::vector<std::string> probed, std::vector<std::string> first = {}) {
    logic.reset();
    WindowOptions o;
    o.ticks = &clock;
    found.clear();
    for (const std::string& name : probed) found.push_back({name});
    o.probe_ports = [this] {
      ++probes;
      return found;
    };
    o.first_ports = std::move(first);
    o.record_file = record_file;
    o.check_device = check_device;
    o.check_permission = [this](const std::string& device) {
      checked_device = device;
      return permission;
    };
    logic = std::make_unique<LoaderWindowLogic>(screen, o);
    screen.load_runs = [this] { return logic->LoadRuns(); };
    logic->SetUpAtStart();
  }
  std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = (folder_ / name).string();
    sim::WriteFile(path, text);
    return path;
  }
  std::string Folder() const { return folder_.string(); }
  void Open(const std::string& path) {
    screen.chosen_file = path;
    logic->OpenFileClicked();
  }
  // A click on the switch: its press (the control flips as it is pressed)
  // and its release over it.
  void Press() {
    screen.switch_on = !screen.switch_on;
    logic->StartSwitchClicked();
    logic->StartSwitchReleased();
  }
  // A double click: a click, then a second press whose release is no click.
  void DoubleClick() {
    Press();
    PressReleasedOutside();
  }
  // A press on the switch released outside it (or no click for another reason).
  void PressReleasedOutside() {
    screen.switch_on = !screen.switch_on;
    logic->StartSwitchReleased();
  }
  // Runs the main loop, the window's timers and its later steps until `done`.
  bool Pump(const std::function<bool()>& done, int timeout_ms = 120000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      clock.reads = 0;
      loop.queue->ProcessMessages(5);
      while (!screen.later.empty()) {
        auto step = std::move(screen.later.front());
        screen.later.pop_front();
        step();
      }
      if (screen.Running(WindowTimer::kStartDelay)) logic->StartDelayElapsed();
      // A command's pause passes on the test's clock at once; longer
      // deadlines (the reply time-outs) wait for the clock to get there.
      if (screen.Running(WindowTimer::kLoadDue) && screen.intervals[WindowTimer::kLoadDue] <= kSendPauseMs + 1) {
        clock.now += screen.intervals[WindowTimer::kLoadDue];
        logic->LoadStepDue();
      }
      if (screen.Running(WindowTimer::kSupervisor)) logic->PollTick();
    }
    return true;
  }
  void PumpFor(int ms) { Pump([] { return false; }, ms); }
  bool Active() { return logic->Port().Active(); }

  va::test::MainLoop loop;
  FakeScreen screen;
  TestClock clock;
  std::vector<PortChoice> found;  // what the port probe finds now
  int probes = 0;
  PortPermission permission;  // what the permission check says
  std::string checked_device;
  std::string record_file;  // the record file of loads given to the window ("" for none)
  std::function<std::optional<bool>(const std::string&, const std::string&)> check_device;
  std::unique_ptr<LoaderWindowLogic> logic;

 private:
  std::filesystem::path folder_;
};

}  // namespace kvr::test
