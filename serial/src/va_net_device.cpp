// A serial port reached over the network: socket://HOST:PORT is raw TCP
// (bytes only; line settings do not apply), rfc2217://HOST:PORT is telnet
// with the com-port control option (the line settings go to the server, its
// modem-line and line-state notifications come back as events). One I/O
// thread per port receives, decodes and sends through the platform's socket
// (va_net_socket.h); the component's calls wait on what it gathered, each
// within its own time limit.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "va_line_flags.h"
#include "va_net_socket.h"
#include "va_platform.h"
#include "va_rfc2217.h"

namespace va::platform {

namespace {

namespace tn = rfc2217;
using Clock = std::chrono::steady_clock;

constexpr size_t kMaxPending = 64 * 1024;                 // bytes queued for the socket before a write waits
constexpr size_t kMaxReceived = 1024 * 1024;              // bytes kept for the reader before the socket is left unread
constexpr uint8_t kOutboundKey = 200, kInboundKey = 201;  // the flow-control answers among the others

// A setting in words, for the message of a refused one.
std::string Describe(uint8_t command, const std::string& value) {
  const unsigned v = value.empty() ? 0 : static_cast<uint8_t>(value[0]);
  switch (command) {
    case tn::SET_BAUDRATE: {
      uint32_t rate = 0;
      for (char c : value) rate = rate << 8 | static_cast<uint8_t>(c);
      return std::to_string(rate) + " baud";
    }
    case tn::SET_DATASIZE:
      return std::to_string(v) + " data bits";
    case tn::SET_PARITY:
      return "parity " + std::to_string(v);
    case tn::SET_STOPSIZE:
      return "stop size " + std::to_string(v);
    default:
      return "flow control " + std::to_string(v);
  }
}

class NetworkDevice final : public SelfKeptDevice {
 public:
  NetworkDevice(std::unique_ptr<net::Socket> socket, bool telnet, std::string name)
      : SelfKeptDevice(net::ClosedCode()), socket_(std::move(socket)), telnet_(telnet), name_(std::move(name)) {
    decoder_.OnData = [this](const char* data, size_t n) { Arrived(data, n); };
    decoder_.OnNegotiation = [this](uint8_t verb, uint8_t option) { Negotiated(verb, option); };
    decoder_.OnComPort = [this](uint8_t command, const std::string& value) { ComPort(command, value); };
    io_ = std::thread([this] { Run(); });
  }
  ~NetworkDevice() override { Shutdown(); }

  // Offers the com-port option and waits for the server to take it.
  bool Negotiate(uint32_t limit_ms) {
    Send(tn::Negotiation(tn::WILL, tn::kComPort) + tn::Negotiation(tn::WILL, tn::kBinary) +
         tn::Negotiation(tn::DO, tn::kBinary) + tn::Negotiation(tn::WILL, tn::kSuppressGoAhead) +
         tn::Negotiation(tn::DO, tn::kSuppressGoAhead));
    std::unique_lock<std::mutex> lock(m_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(limit_ms), [&] { return com_port_ != 0 || lost_; }))
      return Fail(kErrorNoComPortAnswer);
    if (lost_) return Fail(lost_why_);
    if (com_port_ < 0) return Fail(kErrorComPortRefused);
    lock.unlock();
    // Every line-state and modem-line change is to be told.
    Send(tn::ComPortCommand(tn::SET_LINESTATE_MASK, std::string(1, static_cast<char>(tn::kLineErrors))) +
         tn::ComPortCommand(tn::SET_MODEMSTATE_MASK, std::string(1, static_cast<char>(tn::kAllModemBits))));
    return true;
  }

