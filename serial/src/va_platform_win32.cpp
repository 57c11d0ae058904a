// The platform layer on Windows: the communications API with overlapped I/O.
// Every call goes through the Win32 table (va_win32.h), so the same code runs
// against a fake table in tests.
//
// Each kind of operation (event wait, read, write) has its own overlapped
// record and completion event in the device object, never on a caller's
// stack: an operation that is being ended can still complete into them. Its
// callers serialise each kind (one event thread; reads under the component's
// read lock; writes by the write thread or under the write lock).
#include <atomic>
#include <shared_mutex>
#include <vector>

#include "va_platform.h"
#include "va_win32.h"
#include "va_win32_port_identity.h"

namespace va::win32 {

#ifdef _WIN32
// The system's functions (va_win32_api.cpp).
const Api& SystemApi();
#endif

namespace {

Api& Table() {
#ifdef _WIN32
  static Api api = SystemApi();
#else
  static Api api{};
#endif
  return api;
}

}  // namespace

const Api& Calls() { return Table(); }
void SetApi(const Api& api) { Table() = api; }

}  // namespace va::win32

namespace va::platform {

using namespace win32;

namespace {

thread_local int t_last_error = 0;

// Codes with which an open port's operations fail once the device has gone
// (adapter unplugged; under Wine a pseudo-terminal whose far end closed).
bool IsLostError(Dword code) {
  switch (code) {
    case ERR_ACCESS_DENIED:
    case ERR_NOT_READY:
    case ERR_BAD_COMMAND:
    case ERR_GEN_FAILURE:
    case ERR_BROKEN_PIPE:
    case ERR_NO_SUCH_DEVICE:
    case ERR_DEVICE_NOT_CONNECTED:
    case ERR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

IoResult FailFrom(Dword code) { return IsLostError(code) ? FailLost(code) : FailIo(code); }

// One kind of overlapped operation.
struct Operation {
  Overlapped ov;
  TVaWaitEvent done;
  Dword events = 0;  // the event wait's result

  Overlapped* Begin() {
    ov = Overlapped{};
    ov.hEvent = HandleOf(done);
    Calls().ResetEvent(HandleOf(done));
    return &ov;
  }
};

class Win32Device final : public Device {
 public:
  explicit Win32Device(Handle h) : h_(h) {}
  ~Win32Device() override { Shutdown(); }

  bool SetLineSettings(const LineSettings& s) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    if (shut_) return Fail(ERR_INVALID_HANDLE);
    Dcb dcb;
    dcb.DCBlength = sizeof(Dcb);
    dcb.BaudRate = s.BaudRate;
    dcb.Flags = s.Flags;  // the component's flag word: binary always, never abort on error
    dcb.wReserved = 0;
    dcb.XonLim = s.XonLim;
    dcb.XoffLim = s.XoffLim;
    dcb.ByteSize = s.ByteSize;
    dcb.Parity = s.Parity;
    dcb.StopBits = s.StopBits;
    dcb.XonChar = s.XonChar;
    dcb.XoffChar = s.XoffChar;
    dcb.ErrorChar = s.ErrorChar;
    dcb.EofChar = s.EofChar;
    dcb.EvtChar = s.EvtChar;
    dcb.wReserved1 = 0;
    return Calls().SetCommState(h_, &dcb) ? true : Fail(Calls().GetLastError());
  }

  bool SetQueueSizes(uint32_t in_bytes, uint32_t out_bytes) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    if (shut_) return Fail(ERR_INVALID_HANDLE);
    return Calls().SetupComm(h_, in_bytes, out_bytes) ? true : Fail(Calls().GetLastError());
  }

  bool SetReadInterval(uint32_t interval_ms) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    if (shut_) return Fail(ERR_INVALID_HANDLE);
    CommTimeouts t;
    t.ReadIntervalTimeout = interval_ms;
    return Calls().SetCommTimeouts(h_, &t) ? true : Fail(Calls().GetLastError());
  }

  bool SetEventMask(uint32_t mask) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    if (shut_) return Fail(ERR_INVALID_HANDLE);
    mask_.store(mask);
    return Calls().SetCommMask(h_, mask) ? true : Fail(Calls().GetLastError());
  }

