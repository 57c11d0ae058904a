// Opening the update file on Linux (see update_file_open.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "update_file.h"
#include "update_file_open.h"

namespace kvr {
namespace {

// Without waiting (a pipe would block the open); the caller checks what it
// got before reading, and reads then wait as usual.
std::FILE* OpenUtf8(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = fdopen(fd, "rb");
  if (!f) close(fd);
  return f;
}

// The refusal of what is not a regular file, naming what it is.
EInOutError NotRegular(mode_t mode) {
  const char* kind = S_ISCHR(mode)    ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                     : S_ISFIFO(mode) ? "a pipe"
                     : S_ISSOCK(mode) ? "a socket"
                                      : "not a plain file";
  return EInOutError(EINVAL, "I/O error " + std::to_string(EINVAL), std::string("not a regular file: ") + kind);
}

// Checked on what was opened, so a name swapped in between cannot slip past.
// Returns the file's size.
int64_t CheckRegular(std::FILE* f) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0) throw InOutErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) throw InOutErrorFromErrno(EISDIR);
  if (!S_ISREG(st.st_mode)) throw NotRegular(st.st_mode);
  return static_cast<int64_t>(st.st_size);
}

}  // namespace

std::FILE* OpenFileForReading(const std::string& path) {
  errno = 0;
  std::FILE* f = OpenUtf8(path);
  if (!f) {
    const int error = errno != 0 ? errno : EIO;
    // A socket cannot be opened at all ("No such device or address"): say what it is.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) throw NotRegular(st.st_mode);
    throw InOutErrorFromErrno(error);
  }
  return f;
}

int64_t RegularFileSize(std::FILE* f) { return CheckRegular(f); }

}  // namespace kvr
