// A fake Windows for the serial component's Win32 layer: a table of the Win32
// functions over in-memory COM ports and event objects, so that the Windows
// code runs (with its real threads) on any system. It behaves as Windows
// does where Wine differs: exclusive opens, any baud rate, a new event mask
// ending a pending event wait, CancelIoEx ending any operation.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "va_win32.h"

namespace va::fake {

using win32::Dword;
using win32::Handle;
using win32::Overlapped;

struct PendingOp {
  enum Kind { kWait, kRead, kWrite } kind;
  Overlapped* ov;
  void* read_buf = nullptr;
  Dword count = 0;
  Dword* events = nullptr;
};

struct Port {
  bool open = false;
  Handle handle = nullptr;
  std::vector<win32::Dcb> dcbs;
  std::vector<win32::CommTimeouts> timeouts;
  std::vector<std::pair<Dword, Dword>> queue_sizes;
  std::vector<Dword> masks;
  Dword mask = 0;
  Dword pending_events = 0;  // events since the last wait, as the driver keeps them
  std::string input;         // from the device, not yet read
  std::string output;        // what the program wrote
  Dword line_errors = 0;
  std::vector<PendingOp> ops;
  int wait_calls = 0;
  // Behaviour the test sets.
  bool hold_writes = false;          // writes stay pending until ReleaseWrites
  Dword fail_set_state = 0;          // SetCommState fails with this code
  Dword lost_read_error = 0;         // after HangUp: reads and waits fail with this
  Dword lost_write_error = 0;        // after HangUp: writes and status reads fail with this
  bool cancel_ignores_waits = false; // CancelIoEx leaves event waits pending (as Wine does)
  std::string cancel_delivers;       // a read being cancelled completes with these bytes instead
};

struct WaitCall {
  std::thread::id thread;
  std::vector<Handle> handles;
  Dword ms = 0;  // the time-out asked for
};

class World {
 public:
  static World& Get();
  // A fresh world with the given ports ("\\.\COM1", ...) and the fake table installed.
  void Reset(const std::vector<std::string>& ports);

  // Test controls; each takes the world's lock.
  void Feed(const std::string& port, const std::string& bytes);
  void RaiseEvents(const std::string& port, Dword events);
  void ReleaseWrites(const std::string& port);
  void HangUp(const std::string& port, Dword read_error, Dword write_error);
  // Runs `change` under the lock, so that several signals land at once.
  void Atomically(const std::function<void(World&)>& change);
  void SignalEvent(Handle h);  // with the lock held (inside Atomically)
  void CompletePendingWrite(Port& port);  // with the lock held

  template <typename F>
  auto Inspect(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(*this);
  }
  // Waits (real time, bounded) until `done` holds under the lock.
  bool WaitUntil(const std::function<bool(World&)>& done, int timeout_ms = 3000);

  std::map<std::string, Port> ports;
  std::vector<std::string> create_calls;     // names given to CreateFileA
  std::vector<Dword> create_flags;           // access, share, disposition, flags of the last call
  std::vector<WaitCall> multi_waits;
  std::vector<std::pair<Dword, int>> priorities;
  int open_events = 0;
  std::vector<win32::PortDevice> port_devices;  // the setup API's records of the Ports class
  int port_device_calls = 0;

  // The fake table's implementation (lock taken inside).
  struct Object;
  Handle CreateFile(const char* name, Dword access, Dword share, Dword disposition, Dword flags);
  int CloseHandle(Handle h);
  Port* PortOf(Handle h);
  Dword WaitMultiple(Dword n, const Handle* hs, Dword ms);
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Object>> objects_;

  void Complete(Port& port, size_t op_index, uintptr_t status, Dword transferred);
  void SettleLocked(Port& port);
};

}  // namespace va::fake
