// The platform layer on Linux, its device: an exclusive open (TIOCEXCL plus
// flock, which holds for root too), non-blocking I/O with poll, and line
// events from an edge-triggered epoll on the descriptor, so that received
// characters are reported once per arrival; the error codes' texts. The line
// settings (termios2 for any rate) are va_posix_termios.cpp, the machine's
// ports and their identity va_posix_ports.cpp, threads va_posix_threads.cpp.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "va_line_flags.h"
#include "va_posix.h"

namespace va::platform {

namespace {

using posix::Fd;
using posix::PollMs;

thread_local int t_last_error = 0;

// Errors that mean the device itself is gone.
bool IsLostError(int code) { return code == EIO || code == ENXIO || code == ENODEV; }

uint32_t Remaining(uint32_t timeout_ms, uint32_t start) {
  if (timeout_ms == INFINITE_WAIT) return INFINITE_WAIT;
  const uint32_t spent = GetTickCount() - start;
  return spent >= timeout_ms ? 0 : timeout_ms - spent;
}

// Sets or clears the driver's low-latency flag; true when the driver took a
// change (false when it refuses, or the flag was so already).
bool SetLowLatency(int fd, bool on) {
  const auto request = [](int d, unsigned long r, serial_struct* s) {
    auto seam = posix::SerialRequest.load();
    return seam ? seam(d, r, s) : ioctl(d, r, s);
  };
  serial_struct s{};
  if (request(fd, TIOCGSERIAL, &s) != 0 || ((s.flags & ASYNC_LOW_LATENCY) != 0) == on) return false;
  s.flags = on ? s.flags | ASYNC_LOW_LATENCY : s.flags & ~ASYNC_LOW_LATENCY;
  return request(fd, TIOCSSERIAL, &s) == 0;
}

class PosixDevice final : public SelfKeptDevice {
 public:
  PosixDevice(int fd, int epoll_fd, bool low_latency_set)
      : SelfKeptDevice(EBADF), fd_(fd), epoll_fd_(epoll_fd), low_latency_set_(low_latency_set) {}
  ~PosixDevice() override { Shutdown(); }

