#include "va_comm.h"

#include <algorithm>
#include <cstring>

#include "va_comm_threads.h"
#include "va_format.h"
#include "va_line_flags.h"

namespace va {

TVaCommListener::~TVaCommListener() {
  if (Comm) Comm->DetachListener(this);
}

TVaDisplay::~TVaDisplay() {
  for (TVaCustomComm* comm : std::vector<TVaCustomComm*>(linked_))
    if (comm->display_ == this) comm->display_ = nullptr;
}

// ---------------------------------------------------------------------------

TVaCustomComm::TVaCustomComm() : ClosePause(platform::SleepMs), write_lock_(std::make_shared<TVaCriticalSection>()) {
  buffers_.OnChange = [this](TVaObject* sender) { OnBuffersChanged(sender); };
  event_chars_.OnChange = [this](TVaObject*) { ApplyLineSettings(); };
  flow_control_.OnChange = [this](TVaObject*) { ApplyLineSettings(); };
}

TVaCustomComm::~TVaCustomComm() {
  *alive_ = false;
  destroying_ = true;
  try {
    Close();
  } catch (...) {
  }
  for (auto it = listeners_.rbegin(); it != listeners_.rend(); ++it) (*it)->Comm = nullptr;
  listeners_.clear();
  SetDisplay(nullptr);
}

// --- apply steps -----------------------------------------------------------

namespace {

// clang-format off: the tables below read best a case a line.

// The driver's event bit of a monitored event.
uint32_t EventBit(TVaCommEvent e) {
  switch (e) {
    case ceBreak: return kEvBreak;
    case ceCts: return kEvCts;
    case ceDsr: return kEvDsr;
    case ceError: return kEvErr;
    case ceRing: return kEvRing;
    case ceRlsd: return kEvRlsd;
    case ceRxChar: return kEvRxChar;
    case ceTxEmpty: return kEvTxEmpty;
    case ceRxFlag: return kEvRxFlag;
    case cePErr: return kEvPErr;
    case ceRx80Full: return kEvRx80Full;
    case ceEvent1: return kEvEvent1;
    case ceEvent2: return kEvEvent2;
  }
  return 0;
}

// The line configuration's flag of an option.
uint32_t OptionFlag(TVaCommOption o) {
  using namespace platform::line_flags;
  switch (o) {
    case coErrorChar: return kErrorChar;
    case coNullStrip: return kNull;
    case coParityCheck: return kParityCheck;
  }
  return 0;
}

// clang-format on

}  // namespace

void TVaCustomComm::ApplyLineSettings() {
  if (!Active() || !update_dcb_) return;
  platform::LineSettings s;
  s.BaudRate = baudrate_ == brUser ? static_cast<uint32_t>(user_baudrate_) : BaudrateValue(baudrate_);
  s.ByteSize = DatabitsValue(databits_);
  s.Parity = static_cast<uint8_t>(parity_);
  s.StopBits = static_cast<uint8_t>(stopbits_);
  s.XonChar = event_chars_.XonChar();
  s.XoffChar = event_chars_.XoffChar();
  s.ErrorChar = event_chars_.ErrorChar();
  s.EofChar = event_chars_.EofChar();
  s.EvtChar = event_chars_.EventChar();
  s.XonLim = static_cast<uint16_t>(buffers_.XonLimit() & 0xFFFF);
  s.XoffLim = static_cast<uint16_t>(buffers_.XoffLimit() & 0xFFFF);
  uint32_t flags = platform::line_flags::kBinary | flow_control_.FlagBits();
  for (int o = coErrorChar; o <= coParityCheck; ++o)
    if (options_.Contains(static_cast<TVaCommOption>(o))) flags |= OptionFlag(static_cast<TVaCommOption>(o));
  s.Flags = flags;
  CheckCommResult(session_->device->SetLineSettings(s), "Error writing dcb (%d), %s");
}

void TVaCustomComm::ApplyBufferSizes() {
  if (!Active()) return;
  CheckCommResult(session_->device->SetQueueSizes(static_cast<uint32_t>(buffers_.ReadSize()),
                                                  static_cast<uint32_t>(buffers_.WriteSize())),
                  "Error initializing buffers (%d), %s");
}

void TVaCustomComm::ApplyTimeouts() {
  if (!Active()) return;
  CheckCommResult(session_->device->SetReadInterval(5), "Error setting timeouts (%d), %s");
}

void TVaCustomComm::ApplyEventMask() {
  uint32_t mask = 0;
  for (int e = ceBreak; e <= ceEvent2; ++e)
    if (monitor_events_.Contains(static_cast<TVaCommEvent>(e))) mask |= EventBit(static_cast<TVaCommEvent>(e));
  // With the write thread, the transmit-empty event comes from that thread.
  if (!direct_write_) mask &= ~kEvTxEmpty;
  event_mask_ = mask;
  if (Active()) CheckCommResult(session_->device->SetEventMask(mask), " Error setting EventMask (%d), %s");
}

// --- lifecycle -------------------------------------------------------------

void TVaCustomComm::CheckClosed() const {
  if (Active()) throw EVaCommError(kPortOpenMessage);
}

void TVaCustomComm::RaiseCommError(const std::string& format) const {
  const int code = platform::LastError();
  const std::string text = TrimErrorText(platform::ErrorText(code));
  // The code fills the first directive, the text the second.
  std::string message;
  int arg = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      const char k = format[i + 1];
      if (k == '%') {
        message += '%';
        ++i;
        continue;
      }
      if ((k == 'd' || k == 's') && arg < 2) {
        message += arg == 0 ? std::to_string(code) : text;
        ++arg;
        ++i;
        continue;
      }
    }
    message += format[i];
  }
  throw EVaCommError(message);
}

