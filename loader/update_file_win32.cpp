// The update file and the system, on Windows (see update_file_io.h).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "update_file.h"
#include "update_file_io.h"
#include "utf8_files.h"

namespace kvr {
namespace {

// Checked on what was opened. Returns the file's size.
int64_t CheckRegular(std::FILE* f) {
  struct _stat64 st;
  if (_fstat64(_fileno(f), &st) != 0) throw InOutErrorFromErrno(errno);
  if ((st.st_mode & _S_IFDIR) != 0) throw InOutErrorFromErrno(EISDIR);
  if ((st.st_mode & _S_IFREG) == 0) throw EInOutError(EINVAL, "I/O error 22", "not a regular file");
  return static_cast<int64_t>(st.st_size);
}

// The error of a failed open, saying what is there. The run-time library
// says "Permission denied" (EACCES) for a folder and for a file another
// program holds as well as for a file without permission; the system's own
// error and the name's attributes tell them apart. A folder is an I/O error
// 21 ("Is a directory") as on Linux; a held file stays "File access denied".
EInOutError OpenFailure(const std::string& path, int error, unsigned long system_error) {
  if (error == EACCES) {
    const DWORD attributes = GetFileAttributesW(base::Wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return InOutErrorFromErrno(EISDIR);
    if (system_error == ERROR_SHARING_VIOLATION || system_error == ERROR_LOCK_VIOLATION)
      return EInOutError(5, "File access denied", "In use by another program");
  }
  return InOutErrorFromErrno(error);
}

}  // namespace

// The path goes through the wide-character API: the narrow one reads the
// bytes in the ANSI code page, so a Cyrillic folder or user name would not be
// found.
std::FILE* OpenFileForReading(const std::string& path) {
  errno = 0;
  _doserrno = 0;
  std::FILE* f = base::OpenFile(path, "rb");
  if (!f) throw OpenFailure(path, errno != 0 ? errno : EIO, _doserrno);
  return f;
}

int64_t RegularFileSize(std::FILE* f) { return CheckRegular(f); }

namespace {

// A failed call's system error in the words the open's failures use.
EInOutError SystemFailure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return InOutErrorFromErrno(ENOENT);
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return InOutErrorFromErrno(EACCES);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EInOutError(5, "File access denied", "In use by another program");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return InOutErrorFromErrno(ENOSPC);
    default:
      return EInOutError(static_cast<int>(error), "I/O error " + std::to_string(error),
                         "system error " + std::to_string(error));
  }
}

}  // namespace

void ReplaceFileWith(const std::string& path, std::string_view bytes) {
  const std::wstring target = base::Wide(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) throw InOutErrorFromErrno(EISDIR);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
      throw EInOutError(5, "File access denied", "the file is read-only");
  }
  static std::atomic<unsigned> serial{0};
  std::wstring temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int tries = 0; file == INVALID_HANDLE_VALUE; ++tries) {
    temp = target + L".saving-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(serial++);
    file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    if (file == INVALID_HANDLE_VALUE && (error != ERROR_FILE_EXISTS || tries > 100)) throw SystemFailure(error);
  }
  DWORD error = 0;
  for (size_t done = 0; done < bytes.size() && error == 0;) {
    DWORD written = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    if (!WriteFile(file, bytes.data() + done, want, &written, nullptr))
      error = GetLastError();
    else if (written == 0)
      error = ERROR_WRITE_FAULT;
    done += written;
  }
  if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
  if (!CloseHandle(file) && error == 0) error = GetLastError();
  if (error == 0 &&
      !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = GetLastError();
  if (error == 0) return;
  DeleteFileW(temp.c_str());
  throw SystemFailure(error);
}

}  // namespace kvr
