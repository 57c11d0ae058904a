// The Win32 table with the system's own functions, and the critical section.
// The only file of the component that includes <windows.h>: the rest calls
// the system through the table, which the tests replace with a fake.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// (after windows.h)
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "utf8_files.h"
#include "va_line_flags.h"
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
  using namespace platform::line_flags;
  const Dword f = d.Flags;
  const auto set = [f](uint32_t bit) { return (f & bit) != 0; };
  s.fBinary = set(kBinary);
  s.fParity = set(kParityCheck);
  s.fOutxCtsFlow = set(kOutxCtsFlow);
  s.fOutxDsrFlow = set(kOutxDsrFlow);
  s.fDtrControl = (f & kDtrControl) / kDtrEnable;  // the field's value
  s.fDsrSensitivity = set(kDsrSensitivity);
  s.fTXContinueOnXoff = set(kTxContinueOnXoff);
  s.fOutX = set(kOutX);
  s.fInX = set(kInX);
  s.fErrorChar = set(kErrorChar);
  s.fNull = set(kNull);
  s.fRtsControl = (f & kRtsControl) / kRtsEnable;
  s.fAbortOnError = set(kAbortOnError);
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

// The Ports class (COM and LPT ports), as devguid.h names it GUID_DEVCLASS_PORTS.
constexpr GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// What the bus driver reports of a device (a USB device's product string), as
// devpkey.h names it DEVPKEY_Device_BusReportedDeviceDesc.
constexpr DEVPROPKEY kBusReportedDescription = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

// The strings of a REG_SZ or REG_MULTI_SZ value in `buffer` (`bytes` long,
// its ends not necessarily there).
std::vector<std::string> Strings(const std::vector<wchar_t>& buffer, size_t bytes) {
  std::vector<std::string> strings;
  const size_t chars = std::min(bytes / sizeof(wchar_t), buffer.size());
  for (size_t i = 0; i < chars;) {
    size_t end = i;
    while (end < chars && buffer[end] != L'\0') ++end;
    if (end == i) break;  // the list's end
    strings.push_back(base::Utf8(std::wstring_view(buffer.data() + i, end - i)));
    i = end + 1;
  }
  return strings;
}

// A device registry property's strings; none where the device has none.
std::vector<std::string> RegistryStrings(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  std::vector<wchar_t> buffer(256);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD type = 0, needed = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set, device, property, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                          static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), &needed)) {
      if (type != REG_SZ && type != REG_MULTI_SZ) return {};
      return Strings(buffer, needed);
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return {};
    buffer.assign(needed / sizeof(wchar_t) + 1, L'\0');
  }
  return {};
}

std::string RegistryString(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  const std::vector<std::string> strings = RegistryStrings(set, device, property);
  return strings.empty() ? std::string() : strings[0];
}

// The PortName value of the device's hardware key ("COM3").
std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA* device) {
  const HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (key == INVALID_HANDLE_VALUE || key == nullptr) return {};
  std::vector<wchar_t> buffer(64, L'\0');
  DWORD type = 0, bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
  const LONG result =
      RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return {};
  const std::vector<std::string> strings = Strings(buffer, bytes);
  return strings.empty() ? std::string() : strings[0];
}

std::string DeviceId(DEVINST node) {
  wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
  if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
  return base::Utf8(std::wstring_view(id, wcsnlen(id, MAX_DEVICE_ID_LEN)));
}

std::string BusDescription(DEVINST node) {
  std::vector<wchar_t> buffer(256, L'\0');
  DEVPROPTYPE type = 0;
  ULONG bytes = static_cast<ULONG>(buffer.size() * sizeof(wchar_t));
  if (CM_Get_DevNode_PropertyW(node, &kBusReportedDescription, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes,
                               0) != CR_SUCCESS ||
      type != DEVPROP_TYPE_STRING)
    return {};
  const std::vector<std::string> strings = Strings(buffer, bytes);
  return strings.empty() ? std::string() : strings[0];
}

std::vector<PortDevice> SystemPortDevices() {
  std::vector<PortDevice> devices;
  const HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return devices;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    PortDevice d;
    d.PortName = PortNameOf(set, &device);
    d.FriendlyName = RegistryString(set, &device, SPDRP_FRIENDLYNAME);
    d.Manufacturer = RegistryString(set, &device, SPDRP_MFG);
    d.HardwareIds = RegistryStrings(set, &device, SPDRP_HARDWAREID);
    d.InstanceId = DeviceId(device.DevInst);
    d.BusDescription = BusDescription(device.DevInst);
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS) {
      d.ParentInstanceId = DeviceId(parent);
      d.ParentBusDescription = BusDescription(parent);
    }
    devices.push_back(std::move(d));
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
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
      SystemPortDevices,
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