  IoResult WaitEvents(uint32_t& events, TVaEvent& wake) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    if (shut_) return FailIo(ERR_INVALID_HANDLE);
    for (;;) {
      Overlapped* ov = wait_.Begin();
      wait_.events = 0;
      if (Calls().WaitCommEvent(h_, &wait_.events, ov)) {
        if (wait_.events == 0) continue;  // the mask was changed meanwhile
        events = wait_.events;
        return IoResult::kDone;
      }
      const Dword err = Calls().GetLastError();
      if (err != ERR_IO_PENDING) {
        return FailFrom(err);
      }
      const Handle set[] = {HandleOf(wait_.done), HandleOf(wake), HandleOf(shutdown_)};
      const Dword r = Calls().WaitForMultipleObjects(3, set, 0, INFINITE_MS);
      if (r != WAIT_OBJECT_0_RESULT) {
        End(wait_, true);
        if (r == WAIT_OBJECT_0_RESULT + 1) return IoResult::kWoken;
        return FailIo(r == WAIT_OBJECT_0_RESULT + 2 ? ERR_OPERATION_ABORTED : Calls().GetLastError());
      }
      Dword unused = 0;
      if (!Calls().GetOverlappedResult(h_, &wait_.ov, &unused, 0)) return FailFrom(Calls().GetLastError());
      if (wait_.events == 0) continue;
      events = wait_.events;
      return IoResult::kDone;
    }
  }

  IoResult Read(void* buf, uint32_t count, uint32_t timeout_ms, uint32_t& read) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    read = 0;
    if (shut_) return FailIo(ERR_INVALID_HANDLE);
    Overlapped* ov = read_.Begin();
    Dword n = 0;
    if (Calls().ReadFile(h_, buf, count, &n, ov)) {
      read = n;
      return IoResult::kDone;
    }
    const Dword err = Calls().GetLastError();
    if (err != ERR_IO_PENDING) {
      return FailFrom(err);
    }
    const Handle set[] = {HandleOf(read_.done), HandleOf(shutdown_)};
    const Dword r = Calls().WaitForMultipleObjects(2, set, 0, timeout_ms);
    if (r == WAIT_OBJECT_0_RESULT) return Complete(read_, read);
    // No completion in time: the read is ended before the buffer goes back to
    // the caller. Bytes it took in the meantime are still handed over.
    read = End(read_, false);
    if (read > 0) return IoResult::kDone;
    if (r == WAIT_OBJECT_0_RESULT + 1) return FailIo(ERR_OPERATION_ABORTED);
    if (r == WAIT_TIMEOUT_RESULT) return IoResult::kTimeout;
    return FailIo(Calls().GetLastError());
  }

  // An overlapped write has to be waited for: the write thread sends the bytes.
  IoResult WriteNow(const void*, uint32_t, uint32_t& written) override {
    written = 0;
    return IoResult::kTimeout;
  }

  IoResult Write(const void* buf, uint32_t count, uint32_t timeout_ms, std::initializer_list<TVaEvent*> wake,
                 uint32_t& written, int& woken) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    written = 0;
    woken = -1;
    if (shut_) return FailIo(ERR_INVALID_HANDLE);
    if (count == 0) return IoResult::kDone;
    Overlapped* ov = write_.Begin();
    Dword n = 0;
    if (Calls().WriteFile(h_, buf, count, &n, ov)) {
      written = n;
      return IoResult::kDone;
    }
    const Dword err = Calls().GetLastError();
    if (err != ERR_IO_PENDING) {
      return FailFrom(err);
    }
    // The caller's wake-up events first, in their order, then the write's
    // completion: the write thread's close signal wins over it.
    std::vector<Handle> set;
    for (TVaEvent* e : wake) set.push_back(HandleOf(*e));
    const Dword io_index = static_cast<Dword>(set.size());
    set.push_back(HandleOf(write_.done));
    set.push_back(HandleOf(shutdown_));
    const Dword r = Calls().WaitForMultipleObjects(static_cast<Dword>(set.size()), set.data(), 0, timeout_ms);
    if (r == io_index) return Complete(write_, written);
    written = End(write_, false);
    if (r < io_index) {
      woken = static_cast<int>(r);
      return IoResult::kWoken;
    }
    if (written > 0) return IoResult::kDone;
    if (r == io_index + 1) return FailIo(ERR_OPERATION_ABORTED);
    if (r == WAIT_TIMEOUT_RESULT) return IoResult::kTimeout;
    return FailIo(Calls().GetLastError());
  }

  bool ClearErrors(TVaCommStatus& status) override {
    std::shared_lock<std::shared_mutex> use(gate_);
    status = {};
    if (shut_) return Fail(ERR_INVALID_HANDLE);
    Dword errors = 0;
    ComStat stat;
    if (!Calls().ClearCommError(h_, &errors, &stat)) return Fail(Calls().GetLastError());
    status.Errors = errors;
    status.Flags = stat.Flags;
    status.InQueue = stat.cbInQue;
    status.OutQueue = stat.cbOutQue;
    return true;
  }

  void Shutdown() override {
    if (shut_.exchange(true)) return;
    shutdown_.Signal();
    std::unique_lock<std::shared_mutex> alone(gate_);  // every blocked call has left
    Calls().CloseHandle(h_);
    // Closing the handle ends whatever could not be ended before; it
    // completes into records that live as long as this object.
    for (Operation* op : {&wait_, &read_, &write_})
      if (IsOutstanding(op->ov)) Calls().WaitForSingleObject(HandleOf(op->done), 1000);
  }

 private:
  // The result of an operation whose event is signalled.
  IoResult Complete(Operation& op, uint32_t& transferred) {
    Dword n = 0;
    if (!Calls().GetOverlappedResult(h_, &op.ov, &n, 0)) return FailFrom(Calls().GetLastError());
    transferred = n;
    return IoResult::kDone;
  }

  // Ends an outstanding operation and waits until it has; returns the bytes
  // it transferred all the same. A driver that does not cancel an event wait
  // (Wine's, for one) ends it when the event mask is set again.
  uint32_t End(Operation& op, bool event_wait) {
    const Dword saved = Calls().GetLastError();
    Calls().CancelIoEx(h_, &op.ov);
    if (Calls().WaitForSingleObject(HandleOf(op.done), 200) != WAIT_OBJECT_0_RESULT && event_wait) {
      Calls().SetCommMask(h_, 0);
      Calls().SetCommMask(h_, mask_.load());
    }
    Dword n = 0;
    bool ok = false;
    if (Calls().WaitForSingleObject(HandleOf(op.done), 1000) == WAIT_OBJECT_0_RESULT)
      ok = Calls().GetOverlappedResult(h_, &op.ov, &n, 0) != 0;
    Calls().SetLastError(saved);
    return ok ? n : 0;
  }

  const Handle h_;
  TVaWaitEvent shutdown_;
  std::shared_mutex gate_;  // shared for a call on the handle, exclusive to close it
  std::atomic<bool> shut_{false};
  std::atomic<uint32_t> mask_{0};
  Operation wait_, read_, write_;
};

}  // namespace

