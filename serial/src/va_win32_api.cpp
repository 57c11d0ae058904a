// The Win32 table with the system's own functions, and the critical section.
// The only file of the component that includes <windows.h>: its macros
// (EV_RXCHAR, CE_BREAK, ...) would clash with the component's constants.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstddef>

#include "va_sync.h"
#include "va_win32.h"

namespace va::win32 {

namespace {

static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(Overlapped, hEvent) == offsetof(OVERLAPPED, hEvent));
static_assert(sizeof(Dcb) == sizeof(DCB));
static_assert(offsetof(Dcb, XonLim) == offsetof(DCB, XonLim));
static_assert(offsetof(Dcb, ByteSize) == offsetof(DCB, ByteSize));
static_assert(offsetof(Dcb, EvtChar) == offsetof(DCB, EvtChar));
static_assert(sizeof(CommTimeouts) == sizeof(COMMTIMEOUTS));
static_assert(sizeof(ComStat) == sizeof(COMSTAT));
static_assert(offsetof(ComStat, cbInQue) == offsetof(COMSTAT, cbInQue));

OVERLAPPED* Os(Overlapped* ov) { return reinterpret_cast<OVERLAPPED*>(ov); }

// The control block with each bit field set from its place in the flag word.
DCB SystemDcb(const Dcb& d) {
  DCB s{};
  s.DCBlength = sizeof(DCB);
  s.BaudRate = d.BaudRate;
  const Dword f = d.Flags;
  s.fBinary = f & 0x1;
  s.fParity = (f >> 1) & 0x1;
  s.fOutxCtsFlow = (f >> 2) & 0x1;
  s.fOutxDsrFlow = (f >> 3) & 0x1;
  s.fDtrControl = (f >> 4) & 0x3;
  s.fDsrSensitivity = (f >> 6) & 0x1;
  s.fTXContinueOnXoff = (f >> 7) & 0x1;
  s.fOutX = (f >> 8) & 0x1;
  s.fInX = (f >> 9) & 0x1;
  s.fErrorChar = (f >> 10) & 0x1;
  s.fNull = (f >> 11) & 0x1;
  s.fRtsControl = (f >> 12) & 0x3;
  s.fAbortOnError = (f >> 14) & 0x1;
  s.fDummy2 = 0;
  s.wReserved = 0;
  s.XonLim = d.XonLim;
  s.XoffLim = d.XoffLim;
  s.ByteSize = d.ByteSize;
  s.Parity = d.Parity;
  s.StopBits = d.StopBits;
  s.XonChar = d.XonChar;
  s.XoffChar = d.XoffChar;
  s.ErrorChar = d.ErrorChar;
  s.EofChar = d.EofChar;
  s.EvtChar = d.EvtChar;
  s.wReserved1 = 0;
  return s;
}

std::string SystemMessage(Dword code) {
  char* text = nullptr;
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n > 0 && text ? std::string(text, n) : std::string();
  if (text) LocalFree(text);
  return message;
}

}  // namespace

const Api& SystemApi() {
  static const Api api = {
      [](const char* name, Dword access, Dword share, Dword disposition, Dword flags) -> Handle {
        return ::CreateFileA(name, access, share, nullptr, disposition, flags, nullptr);
      },
      [](Handle h) -> Bool { return ::CloseHandle(h); },
      [](Handle h, const Dcb* dcb) -> Bool {
        DCB s = SystemDcb(*dcb);
        return ::SetCommState(h, &s);
      },
      [](Handle h, Dword in, Dword out) -> Bool { return ::SetupComm(h, in, out); },
      [](Handle h, const CommTimeouts* t) -> Bool {
        COMMTIMEOUTS s{t->ReadIntervalTimeout, t->ReadTotalTimeoutMultiplier, t->ReadTotalTimeoutConstant,
                       t->WriteTotalTimeoutMultiplier, t->WriteTotalTimeoutConstant};
        return ::SetCommTimeouts(h, &s);
      },
      [](Handle h, Dword mask) -> Bool { return ::SetCommMask(h, mask); },
      [](Handle h, Dword* mask, Overlapped* ov) -> Bool {
        return ::WaitCommEvent(h, reinterpret_cast<DWORD*>(mask), Os(ov));
      },
      [](Handle h, void* buf, Dword count, Dword* read, Overlapped* ov) -> Bool {
        return ::ReadFile(h, buf, count, reinterpret_cast<DWORD*>(read), Os(ov));
      },
      [](Handle h, const void* buf, Dword count, Dword* written, Overlapped* ov) -> Bool {
        return ::WriteFile(h, buf, count, reinterpret_cast<DWORD*>(written), Os(ov));
      },
      [](Handle h, Overlapped* ov, Dword* n, Bool wait) -> Bool {
        return ::GetOverlappedResult(h, Os(ov), reinterpret_cast<DWORD*>(n), wait);
      },
      [](Handle h, Dword* errors, ComStat* stat) -> Bool {
        return ::ClearCommError(h, reinterpret_cast<DWORD*>(errors), reinterpret_cast<COMSTAT*>(stat));
      },
      [](Handle h, Overlapped* ov) -> Bool { return ::CancelIoEx(h, Os(ov)); },
      []() -> Dword { return ::GetLastError(); },
      [](Dword code) { ::SetLastError(code); },
      SystemMessage,
      [](Bool manual, Bool initial) -> Handle { return ::CreateEventA(nullptr, manual, initial, nullptr); },
      [](Handle h) -> Bool { return ::SetEvent(h); },
      [](Handle h) -> Bool { return ::ResetEvent(h); },
      [](Handle h, Dword ms) -> Dword { return ::WaitForSingleObject(h, ms); },
      [](Dword n, const Handle* hs, Bool all, Dword ms) -> Dword {
        return ::WaitForMultipleObjects(n, const_cast<HANDLE*>(hs), all, ms);
      },
      []() -> Dword { return ::GetTickCount(); },
      [](Dword ms) { ::Sleep(ms); },
      []() -> Dword { return ::GetCurrentThreadId(); },
      [](Dword id, int priority) -> Bool {
        const HANDLE t = ::OpenThread(THREAD_SET_INFORMATION, FALSE, id);
        if (!t) return FALSE;
        const BOOL ok = ::SetThreadPriority(t, priority);
        ::CloseHandle(t);
        return ok;
      },
  };
  return api;
}

}  // namespace va::win32

namespace va {

static_assert(sizeof(CRITICAL_SECTION) <= 64);

TVaCriticalSection::TVaCriticalSection() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
TVaCriticalSection::~TVaCriticalSection() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void TVaCriticalSection::Enter() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void TVaCriticalSection::Leave() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

}  // namespace va
