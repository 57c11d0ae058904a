// Opening the update file on Windows (see update_file_open.h).
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
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

}  // namespace

// The path goes through the wide-character API: the narrow one reads the
// bytes in the ANSI code page, so a Cyrillic folder or user name would not be
// found.
std::FILE* OpenRegularFile(const std::string& path, int64_t& size) {
  errno = 0;
  std::FILE* f = base::OpenFile(path, "rb");
  if (!f) throw InOutErrorFromErrno(errno != 0 ? errno : EIO);
  try {
    size = CheckRegular(f);
  } catch (...) {
    std::fclose(f);
    throw;
  }
  return f;
}

}  // namespace kvr
