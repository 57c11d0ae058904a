#include "fake_win32.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace va::fake {

using namespace win32;

namespace {

constexpr uintptr_t kPending = STATUS_PENDING_VALUE;
thread_local Dword t_error = 0;

int Fail(Dword code) {
  t_error = code;
  return 0;
}

Dword NowMs() {
  using namespace std::chrono;
  return static_cast<Dword>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string Message(Dword code) {
  switch (code) {
    case ERR_FILE_NOT_FOUND: return "The system cannot find the file specified.\r\n";
    case ERR_ACCESS_DENIED: return "Access is denied.\r\n";
    case ERR_NOT_READY: return "The device is not ready.\r\n";
    case ERR_GEN_FAILURE: return "A device attached to the system is not functioning.\r\n";
    case ERR_INVALID_PARAMETER: return "The parameter is incorrect.\r\n";
    case ERR_BROKEN_PIPE: return "The pipe has been ended.\r\n";
    default: return "Unknown error " + std::to_string(code) + ".\r\n";
  }
}

World& W() { return World::Get(); }

}  // namespace

struct World::Object {
  bool is_port = false;
  bool signalled = false;
  std::string port;
};

World& World::Get() {
  // Never destroyed: detached threads of the last closed port may still be
  // leaving their waits while the process exits.
  static World* world = new World;
  return *world;
}

Port* World::PortOf(Handle h) {
  auto* o = static_cast<Object*>(h);
  if (!o || !o->is_port) return nullptr;
  auto it = ports.find(o->port);
  return it == ports.end() || it->second.handle != h || !it->second.open ? nullptr : &it->second;
}

void World::SignalEvent(Handle h) {
  if (auto* o = static_cast<Object*>(h); o && !o->is_port) o->signalled = true;
  changed_.notify_all();
}

void World::Complete(Port& port, size_t i, uintptr_t status, Dword transferred) {
  const PendingOp op = port.ops[i];
  port.ops.erase(port.ops.begin() + static_cast<std::ptrdiff_t>(i));
  op.ov->Internal = status;
  op.ov->InternalHigh = transferred;
  SignalEvent(op.ov->hEvent);
}

void World::CompletePendingWrite(Port& port) {
  for (size_t i = 0; i < port.ops.size(); ++i)
    if (port.ops[i].kind == PendingOp::kWrite) {
      const Dword n = port.ops[i].count;
      Complete(port, i, 0, n);
      return;
    }
}

// Completes what the port's state now allows: a pending read when bytes are
// there, a pending event wait when a watched event happened.
void World::SettleLocked(Port& port) {
  for (size_t i = 0; i < port.ops.size();) {
    PendingOp& op = port.ops[i];
    if (op.kind == PendingOp::kRead && !port.input.empty()) {
      const Dword n = std::min<Dword>(op.count, static_cast<Dword>(port.input.size()));
      std::memcpy(op.read_buf, port.input.data(), n);
      port.input.erase(0, n);
      Complete(port, i, 0, n);
      continue;
    }
    if (op.kind == PendingOp::kWait && (port.pending_events & port.mask)) {
      *op.events = port.pending_events & port.mask;
      port.pending_events = 0;
      Complete(port, i, 0, 0);
      continue;
    }
    ++i;
  }
}

void World::Reset(const std::vector<std::string>& names) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ports.clear();
    for (const std::string& n : names) ports[n];
    create_calls.clear();
    create_flags.clear();
    multi_waits.clear();
    priorities.clear();
    port_devices.clear();
    port_device_calls = 0;
  }
  Api api{};
  api.CreateFileA = [](const char* name, Dword access, Dword share, Dword disposition, Dword flags) {
    return W().CreateFile(name, access, share, disposition, flags);
  };
  api.CloseHandle = [](Handle h) { return W().CloseHandle(h); };
  api.SetCommState = [](Handle h, const Dcb* dcb) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    Port* p = W().PortOf(h);
    if (!p) return Fail(ERR_INVALID_HANDLE);
    if (p->fail_set_state) return Fail(p->fail_set_state);
    p->dcbs.push_back(*dcb);
    return 1;
  };
  api.SetupComm = [](Handle h, Dword in, Dword out) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    Port* p = W().PortOf(h);
    if (!p) return Fail(ERR_INVALID_HANDLE);
    p->queue_sizes.emplace_back(in, out);
    return 1;
  };
  api.SetCommTimeouts = [](Handle h, const CommTimeouts* t) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    Port* p = W().PortOf(h);
    if (!p) return Fail(ERR_INVALID_HANDLE);
    p->timeouts.push_back(*t);
    return 1;
  };
  api.SetCommMask = [](Handle h, Dword mask) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    Port* p = W().PortOf(h);
    if (!p) return Fail(ERR_INVALID_HANDLE);
    p->mask = mask;
    p->masks.push_back(mask);
    // A new mask ends a pending event wait with no events.
    for (size_t i = 0; i < p->ops.size(); ++i)
      if (p->ops[i].kind == PendingOp::kWait) {
        *p->ops[i].events = 0;
        W().Complete(*p, i, 0, 0);
        break;
      }
    return 1;
  };
  api.WaitCommEvent = [](Handle h, Dword* events, Overlapped* ov) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    Port* p = W().PortOf(h);
    if (!p) return Fail(ERR_INVALID_HANDLE);
    ++p->wait_calls;
    if (p->lost_read_error) return Fail(p->lost_read_error);
    if (p->mask == 0) return Fail(ERR_INVALID_PARAMETER);
    ov->Internal = kPending;
    if (p->pending_events & p->mask) {
      *events = p->pending_events & p->mask;
      p->pending_events = 0;
      ov->Internal = 0;
      W().SignalEvent(ov->hEvent);
      return 1;
    }
    p->ops.push_back({PendingOp::kWait, ov, nullptr, 0, events});
    return Fail(ERR_IO_PENDING);
  };
  api.ReadFile = [](Handle h, void* buf, Dword count, Dword* read, Overlapped* ov) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    Port* p = W().PortOf(h);
    if (!p) return Fail(ERR_INVALID_HANDLE);
    if (p->lost_read_error) return Fail(p->lost_read_error);
    ov->Internal = kPending;
    if (!p->input.empty()) {
      const Dword n = std::min<Dword>(count, static_cast<Dword>(p->input.size()));
      std::memcpy(buf, p->input.data(), n);
      p->input.erase(0, n);
      *read = n;
      ov->Internal = 0;
      ov->InternalHigh = n;
      W().SignalEvent(ov->hEvent);
      return 1;
    }
    p->ops.push_back({PendingOp::kRead, ov, buf, count, nullptr});
    return Fail(ERR_IO_PENDING);
  };
  api.WriteFile = [](Handle h, const void* buf, Dword count, Dword* written, Overlapped* ov) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    Port* p = W().PortOf(h);
    if (!p) return Fail(ERR_INVALID_HANDLE);
    if (p->lost_write_error) return Fail(p->lost_write_error);
    p->output.append(static_cast<const char*>(buf), count);
    ov->Internal = kPending;
    if (p->hold_writes) {
      p->ops.push_back({PendingOp::kWrite, ov, nullptr, count, nullptr});
      return Fail(ERR_IO_PENDING);
    }
    *written = count;
    ov->Internal = 0;
    ov->InternalHigh = count;
    W().SignalEvent(ov->hEvent);
    return 1;
  };
  api.GetOverlappedResult = [](Handle, Overlapped* ov, Dword* n, Bool wait) {
    std::unique_lock<std::mutex> lock(W().mutex_);
    if (wait) W().changed_.wait(lock, [&] { return ov->Internal != kPending; });
    if (ov->Internal == kPending) return Fail(ERR_IO_INCOMPLETE);
    if (ov->Internal != 0) return Fail(static_cast<Dword>(ov->Internal));
    *n = static_cast<Dword>(ov->InternalHigh);
    return 1;
  };
  api.ClearCommError = [](Handle h, Dword* errors, ComStat* stat) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    Port* p = W().PortOf(h);
    if (!p) return Fail(ERR_INVALID_HANDLE);
    if (p->lost_write_error) return Fail(p->lost_write_error);
    *errors = p->line_errors;
    p->line_errors = 0;
    *stat = ComStat{};
    stat->cbInQue = static_cast<Dword>(p->input.size());
    return 1;
  };
  api.CancelIoEx = [](Handle h, Overlapped* ov) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    Port* p = W().PortOf(h);
    if (!p) return Fail(ERR_INVALID_HANDLE);
    for (size_t i = 0; i < p->ops.size(); ++i) {
      PendingOp& op = p->ops[i];
      if (op.ov != ov) continue;
      if (op.kind == PendingOp::kWait && p->cancel_ignores_waits) return 1;
      if (op.kind == PendingOp::kRead && !p->cancel_delivers.empty()) {
        const Dword n = std::min<Dword>(op.count, static_cast<Dword>(p->cancel_delivers.size()));
        std::memcpy(op.read_buf, p->cancel_delivers.data(), n);
        p->cancel_delivers.clear();
        W().Complete(*p, i, 0, n);
        return 1;
      }
      W().Complete(*p, i, ERR_OPERATION_ABORTED, 0);
      return 1;
    }
    return Fail(1168);  // not found: it had completed
  };
  api.GetLastError = [] { return t_error; };
  api.SetLastError = [](Dword code) { t_error = code; };
  api.MessageText = Message;
  api.CreateEventA = [](Bool, Bool initial) -> Handle {
    std::lock_guard<std::mutex> lock(W().mutex_);
    W().objects_.push_back(std::make_unique<Object>());
    W().objects_.back()->signalled = initial != 0;
    ++W().open_events;
    return W().objects_.back().get();
  };
  api.SetEvent = [](Handle h) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    W().SignalEvent(h);
    return 1;
  };
  api.ResetEvent = [](Handle h) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    static_cast<Object*>(h)->signalled = false;
    return 1;
  };
  api.WaitForSingleObject = [](Handle h, Dword ms) { return W().WaitMultiple(1, &h, ms); };
  api.WaitForMultipleObjects = [](Dword n, const Handle* hs, Bool, Dword ms) {
    {
      std::lock_guard<std::mutex> lock(W().mutex_);
      if (n > 1) W().multi_waits.push_back({std::this_thread::get_id(), std::vector<Handle>(hs, hs + n), ms});
    }
    return W().WaitMultiple(n, hs, ms);
  };
  api.GetTickCount = NowMs;
  api.Sleep = [](Dword ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  api.GetCurrentThreadId = [] {
    return static_cast<Dword>(std::hash<std::thread::id>()(std::this_thread::get_id()) & 0x7FFFFFFF);
  };
  api.SetThreadPriority = [](Dword id, int priority) {
    std::lock_guard<std::mutex> lock(W().mutex_);
    W().priorities.emplace_back(id, priority);
    return 1;
  };
  api.PortDevices = [] {
    std::lock_guard<std::mutex> lock(W().mutex_);
    ++W().port_device_calls;
    return W().port_devices;
  };
  SetApi(api);
}

