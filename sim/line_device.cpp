#include "line_device.h"

#include <algorithm>
#include <cerrno>
#include <optional>

namespace kvr::sim {

namespace {

using va::platform::IoResult;

// The platform's codes for a closed device, a vanished one and a refused
// setting, so that the component's messages read as they do for a real port.
#ifdef _WIN32
constexpr int kClosedError = 6;    // ERROR_INVALID_HANDLE
constexpr int kLostError = 1167;   // ERROR_DEVICE_NOT_CONNECTED
constexpr int kInvalidError = 87;  // ERROR_INVALID_PARAMETER
#else
constexpr int kClosedError = EBADF;
constexpr int kLostError = EIO;
constexpr int kInvalidError = EINVAL;
#endif

constexpr uint32_t kDefaultBaud = 38400;
constexpr std::chrono::milliseconds kBurstEnd{20};  // the silence that ends a burst

bool Fail(int code) {
  va::platform::SetLastError(code);
  return false;
}

IoResult FailIo(int code) {
  va::platform::SetLastError(code);
  return IoResult::kFailed;
}

IoResult Lost() {
  va::platform::SetLastError(kLostError);
  return IoResult::kLost;
}

// Ten bits a byte: a start bit, eight data bits and a stop bit.
std::chrono::nanoseconds CharTime(uint32_t baud) { return std::chrono::nanoseconds(10'000'000'000LL / baud); }

}  // namespace

bool IsSimulatedPortPath(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return path.compare(cut == std::string::npos ? 0 : cut + 1, std::string::npos, kSimulatedPortName) == 0;
}

// --- LineDevice ------------------------------------------------------------

LineDevice::LineDevice(LineDeviceOptions options)
    : LineDevice(std::make_shared<SharedBootLoader>(std::move(options.device)), options.line_timing) {}

LineDevice::LineDevice(std::shared_ptr<SharedBootLoader> device, bool line_timing)
    : device_(std::move(device)),
      line_timing_(line_timing),
      char_time_(line_timing ? CharTime(kDefaultBaud) : std::chrono::nanoseconds(0)) {
  thread_ = std::thread([this] { Run(); });
}

LineDevice::~LineDevice() { Shutdown(); }

bool LineDevice::SetLineSettings(const va::platform::LineSettings& settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shut_) return Fail(kClosedError);
  if (settings.BaudRate == 0) return Fail(kInvalidError);
  if (line_timing_) char_time_ = CharTime(settings.BaudRate);
  return true;
}

bool LineDevice::SetQueueSizes(uint32_t, uint32_t) {
  // The queues grow as needed: nothing to request.
  std::lock_guard<std::mutex> lock(mutex_);
  return shut_ ? Fail(kClosedError) : true;
}

bool LineDevice::SetReadInterval(uint32_t interval_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shut_) return Fail(kClosedError);
  read_interval_ms_ = interval_ms;
  return true;
}

bool LineDevice::SetEventMask(uint32_t mask) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shut_) return Fail(kClosedError);
  event_mask_ = mask;
  return true;
}

uint32_t LineDevice::TakeEvents() {
  uint32_t got = 0;
  // Only a queue that grew beyond what was announced means that bytes arrived.
  if (received_.size() > known_in_) got |= va::kEvRxChar;
  known_in_ = received_.size();
  if (tx_empty_) got |= va::kEvTxEmpty;
  tx_empty_ = false;
  return got & event_mask_;
}

IoResult LineDevice::WaitEvents(uint32_t& events, va::TVaEvent& wake) {
  std::shared_lock<std::shared_mutex> use(gate_);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (shut_) return FailIo(kClosedError);
      if (lost_) return Lost();
      // The wake-up wins over events that are due: they wait for the next call.
      if (wake.IsSignaled()) return IoResult::kWoken;
      if (const uint32_t got = TakeEvents(); got != 0) {
        events = got;
        return IoResult::kDone;
      }
      // Whatever changes from here on signals it again.
      events_signal_.Reset();
    }
    const int which = va::WaitForAny({&wake, &events_signal_});
    if (which == 0) return IoResult::kWoken;
    if (which < 0) return FailIo(kInvalidError);  // the wait itself failed
  }
}

