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

// A tick source that only moves when told to, or by `step` at every reading.
class FakeTicks final : public TickSource {
 public:
  uint32_t Ticks() override { return now += step; }
  uint32_t now = 0;
  uint32_t step = 0;
};

// Frames written are kept whole; input is handed out by ReadBuf in the order
// queued, never more than asked for.
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
  void Queue(const std::string& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }
  // The command text of write i (frame less its sum byte and CR).
  std::string Command(size_t i) const { return writes.at(i).substr(0, writes.at(i).size() - 2); }

  std::vector<std::string> writes;
  std::deque<char> input;
  std::vector<int> read_requests;
  bool fail_writes = false;
  std::function<void()> on_write;
};

struct RecordingView final : LoadView, UpdateFileUi {
  void SetProgress(int percent) override { progress.push_back(percent); }
  void SetStatus(const std::string& caption) override { status.push_back(caption); }
  void LoadEnded(LoadOutcome outcome, const std::string&) override { finished.push_back(outcome); }
  void ClearLogs() override { ++clears; }
  void WarnWrongSize() override { ++warnings; }

  std::vector<int> progress;
  std::vector<std::string> status;
  std::vector<LoadOutcome> finished;
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