  bool SetLineSettings(const LineSettings& s) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    if (shut_) return Fail(net::ClosedCode());
    evt_char_.store(s.EvtChar);
    if (!telnet_) return true;  // a raw TCP port has no line to set
    static constexpr uint8_t kParity[] = {1, 2, 3, 4, 5};
    static constexpr uint8_t kStop[] = {1, 3, 2};
    if (s.Parity > 4 || s.StopBits > 2) return Fail(net::InvalidCode());
    using namespace line_flags;
    const uint32_t dtr = s.Flags & kDtrControl, rts = s.Flags & kRtsControl;
    const uint8_t outbound = (s.Flags & kOutxCtsFlow) ? tn::kHardware : (s.Flags & kOutX) ? tn::kXonXoff : tn::kNoFlow;
    const uint8_t inbound = rts == kRtsHandshake   ? tn::kInboundHardware
                            : (s.Flags & kInX) ? tn::kInboundXonXoff
                                               : tn::kInboundNone;
    // What the server must answer with the value asked; the flow-control
    // answers are kept under their own keys.
    const std::map<uint8_t, std::string> wanted = {
        {tn::SET_BAUDRATE, tn::BigEndian32(s.BaudRate)},
        {tn::SET_DATASIZE, std::string(1, static_cast<char>(s.ByteSize))},
        {tn::SET_PARITY, std::string(1, static_cast<char>(kParity[s.Parity]))},
        {tn::SET_STOPSIZE, std::string(1, static_cast<char>(kStop[s.StopBits]))},
        {kOutboundKey, std::string(1, static_cast<char>(outbound))},
        {kInboundKey, std::string(1, static_cast<char>(inbound))}};
    std::string commands;
    for (const auto& [command, value] : wanted)
      commands += tn::ComPortCommand(command < kOutboundKey ? command : static_cast<uint8_t>(tn::SET_CONTROL), value);
    // DTR and RTS (left as they are for a handshake): a server in front of a
    // line without them may leave these unanswered, which is no error.
    if (dtr != kDtrHandshake)
      commands += tn::ComPortCommand(tn::SET_CONTROL, std::string(1, dtr ? tn::kDtrOn : tn::kDtrOff));
    if (rts != kRtsHandshake && !(s.Flags & kOutxCtsFlow))
      commands += tn::ComPortCommand(tn::SET_CONTROL, std::string(1, rts ? tn::kRtsOn : tn::kRtsOff));
    {
      std::lock_guard<std::mutex> lock(m_);
      answers_.clear();  // only this call's answers count
      if (lost_ || shut_) return Fail(shut_ ? net::ClosedCode() : lost_why_);
      pending_ += commands;
      kick_.Signal();
    }
    // The server answers each request with the value it took; one that took
    // another refuses it. A request left unanswered for a second is taken at
    // the server's word.
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait_for(lock, std::chrono::seconds(1), [&] {
      return lost_ || shut_ ||
             std::all_of(wanted.begin(), wanted.end(), [&](const auto& w) { return answers_.count(w.first) != 0; });
    });
    if (shut_) return Fail(net::ClosedCode());
    if (lost_) return Fail(lost_why_);
    for (const auto& [command, value] : wanted) {
      const auto answer = answers_.find(command);
      if (answer != answers_.end() && answer->second != value) {
        SetNetworkDetail(name_ + " took " + Describe(answer->first, answer->second) + " when asked for " +
                         Describe(command, value));
        return Fail(kErrorSettingRefused);
      }
    }
    return true;
  }