Handle World::CreateFile(const char* name, Dword access, Dword share, Dword disposition, Dword flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  create_calls.push_back(name);
  create_flags = {access, share, disposition, flags};
  auto it = ports.find(name);
  if (it == ports.end()) {
    t_error = ERR_FILE_NOT_FOUND;
    return kInvalidHandle;
  }
  // Share mode 0 on a port: one user at a time.
  if (it->second.open) {
    t_error = ERR_ACCESS_DENIED;
    return kInvalidHandle;
  }
  objects_.push_back(std::make_unique<Object>());
  objects_.back()->is_port = true;
  objects_.back()->port = name;
  Port& p = it->second;
  p.open = true;
  p.handle = objects_.back().get();
  p.lost_read_error = p.lost_write_error = 0;
  return p.handle;
}

int World::CloseHandle(Handle h) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto* o = static_cast<Object*>(h);
  if (!o) return Fail(ERR_INVALID_HANDLE);
  if (!o->is_port) {
    --open_events;
    return 1;  // the object stays allocated: late waits must not touch freed memory
  }
  Port* p = PortOf(h);
  if (!p) return Fail(ERR_INVALID_HANDLE);
  // Closing ends every operation still outstanding.
  while (!p->ops.empty()) Complete(*p, 0, ERR_OPERATION_ABORTED, 0);
  p->open = false;
  p->handle = nullptr;
  return 1;
}