  // The event wait watches the device (edge-triggered: once per arrival), the
  // direct-write drain, the shut-down signal and the caller's wake-up event.
  bool Init() {
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    ev.data.fd = fd_;
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd_, &ev) != 0) return Fail(errno);
    for (const int fd : {Fd(tx_done_), Fd(shutdown_)}) {
      ev.events = EPOLLIN;
      ev.data.fd = fd;
      if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) != 0) return Fail(errno);
    }
    return true;
  }

  // Puts the caller's wake-up event into the watched set (once per event).
  bool Watch(TVaEvent& wake) {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    if (Fd(wake) == watched_wake_) return true;
    if (watched_wake_ >= 0) epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, watched_wake_, nullptr);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = Fd(wake);
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, Fd(wake), &ev) != 0) return Fail(errno);
    watched_wake_ = Fd(wake);
    return true;
  }

  bool SetLineSettings(const LineSettings& settings) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    if (shut_) return Fail(EBADF);
    struct termios2 current {
    }, wanted{};
    if (ioctl(fd_, TCGETS2, &current) != 0) return Fail(errno);
    if (const int err = posix::BuildTermios(settings, current, wanted); err != 0) return Fail(err);
    if (posix::BeforeSetTermios) posix::BeforeSetTermios(wanted);
    if (ioctl(fd_, TCSETS2, &wanted) != 0) return Fail(errno);
    event_char_.store(settings.EvtChar);
    // DTR and RTS follow their control fields; a line a device lacks is no error.
    using namespace line_flags;
    const uint32_t dtr = settings.Flags & kDtrControl, rts = settings.Flags & kRtsControl;
    int line = TIOCM_DTR;
    if (dtr == kDtrEnable) ioctl(fd_, TIOCMBIS, &line);
    if (dtr == 0) ioctl(fd_, TIOCMBIC, &line);
    line = TIOCM_RTS;
    if (rts == kRtsEnable) ioctl(fd_, TIOCMBIS, &line);
    if (rts == 0) ioctl(fd_, TIOCMBIC, &line);
    return true;
  }

  IoResult WaitEvents(uint32_t& events, TVaEvent& wake) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    if (shut_) return FailIo(EBADF);
    if (!Watch(wake)) return FailIo(t_last_error);
    for (;;) {
      // Modem-line changes have no descriptor to wait on: while they are
      // watched, the driver's transition counters are looked at every 10 ms
      // (a pulse shorter than that still moves a counter).
      const bool modem = (event_mask_.load() & kModemEvents) != 0 && modem_supported_;
      epoll_event ready[4];
      const int n = epoll_wait(epoll_fd_, ready, 4, modem ? kModemPollMs : -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        return FailIo(errno);
      }
      uint32_t got = modem ? TakeModemChanges() : 0;
      bool woken = false;
      for (int i = 0; i < n; ++i) {
        const int fd = ready[i].data.fd;
        if (fd == fd_) {
          if (ready[i].events & (EPOLLHUP | EPOLLERR)) return FailLost(EIO);
          if (ready[i].events & EPOLLIN) {
            // The tty also wakes its pollers for other reasons; only a queue
            // that grew beyond what was known means that characters arrived.
            // A reader's read and its count change as one step with this.
            {
              std::lock_guard<std::mutex> lock(known_mutex_);
              // The kernel cannot say which bytes arrived: while the event
              // character is watched, arrivals are taken into our own buffer
              // (Read serves it first) and looked at.
              // Taking them empties the driver's queue: what arrives after
              // that is another arrival, reported by the next wait, so the
              // driver is not asked for its count (a call for every arrival).
              int waiting = 0;
              if (event_mask_.load() & kEvRxFlag)
                got |= TakeArrivals();
              else
                ioctl(fd_, FIONREAD, &waiting);
              waiting += static_cast<int>(taken_.size());
              if (auto hook = posix::AfterQueueCount.load()) hook();
              if (waiting > known_in_) got |= kEvRxChar;
              known_in_ = waiting;
            }
            const uint32_t errors = TakeNewLineErrors();
            if (errors) got |= kEvErr;
            if (errors & kCeBreak) got |= kEvBreak;
          }
        } else if (fd == Fd(tx_done_)) {
          tx_done_.Reset();
          got |= kEvTxEmpty;
        } else if (fd == Fd(shutdown_)) {
          return FailIo(EBADF);
        } else {
          woken = true;
        }
      }
      if (woken) return IoResult::kWoken;
      got &= event_mask_.load();
      if (got != 0) {
        events = got;
        return IoResult::kDone;
      }
    }
  }

  IoResult Read(void* buf, uint32_t count, uint32_t timeout_ms, uint32_t& read_count) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    read_count = 0;
    if (shut_) return FailIo(EBADF);
    auto* out = static_cast<uint8_t*>(buf);
    const uint32_t start = GetTickCount();
    // The first bytes, waiting at most the time-out.
    for (;;) {
      const ssize_t n = ReadCounted(out, count);
      if (n > 0) {
        read_count = static_cast<uint32_t>(n);
        break;
      }
      if (n == 0) return FailLost(EIO);  // end of file: the far end is gone
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return IsLostError(errno) ? FailLost(errno) : FailIo(errno);
      // Also woken when the event thread has taken the bytes into its buffer.
      pollfd fds[3] = {{fd_, POLLIN, 0}, {Fd(shutdown_), POLLIN, 0}, {Fd(taken_signal_), POLLIN, 0}};
      const int r = poll(fds, 3, PollMs(Remaining(timeout_ms, start)));
      if (r == 0) return IoResult::kTimeout;
      if (r < 0 && errno != EINTR) return FailIo(errno);
      if (fds[1].revents) return FailIo(EBADF);
    }
    // Then more until the count is reached or the line pauses for the interval.
    while (read_count < count) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {Fd(taken_signal_), POLLIN, 0}};
      if (poll(p, 2, static_cast<int>(read_interval_.load())) <= 0) break;
      const ssize_t n = ReadCounted(out + read_count, count - read_count);
      if (n <= 0) break;
      read_count += static_cast<uint32_t>(n);
    }
    return IoResult::kDone;
  }

  // A non-blocking read whose bytes leave the announced count in the same
  // step, so the event thread never counts bytes that are already gone.
  ssize_t ReadCounted(uint8_t* out, uint32_t count) {
    std::lock_guard<std::mutex> lock(known_mutex_);
    ssize_t n;
    if (!taken_.empty()) {  // bytes the event thread took come first
      n = static_cast<ssize_t>(std::min<size_t>(count, taken_.size()));
      std::memcpy(out, taken_.data(), static_cast<size_t>(n));
      taken_.erase(0, static_cast<size_t>(n));
      if (taken_.empty()) taken_signal_.Reset();
    } else {
      n = ::read(fd_, out, count);
    }
    // The oldest bytes go first, and they are the announced ones.
    if (n > 0) known_in_ = std::max(0, known_in_ - static_cast<int>(n));
    return n;
  }

  IoResult Write(const void* buf, uint32_t count, uint32_t timeout_ms, std::initializer_list<TVaEvent*> wake,
                 uint32_t& written, int& woken) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    written = 0;
    woken = -1;
    if (shut_) return FailIo(EBADF);
    if (count == 0) return IoResult::kDone;
    const uint32_t start = GetTickCount();
    std::vector<pollfd> fds;
    for (;;) {
      const ssize_t n = ::write(fd_, buf, count);
      if (n > 0) {
        written = static_cast<uint32_t>(n);
        if (event_mask_.load() & kEvTxEmpty) tx_done_.Signal();  // handed to the driver
        return IoResult::kDone;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return IsLostError(errno) ? FailLost(errno) : FailIo(errno);
      // No room: wait for it, a wake-up, or the end of the bounded wait.
      fds.assign({{fd_, POLLOUT, 0}, {Fd(shutdown_), POLLIN, 0}});
      for (TVaEvent* e : wake) fds.push_back({Fd(*e), POLLIN, 0});
      const int r = poll(fds.data(), fds.size(), PollMs(Remaining(timeout_ms, start)));
      if (r == 0) return IoResult::kTimeout;
      if (r < 0) {
        if (errno == EINTR) continue;
        return FailIo(errno);
      }
      for (size_t i = 2; i < fds.size(); ++i)
        if (fds[i].revents) {
          woken = static_cast<int>(i - 2);
          return IoResult::kWoken;
        }
      if (fds[1].revents) return FailIo(EBADF);
      if (fds[0].revents & (POLLHUP | POLLERR)) return FailLost(EIO);
    }
  }

  bool ClearErrors(TVaCommStatus& status) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    status = {};
    if (shut_) return Fail(EBADF);
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0) return Fail(errno);
    {
      std::lock_guard<std::mutex> lock(known_mutex_);
      waiting += static_cast<int>(taken_.size());
    }
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0) queued = 0;
    TakeNewLineErrors();
    std::lock_guard<std::mutex> lock(errors_mutex_);
    status.Errors = line_errors_;
    line_errors_ = 0;
    status.InQueue = static_cast<uint32_t>(std::max(waiting, 0));
    status.OutQueue = static_cast<uint32_t>(std::max(queued, 0));
    return true;
  }

  void Shutdown() override {
    if (shut_.exchange(true)) return;
    shutdown_.Signal();
    std::unique_lock<std::shared_mutex> alone(gate_);  // every blocked call has left
    if (low_latency_set_) SetLowLatency(fd_, false);
    ioctl(fd_, TIOCNXCL);
    close(epoll_fd_);
    close(fd_);
  }

 private:
  // Reads what has arrived into `taken_` (known_mutex_ held); kEvRxFlag when
  // the event character is among it.
  uint32_t TakeArrivals() {
    uint32_t bits = 0;
    uint8_t chunk[4096];
    const auto event_char = static_cast<uint8_t>(event_char_.load());
    for (;;) {
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n <= 0) break;  // nothing more now, or the end (the next read reports it)
      if (std::memchr(chunk, event_char, static_cast<size_t>(n))) bits |= kEvRxFlag;
      if (taken_.empty()) taken_signal_.Signal();  // set until a read empties it
      taken_.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(n));
      if (static_cast<size_t>(n) < sizeof chunk) break;
    }
    return bits;
  }

  // Modem-line events since the last look (the first look sets the base).
  uint32_t TakeModemChanges() {
    posix::ModemCounts now;
    if (!ReadModem(now)) {
      modem_supported_ = false;
      return 0;
    }
    uint32_t bits = 0;
    if (have_modem_) {
      if (now.cts != modem_.cts) bits |= kEvCts;
      if (now.dsr != modem_.dsr) bits |= kEvDsr;
      if (now.dcd != modem_.dcd) bits |= kEvRlsd;
      if (now.rng != modem_.rng) bits |= kEvRing;
    }
    modem_ = now;
    have_modem_ = true;
    return bits;
  }

  bool ReadModem(posix::ModemCounts& counts) {
    if (auto read = posix::ReadModemCounts.load()) return read(fd_, counts);
    serial_icounter_struct ic{};
    if (ioctl(fd_, TIOCGICOUNT, &ic) == 0) {
      counts = {static_cast<uint32_t>(ic.cts), static_cast<uint32_t>(ic.dsr), static_cast<uint32_t>(ic.rng),
                static_cast<uint32_t>(ic.dcd)};
      return true;
    }
    // No counters: each line's state change since the last look counts once.
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) return false;
    counts = modem_;
    if (have_modem_) {
      const int changed = lines ^ modem_lines_;
      counts.cts += (changed & TIOCM_CTS) != 0;
      counts.dsr += (changed & TIOCM_DSR) != 0;
      counts.dcd += (changed & TIOCM_CD) != 0;
      counts.rng += (changed & TIOCM_RNG) != 0;
    }
    modem_lines_ = lines;
    return true;
  }

  // Line errors counted by the driver since the last look (real UARTs only;
  // a pseudo-terminal has no counters). Returns the bits that are new.
  uint32_t TakeNewLineErrors() {
    std::lock_guard<std::mutex> lock(errors_mutex_);
    if (!counters_supported_) return 0;
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) != 0) {
      counters_supported_ = false;
      return 0;
    }
    uint32_t bits = 0;
    if (have_counters_) {
      if (now.frame != counters_.frame) bits |= kCeFrame;
      if (now.overrun != counters_.overrun) bits |= kCeOverrun;
      if (now.parity != counters_.parity) bits |= kCeRxParity;
      if (now.brk != counters_.brk) bits |= kCeBreak;
      if (now.buf_overrun != counters_.buf_overrun) bits |= kCeRxOver;
    }
    counters_ = now;
    have_counters_ = true;
    line_errors_ |= bits;
    return bits;
  }

  const int fd_;
  const int epoll_fd_;
  const bool low_latency_set_;  // by the open, undone at the close
  TVaWaitEvent shutdown_;
  TVaWaitEvent tx_done_;
  std::shared_mutex gate_;  // shared for a call on the descriptor, exclusive to close it
  // Modem lines (event thread only).
  static constexpr uint32_t kModemEvents = kEvCts | kEvDsr | kEvRlsd | kEvRing;
  static constexpr int kModemPollMs = 10;
  bool modem_supported_ = true;
  bool have_modem_ = false;
  posix::ModemCounts modem_;
  int modem_lines_ = 0;
  std::mutex known_mutex_;
  int known_in_ = 0;           // received bytes already announced and not yet read
  std::string taken_;          // received bytes the event thread has read ahead
  TVaWaitEvent taken_signal_;  // set while taken_ holds bytes
  std::atomic<char> event_char_{0};
  std::mutex wake_mutex_;
  int watched_wake_ = -1;
  std::mutex errors_mutex_;
  bool counters_supported_ = true;
  bool have_counters_ = false;
  serial_icounter_struct counters_{};
  uint32_t line_errors_ = 0;
};

}  // namespace

