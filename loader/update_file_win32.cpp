// Opening the update file on Windows (see update_file_open.h).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "update_file.h"
#include "update_file_open.h"
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

}  // namespace kvr
