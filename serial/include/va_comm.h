// The serial port component TVaComm: settings (applied to an open port at
// once), open/close, reads and writes, driver status, and the event and write
// threads that deliver received characters and line events to the main thread
// and send queued output.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "va_classes.h"
#include "va_dispatch.h"
#include "va_settings.h"
#include "va_sync.h"
#include "va_types.h"

namespace va {

class TVaCustomComm;

using TVaCommRxCharEvent = std::function<void(TVaObject* Sender, int Count)>;
using TVaCommRxBufEvent = std::function<void(TVaObject* Sender, const void* Data, int Count)>;
using TVaCommErrorEvent = std::function<void(TVaObject* Sender, int Errors)>;

class TVaCommListenerHandler {
 public:
  virtual ~TVaCommListenerHandler() = default;
  virtual void EventsArrived(TVaCustomComm* comm, uint32_t events) = 0;
  virtual void DataArrived(TVaCustomComm* comm, const void* data, int count) = 0;
};

// An entry of a component's listener list; the client owns it.
class TVaCommListener {
 public:
  explicit TVaCommListener(TVaCommListenerHandler* handler) : Handler(handler) {}
  ~TVaCommListener();  // detaches from its component
  TVaCommListener(const TVaCommListener&) = delete;
  TVaCommListener& operator=(const TVaCommListener&) = delete;

  bool Enabled = false;
  TVaCustomComm* Comm = nullptr;
  TVaCommListenerHandler* Handler;
};

// A display control linked to a component: told before each event batch.
class TVaDisplay {
 public:
  virtual ~TVaDisplay();  // clears the link of every component showing it
  virtual void UpdateDisplay(TVaCustomComm* comm) = 0;

 private:
  friend class TVaCustomComm;
  std::vector<TVaCustomComm*> linked_;
};

// The write thread's output queue: a fixed block with `Size` bytes at its front.
class TVaCommBuffer {
 public:
  explicit TVaCommBuffer(int32_t capacity);
  uint8_t* Memory() const { return memory_.get(); }
  int32_t Size() const { return size_.load(std::memory_order_acquire); }
  int32_t Capacity() const { return capacity_; }
  void Append(const void* source, int32_t n);  // the caller guarantees room
  void Remove(int32_t n);

 private:
  std::unique_ptr<uint8_t[]> memory_;
  int32_t capacity_;
  std::atomic<int32_t> size_{0};
};

namespace platform {
class Device;
}
namespace detail {
struct PortSession;
}
class TVaCommEventThread;
class TVaCommWriteThread;

class TVaCustomComm : public TVaComponent {
 public:
  TVaCustomComm();
  ~TVaCustomComm() override;
  TVaCustomComm(const TVaCustomComm&) = delete;
  TVaCustomComm& operator=(const TVaCustomComm&) = delete;
  const char* ClassName() const override { return "TVaCustomComm"; }

  // --- settings ---
  bool AutoOpen() const { return auto_open_; }
  void SetAutoOpen(bool v) { auto_open_ = v; }
  TVaBaudrate Baudrate() const { return baudrate_; }
  void SetBaudrate(TVaBaudrate v);
  TVaParity Parity() const { return parity_; }
  void SetParity(TVaParity v);
  TVaDatabits Databits() const { return databits_; }
  void SetDatabits(TVaDatabits v);
  TVaStopbits Stopbits() const { return stopbits_; }
  void SetStopbits(TVaStopbits v);
  TVaEventChars& EventChars() { return event_chars_; }
  void SetEventChars(const TVaEventChars& v) { event_chars_.Assign(v); }
  TVaFlowControl& FlowControl() { return flow_control_; }
  void SetFlowControl(const TVaFlowControl& v) { flow_control_.Assign(v); }
  TVaCommOptions Options() const { return options_; }
  void SetOptions(TVaCommOptions v);
  int32_t PortNum() const { return port_num_; }
  void SetPortNum(int32_t v);
  const std::string& DeviceName() const { return device_name_; }
  void SetDeviceName(const std::string& v);
  TVaCommEvents MonitorEvents() const { return monitor_events_; }
  void SetMonitorEvents(TVaCommEvents v);
  TVaBuffers& Buffers() { return buffers_; }
  void SetBuffers(const TVaBuffers& v);
  TThreadPriority EventPriority() const { return event_priority_; }
  void SetEventPriority(TThreadPriority v);
  TThreadPriority WritePriority() const { return write_priority_; }
  void SetWritePriority(TThreadPriority v);
  bool DirectWrite() const { return direct_write_; }
  void SetDirectWrite(bool v);
  bool UpdateDCB() const { return update_dcb_; }
  void SetUpdateDCB(bool v);
  int32_t UserBaudrate() const { return user_baudrate_; }
  void SetUserBaudrate(int32_t v);
  TVaDisplay* Display() const { return display_; }
  void SetDisplay(TVaDisplay* display);
  // The thread this component's events are handed to, from its next Open;
  // unset, the process-wide one (GetMainThread). Several ports each served by
  // their own thread set one each.
  void SetMainThread(std::shared_ptr<TVaMainThread> main) { main_thread_ = std::move(main); }