Dword World::WaitMultiple(Dword n, const Handle* hs, Dword ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto first = [&]() -> int {
    for (Dword i = 0; i < n; ++i)
      if (static_cast<Object*>(hs[i])->signalled) return static_cast<int>(i);
    return -1;
  };
  int which = -1;
  auto ready = [&] { return (which = first()) >= 0; };
  if (ms == INFINITE_MS)
    changed_.wait(lock, ready);
  else if (!changed_.wait_for(lock, std::chrono::milliseconds(ms), ready))
    return WAIT_TIMEOUT_RESULT;
  return static_cast<Dword>(which);
}

void World::Feed(const std::string& port, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  Port& p = ports.at(port);
  p.input += bytes;
  p.pending_events |= 0x1;  // kEvRxChar
  SettleLocked(p);
}

void World::RaiseEvents(const std::string& port, Dword events) {
  std::lock_guard<std::mutex> lock(mutex_);
  Port& p = ports.at(port);
  p.pending_events |= events;
  SettleLocked(p);
}

void World::ReleaseWrites(const std::string& port) {
  std::lock_guard<std::mutex> lock(mutex_);
  Port& p = ports.at(port);
  p.hold_writes = false;
  for (size_t i = 0; i < p.ops.size();) {
    if (p.ops[i].kind == PendingOp::kWrite)
      Complete(p, i, 0, p.ops[i].count);
    else
      ++i;
  }
}

void World::HangUp(const std::string& port, Dword read_error, Dword write_error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Port& p = ports.at(port);
  p.lost_read_error = read_error;
  p.lost_write_error = write_error;
  for (size_t i = 0; i < p.ops.size();) {
    const Dword code = p.ops[i].kind == PendingOp::kWrite ? write_error : read_error;
    Complete(p, i, code, 0);
  }
}

void World::Atomically(const std::function<void(World&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  change(*this);
}

bool World::WaitUntil(const std::function<bool(World&)>& done, int timeout_ms) {
  // Polls: not every change of the world signals an event.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock<std::mutex> lock(mutex_);
  while (!done(*this)) {
    if (std::chrono::steady_clock::now() > end) return false;
    changed_.wait_for(lock, std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace va::fake