std::unique_ptr<Device> OpenDevice(const std::string& path) {
  if (IsNetworkPortName(path)) {
#ifdef _WIN32
    NetworkAddress address;
    if (ParseNetworkPort(path, address)) return OpenNetworkDevice(address);
    Fail(kErrorBadNetworkName);
#else
    Fail(ERR_NOT_SUPPORTED);  // the fake system table has no sockets
#endif
    return nullptr;
  }
  const Handle h = Calls().CreateFileA(path.c_str(), GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS, 0,
                                       OPEN_EXISTING_DISPOSITION, FLAG_OVERLAPPED);
  if (h == kInvalidHandle || h == nullptr) {
    Fail(Calls().GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32Device>(h);
}

int LastError() { return t_last_error; }
void SetLastError(int code) { t_last_error = code; }

std::string ErrorText(int code) {
  std::string text;
  if (NetworkErrorText(code, text)) return text;
  return Calls().MessageText(static_cast<Dword>(code));
}

bool IsNotFoundError(int code) { return code == static_cast<int>(ERR_FILE_NOT_FOUND); }
bool IsLostDeviceError(int code) { return IsLostError(static_cast<Dword>(code)); }

namespace {

// The setup API's records of the Ports class; none where the table has no
// such entry.
std::vector<PortDevice> RecordedPortDevices() {
  return Calls().PortDevices ? Calls().PortDevices() : std::vector<PortDevice>{};
}

}  // namespace

// A port another program holds refuses access like one the user may not open:
// only the ports that open are listed. COM1 to COM256 are tried whatever the
// records say (Wine maps ports without any), and higher ones the records name.
std::vector<TVaPortFound> ProbePorts(const std::string&, const std::string&) {
  std::vector<int> numbers;
  for (int n = 1; n <= 256; ++n) numbers.push_back(n);
  for (const int n : RecordedComPorts(RecordedPortDevices()))
    if (n > 256) numbers.push_back(n);
  std::vector<TVaPortFound> ports;
  for (const int n : numbers) {
    const std::string name = "COM" + std::to_string(n);
    const Handle h = Calls().CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS, 0,
                                         OPEN_EXISTING_DISPOSITION, FLAG_OVERLAPPED);
    if (h == kInvalidHandle || h == nullptr) continue;
    ports.push_back({name, acReady});
    Calls().CloseHandle(h);
  }
  return ports;
}

std::string DevicePathFor(const std::string& port_name) {
  if (port_name.empty() || port_name.find('\\') != std::string::npos || IsNetworkPortName(port_name)) return port_name;
  return "\\\\.\\" + port_name;
}

TVaPortIdentity IdentifyPort(const std::string& device_path, const std::string&, const std::string&) {
  TVaPortIdentity identity;
  if (IsNetworkPortName(device_path)) {
    identity.Name = device_path;
    return identity;
  }
  const size_t slash = device_path.find_last_of('\\');
  const std::string name = slash == std::string::npos ? device_path : device_path.substr(slash + 1);
  if (ComPortNumber(name) == 0) {
    identity.Name = name;
    return identity;
  }
  return PortIdentityFromRecords(name, RecordedPortDevices());
}

int64_t CurrentThreadId() { return Calls().GetCurrentThreadId(); }

void SetThreadPriority(int64_t thread_id, TThreadPriority priority) {
  static constexpr int kLevels[] = {PRIORITY_IDLE,         PRIORITY_LOWEST,  PRIORITY_BELOW_NORMAL, PRIORITY_NORMAL,
                                    PRIORITY_ABOVE_NORMAL, PRIORITY_HIGHEST, PRIORITY_TIME_CRITICAL};
  Calls().SetThreadPriority(static_cast<Dword>(thread_id), kLevels[priority <= tpTimeCritical ? priority : tpNormal]);
}

void SetCurrentThreadPriority(TThreadPriority priority) { SetThreadPriority(CurrentThreadId(), priority); }

void SleepMs(uint32_t ms) { Calls().Sleep(ms); }

}  // namespace va::platform
