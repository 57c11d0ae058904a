// The platform layer on Linux: termios2 for any rate, an exclusive open
// (TIOCEXCL plus flock, which holds for root too), non-blocking I/O with poll,
// and line events from an edge-triggered epoll on the descriptor, so that
// received characters are reported once per arrival.
#include <asm/termbits.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "va_posix.h"

namespace va::platform {

namespace {

thread_local int t_last_error = 0;

bool Fail(int code) {
  t_last_error = code;
  return false;
}

IoResult FailIo(int code) {
  t_last_error = code;
  return IoResult::kFailed;
}

// Errors that mean the device itself is gone.
bool IsLostError(int code) { return code == EIO || code == ENXIO || code == ENODEV; }

int PollMs(uint32_t ms) { return ms == INFINITE_WAIT ? -1 : static_cast<int>(std::min<uint32_t>(ms, INT32_MAX)); }

uint32_t Remaining(uint32_t timeout_ms, uint32_t start) {
  if (timeout_ms == INFINITE_WAIT) return INFINITE_WAIT;
  const uint32_t spent = GetTickCount() - start;
  return spent >= timeout_ms ? 0 : timeout_ms - spent;
}

struct RateCode {
  uint32_t rate;
  unsigned code;
};
constexpr RateCode kRates[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                               {150, B150},       {200, B200},       {300, B300},       {600, B600},
                               {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                               {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                               {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};

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

class PosixDevice final : public Device {
 public:
  PosixDevice(int fd, int epoll_fd, bool low_latency_set)
      : fd_(fd), epoll_fd_(epoll_fd), low_latency_set_(low_latency_set) {}
  ~PosixDevice() override { Shutdown(); }

  // The event wait watches the device (edge-triggered: once per arrival), the
  // direct-write drain, the shut-down signal and the caller's wake-up event.
  bool Init() {
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    ev.data.fd = fd_;
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd_, &ev) != 0) return Fail(errno);
    for (const int fd : {tx_done_.Handle(), shutdown_.Handle()}) {
      ev.events = EPOLLIN;
      ev.data.fd = fd;
      if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) != 0) return Fail(errno);
    }
    return true;
  }