namespace posix {

std::function<void(const struct termios2&)> BeforeSetTermios;
std::atomic<void (*)()> AfterQueueCount{nullptr};
std::atomic<bool (*)(int, ModemCounts&)> ReadModemCounts{nullptr};
std::atomic<int (*)(int, unsigned long, struct serial_struct*)> SerialRequest{nullptr};

}  // namespace posix

std::unique_ptr<Device> OpenDevice(const std::string& path) {
  if (IsNetworkPortName(path)) {
    NetworkAddress address;
    if (ParseNetworkPort(path, address)) return OpenNetworkDevice(address);
    Fail(kErrorBadNetworkName);
    return nullptr;
  }
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(errno);
    return nullptr;
  }
  auto refuse = [fd](int code) -> std::unique_ptr<Device> {
    close(fd);
    Fail(code);
    return nullptr;
  };
  if (!isatty(fd)) return refuse(ENOTTY);
  // TIOCEXCL keeps other users out, but not root; the lock holds for everyone
  // who opens ports this way.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(errno == EWOULDBLOCK ? EBUSY : errno);
  ioctl(fd, TIOCEXCL);
  ioctl(fd, TCFLSH, TCIOFLUSH);  // nothing left over from an earlier user
  const int epoll_fd = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd < 0) return refuse(errno);
  // A USB adapter holds received bytes until its latency timer runs out (16 ms
  // by default for ftdi_sio), on every reply: the driver is asked for low
  // latency (ftdi_sio then sets the timer to 1 ms) and the setting is restored
  // at the close. A driver that refuses is left as it is.
  const bool low_latency_set = SetLowLatency(fd, true);
  auto device = std::make_unique<PosixDevice>(fd, epoll_fd, low_latency_set);
  if (!device->Init()) return nullptr;  // the device closes both descriptors
  return device;
}

int LastError() { return t_last_error; }
void SetLastError(int code) { t_last_error = code; }

std::string ErrorText(int code) {
  std::string text;
  if (NetworkErrorText(code, text)) return text;
  char buf[256];
  // The GNU strerror_r returns the text, which need not be in buf.
  return strerror_r(code, buf, sizeof buf);
}

bool IsNotFoundError(int code) { return code == ENOENT; }
bool IsLostDeviceError(int code) { return IsLostError(code); }

}  // namespace va::platform
