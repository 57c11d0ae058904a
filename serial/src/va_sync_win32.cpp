// Windows side of the synchronisation objects: manual-reset events and waits
// on the system's event objects (through the Win32 table).
#include <vector>

#include "va_sync.h"
#include "va_win32.h"

namespace va {

using win32::Calls;

namespace {

bool IsValid(TVaPlatformHandle h) { return h != 0 && h != kInvalidPlatformHandle; }

}  // namespace

TVaHandleObject::~TVaHandleObject() {
  if (IsValid(handle_)) Calls().CloseHandle(win32::ToHandle(handle_));
}

TWaitResult TVaHandleObject::WaitFor(uint32_t ms) {
  switch (Calls().WaitForSingleObject(win32::ToHandle(handle_), ms)) {
    case win32::WAIT_OBJECT_0_RESULT:
      return TWaitResult::wrSignaled;
    case win32::WAIT_TIMEOUT_RESULT:
      return TWaitResult::wrTimeout;
    case win32::WAIT_ABANDONED_0_RESULT:
      return TWaitResult::wrAbandoned;
    default:
      last_error_ = static_cast<int>(Calls().GetLastError());
      return TWaitResult::wrError;
  }
}

TVaWaitEvent::TVaWaitEvent() {
  handle_ = win32::FromHandle(Calls().CreateEventA(1, 0));
  if (!IsValid(handle_)) last_error_ = static_cast<int>(Calls().GetLastError());
}

void TVaEvent::Signal() { Calls().SetEvent(win32::ToHandle(handle_)); }

void TVaEvent::Reset() { Calls().ResetEvent(win32::ToHandle(handle_)); }

bool TVaEvent::IsSignaled() const {
  return Calls().WaitForSingleObject(win32::ToHandle(handle_), 0) == win32::WAIT_OBJECT_0_RESULT;
}

int WaitForAny(const std::vector<TVaEvent*>& events, uint32_t ms) {
  std::vector<win32::Handle> handles;
  handles.reserve(events.size());
  for (TVaEvent* e : events) handles.push_back(win32::HandleOf(*e));
  // The system reports the lowest index of the signalled objects: the order of
  // `events` is the order of preference.
  const win32::Dword r =
      Calls().WaitForMultipleObjects(static_cast<win32::Dword>(handles.size()), handles.data(), 0, ms);
  if (r < handles.size()) return static_cast<int>(r);
  if (r == win32::WAIT_TIMEOUT_RESULT) return -1;
  return -2;
}

uint32_t GetTickCount() { return Calls().GetTickCount(); }

}  // namespace va