void TVaCustomComm::CheckCommResult(bool ok, const std::string& format) const {
  if (!ok) RaiseCommError(format);
}

std::string TVaCustomComm::DevicePath() const { return FormatWithInt(device_name_, port_num_); }

void TVaCustomComm::OpenDevice() {
  const std::string path = DevicePath();
  if (DeviceOpener) {
    if (std::shared_ptr<platform::Device> opened = DeviceOpener(path)) {
      SetDevice(std::move(opened));
      return;
    }
  }
  std::unique_ptr<platform::Device> device = platform::OpenDevice(path);
  if (!device) {
    if (platform::IsNotFoundError(platform::LastError()))
      RaiseCommError("Specified device not found (" + EscapePercent(path) + ").");
    // A network port's own failures (a name not found, a server that does
    // not speak RFC 2217) are told in words alone: their codes are the
    // component's, not the system's.
    if (std::string words; platform::NetworkErrorText(platform::LastError(), words))
      throw EVaCommError("Can't open specified device " + path + " (" + TrimErrorText(words) + ")");
    RaiseCommError("Can't open specified device " + EscapePercent(path) + " (Error %d, %s)");
  }
  SetDevice(std::move(device));
}

void TVaCustomComm::SetDevice(std::shared_ptr<platform::Device> device) {
  session_ = std::make_shared<PortSession>(std::move(device), main_thread_ ? main_thread_ : GetMainThread(),
                                           write_lock_, this);
}

void TVaCustomComm::Open() {
  CheckClosed();
  OpenDevice();
  if (!Active()) return;
  try {
    ApplyLineSettings();
    ApplyBufferSizes();
    ApplyTimeouts();
    ApplyEventMask();
    StartThreads();
    DoOpen();
  } catch (...) {
    StopThreads();
    CloseDevice();
    throw;
  }
}

void TVaCustomComm::StartThreads() {
  if (event_mask_ != 0) {
    event_thread_ = std::make_shared<TVaCommEventThread>(session_);
    event_thread_->Start(event_priority_);
  }
  if (!direct_write_) {
    write_thread_ = std::make_shared<TVaCommWriteThread>(session_, buffers_.WriteSize());
    write_thread_->Start(write_priority_);
  }
}

void TVaCustomComm::StopThreads() {
  if (event_thread_) {
    event_thread_->Stop();
    event_thread_.reset();
  }
  if (write_thread_) {
    write_thread_->RequestClose();
    write_thread_.reset();
  }
}

void TVaCustomComm::CloseDevice() {
  if (!session_) return;
  session_->closed.store(true);
  session_->device->Shutdown();
  session_.reset();
}

void TVaCustomComm::DoOpen() {
  if (!OnOpen) return;
  // The handler may close the port (or destroy the component): its error
  // goes to the hand-over the port was opened with.
  const std::shared_ptr<TVaMainThread> main = session_->main;
  try {
    OnOpen(this);
  } catch (...) {
    main->HandleException(std::current_exception());
  }
}

void TVaCustomComm::DoClose() {
  if (!destroying_) Notify(OnClose);
}

