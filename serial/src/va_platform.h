// The component's only way to the device: a small platform interface with one
// device per platform (va_platform_posix.cpp, va_platform_win32.cpp) and the
// network device over either (va_net_device.cpp).
// Every failing call leaves its error code in LastError() of the calling
// thread, as the platform's own last-error does.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "va_ports.h"
#include "va_sync.h"
#include "va_types.h"

namespace va::platform {

// A line configuration with the meanings of the platform's device control block.
struct LineSettings {
  uint32_t BaudRate = 0;
  uint8_t ByteSize = 8;  // 4..8
  uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  uint32_t Flags = 0x1;  // control-block flag word (fBinary 0x1, fParity 0x2, fOutxCtsFlow 0x4, ...)
  char XonChar = 17, XoffChar = 19, ErrorChar = 0, EofChar = 0, EvtChar = 0;
  uint16_t XonLim = 0, XoffLim = 0;
};

enum class IoResult {
  kDone,     // completed
  kTimeout,  // the bounded wait ended first
  kWoken,    // one of the wake-up events was signalled first
  kFailed,   // failed; LastError() says why
  kLost,     // the device is gone (unplugged, far end closed)
};

// One open device. Methods may be called from several threads at once (the
// event thread waits while the main thread reads); Shutdown may be called from
// any thread and makes every blocked call return.
class Device {
 public:
  virtual ~Device() = default;

  virtual bool SetLineSettings(const LineSettings& settings) = 0;
  virtual bool SetQueueSizes(uint32_t in_bytes, uint32_t out_bytes) = 0;
  // Read requests complete when the count has arrived, or when at least one
  // byte has and then `interval_ms` pass without another.
  virtual bool SetReadInterval(uint32_t interval_ms) = 0;
  virtual bool SetEventMask(uint32_t mask) = 0;

  // Blocks until line events of the mask occur (their bits into `events`) or
  // `wake` is signalled.
  virtual IoResult WaitEvents(uint32_t& events, TVaEvent& wake) = 0;
  // Reads up to `count` bytes, waiting at most `timeout_ms` for them.
  virtual IoResult Read(void* buf, uint32_t count, uint32_t timeout_ms, uint32_t& read) = 0;
  // Writes up to `count` bytes, blocking until some are taken, `timeout_ms`
  // passes, or one of `wake` is signalled (its index into `woken`).
  virtual IoResult Write(const void* buf, uint32_t count, uint32_t timeout_ms, std::initializer_list<TVaEvent*> wake,
                         uint32_t& written, int& woken) = 0;
  // Hands up to `count` bytes to the driver without waiting at all: a write
  // with no time to wait. A device that cannot do so takes none (kTimeout),
  // and the write thread sends them.
  virtual IoResult WriteNow(const void* buf, uint32_t count, uint32_t& written) {
    int woken = -1;
    return Write(buf, count, 0, {}, written, woken);
  }
  virtual bool ClearErrors(TVaCommStatus& status) = 0;

  // Wakes every blocked call, waits until they have left the device, and
  // closes it. Later calls fail.
  virtual void Shutdown() = 0;
};

// Opens `path` exclusively for asynchronous use; null on failure (LastError()).
// A network port's name (see ParseNetworkPort) opens a network device.
std::unique_ptr<Device> OpenDevice(const std::string& path);

// A serial port on a network serial server: rfc2217://HOST:PORT (telnet with
// the com-port control option) or socket://HOST:PORT (raw TCP).
struct NetworkAddress {
  bool telnet = false;
  std::string host, port;
};
// True for a name that starts like a network port's ("rfc2217://", "socket://").
bool IsNetworkPortName(const std::string& name);
// Its parts; false for a malformed one (no host, no port, a port outside 1..65535).
bool ParseNetworkPort(const std::string& name, NetworkAddress& address);
inline constexpr uint32_t kNetworkConnectMs = 5000;    // a connection, name look-up included
inline constexpr uint32_t kNetworkNegotiateMs = 3000;  // the server's answer to the com-port option
// The server does not answer the com-port option, or refuses it (LastError codes).
inline constexpr int kErrorNoComPortAnswer = 0x20000001, kErrorComPortRefused = 0x20000002,
                     kErrorBadNetworkName = 0x20000003, kErrorSettingRefused = 0x20000004,
                     kErrorHostNotFound = 0x20000005, kErrorBrokenStream = 0x20000006;
// The words of the last network error on this thread that has its own (a
// refused setting, a host not found): ErrorText gives them for those codes.
void SetNetworkDetail(const std::string& text);
const std::string& NetworkDetail();
// The words for the network errors above; false for any other code.
bool NetworkErrorText(int code, std::string& text);
std::unique_ptr<Device> OpenNetworkDevice(const NetworkAddress& address);

int LastError();
void SetLastError(int code);
// A failed call: LastError() becomes `code`, and the call returns false, or
// its I/O result (kFailed unless another is given).
inline bool Fail(int code) {
  SetLastError(code);
  return false;
}
inline IoResult FailIo(int code, IoResult result = IoResult::kFailed) {
  SetLastError(code);
  return result;
}
inline IoResult FailLost(int code) { return FailIo(code, IoResult::kLost); }

// A device that keeps its read interval and event mask itself and has no
// queue sizes to request: the POSIX device and the network device.
class SelfKeptDevice : public Device {
 public:
  bool SetQueueSizes(uint32_t, uint32_t) override { return StillOpen(); }
  bool SetReadInterval(uint32_t interval_ms) override {
    read_interval_.store(interval_ms);
    return StillOpen();
  }
  bool SetEventMask(uint32_t mask) override {
    event_mask_.store(mask);
    return StillOpen();
  }

 protected:
  explicit SelfKeptDevice(int closed_code) : closed_code_(closed_code) {}
  // True until Shutdown; then a failure with the device's code for a closed one.
  bool StillOpen() const { return shut_ ? Fail(closed_code_) : true; }

  std::atomic<bool> shut_{false};
  std::atomic<uint32_t> read_interval_{5}, event_mask_{0};

 private:
  const int closed_code_;
};
// The system's text for an error code.
std::string ErrorText(int code);
// The code the platform's open reports for a missing device.
bool IsNotFoundError(int code);
// Whether a call's error code means the device itself is gone (unplugged,
// far end closed), as the I/O calls' kLost does.
bool IsLostDeviceError(int code);

// Serial ports of this machine in natural order (see va::FindPorts).
std::vector<TVaPortFound> ProbePorts(const std::string& dev_root = "/dev", const std::string& sys_root = "/sys");

// The device path for a port name ("COM3" -> \\.\COM3 on Windows, "ttyUSB0" or
// "pts/3" -> /dev/... elsewhere); a name that already is a path, and a network
// port's name, is kept as given.
std::string DevicePathFor(const std::string& port_name);

// What the system records of the port's adapter (see va::IdentifyPort).
TVaPortIdentity IdentifyPort(const std::string& device_path, const std::string& sys_root, const std::string& dev_root);

// Gives the calling thread a scheduling priority (best effort).
void SetCurrentThreadPriority(TThreadPriority priority);
// Gives a running thread, known by the id it reported with CurrentThreadId, a priority.
void SetThreadPriority(int64_t thread_id, TThreadPriority priority);
int64_t CurrentThreadId();

void SleepMs(uint32_t ms);

}  // namespace va::platform