  // --- events ---
  TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
  TVaCommErrorEvent OnError;
  TVaCommRxCharEvent OnRxChar;
  TVaCommRxBufEvent OnRxBuf;
  TNotifyEvent OnRxFlag, OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;

  // --- operations ---
  void Open();
  void Close();
  bool Active() const { return session_ != nullptr; }
  int ReadBuf(void* buf, int count);
  // ReadBuf waiting at most `timeout_ms` for the first byte instead of Buffers.ReadTimeout.
  int ReadBuf(void* buf, int count, uint32_t timeout_ms);
  int WriteBuf(const void* buf, int count);
  TVaCommStatus GetStatus();
  int InQueue();
  bool CheckLineErrors();
  void CheckClosed() const;
  [[noreturn]] void RaiseCommError(const std::string& format) const;
  void CheckCommResult(bool ok, const std::string& format) const;
  std::string DevicePath() const;
  // The pause at the end of Close that lets the stopped threads end: a real
  // sleep unless replaced (tests and benchmarks replace it).
  std::function<void(uint32_t ms)> ClosePause;  // sleeps (the platform's Sleep) unless replaced
  // Opens the device instead of the platform layer (an in-process device); a
  // null result leaves the open to the platform layer (a port that is not the
  // opener's own).
  std::function<std::shared_ptr<platform::Device>(const std::string& path)> DeviceOpener;

  // Driver event bits computed by the last ApplyEventMask (at Open).
  uint32_t EventMask() const { return event_mask_; }

  // Listeners receive the data and events instead of OnRxChar.
  void AttachListener(TVaCommListener* listener);
  void DetachListener(TVaCommListener* listener);
  bool ListenersEnabled = true;

  // The stored layout is being read: setters skip their range checks; Loaded
  // ends it and opens the port when AutoOpen is set.
  void BeginLoading() { loading_ = true; }
  void Loaded();

 protected:
  // Opens DevicePath() through DeviceOpener, or else the platform layer, and
  // keeps the device.
  virtual void OpenDevice();
  virtual void StartThreads();
  virtual void DoRxChar();
  virtual void DoEvents(uint32_t mask);
  virtual void DoListenerEvents(uint32_t mask);
  virtual void DoRxBuf(const void* data, int count);

  // For OpenDevice: the device now open.
  void SetDevice(std::shared_ptr<platform::Device> device);

  void ApplyLineSettings();
  void ApplyBufferSizes();
  void ApplyTimeouts();
  void ApplyEventMask();

 private:
  friend struct detail::PortSession;
  friend class TVaCommEventThread;
  friend class TVaDisplay;
  friend class TVaCommListener;

  void StopThreads();
  void CloseDevice();
  void DoOpen();
  void DoClose();
  void OnBuffersChanged(TVaObject*);
  void DeliverEvents(uint32_t mask);
  template <typename F>
  void ForEachListener(F&& deliver);
  void Notify(const TNotifyEvent& handler) {
    if (handler) handler(this);
  }

  std::shared_ptr<detail::PortSession> session_;  // set while Active
  std::shared_ptr<TVaCriticalSection> write_lock_;
  TVaCriticalSection read_lock_;
  std::shared_ptr<TVaCommEventThread> event_thread_;
  std::shared_ptr<TVaCommWriteThread> write_thread_;
  uint32_t event_mask_ = 0;

  std::shared_ptr<TVaMainThread> main_thread_;
  bool auto_open_ = false;
  int32_t port_num_ = 0;
  std::string device_name_ = "COM%d";
  TVaCommEvents monitor_events_{ceError, ceRxChar, ceTxEmpty};
  TVaBuffers buffers_;
  TThreadPriority event_priority_ = tpNormal;
  TThreadPriority write_priority_ = tpHighest;
  bool direct_write_ = false;
  std::vector<TVaCommListener*> listeners_;
  TVaBaudrate baudrate_ = br1200;
  TVaParity parity_ = paNone;
  TVaDatabits databits_ = db8;
  TVaStopbits stopbits_ = sb1;
  TVaCommOptions options_;
  TVaFlowControl flow_control_;
  TVaEventChars event_chars_;
  bool update_dcb_ = true;
  int32_t user_baudrate_ = 0;
  TVaDisplay* display_ = nullptr;
  bool loading_ = false;
  bool destroying_ = false;
  // False once the destructor has run: a handler may destroy the component,
  // so code that goes on after calling one holds a copy and looks first.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class TVaComm : public TVaCustomComm {
 public:
  const char* ClassName() const override { return "TVaComm"; }
};

inline constexpr const char* kPortOpenMessage = "Can't perform this operation while port is open";
inline constexpr const char* kOutputFullMessage = "Output buffer is full. Please check comm status.";

// How long a thread waits before trying a failed device call again.
inline constexpr uint32_t kRetryPauseMs = 50;

}  // namespace va
