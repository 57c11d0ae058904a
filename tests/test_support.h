// Shared pieces of the loader tests: a port that records what is written and
// plays back queued input, a recording window, and a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "byte_channel.h"
#include "exchange.h"
#include "tick_source.h"
#include "update_file.h"

namespace kvr::test {

// A tick source that only moves when told to, by `step` at every reading, or
// by a pause's sleep.
class FakeTicks final : public TickSource {
 public:
  uint32_t Ticks() override { return now += step; }
  void SleepTicks(uint32_t ticks, StopSignal*) override { now += ticks; }
  uint32_t now = 0;
  uint32_t step = 1;
};

// Frames written are kept whole; input is handed out by ReadBuf in the order
// queued, never more than asked for. With a clock, bytes may also be queued to
// arrive at a tick (Arrive), and ReadWithin waits for them on that clock.
class RecordingChannel final : public ByteChannel {
 public:
  void WriteBuf(const void* buf, int count) override {
    if (fail_writes) throw std::runtime_error("Output buffer is full. Please check comm status.");
    const auto* p = static_cast<const char*>(buf);
    writes.emplace_back(p, p + count);
    if (on_write) on_write();
  }
  int ReadBuf(void* buf, int count) override {
    read_requests.push_back(count);
    int n = 0;
    auto* out = static_cast<char*>(buf);
    while (n < count && !input.empty()) {
      out[n++] = input.front();
      input.pop_front();
    }
    return n;
  }
  int ReadWithin(void* buf, int count, uint32_t ms) override {
    if (!clock) return -1;
    if (timed.empty() || timed.front().first > clock->now + ms) {
      clock->now += ms;
      return 0;
    }
    clock->now = std::max(clock->now, timed.front().first);
    int n = 0;
    auto* out = static_cast<char*>(buf);
    while (n < count && !timed.empty() && timed.front().first <= clock->now) {
      out[n++] = timed.front().second;
      timed.pop_front();
    }
    return n;
  }
  void Queue(const std::string& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }
  // `bytes` arriving at tick `at` of the clock.
  void Arrive(uint32_t at, const std::string& bytes) {
    for (char c : bytes) timed.emplace_back(at, c);
  }
  // The command text of write i (frame less its sum byte and CR).
  std::string Command(size_t i) const { return writes.at(i).substr(0, writes.at(i).size() - 2); }

  std::vector<std::string> writes;
  std::deque<char> input;
  std::vector<int> read_requests;
  FakeTicks* clock = nullptr;
  std::deque<std::pair<uint32_t, char>> timed;
  bool fail_writes = false;
  std::function<void()> on_write;
};

struct RecordingView final : LoadView, UpdateFileUi {
  void SetProgress(int percent) override { progress.push_back(percent); }
  void SetStatus(const std::string& caption) override { status.push_back(caption); }
  void LoadFinished(LoadResult result, const std::string&) override { finished.push_back(result); }
  void ClearLogs() override { ++clears; }
  void WarnWrongSize() override { ++warnings; }

  std::vector<int> progress;
  std::vector<std::string> status;
  std::vector<LoadResult> finished;
  int clears = 0;
  int warnings = 0;
};

// A fresh folder under the system's temp folder, removed with the object.
// It is world-readable so that a test may read from it as another user.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Runs `body` in a child process with the rights of an unprivileged user (when
// the tests run as root) and returns what it returns; 99 when the child could
// not drop its rights.
int RunUnprivileged(const std::function<int()>& body);

}  // namespace kvr::test
