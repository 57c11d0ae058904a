// The Win32 functions the serial component uses, as a table that the Windows
// platform files call through. On Windows the table holds the system's own
// functions (va_win32_api.cpp, the only file that includes <windows.h>); tests
// on any platform install a fake table. The structures have the system's
// layout, so the real table passes them on unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "va_sync.h"

namespace va::win32 {

using Handle = void*;
using Dword = uint32_t;
using Word = uint16_t;
using Bool = int;

inline Handle const kInvalidHandle = reinterpret_cast<Handle>(static_cast<intptr_t>(-1));

// An event's handle as the component keeps it, and back.
inline Handle ToHandle(TVaPlatformHandle h) { return reinterpret_cast<Handle>(h); }
inline TVaPlatformHandle FromHandle(Handle h) { return reinterpret_cast<TVaPlatformHandle>(h); }
inline Handle HandleOf(const TVaHandleObject& event) { return ToHandle(event.Handle()); }

// Error codes.
inline constexpr Dword ERR_FILE_NOT_FOUND = 2, ERR_ACCESS_DENIED = 5, ERR_INVALID_HANDLE = 6, ERR_NOT_READY = 21,
                       ERR_BAD_COMMAND = 22, ERR_GEN_FAILURE = 31, ERR_BROKEN_PIPE = 109, ERR_INVALID_PARAMETER = 87,
                       ERR_NO_SUCH_DEVICE = 433, ERR_OPERATION_ABORTED = 995, ERR_IO_INCOMPLETE = 996,
                       ERR_IO_PENDING = 997, ERR_DEVICE_NOT_CONNECTED = 1167, ERR_TIMEOUT = 1460,
                       ERR_DEVICE_REMOVED = 1617, ERR_NOT_SUPPORTED = 50;

// CreateFileA arguments.
inline constexpr Dword GENERIC_READ_ACCESS = 0x80000000u, GENERIC_WRITE_ACCESS = 0x40000000u,
                       OPEN_EXISTING_DISPOSITION = 3, FLAG_OVERLAPPED = 0x40000000u;

// Waits.
inline constexpr Dword WAIT_OBJECT_0_RESULT = 0, WAIT_ABANDONED_0_RESULT = 0x80, WAIT_TIMEOUT_RESULT = 258,
                       WAIT_FAILED_RESULT = 0xFFFFFFFFu, INFINITE_MS = 0xFFFFFFFFu;

// Thread priorities.
inline constexpr int PRIORITY_IDLE = -15, PRIORITY_LOWEST = -2, PRIORITY_BELOW_NORMAL = -1, PRIORITY_NORMAL = 0,
                     PRIORITY_ABOVE_NORMAL = 1, PRIORITY_HIGHEST = 2, PRIORITY_TIME_CRITICAL = 15;

struct Overlapped {
  uintptr_t Internal = 0;      // status of the operation
  uintptr_t InternalHigh = 0;  // bytes transferred
  Dword Offset = 0;
  Dword OffsetHigh = 0;
  Handle hEvent = nullptr;
};

// The status the system keeps in Internal while an operation runs.
inline constexpr uintptr_t STATUS_PENDING_VALUE = 0x103;
inline bool IsOutstanding(const Overlapped& ov) { return ov.Internal == STATUS_PENDING_VALUE; }

// The device control block. `Flags` holds the bit fields in their order, as
// va_line_flags.h names them (fBinary is line_flags::kBinary, ...).
struct Dcb {
  Dword DCBlength = 0;
  Dword BaudRate = 0;
  Dword Flags = 0;
  Word wReserved = 0;
  Word XonLim = 0;
  Word XoffLim = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  Word wReserved1 = 0;
};
static_assert(sizeof(Dcb) == 28);

struct CommTimeouts {
  Dword ReadIntervalTimeout = 0;
  Dword ReadTotalTimeoutMultiplier = 0;
  Dword ReadTotalTimeoutConstant = 0;
  Dword WriteTotalTimeoutMultiplier = 0;
  Dword WriteTotalTimeoutConstant = 0;
};

struct ComStat {
  Dword Flags = 0;  // fCtsHold 0x1 ... fTxim 0x40
  Dword cbInQue = 0;
  Dword cbOutQue = 0;
};

// A device of the Ports class (COM and LPT ports) as the setup API records it,
// with its parent in the device tree; texts in UTF-8, "" where the system has
// none. A port that Wine maps through dosdevices has no such record.
struct PortDevice {
  std::string PortName;                  // its hardware key's PortName: "COM3", "LPT1"
  std::string FriendlyName;              // "USB Serial Port (COM3)"
  std::string Manufacturer;              // from the driver's INF: "FTDI", "(Standard port types)"
  std::vector<std::string> HardwareIds;  // "FTDIBUS\COMPORT&VID_0403&PID_6001", ...
  std::string InstanceId;                // "FTDIBUS\VID_0403+PID_6001+A5012345A\0000"
  std::string BusDescription;            // what its bus driver reports (a USB device: its product string)
  std::string ParentInstanceId;          // "USB\VID_0403&PID_6001\A5012345"
  std::string ParentBusDescription;      // "FT232R USB UART"
};

struct Api {
  Handle (*CreateFileA)(const char* name, Dword access, Dword share, Dword disposition, Dword flags);
  Bool (*CloseHandle)(Handle h);
  Bool (*SetCommState)(Handle h, const Dcb* dcb);
  Bool (*SetupComm)(Handle h, Dword in_queue, Dword out_queue);
  Bool (*SetCommTimeouts)(Handle h, const CommTimeouts* timeouts);
  Bool (*SetCommMask)(Handle h, Dword mask);
  Bool (*WaitCommEvent)(Handle h, Dword* mask, Overlapped* ov);
  Bool (*ReadFile)(Handle h, void* buf, Dword count, Dword* read, Overlapped* ov);
  Bool (*WriteFile)(Handle h, const void* buf, Dword count, Dword* written, Overlapped* ov);
  Bool (*GetOverlappedResult)(Handle h, Overlapped* ov, Dword* transferred, Bool wait);
  Bool (*ClearCommError)(Handle h, Dword* errors, ComStat* stat);
  Bool (*CancelIoEx)(Handle h, Overlapped* ov);
  Dword (*GetLastError)();
  void (*SetLastError)(Dword code);
  std::string (*MessageText)(Dword code);  // FormatMessageA from the system's table
  Handle (*CreateEventA)(Bool manual_reset, Bool initial_state);
  Bool (*SetEvent)(Handle h);
  Bool (*ResetEvent)(Handle h);
  Dword (*WaitForSingleObject)(Handle h, Dword ms);
  Dword (*WaitForMultipleObjects)(Dword count, const Handle* handles, Bool wait_all, Dword ms);
  Dword (*GetTickCount)();
  void (*Sleep)(Dword ms);
  Dword (*GetCurrentThreadId)();
  Bool (*SetThreadPriority)(Dword thread_id, int priority);  // the thread known by its id
  // The present devices of the Ports class (SetupDiGetClassDevsW and the
  // device's properties, CM_Get_Parent for its parent); none when the system
  // has no records or the enumeration fails.
  std::vector<PortDevice> (*PortDevices)();
};

// The table in use: the system's functions on Windows; elsewhere empty until
// a test installs its fake with SetApi.
const Api& Calls();
void SetApi(const Api& api);

}  // namespace va::win32
