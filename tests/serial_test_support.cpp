#include "serial_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace va::test {

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pty");
  slave_path_ = ptsname(master_);
}

PtyPair::~PtyPair() { CloseMaster(); }

void PtyPair::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void PtyPair::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("pty write failed");
    done += static_cast<size_t>(n);
  }
}

std::string PtyPair::Read(size_t n, int timeout_ms) {
  std::string out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[4096];
    const ssize_t got = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
    if (got <= 0) break;
    out.append(buf, static_cast<size_t>(got));
  }
  return out;
}

pid_t ThisThreadId() { return gettid(); }

bool WaitUntilAsleep(pid_t tid, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  do {
    // The state follows the command's name in parentheses, which may hold any byte.
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t name_end = text.rfind(')');
    if (name_end == std::string::npos || text.size() < name_end + 3) return false;  // the thread is gone
    if (text[name_end + 2] == 'S') return true;
    std::this_thread::yield();
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

bool FakeDevice::SetLineSettings(const platform::LineSettings& s) {
  std::lock_guard<std::mutex> lock(mutex);
  last_settings = s;
  ++line_settings_calls;
  return true;
}

bool FakeDevice::SetEventMask(uint32_t mask) {
  std::lock_guard<std::mutex> lock(mutex);
  event_mask = mask;
  return true;
}

platform::IoResult FakeDevice::WaitEvents(uint32_t& events, TVaEvent& wake) {
  ++wait_calls;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!event_results.empty()) {
        const platform::IoResult r = event_results.front();
        event_results.pop_front();
        if (r == platform::IoResult::kDone) {
          events = event_masks.front();
          event_masks.pop_front();
        }
        return r;
      }
    }
    if (wake.WaitFor(2) == TWaitResult::wrSignaled) return platform::IoResult::kWoken;
  }
}

platform::IoResult FakeDevice::Read(void* buf, uint32_t count, uint32_t, uint32_t& read) {
  std::lock_guard<std::mutex> lock(mutex);
  read = 0;
  if (lose_on_read) return platform::IoResult::kLost;
  read = std::min<uint32_t>(count, static_cast<uint32_t>(input.size()));
  if (read == 0) return platform::IoResult::kTimeout;
  input.copy(static_cast<char*>(buf), read);
  input.erase(0, read);
  return platform::IoResult::kDone;
}

platform::IoResult FakeDevice::Write(const void* buf, uint32_t count, uint32_t, std::initializer_list<TVaEvent*>,
                                     uint32_t& written, int&) {
  ++write_calls;
  std::lock_guard<std::mutex> lock(mutex);
  if (lose_on_write) {
    platform::SetLastError(5);
    return platform::IoResult::kLost;
  }
  if (fail_writes > 0) {
    --fail_writes;
    platform::SetLastError(11);
    return platform::IoResult::kFailed;
  }
  output.append(static_cast<const char*>(buf), count);
  written = count;
  return platform::IoResult::kDone;
}

bool FakeDevice::ClearErrors(TVaCommStatus& status) {
  std::lock_guard<std::mutex> lock(mutex);
  status = {};
  if (lose_on_status) return platform::Fail(EIO);
  status.Errors = line_errors;
  line_errors = 0;
  status.InQueue = static_cast<uint32_t>(input.size());
  return true;
}

void FakeDevice::PushEvents(uint32_t mask) {
  std::lock_guard<std::mutex> lock(mutex);
  event_results.push_back(platform::IoResult::kDone);
  event_masks.push_back(mask);
}

void FakeDevice::PushLost() {
  std::lock_guard<std::mutex> lock(mutex);
  event_results.push_back(platform::IoResult::kLost);
}

void FakeDevice::Receive(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex);
  input += bytes;
}

}  // namespace va::test