void TVaCustomComm::Close() {
  if (!Active()) return;
  {
    TVaLock lock(read_lock_);
    StopThreads();
  }
  CloseDevice();
  const std::shared_ptr<bool> alive = alive_;
  DoClose();
  if (*alive) ClosePause(300);  // not for a component its OnClose destroyed
}

// --- input and output ------------------------------------------------------

int TVaCustomComm::ReadBuf(void* buf, int count) {
  return ReadBuf(buf, count, static_cast<uint32_t>(std::max(buffers_.ReadTimeout(), 0)));
}

int TVaCustomComm::ReadBuf(void* buf, int count, uint32_t timeout) {
  if (!Active() || count <= 0) return 0;
  TVaLock lock(read_lock_);
  if (session_->lost.load()) return 0;
  uint32_t read = 0;
  switch (session_->device->Read(buf, static_cast<uint32_t>(count), timeout, read)) {
    case platform::IoResult::kDone:
      return static_cast<int>(read);
    case platform::IoResult::kFailed:
      RaiseCommError("Read error (%d), %s");
    case platform::IoResult::kLost:
      // Reported once, also without an event thread to notice it.
      session_->DeviceLost();
      return 0;
    default:  // time-out
      return 0;
  }
}

int TVaCustomComm::WriteBuf(const void* buf, int count) {
  if (!Active()) return 0;
  if (count <= 0) return 0;
  if (!direct_write_) {
    const uint32_t timeout = static_cast<uint32_t>(std::max(buffers_.WriteTimeout(), 0));
    if (!write_thread_ || !write_thread_->Enqueue(buf, count, timeout)) throw EVaCommError(kOutputFullMessage);
    return count;
  }
  TVaLock lock(*write_lock_);
  const uint32_t timeout = static_cast<uint32_t>(std::max(buffers_.ReadTimeout(), 0));
  TVaTimeout limit;
  limit.Start(timeout);
  uint32_t total = 0;
  while (total < static_cast<uint32_t>(count)) {
    uint32_t written = 0;
    int woken = -1;
    const uint32_t left_ms = timeout - std::min<uint32_t>(timeout, GetTickCount() - limit.StartTick);
    const platform::IoResult r = session_->device->Write(
        static_cast<const uint8_t*>(buf) + total, static_cast<uint32_t>(count) - total, left_ms, {}, written, woken);
    if (r == platform::IoResult::kDone) {
      total += written;
      continue;
    }
    if (r == platform::IoResult::kFailed || r == platform::IoResult::kLost) RaiseCommError("Write error (%d), %s");
    break;  // the bounded wait ended
  }
  return static_cast<int>(total);
}

TVaCommStatus TVaCustomComm::GetStatus() {
  TVaLock lock(read_lock_);
  TVaCommStatus status;
  if (!Active()) return status;
  if (!session_->lost.load() && !session_->device->ClearErrors(status)) {
    // A device found gone is lost, reported once, as a read that finds it so.
    if (!platform::IsLostDeviceError(platform::LastError())) RaiseCommError("Error retrieving statistics (%d), %s");
    session_->DeviceLost();
    status = {};
  }
  status.Errors |= session_->pending_errors.exchange(0);
  return status;
}

int TVaCustomComm::InQueue() {
  if (!Active()) return 0;
  const TVaCommStatus status = GetStatus();
  // Reading the queue count also reads and clears the line-error bits: keep
  // them for the CheckLineErrors of the same or the next batch.
  if (status.Errors != 0) session_->pending_errors.fetch_or(status.Errors);
  return static_cast<int>(status.InQueue);
}

bool TVaCustomComm::CheckLineErrors() {
  const TVaCommStatus status = GetStatus();
  const bool errors = status.Errors != 0;
  if (errors && OnError) {
    try {
      OnError(this, static_cast<int>(status.Errors));
    } catch (...) {
      (session_ ? session_->main : GetMainThread())->HandleException(std::current_exception());
    }
  }
  return errors;
}

// --- dispatch (main thread) ------------------------------------------------

void TVaCustomComm::DeliverEvents(uint32_t mask) {
  const std::shared_ptr<PortSession> session = session_;
  const std::shared_ptr<bool> alive = alive_;
  try {
    if (display_) display_->UpdateDisplay(this);
    if (mask & kEvRxChar) {
      DoRxChar();
      mask &= ~kEvRxChar;
    }
    // A handler may have destroyed the component, or closed the port (and
    // opened it again): the rest of the batch belongs to the old session.
    if (mask != 0 && *alive && session_ == session) DoEvents(mask);
  } catch (...) {
    session->main->HandleException(std::current_exception());
  }
}