  // Puts the caller's wake-up event into the watched set (once per event).
  bool Watch(TVaEvent& wake) {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    if (wake.Handle() == watched_wake_) return true;
    if (watched_wake_ >= 0) epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, watched_wake_, nullptr);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = wake.Handle();
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake.Handle(), &ev) != 0) return Fail(errno);
    watched_wake_ = wake.Handle();
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
    const uint32_t dtr = settings.Flags & 0x30, rts = settings.Flags & 0x3000;
    int line = TIOCM_DTR;
    if (dtr == 0x10) ioctl(fd_, TIOCMBIS, &line);
    if (dtr == 0) ioctl(fd_, TIOCMBIC, &line);
    line = TIOCM_RTS;
    if (rts == 0x1000) ioctl(fd_, TIOCMBIS, &line);
    if (rts == 0) ioctl(fd_, TIOCMBIC, &line);
    return true;
  }

  bool SetQueueSizes(uint32_t, uint32_t) override {
    // The kernel's queues have a fixed size: nothing to request.
    return shut_ ? Fail(EBADF) : true;
  }

  bool SetReadInterval(uint32_t interval_ms) override {
    read_interval_.store(interval_ms);
    return shut_ ? Fail(EBADF) : true;
  }

  bool SetEventMask(uint32_t mask) override {
    event_mask_.store(mask);
    return shut_ ? Fail(EBADF) : true;
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
              if (event_mask_.load() & EV_RXFLAG) got |= TakeArrivals();
              int waiting = 0;
              ioctl(fd_, FIONREAD, &waiting);
              waiting += static_cast<int>(taken_.size());
              if (auto hook = posix::AfterQueueCount.load()) hook();
              if (waiting > known_in_) got |= EV_RXCHAR;
              known_in_ = waiting;
            }
            const uint32_t errors = TakeNewLineErrors();
            if (errors) got |= EV_ERR;
            if (errors & CE_BREAK) got |= EV_BREAK;
          }
        } else if (fd == tx_done_.Handle()) {
          tx_done_.Reset();
          got |= EV_TXEMPTY;
        } else if (fd == shutdown_.Handle()) {
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
      pollfd fds[3] = {{fd_, POLLIN, 0}, {shutdown_.Handle(), POLLIN, 0}, {taken_signal_.Handle(), POLLIN, 0}};
      const int r = poll(fds, 3, PollMs(Remaining(timeout_ms, start)));
      if (r == 0) return IoResult::kTimeout;
      if (r < 0 && errno != EINTR) return FailIo(errno);
      if (fds[1].revents) return FailIo(EBADF);
    }
    // Then more until the count is reached or the line pauses for the interval.
    while (read_count < count) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {taken_signal_.Handle(), POLLIN, 0}};
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

  // A write whose bounded wait is no wait at all.
  IoResult WriteNow(const void* buf, uint32_t count, uint32_t& written) override {
    int woken = -1;
    return Write(buf, count, 0, {}, written, woken);
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
        if (event_mask_.load() & EV_TXEMPTY) tx_done_.Signal();  // handed to the driver
        return IoResult::kDone;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return IsLostError(errno) ? FailLost(errno) : FailIo(errno);
      // No room: wait for it, a wake-up, or the end of the bounded wait.
      fds.assign({{fd_, POLLOUT, 0}, {shutdown_.Handle(), POLLIN, 0}});
      for (TVaEvent* e : wake) fds.push_back({e->Handle(), POLLIN, 0});
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

  bool ClearErrors(CommStatus& status) override {
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
  IoResult FailLost(int code) {
    t_last_error = code;
    return IoResult::kLost;
  }

  // Reads what has arrived into `taken_` (known_mutex_ held); EV_RXFLAG when
  // the event character is among it.
  uint32_t TakeArrivals() {
    uint32_t bits = 0;
    uint8_t chunk[4096];
    const auto event_char = static_cast<uint8_t>(event_char_.load());
    for (;;) {
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n <= 0) break;  // nothing more now, or the end (the next read reports it)
      if (std::memchr(chunk, event_char, static_cast<size_t>(n))) bits |= EV_RXFLAG;
      taken_.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(n));
      taken_signal_.Signal();
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
      if (now.cts != modem_.cts) bits |= EV_CTS;
      if (now.dsr != modem_.dsr) bits |= EV_DSR;
      if (now.dcd != modem_.dcd) bits |= EV_RLSD;
      if (now.rng != modem_.rng) bits |= EV_RING;
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
      if (now.frame != counters_.frame) bits |= CE_FRAME;
      if (now.overrun != counters_.overrun) bits |= CE_OVERRUN;
      if (now.parity != counters_.parity) bits |= CE_RXPARITY;
      if (now.brk != counters_.brk) bits |= CE_BREAK;
      if (now.buf_overrun != counters_.buf_overrun) bits |= CE_RXOVER;
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
  std::atomic<bool> shut_{false};
  std::atomic<uint32_t> event_mask_{0};
  std::atomic<uint32_t> read_interval_{5};
  // Modem lines (event thread only).
  static constexpr uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
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

int BuildTermios(const LineSettings& s, const struct termios2& current, struct termios2& t) {
  t = current;
  const uint32_t f = s.Flags;
  if (s.BaudRate == 0) return EINVAL;
  if ((f & 0x8) || (f & 0x30) >= 0x20 || (f & 0x40) || (f & 0x3000) == 0x3000 || (f & 0x400) || (f & 0x800))
    return EINVAL;  // DSR flow, DTR handshake, DSR sensitivity, RTS toggle, error char, null strip

  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  static constexpr unsigned kSize[] = {CS5, CS6, CS7, CS8};
  if (s.ByteSize < 5 || s.ByteSize > 8) return EINVAL;
  t.c_cflag |= kSize[s.ByteSize - 5];
  switch (s.Parity) {
    case 0:
      break;
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
    case 3:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      return EINVAL;
  }
  switch (s.StopBits) {
    case 0:
      break;
    case 1:  // a UART sends 1.5 stop bits for "two" with 5-bit characters only
      if (s.ByteSize != 5) return EINVAL;
      t.c_cflag |= CSTOPB;
      break;
    case 2:
      t.c_cflag |= CSTOPB;
      break;
    default:
      return EINVAL;
  }
  if ((f & 0x4) || (f & 0x3000) == 0x2000) t.c_cflag |= CRTSCTS;
  t.c_cflag |= CREAD | CLOCAL;

  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IUCLC |
                 IMAXBEL | IGNPAR);
  if (f & 0x100) t.c_iflag |= IXON;
  if (f & 0x200) t.c_iflag |= IXOFF;
  if (f & 0x2) t.c_iflag |= INPCK;
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when nothing waits, 0 only at a hang-up
  t.c_cc[VTIME] = 0;
  t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);

  const auto* std_rate =
      std::find_if(std::begin(kRates), std::end(kRates), [&](const RateCode& r) { return r.rate == s.BaudRate; });
  if (std_rate != std::end(kRates)) {
    t.c_cflag |= std_rate->code;
  } else {
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  }
  t.c_ispeed = t.c_ospeed = s.BaudRate;
  return 0;
}

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = a[i] >= '0' && a[i] <= '9', db = b[j] >= '0' && b[j] <= '9';
    if (da && db) {
      size_t ei = i, ej = j;
      while (ei < a.size() && a[ei] >= '0' && a[ei] <= '9') ++ei;
      while (ej < b.size() && b[ej] >= '0' && b[ej] <= '9') ++ej;
      // Compare the numbers by value: strip leading zeros, then length, then digits.
      size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      const int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

bool IsSerialNodeName(const std::string& name) {
  for (const char* prefix : {"ttyUSB", "ttyACM", "ttyAMA", "ttyS", "rfcomm"}) {
    const size_t n = std::strlen(prefix);
    if (name.size() > n && name.compare(0, n, prefix) == 0 &&
        std::all_of(name.begin() + n, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return true;
  }
  return false;
}

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

namespace {

// The first line of a sysfs attribute, "" when there is none.
std::string ReadAttribute(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Whether the port could be opened now; nothing when there is no port. Found
// with one open and close, without disturbing a program that holds it:
// nothing is flushed, no exclusive mode set or cleared (root passes another's
// TIOCEXCL, so it is asked for). `uart_record` is given for a legacy ttyS node
// (one exists for every possible 8250 port): only one with a UART counts, as
// the driver says to whoever may open the node and the kernel's record says
// to everyone else (and while another program holds the port).
std::optional<TVaPortAccess> ProbeAccess(const std::string& path, const std::string& uart_record) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (!uart_record.empty()) {
      const std::string type = ReadAttribute(uart_record);
      if (type.empty() || type == "0") return std::nullopt;
    }
    if (error == EACCES || error == EPERM) return paDenied;
    if (error == EBUSY) return paBusy;
    return std::nullopt;
  }
  std::optional<TVaPortAccess> access = paReady;
  int exclusive = 0;
  serial_struct info{};
  if (!isatty(fd) || (!uart_record.empty() && (ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type == PORT_UNKNOWN))) {
    access = std::nullopt;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)) {
    access = paBusy;
  }
  close(fd);  // and with it the lock
  return access;
}

}  // namespace

std::vector<TVaPortFound> ProbePorts(const std::string& dev_root, const std::string& sys_root) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(dev_root.c_str())) {
    while (const dirent* e = readdir(dir))
      if (posix::IsSerialNodeName(e->d_name)) names.emplace_back(e->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end(), posix::NaturalLess);
  std::vector<TVaPortFound> ports;
  for (const std::string& name : names) {
    const std::string path = dev_root + "/" + name;
    const bool legacy = name.compare(0, 4, "ttyS") == 0;
    if (const std::optional<TVaPortAccess> access =
            ProbeAccess(path, legacy ? sys_root + "/class/tty/" + name + "/type" : std::string()))
      ports.push_back({path, *access});
  }
  return ports;
}

