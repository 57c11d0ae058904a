#include "pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace kvr::sim {

RawPty OpenRawPty() {
  RawPty pty;
  auto fail = [&pty]() -> RawPty {
    if (pty.holder >= 0) close(pty.holder);
    if (pty.master >= 0) close(pty.master);
    throw std::runtime_error("no pseudo-terminal");
  };
  pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) return fail();
  char name[128];  // ptsname_r: several devices are made on several threads at once
  if (ptsname_r(pty.master, name, sizeof name) != 0) return fail();
  pty.slave_path = name;
  pty.holder = open(pty.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  if (pty.holder < 0 || tcgetattr(pty.holder, &t) != 0) return fail();
  cfmakeraw(&t);
  if (tcsetattr(pty.holder, TCSANOW, &t) != 0) return fail();
  return pty;
}

PtyDevice::PtyDevice(DeviceOptions options)
    : device_(options),
      char_time_(options.line_baud ? std::chrono::nanoseconds(10'000'000'000LL / options.line_baud)
                                   : std::chrono::nanoseconds(0)) {
  // Raw from the start: no echo of the device's replies back to itself.
  RawPty pty = OpenRawPty();
  master_ = pty.master;
  holder_ = pty.holder;
  slave_path_ = std::move(pty.slave_path);
  if (pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("no pseudo-terminal");
  thread_ = std::thread([this] { Run(); });
}

PtyDevice::~PtyDevice() {
  Hangup();
  if (wake_[0] >= 0) close(wake_[0]);
}

void PtyDevice::Hangup() {
  if (wake_[1] >= 0) {
    [[maybe_unused]] ssize_t r = write(wake_[1], "x", 1);
    if (thread_.joinable()) thread_.join();
    close(wake_[1]);
    wake_[1] = -1;
  }
  if (holder_ >= 0) close(holder_);
  holder_ = -1;
  if (master_ >= 0) close(master_);
  master_ = -1;
}

std::vector<uint8_t> PtyDevice::Image() {
  std::lock_guard<std::mutex> lock(mutex_);
  return device_.Image();
}

uint64_t PtyDevice::FramesReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  return device_.FramesReceived();
}

uint64_t PtyDevice::Rejected() {
  std::lock_guard<std::mutex> lock(mutex_);
  return device_.Rejected();
}

int64_t PtyDevice::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - born_).count();
}

std::vector<uint32_t> PtyDevice::Addresses() {
  std::lock_guard<std::mutex> lock(mutex_);
  return device_.Addresses();
}

void PtyDevice::Send(const std::vector<uint8_t>& piece) {
  const auto write_all = [this](const uint8_t* data, size_t n) {
    size_t done = 0;
    while (done < n) {
      const ssize_t w = write(master_, data + done, n - done);
      if (w <= 0) return;
      done += static_cast<size_t>(w);
    }
  };
  if (char_time_.count() == 0) return write_all(piece.data(), piece.size());
  // Each byte is handed over once its ten bits have crossed the line.
  for (const uint8_t b : piece) {
    tx_free_ = std::max(tx_free_, std::chrono::steady_clock::now()) + char_time_;
    std::this_thread::sleep_until(tx_free_);
    write_all(&b, 1);
  }
}

void PtyDevice::Run() {
  std::vector<uint8_t> piece;
  std::vector<std::vector<uint8_t>> out;
  uint8_t buf[512];
  bool pending_idle = false;
  auto rx_free = std::chrono::steady_clock::now();
  int64_t output_in = -1;  // ms until a late reply is due (-1: none waits)
  auto last_rx = std::chrono::steady_clock::now();
  for (;;) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    int wait = -1;
    if (pending_idle)
      wait = static_cast<int>(std::max<int64_t>(0, 20 - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                           std::chrono::steady_clock::now() - last_rx)
                                                           .count()));
    if (output_in >= 0 && (wait < 0 || output_in < wait)) wait = static_cast<int>(output_in);
    const int r = poll(fds, 2, wait);
    if (r < 0) continue;
    if (fds[1].revents) return;
    ssize_t n = 0;
    if (r > 0 && (fds[0].revents & POLLIN)) {
      n = read(master_, buf, sizeof buf);
      // At the line's pace the bytes written at once reach the device one
      // character time after another.
      if (n > 0 && char_time_.count() != 0) {
        rx_free = std::max(rx_free, std::chrono::steady_clock::now()) + char_time_ * n;
        std::this_thread::sleep_until(rx_free);
      }
    }
    bool hung_up = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      device_.SetTime(NowMs());
      if (r == 0 && pending_idle && std::chrono::steady_clock::now() - last_rx >= std::chrono::milliseconds(20)) {
        device_.LineIdle();
        pending_idle = false;
      } else if (n > 0) {
        device_.Receive(buf, static_cast<size_t>(n));
        pending_idle = true;
        last_rx = std::chrono::steady_clock::now();
      } else if (fds[0].revents & (POLLHUP | POLLERR)) {
        poll(&fds[1], 1, 10);  // nobody on the line: do not spin
      }
      hung_up = device_.HungUp();
      while (!hung_up && device_.TakePiece(piece)) out.push_back(piece);
      output_in = device_.MsUntilOutput();
    }
    for (const std::vector<uint8_t>& p : out) Send(p);
    out.clear();
    if (hung_up) {
      // The far end goes away: the program's side of the line sees a hang-up.
      close(master_);
      master_ = -1;
      close(holder_);
      holder_ = -1;
      pollfd w{wake_[0], POLLIN, 0};
      poll(&w, 1, -1);
      return;
    }
  }
}

}  // namespace kvr::sim