void TVaCustomComm::DoRxChar() {
  const int n = InQueue();
  if (n <= 0) return;
  if (!listeners_.empty()) {
    std::vector<uint8_t> data(static_cast<size_t>(n));
    const int read = ReadBuf(data.data(), n);
    DoRxBuf(data.data(), read);
  } else if (OnRxChar) {
    OnRxChar(this, n);
  }
}

void TVaCustomComm::DoEvents(uint32_t mask) {
  auto set = [mask](uint32_t bit) { return (mask & bit) > 0; };
  // After each handler: the component may be gone, or the port closed or
  // opened again; what is left of the batch is then dropped.
  const std::shared_ptr<bool> alive = alive_;
  const PortSession* const session = session_.get();
  auto go_on = [&] { return *alive && session_.get() == session; };
  if (set(kEvErr)) CheckLineErrors();
  if (!go_on()) return;
  if (!listeners_.empty()) DoListenerEvents(mask);
  if (!go_on()) return;
  const std::pair<uint32_t, TNotifyEvent TVaCustomComm::*> order[] = {
      {kEvRxFlag, &TVaCustomComm::OnRxFlag},     {kEvCts, &TVaCustomComm::OnCts},
      {kEvDsr, &TVaCustomComm::OnDsr},           {kEvRing, &TVaCustomComm::OnRing},
      {kEvRlsd, &TVaCustomComm::OnRlsd},         {kEvTxEmpty, &TVaCustomComm::OnTxEmpty},
      {kEvBreak, &TVaCustomComm::OnBreak},       {kEvPErr, &TVaCustomComm::OnPErr},
      {kEvRx80Full, &TVaCustomComm::OnRx80Full}, {kEvEvent1, &TVaCustomComm::OnEvent1},
      {kEvEvent2, &TVaCustomComm::OnEvent2}};
  for (const auto& [bit, handler] : order) {
    if (!set(bit)) continue;
    Notify(this->*handler);
    if (!go_on()) return;
  }
}

template <typename F>
void TVaCustomComm::ForEachListener(F&& deliver) {
  if (!ListenersEnabled) return;
  const std::shared_ptr<bool> alive = alive_;
  for (TVaCommListener* l : std::vector<TVaCommListener*>(listeners_)) {
    // Those present when the loop starts, less any detached by an earlier handler.
    if (std::find(listeners_.begin(), listeners_.end(), l) == listeners_.end()) continue;
    if (l->Enabled && l->Handler) deliver(*l->Handler);
    if (!*alive) return;  // a listener destroyed the component
  }
}

void TVaCustomComm::DoListenerEvents(uint32_t mask) {
  ForEachListener([&](TVaCommListenerHandler& h) { h.EventsArrived(this, mask); });
}

void TVaCustomComm::DoRxBuf(const void* data, int count) {
  const std::shared_ptr<bool> alive = alive_;
  ForEachListener([&](TVaCommListenerHandler& h) { h.DataArrived(this, data, count); });
  if (*alive && OnRxBuf) OnRxBuf(this, data, count);
}

void TVaCustomComm::AttachListener(TVaCommListener* listener) {
  if (!listener || listener->Comm == this) return;
  if (listener->Comm) listener->Comm->DetachListener(listener);
  listener->Comm = this;
  listener->Enabled = true;
  listeners_.push_back(listener);
}

void TVaCustomComm::DetachListener(TVaCommListener* listener) {
  auto it = std::find(listeners_.begin(), listeners_.end(), listener);
  if (it == listeners_.end()) return;
  listeners_.erase(it);
  listener->Comm = nullptr;
}

// clang-format off
uint32_t BaudrateValue(TVaBaudrate b) {
  switch (b) {
    case brUser: return 0;
    case br110: return 110;
    case br300: return 300;
    case br600: return 600;
    case br1200: return 1200;
    case br2400: return 2400;
    case br4800: return 4800;
    case br9600: return 9600;
    case br14400: return 14400;
    case br19200: return 19200;
    case br38400: return 38400;
    case br56000: return 56000;
    case br57600: return 57600;
    case br115200: return 115200;
    case br128000: return 128000;
    case br256000: return 256000;
  }
  return 0;
}

uint8_t DatabitsValue(TVaDatabits d) {
  switch (d) {
    case db4: return 4;
    case db5: return 5;
    case db6: return 6;
    case db7: return 7;
    case db8: return 8;
  }
  return 8;
}
// clang-format on

}  // namespace va
