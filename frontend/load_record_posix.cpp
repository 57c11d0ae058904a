// The record file on POSIX systems: flock(2) is the appenders' lock, and
// /proc/locks says who holds it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "hex_text.h"
#include "load_record_file.h"

namespace kvr {

namespace fs = std::filesystem;

namespace {

std::string SystemText(int error) { return std::strerror(error); }

int Fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

base::Result<RecordFileHandle> RecordFileHandle::Open(const fs::path& path) {
  for (int turn = 0; turn < 10; ++turn) {
    bool created = false;
    // An existing file is opened without O_CREAT: in a sticky folder the
    // system refuses O_CREAT on another user's file even when it may be
    // written. O_NONBLOCK: a FIFO there does not block the opening.
    int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT) {
      fd = open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_CREAT | O_EXCL, 0666);
      if (fd < 0 && errno == EEXIST) continue;  // made by another program meanwhile
      created = fd >= 0;
    }
    if (fd < 0)
      return base::FileFailure(errno == EISDIR ? "is not a plain file"
                                               : "cannot be opened for writing: " + SystemText(errno));
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return base::FileFailure("is not a plain file");
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return RecordFileHandle(fd, created);
  }
  return base::FileFailure("cannot be opened: it keeps being made and removed");
}

RecordFileHandle::RecordFileHandle(RecordFileHandle&& other) noexcept
    : handle_(other.handle_), created_(other.created_), locked_(other.locked_) {
  other.handle_ = -1;
}

RecordFileHandle::~RecordFileHandle() {
  if (handle_ >= 0) close(Fd(handle_));
}

std::string RecordFileHandle::Read(int64_t offset, size_t n) const {
  std::string bytes(n, '\0');
  const ssize_t got = pread(Fd(handle_), bytes.data(), bytes.size(), offset);
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return bytes;
}

base::Result<bool> RecordFileHandle::TryLock() {
  while (flock(Fd(handle_), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return false;
    return base::FileFailure(SystemText(errno));
  }
  locked_ = true;
  return true;
}

std::string RecordFileHandle::Holder() const {
  struct stat st {};
  std::ifstream locks("/proc/locks");
  if (fstat(Fd(handle_), &st) != 0 || !locks) return "another program";
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  for (std::string line; std::getline(locks, line);) {
    char kind[16], type[16], mode[16], where[64];
    long pid = 0;
    if (line.find("->") != std::string::npos) continue;  // a waiter, not the holder
    if (std::sscanf(line.c_str(), "%*d: %15s %15s %15s %ld %63s", kind, type, mode, &pid, where) != 5) continue;
    if (std::strcmp(kind, "FLOCK") != 0 || std::strcmp(where, wanted) != 0 || pid <= 0) continue;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return (name.empty() ? std::string("a program") : WithoutControls(name)) + " (process " + std::to_string(pid) + ")";
  }
  return "another program";
}

bool RecordFileHandle::StillNamed(const fs::path& path) const {
  struct stat a {
  }, b{};
  return fstat(Fd(handle_), &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void RecordFileHandle::SyncFolder(const fs::path& file) {
  const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

base::Result<int64_t> RecordFileHandle::Size() const {
  struct stat st {};
  if (fstat(Fd(handle_), &st) != 0) return base::FileFailure(SystemText(errno));
  return static_cast<int64_t>(st.st_size);
}

base::Status RecordFileHandle::WriteAt(int64_t offset, const std::string& text) {
  // O_APPEND: every write goes to the end, which is `offset` under the lock.
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(Fd(handle_), text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n == 0 ? ENOSPC : errno;
      const int ignored = ftruncate(Fd(handle_), offset);
      (void)ignored;
      return base::FileFailure(SystemText(error));
    }
    written += static_cast<size_t>(n);
  }
  return {};
}

base::Status RecordFileHandle::Sync() {
  if (fsync(Fd(handle_)) != 0) return base::FileFailure(SystemText(errno));
  return {};
}

}  // namespace kvr
