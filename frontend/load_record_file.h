// What the record of loads needs of the system, a file per platform
// (load_record_posix.cpp, load_record_win32.cpp): the record file opened for
// reading and appending, its first bytes, the appenders' lock and who holds
// it, a write at its end that is synced or taken back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "result.h"

namespace kvr {

class RecordFileHandle {
 public:
  // Opens `path` for reading and appending; made when missing. A name that is
  // not a plain file is refused: "is not a plain file"; a system error:
  // "cannot be opened for writing: <the system's words>".
  static base::Result<RecordFileHandle> Open(const std::filesystem::path& path);

  RecordFileHandle(RecordFileHandle&& other) noexcept;
  RecordFileHandle& operator=(RecordFileHandle&&) = delete;
  ~RecordFileHandle();  // closes the file, which releases the lock

  bool Created() const { return created_; }

  // Up to `n` bytes from `offset`; fewer at the end, none when unreadable.
  std::string Read(int64_t offset, size_t n) const;

  // Takes the appenders' lock without waiting: true when taken, false while
  // another program holds it. A failure's text is the system's words.
  base::Result<bool> TryLock();

  // Who holds the lock: "kvr-loader-cli (process 1234)", or "another
  // program" where the system does not say.
  std::string Holder() const;

  // Whether `path` still names this file, not one made after it was renamed
  // away or removed.
  bool StillNamed(const std::filesystem::path& path) const;

  // After a file was made: its folder's entry survives a power cut.
  static void SyncFolder(const std::filesystem::path& file);

  // The file's size; a failure's text is the system's words.
  base::Result<int64_t> Size() const;

  // Writes all of `text` at `offset` (the end); a failure's text is the
  // system's words, and what was written of it is cut off again.
  base::Status WriteAt(int64_t offset, const std::string& text);

  // Writes the file through to the disk.
  base::Status Sync();

 private:
  RecordFileHandle(intptr_t handle, bool created) : handle_(handle), created_(created) {}

  intptr_t handle_ = -1;  // the descriptor, or the HANDLE
  bool created_ = false;
  bool locked_ = false;
};

}  // namespace kvr
