// The record file on Windows: LockFileEx on one byte far beyond any data is
// the appenders' lock (Windows locks are mandatory, and a lock on the data
// would keep readers out); the system does not say who holds it.
#include <windows.h>

#include <string>

#include "load_record_file.h"
#include "utf8_files.h"

namespace kvr {

namespace fs = std::filesystem;

namespace {

constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

std::string WindowsText(DWORD error) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out;
  if (text) {
    out = base::Utf8(text);
    LocalFree(text);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
  return out + " (" + std::to_string(error) + ")";
}

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

OVERLAPPED At(int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

OVERLAPPED LockAt() {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return at;
}

}  // namespace

base::Result<RecordFileHandle> RecordFileHandle::Open(const fs::path& path) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  bool created = false;
  HANDLE h = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    h = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    created = h != INVALID_HANDLE_VALUE;
  }
  if (h == INVALID_HANDLE_VALUE)
    return base::FileFailure("cannot be opened for writing: " + WindowsText(GetLastError()));
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return base::FileFailure("is not a plain file");
  }
  return RecordFileHandle(reinterpret_cast<intptr_t>(h), created);
}

RecordFileHandle::RecordFileHandle(RecordFileHandle&& other) noexcept
    : handle_(other.handle_), created_(other.created_), locked_(other.locked_) {
  other.handle_ = -1;
  other.locked_ = false;
}

RecordFileHandle::~RecordFileHandle() {
  if (handle_ == -1) return;
  if (locked_) {
    OVERLAPPED at = LockAt();
    UnlockFileEx(Handle(handle_), 0, 1, 0, &at);
  }
  CloseHandle(Handle(handle_));
}

std::string RecordFileHandle::Read(int64_t offset, size_t n) const {
  std::string bytes(n, '\0');
  OVERLAPPED at = At(offset);
  DWORD got = 0;
  if (!ReadFile(Handle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &got, &at)) got = 0;
  bytes.resize(got);
  return bytes;
}

base::Result<bool> RecordFileHandle::TryLock() {
  OVERLAPPED at = LockAt();
  if (LockFileEx(Handle(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    locked_ = true;
    return true;
  }
  if (GetLastError() == ERROR_LOCK_VIOLATION) return false;
  return base::FileFailure(WindowsText(GetLastError()));
}

std::string RecordFileHandle::Holder() const { return "another program"; }

// A file open here cannot be renamed away or removed under its name while
// the append holds it open for writing as Windows does it.
bool RecordFileHandle::StillNamed(const fs::path&) const { return true; }

void RecordFileHandle::SyncFolder(const fs::path&) {}

base::Result<int64_t> RecordFileHandle::Size() const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(Handle(handle_), &size)) return base::FileFailure(WindowsText(GetLastError()));
  return static_cast<int64_t>(size.QuadPart);
}

base::Status RecordFileHandle::WriteAt(int64_t offset, const std::string& text) {
  DWORD written = 0;
  OVERLAPPED at = At(offset);
  if (WriteFile(Handle(handle_), text.data(), static_cast<DWORD>(text.size()), &written, &at) && written == text.size())
    return {};
  const DWORD error = GetLastError();
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = offset;
  SetFileInformationByHandle(Handle(handle_), FileEndOfFileInfo, &end, sizeof end);
  return base::FileFailure(WindowsText(error));
}

base::Status RecordFileHandle::Sync() {
  if (!FlushFileBuffers(Handle(handle_))) return base::FileFailure(WindowsText(GetLastError()));
  return {};
}

}  // namespace kvr