std::string DevicePathFor(const std::string& port_name) {
  // Names are relative to /dev ("ttyUSB0", "pts/3"); paths start with / or .
  if (port_name.empty() || port_name[0] == '/' || port_name[0] == '.' || IsNetworkPortName(port_name)) return port_name;
  return "/dev/" + port_name;
}

TVaPortIdentity IdentifyPort(const std::string& device_path, const std::string& sys_root, const std::string& dev_root) {
  namespace fs = std::filesystem;
  std::error_code ec;
  TVaPortIdentity identity;
  if (IsNetworkPortName(device_path)) {  // a port on a serial server: its name is all there is
    identity.Name = device_path;
    return identity;
  }
  const fs::path device = fs::canonical(device_path, ec);
  identity.Name = (ec ? fs::path(device_path) : device).filename().string();
  struct stat st {};
  if (ec || stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return identity;  // no device there
  std::error_code dec;
  const std::string under = fs::canonical(dev_root, dec).string() + "/";
  if (!dec && device.string().compare(0, under.size(), under) == 0)
    identity.Name = device.string().substr(under.size());
  // The stable name: the by-id link that leads to this device.
  for (const fs::directory_entry& link : fs::directory_iterator(fs::path(dev_root) / "serial/by-id", ec)) {
    std::error_code lec;
    if (fs::canonical(link.path(), lec) == device && !lec) {
      identity.ById = link.path().string();
      break;
    }
  }
  // The kernel's record of the device number, not of the name: a container
  // may give a device another one's name.
  const std::string number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  const fs::path record = fs::canonical(fs::path(sys_root) / "dev/char" / number, ec);
  if (ec) return identity;
  identity.Name = record.filename().string();
  // The tty's device, then up the tree to the USB device that holds the ids.
  const fs::path root = fs::canonical(sys_root, ec);
  if (ec) return identity;
  for (fs::path dir = fs::canonical(record / "device", ec); !ec && dir != root && dir != dir.parent_path();
       dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", ec)) {
      identity.VendorId = ReadAttribute(dir / "idVendor");
      identity.ProductId = ReadAttribute(dir / "idProduct");
      identity.Manufacturer = ReadAttribute(dir / "manufacturer");
      identity.Product = ReadAttribute(dir / "product");
      identity.SerialNumber = ReadAttribute(dir / "serial");
      break;
    }
  }
  return identity;
}

int64_t CurrentThreadId() { return static_cast<int64_t>(syscall(SYS_gettid)); }

void SetThreadPriority(int64_t thread_id, TThreadPriority priority) {
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
  // Raising a priority needs privileges; without them the thread keeps its own.
  setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), kNice[priority <= tpTimeCritical ? priority : tpNormal]);
}

void SetCurrentThreadPriority(TThreadPriority priority) { SetThreadPriority(CurrentThreadId(), priority); }

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace va::platform