  IoResult WaitEvents(uint32_t& events, TVaEvent& wake) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    for (;;) {
      notify_.Reset();
      {
        std::lock_guard<std::mutex> lock(m_);
        if (shut_) return FailIo(net::ClosedCode());
        const uint32_t got = events_ & event_mask_.load();
        events_ = 0;
        if (got != 0) {
          events = got;
          return IoResult::kDone;
        }
        if (lost_) return FailIo(lost_why_, IoResult::kLost);
      }
      // The first signalled in this order: shut down, woken, news.
      const int which = WaitForAny({&shutdown_, &wake, &notify_});
      if (which == 0 || which < -1) return FailIo(net::ClosedCode());
      if (which == 1) return IoResult::kWoken;
    }
  }

  IoResult Read(void* buf, uint32_t count, uint32_t timeout_ms, uint32_t& read) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    read = 0;
    std::unique_lock<std::mutex> lock(m_);
    const auto ready = [&] { return !rx_.empty() || lost_ || shut_; };
    if (timeout_ms == INFINITE_WAIT) {
      cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
      return IoResult::kTimeout;
    }
    if (rx_.empty()) return shut_ ? FailIo(net::ClosedCode()) : FailIo(lost_why_, IoResult::kLost);
    // More until the count is reached or the line pauses for the interval.
    while (rx_.size() < count && !lost_ && !shut_) {
      const size_t before = rx_.size();
      if (!cv_.wait_for(lock, std::chrono::milliseconds(read_interval_.load()),
                        [&] { return rx_.size() > before || lost_ || shut_; }))
        break;
    }
    const bool was_full = rx_.size() >= kMaxReceived;
    read = static_cast<uint32_t>(std::min<size_t>(count, rx_.size()));
    std::memcpy(buf, rx_.data(), read);
    rx_.erase(0, read);
    if (was_full) kick_.Signal();  // the socket may be read again
    return IoResult::kDone;
  }

  // The bytes join the socket's queue (escaped for telnet); a full queue
  // waits for room within the time limit.
  IoResult Write(const void* buf, uint32_t count, uint32_t timeout_ms, std::initializer_list<TVaEvent*> wake,
                 uint32_t& written, int& woken) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    written = 0;
    woken = -1;
    if (count == 0) return IoResult::kDone;
    const std::string bytes = telnet_ ? tn::EscapeData(buf, count) : std::string(static_cast<const char*>(buf), count);
    const auto start = Clock::now();
    for (;;) {
      room_.Reset();
      {
        std::lock_guard<std::mutex> lock(m_);
        if (shut_) return FailIo(net::ClosedCode());
        if (lost_) return FailIo(lost_why_, IoResult::kLost);
        if (pending_.empty() || pending_.size() + bytes.size() <= kMaxPending) {
          pending_ += bytes;
          written = count;
          kick_.Signal();
          return IoResult::kDone;
        }
      }
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      if (timeout_ms != INFINITE_WAIT && spent >= timeout_ms) return IoResult::kTimeout;
      // A wake-up is told before room: the caller asked to be woken.
      std::vector<TVaEvent*> events = {&shutdown_};
      events.insert(events.end(), wake.begin(), wake.end());
      events.push_back(&room_);
      const int which =
          WaitForAny(events, timeout_ms == INFINITE_WAIT ? INFINITE_WAIT : static_cast<uint32_t>(timeout_ms - spent));
      if (which < -1) return FailIo(net::ClosedCode());
      if (which >= 1 && which <= static_cast<int>(wake.size())) {
        woken = which - 1;
        return IoResult::kWoken;
      }
    }
  }

  bool ClearErrors(TVaCommStatus& status) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    std::lock_guard<std::mutex> lock(m_);
    status = {};
    if (shut_) return Fail(net::ClosedCode());
    status.Errors = line_errors_;
    line_errors_ = 0;
    status.InQueue = static_cast<uint32_t>(rx_.size());
    status.OutQueue = static_cast<uint32_t>(pending_.size());
    return true;
  }

  // Wakes every blocked call, waits until they have left, ends the I/O thread
  // and closes the connection.
  void Shutdown() override {
    {
      std::lock_guard<std::mutex> lock(m_);
      if (shut_.exchange(true)) return;
      cv_.notify_all();
    }
    shutdown_.Signal();
    kick_.Signal();
    std::unique_lock<std::shared_mutex> alone(gate_);
    if (io_.joinable()) io_.join();
    socket_.reset();
  }

 private:
  // Queues bytes already in wire form; false when the connection is gone.
  bool Send(const std::string& wire) {
    std::lock_guard<std::mutex> lock(m_);
    if (lost_ || shut_) return false;
    pending_ += wire;
    kick_.Signal();
    return true;
  }

  void Run() {
    char buf[4096];
    for (;;) {
      bool sending, receiving;
      {
        std::lock_guard<std::mutex> lock(m_);
        if (shut_ || lost_) return;
        sending = !pending_.empty();
        // A reader that falls behind leaves the rest in the socket: the
        // server then waits, as a device waits for a full driver queue.
        receiving = rx_.size() < kMaxReceived;
      }
      const net::Readiness ready = socket_->Wait(receiving, sending, kick_);
      if (ready.failed) return Lost();
      kick_.Reset();  // the state is read again at the top
      // The server closed while the reader is behind: what it sent before is
      // still taken (the system's buffer bounds it), then the port is lost.
      const bool closing = !receiving && ready.closing;
      if (ready.readable || closing) {
        do {
          const long n = socket_->Receive(buf, sizeof buf);
          if (n == 0 || n < -1) return Lost();
          if (n < 0) break;
          if (telnet_) {
            decoder_.Feed(buf, static_cast<size_t>(n));
            if (decoder_.Broken()) return Lost(kErrorBrokenStream);
          } else {
            Arrived(buf, static_cast<size_t>(n));
          }
        } while (closing);
      }
      if (ready.writable) {
        std::lock_guard<std::mutex> lock(m_);
        const long n = socket_->Send(pending_.data(), pending_.size());
        if (n < 0) {
          lost_ = true;
          lost_why_ = net::ResetCode();
          Notify();
          return;
        }
        if (n > 0) {
          pending_.erase(0, static_cast<size_t>(n));
          room_.Signal();
          if (pending_.empty()) events_ |= kEvTxEmpty, Notify();
        }
      }
    }
  }

  // A dropped connection is a lost device.
  void Lost(int why = 0) {
    std::lock_guard<std::mutex> lock(m_);
    lost_ = true;
    lost_why_ = why != 0 ? why : net::ResetCode();
    Notify();
  }

  void Notify() {  // with m_ held
    notify_.Signal();
    room_.Signal();
    cv_.notify_all();
  }

  void Arrived(const char* data, size_t n) {
    std::lock_guard<std::mutex> lock(m_);
    rx_.append(data, n);
    events_ |= kEvRxChar;
    if (std::memchr(data, evt_char_.load(), n)) events_ |= kEvRxFlag;
    Notify();
  }

  void Negotiated(uint8_t verb, uint8_t option) {
    const bool ours = option == tn::kComPort || option == tn::kBinary || option == tn::kSuppressGoAhead;
    if (option == tn::kComPort && (verb == tn::DO || verb == tn::DONT)) {
      std::lock_guard<std::mutex> lock(m_);
      com_port_ = verb == tn::DO ? 1 : -1;
      Notify();
      return;
    }
    if (ours) return;  // an answer to our own offers
    // Refuse anything else, once per option, so that no negotiation loops.
    std::lock_guard<std::mutex> lock(m_);
    if (!refused_.insert(static_cast<uint16_t>(verb << 8 | option)).second) return;
    if (verb == tn::DO) pending_ += tn::Negotiation(tn::WONT, option);
    if (verb == tn::WILL) pending_ += tn::Negotiation(tn::DONT, option);
    kick_.Signal();
  }

  void ComPort(uint8_t command, const std::string& value) {
    if (command < tn::kServer) return;
    const uint8_t request = command - tn::kServer;
    std::lock_guard<std::mutex> lock(m_);
    const uint8_t bits = value.empty() ? 0 : static_cast<uint8_t>(value[0]);
    if (request == tn::NOTIFY_LINESTATE) {
      uint32_t errors = 0;
      if (bits & tn::kLineOverrun) errors |= kCeOverrun;
      if (bits & tn::kLineParity) errors |= kCeRxParity;
      if (bits & tn::kLineFraming) errors |= kCeFrame;
      if (bits & tn::kLineBreak) errors |= kCeBreak;
      line_errors_ |= errors;
      if (errors) events_ |= kEvErr;
      if (errors & kCeBreak) events_ |= kEvBreak;
    } else if (request == tn::NOTIFY_MODEMSTATE) {
      if (bits & tn::kDeltaCts) events_ |= kEvCts;
      if (bits & tn::kDeltaDsr) events_ |= kEvDsr;
      if (bits & tn::kRingEnded) events_ |= kEvRing;
      if (bits & tn::kDeltaDcd) events_ |= kEvRlsd;
    } else if (request == tn::SET_CONTROL) {
      if (bits >= tn::kNoFlow && bits <= tn::kHardware) answers_[kOutboundKey] = value;
      if (bits >= tn::kInboundNone && bits <= tn::kInboundHardware) answers_[kInboundKey] = value;
    } else {
      answers_[request] = value;
    }
    Notify();
  }

  std::unique_ptr<net::Socket> socket_;  // the I/O thread's until Shutdown
  const bool telnet_;
  const std::string name_;  // HOST:PORT, for messages
  tn::Decoder decoder_;     // the I/O thread's alone
  std::thread io_;
  std::shared_mutex gate_;  // held shared by every call, alone by Shutdown
  std::mutex m_;
  std::condition_variable cv_;
  std::string rx_, pending_;
  uint32_t events_ = 0, line_errors_ = 0;
  bool lost_ = false;
  int lost_why_ = 0;
  int com_port_ = 0;  // the server took the com-port option (1), refused it (-1), not yet said (0)
  std::map<uint8_t, std::string> answers_;
  std::set<uint16_t> refused_;
  std::atomic<char> evt_char_{0};
  TVaWaitEvent notify_, room_, kick_, shutdown_;
};

}  // namespace

std::unique_ptr<Device> OpenNetworkDevice(const NetworkAddress& address) {
  net::ConnectFailure failure;
  std::unique_ptr<net::Socket> socket = net::Connect(address.host, address.port, kNetworkConnectMs, failure);
  if (!socket) {
    if (!failure.host_not_found.empty()) SetNetworkDetail(failure.host_not_found);
    SetLastError(failure.host_not_found.empty() ? failure.code : kErrorHostNotFound);
    return nullptr;
  }
  auto device = std::make_unique<NetworkDevice>(std::move(socket), address.telnet, address.host + ":" + address.port);
  if (address.telnet && !device->Negotiate(kNetworkNegotiateMs)) {
    const int code = LastError();
    device->Shutdown();
    SetLastError(code);
    return nullptr;
  }
  return device;
}

}  // namespace va::platform
