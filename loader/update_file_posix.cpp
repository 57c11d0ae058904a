// The update file and the system, on Linux (see update_file_io.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "update_file.h"
#include "update_file_io.h"

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

namespace {

// The file a save replaces: a symbolic link's own file, or `path` when
// nothing is there yet. `mode` takes the permissions to keep (-1: none yet).
std::string SaveTarget(const std::string& path, int& mode) {
  mode = -1;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT && lstat(path.c_str(), &st) == 0) throw InOutErrorFromErrno(ENOENT);  // a dangling link
    if (errno != ENOENT) throw InOutErrorFromErrno(errno);
    return path;  // a new file (a missing folder fails at the write)
  }
  if (S_ISDIR(st.st_mode)) throw InOutErrorFromErrno(EISDIR);
  if (!S_ISREG(st.st_mode)) throw NotRegular(st.st_mode);
  // Read-only is refused even where permissions do not hold (root).
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0)
    throw EInOutError(5, "File access denied", "the file is read-only");
  mode = static_cast<int>(st.st_mode & 07777);
  char real[PATH_MAX];
  return realpath(path.c_str(), real) ? std::string(real) : path;
}

}  // namespace

void ReplaceFileWith(const std::string& path, std::string_view bytes) {
  int mode = -1;
  const std::string target = SaveTarget(path, mode);
  static std::atomic<unsigned> serial{0};
  std::string temp;
  int fd = -1;
  for (int tries = 0; fd < 0; ++tries) {
    temp = target + ".saving-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || tries > 100)) throw InOutErrorFromErrno(errno);
  }
  int error = 0;
  for (size_t done = 0; done < bytes.size() && error == 0;) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += static_cast<size_t>(n);
    else if (n == 0 || errno != EINTR)
      error = n == 0 ? EIO : errno;
  }
  if (error == 0 && mode >= 0 && fchmod(fd, static_cast<mode_t>(mode)) != 0) error = errno;
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error == 0) return;
  unlink(temp.c_str());
  throw InOutErrorFromErrno(error);
}

}  // namespace kvr