uint32_t LineDevice::TakeReceived(uint8_t* out, uint32_t count) {
  const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(received_.size()));
  received_.copy(reinterpret_cast<char*>(out), n);
  received_.erase(0, n);
  // The oldest bytes go first, and they are the announced ones.
  known_in_ -= std::min<size_t>(known_in_, n);
  return n;
}

IoResult LineDevice::Read(void* buf, uint32_t count, uint32_t timeout_ms, uint32_t& read) {
  std::shared_lock<std::shared_mutex> use(gate_);
  read = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  if (shut_) return FailIo(kClosedError);
  if (lost_) return Lost();
  if (count == 0) return IoResult::kDone;
  auto* out = static_cast<uint8_t*>(buf);
  const auto ready = [this] { return !received_.empty() || shut_ || lost_; };
  // The first bytes, waiting at most the time-out.
  if (timeout_ms == va::INFINITE_WAIT) {
    arrived_.wait(lock, ready);
  } else if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
    return IoResult::kTimeout;
  }
  if (shut_) return FailIo(kClosedError);
  if (lost_) return Lost();
  read = TakeReceived(out, count);
  // Then more until the count is reached or the line pauses for the interval.
  while (read < count) {
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(read_interval_ms_), ready) || shut_ || lost_) break;
    read += TakeReceived(out + read, count - read);
  }
  return IoResult::kDone;
}

IoResult LineDevice::Write(const void* buf, uint32_t count, uint32_t, std::initializer_list<va::TVaEvent*>,
                           uint32_t& written, int& woken) {
  std::shared_lock<std::shared_mutex> use(gate_);
  written = 0;
  woken = -1;
  std::lock_guard<std::mutex> lock(mutex_);
  if (shut_) return FailIo(kClosedError);
  if (lost_) return Lost();
  if (count == 0) return IoResult::kDone;
  // Taken at once; each byte reaches the device once its bits have crossed.
  const Clock::time_point now = Clock::now();
  const auto* bytes = static_cast<const uint8_t*>(buf);
  for (uint32_t i = 0; i < count; ++i) {
    tx_free_ = std::max(tx_free_, now) + char_time_;
    to_device_.push_back({tx_free_, bytes[i]});
  }
  written = count;
  line_changed_.notify_one();
  return IoResult::kDone;
}

bool LineDevice::ClearErrors(va::TVaCommStatus& status) {
  std::shared_lock<std::shared_mutex> use(gate_);
  std::lock_guard<std::mutex> lock(mutex_);
  status = {};
  if (shut_) return Fail(kClosedError);
  // A vanished device has nothing waiting; its loss is reported by the calls
  // that wait, not here, so that a status read meanwhile does not fail.
  if (lost_) return true;
  status.InQueue = static_cast<uint32_t>(received_.size());
  status.OutQueue = static_cast<uint32_t>(to_device_.size());
  return true;
}

void LineDevice::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shut_) return;
    shut_ = true;
    events_signal_.Signal();
    arrived_.notify_all();
    line_changed_.notify_all();
  }
  std::unique_lock<std::shared_mutex> alone(gate_);  // every blocked call has left
  if (thread_.joinable()) thread_.join();
  // Bytes still on the line are dropped with it; the device sees the line
  // fall silent, which ends a burst it was still gathering.
  std::lock_guard<std::mutex> lock(mutex_);
  if (burst_ && !lost_) {
    std::lock_guard<std::mutex> device_lock(device_->mutex);
    device_->device.LineIdle();
    std::vector<uint8_t> piece;
    while (device_->device.TakePiece(piece)) {
    }
  }
  burst_ = false;
}

void LineDevice::LoseDevice() {
  lost_ = true;
  events_signal_.Signal();
  arrived_.notify_all();
  line_changed_.notify_all();
}

void LineDevice::Hangup() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!lost_) LoseDevice();
}

std::vector<uint8_t> LineDevice::Image() {
  std::lock_guard<std::mutex> lock(device_->mutex);
  return device_->device.Image();
}

uint64_t LineDevice::FramesReceived() {
  std::lock_guard<std::mutex> lock(device_->mutex);
  return device_->device.FramesReceived();
}

void LineDevice::TakeReplies(Clock::time_point at) {
  if (device_->device.HungUp()) {
    // The device stops after its last frame: its answer never goes out.
    LoseDevice();
    return;
  }
  std::vector<uint8_t> piece;
  while (device_->device.TakePiece(piece)) {
    for (const uint8_t b : piece) {
      rx_free_ = std::max(rx_free_, at) + char_time_;
      to_program_.push_back({rx_free_, b});
    }
  }
}

void LineDevice::Advance(Clock::time_point now) {
  bool changed = false;
  {
    // The device's events in the order of its clock: each byte as it
    // arrives, and the end of a burst after its silence.
    std::lock_guard<std::mutex> device_lock(device_->mutex);
    while (!lost_) {
      const bool byte_due = !to_device_.empty() && to_device_.front().at <= now;
      const Clock::time_point idle_at = last_in_ + kBurstEnd;
      if (burst_ && idle_at <= now && (!byte_due || idle_at < to_device_.front().at)) {
        burst_ = false;
        device_->device.LineIdle();
        TakeReplies(idle_at);
        continue;
      }
      if (!byte_due) break;
      const TimedByte in = to_device_.front();
      to_device_.pop_front();
      device_->device.Receive(&in.byte, 1);
      last_in_ = in.at;
      burst_ = true;
      if (to_device_.empty() && (event_mask_ & va::kEvTxEmpty)) tx_empty_ = changed = true;
      TakeReplies(in.at);
    }
  }
  if (lost_) return;
  // The replies' bytes that have crossed by now.
  while (!to_program_.empty() && to_program_.front().at <= now) {
    received_.push_back(static_cast<char>(to_program_.front().byte));
    to_program_.pop_front();
    changed = true;
  }
  if (changed) {
    events_signal_.Signal();
    arrived_.notify_all();
  }
}

void LineDevice::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!shut_ && !lost_) {
    Advance(Clock::now());
    if (lost_) break;
    // Until the next thing due on the device's clock, or a change.
    std::optional<Clock::time_point> next;
    const auto sooner = [&next](Clock::time_point t) { next = next ? std::min(*next, t) : t; };
    if (!to_device_.empty()) sooner(to_device_.front().at);
    if (!to_program_.empty()) sooner(to_program_.front().at);
    if (burst_) sooner(last_in_ + kBurstEnd);
    if (next)
      line_changed_.wait_until(lock, *next);
    else
      line_changed_.wait(lock);
  }
}

// --- InProcessDevice -------------------------------------------------------

InProcessDevice::InProcessDevice(LineDeviceOptions options)
    : device_(std::make_shared<SharedBootLoader>(std::move(options.device))), line_timing_(options.line_timing) {}

std::shared_ptr<va::platform::Device> InProcessDevice::Open(const std::string& path) {
  if (!IsSimulatedPortPath(path)) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (vanished_) return nullptr;
  {
    std::lock_guard<std::mutex> device_lock(device_->mutex);
    if (device_->device.HungUp()) return nullptr;  // it stopped after its last frame
  }
  auto line = std::make_shared<LineDevice>(device_, line_timing_);
  line_ = line;
  return line;
}

std::function<std::shared_ptr<va::platform::Device>(const std::string&)> InProcessDevice::Opener() {
  return [this](const std::string& path) { return Open(path); };
}

void InProcessDevice::Hangup() {
  std::lock_guard<std::mutex> lock(mutex_);
  vanished_ = true;
  if (const std::shared_ptr<LineDevice> line = line_.lock()) line->Hangup();
}

std::vector<uint8_t> InProcessDevice::Image() {
  std::lock_guard<std::mutex> lock(device_->mutex);
  return device_->device.Image();
}

uint64_t InProcessDevice::FramesReceived() {
  std::lock_guard<std::mutex> lock(device_->mutex);
  return device_->device.FramesReceived();
}

uint64_t InProcessDevice::Rejected() {
  std::lock_guard<std::mutex> lock(device_->mutex);
  return device_->device.Rejected();
}

std::vector<uint32_t> InProcessDevice::Addresses() {
  std::lock_guard<std::mutex> lock(device_->mutex);
  return device_->device.Addresses();
}

}  // namespace kvr::sim
