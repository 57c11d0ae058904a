#include "load_record.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "hex_text.h"
#include "port_json.h"
#include "program_arguments.h"

namespace kvr {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;  // keys in the order written, for people reading a record

// How every record line starts; a file that starts otherwise holds something else.
const std::string kRecordStart = std::string("{\"") + kRecordKey + "\":";
constexpr size_t kLookedAt = 4096;  // bytes read of an existing file to tell what it holds

// A name under `key`; one that is not UTF-8 readable there and exact under key_hex.
void PutName(json& object, const std::string& key, const std::string& name) {
  if (IsUtf8(name)) {
    object[key] = name;
    return;
  }
  object[key] = WithoutControls(name);
  object[key + "_hex"] = HexLower(name);
}

json LoadJson(const LoadRecord& load) {
  json entry = json::object();
  PutName(entry, "port", load.port);
  PutName(entry, "device", load.device);
  entry["by_id"] = DeviceTextJson(load.identity.ById);
  entry["usb"] = UsbJson(load.identity);
  entry["started"] = IsoTime(load.started);
  entry["ended"] = IsoTime(load.ended);
  entry["commands"] = load.commands;
  entry["page_retries"] = load.page_retries;
  entry["result"] = load.result;
  entry["exit_code"] = load.exit_code;
  entry["message"] = load.message;
  return entry;
}

// What the first bytes of an existing record file say about it: "" when it
// holds records (or only the start of a first one cut short), else why not.
std::string WhatItHolds(const std::string& head) {
  if (head.empty() || head.compare(0, kRecordStart.size(), kRecordStart) == 0) return {};
  if (head.size() < kRecordStart.size() && kRecordStart.compare(0, head.size(), head) == 0) return {};
  if (head.find("\"kvr_loader_report\"") != std::string::npos)
    return "is a report of the earlier kind (one JSON document); records are now lines of their own: give a new "
           "file (kvr-loader-cli records reads the earlier report)";
  return "holds something other than load records";
}

#ifndef _WIN32

std::string SystemText(int error) { return std::strerror(error); }

// Who holds the flock on the file (from /proc/locks), "another program" when
// the system does not say.
std::string LockHolder(int fd) {
  struct stat st {};
  std::ifstream locks("/proc/locks");
  if (fstat(fd, &st) != 0 || !locks) return "another program";
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

// The record file opened for reading and appending, made when missing;
// -1 with `why` when it cannot be. A name that is not a plain file is
// refused (a FIFO does not block the opening).
int OpenRecordFile(const fs::path& path, bool& created, std::string& why) {
  created = false;
  for (int turn = 0; turn < 10; ++turn) {
    // An existing file is opened without O_CREAT: in a sticky folder the
    // system refuses O_CREAT on another user's file even when it may be written.
    int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT) {
      fd = open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_CREAT | O_EXCL, 0666);
      if (fd < 0 && errno == EEXIST) continue;  // made by another program meanwhile
      created = fd >= 0;
    }
    if (fd < 0) {
      why = errno == EISDIR ? "is not a plain file" : "cannot be opened for writing: " + SystemText(errno);
      return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      why = "is not a plain file";
      return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
  }
  why = "cannot be opened: it keeps being made and removed";
  return -1;
}

// The folder's entry of a file just made survives a power cut.
void SyncFolder(const fs::path& file) {
  const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool SameFile(int fd, const fs::path& path) {
  struct stat a {
  }, b{};
  return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Writes all of `text` at the end; false with errno set when it could not.
bool WriteAll(int fd, const std::string& text) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    written += static_cast<size_t>(n);
  }
  return true;
}

std::string Head(int fd) {
  std::string head(kLookedAt, '\0');
  const ssize_t n = pread(fd, head.data(), head.size(), 0);
  head.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return head;
}

#endif

}  // namespace

std::string IsoTime(std::chrono::system_clock::time_point t) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

std::string RecordLine(const RunRecord& run) {
  json image = json::object();
  PutName(image, "file", run.image.file);
  image["size"] = run.image.size;
  image["sha256"] = run.image.sha256;
  if (run.image.edited) image["edited"] = true;
  json loads = json::array();
  for (const LoadRecord& load : run.loads) loads.push_back(LoadJson(load));
  const json record = {{kRecordKey, kRecordVersion},
                       {"tool", run.tool},
                       {"started", IsoTime(run.started)},
                       {"ended", IsoTime(run.ended)},
                       {"exit_code", run.exit_code},
                       {"image", image},
                       {"loads", loads}};
  // One line: dump without indentation escapes every newline inside strings.
  return record.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

#ifndef _WIN32

namespace {

// Opens the record file as the append does; "" when it holds records or nothing.
std::string OpenAndLook(const fs::path& target) {
  bool created = false;
  std::string why;
  const int fd = OpenRecordFile(target, created, why);
  if (fd < 0) return why;
  if (created) SyncFolder(target);
  why = WhatItHolds(Head(fd));
  close(fd);
  return why;
}

}  // namespace

AppendResult AppendRecord(const std::string& path, const std::string& line,
                          const std::function<bool(const std::string& holder)>& keep_waiting) {
  AppendResult r;
  const std::string named = "the record file " + path + " ";
  const fs::path target = RealPath(path);
  for (int turn = 0;; ++turn) {
    bool created = false;
    const int fd = OpenRecordFile(target, created, r.why);
    if (fd < 0) {
      r.why = named + r.why;
      return r;
    }
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {
        r.why = named + "cannot be locked: " + SystemText(errno);
        close(fd);
        return r;
      }
      if (!keep_waiting || !keep_waiting(LockHolder(fd))) {
        r.gave_up = true;
        r.why = named + "was still held by " + LockHolder(fd) + " when the wait was ended";
        close(fd);
        return r;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Renamed away or removed while this run waited (the file was rotated):
    // the record goes into the file that has the name now.
    if (!SameFile(fd, target) && turn < 10) {
      close(fd);
      continue;
    }
    if (created) SyncFolder(target);
    if (const std::string holds = WhatItHolds(Head(fd)); !holds.empty()) {
      r.why = named + holds;
      close(fd);
      return r;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
      r.why = named + "cannot be read: " + SystemText(errno);
      close(fd);
      return r;
    }
    // A last line cut short by a crash stays on its own line.
    char last = '\n';
    if (st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) != 1) last = '\n';
    const std::string text = last == '\n' ? line : "\n" + line;
    const bool ok = WriteAll(fd, text);
    const int error = errno;
    if (!ok) {
      // What this run wrote of its line goes again: the file keeps what it held.
      const int ignored = ftruncate(fd, st.st_size);
      (void)ignored;
      r.why = named + "could not take this run's record: " + SystemText(error);
    } else if (fsync(fd) != 0) {
      r.why = named + "could not be synced: " + SystemText(errno);
    } else {
      r.written = true;
    }
    close(fd);  // releases the lock
    return r;
  }
}

#else

namespace {

// The wide form of a name given in UTF-8.
std::wstring Wide(const fs::path& path) { return path.wstring(); }

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

HANDLE OpenRecordFile(const fs::path& path, bool& created, std::string& why) {
  created = false;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    created = h != INVALID_HANDLE_VALUE;
  }
  if (h == INVALID_HANDLE_VALUE) {
    why = "cannot be opened for writing: " + WindowsText(GetLastError());
    return h;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    why = "is not a plain file";
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

std::string Head(HANDLE h) {
  std::string head(kLookedAt, '\0');
  OVERLAPPED at{};
  DWORD n = 0;
  if (!ReadFile(h, head.data(), static_cast<DWORD>(head.size()), &n, &at)) n = 0;
  head.resize(n);
  return head;
}

// Appenders lock one byte far beyond any data: Windows locks are mandatory,
// and a lock on the data would keep readers out.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

// Opens the record file as the append does; "" when it holds records or nothing.
std::string OpenAndLook(const fs::path& target) {
  std::error_code ec;
  if (fs::is_directory(target, ec)) return "is not a plain file";
  bool created = false;
  std::string why;
  HANDLE h = OpenRecordFile(target, created, why);
  if (h == INVALID_HANDLE_VALUE) return why;
  why = WhatItHolds(Head(h));
  CloseHandle(h);
  return why;
}

}  // namespace

AppendResult AppendRecord(const std::string& path, const std::string& line,
                          const std::function<bool(const std::string& holder)>& keep_waiting) {
  AppendResult r;
  const std::string named = "the record file " + path + " ";
  bool created = false;
  HANDLE h = OpenRecordFile(RealPath(path), created, r.why);
  if (h == INVALID_HANDLE_VALUE) {
    r.why = named + r.why;
    return r;
  }
  OVERLAPPED lock_at{};
  lock_at.OffsetHigh = kLockOffsetHigh;
  while (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &lock_at)) {
    if (GetLastError() != ERROR_LOCK_VIOLATION) {
      r.why = named + "cannot be locked: " + WindowsText(GetLastError());
      CloseHandle(h);
      return r;
    }
    if (!keep_waiting || !keep_waiting("another program")) {
      r.gave_up = true;
      r.why = named + "was still held by another program when the wait was ended";
      CloseHandle(h);
      return r;
    }
    Sleep(100);
  }
  LARGE_INTEGER size{};
  std::string text = line;
  if (const std::string holds = WhatItHolds(Head(h)); !holds.empty()) {
    r.why = named + holds;
  } else if (!GetFileSizeEx(h, &size)) {
    r.why = named + "cannot be read: " + WindowsText(GetLastError());
  } else {
    char last = '\n';
    DWORD n = 0;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    if (size.QuadPart > 0 && (!ReadFile(h, &last, 1, &n, &at) || n != 1)) last = '\n';
    if (last != '\n') text = "\n" + line;
    DWORD written = 0;
    OVERLAPPED end_at{};
    end_at.Offset = static_cast<DWORD>(size.QuadPart);
    end_at.OffsetHigh = static_cast<DWORD>(size.QuadPart >> 32);
    if (!WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, &end_at) || written != text.size()) {
      const DWORD error = GetLastError();
      // What this run wrote of its line goes again: the file keeps what it held.
      FILE_END_OF_FILE_INFO end{};
      end.EndOfFile = size;
      SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end);
      r.why = named + "could not take this run's record: " + WindowsText(error);
    } else if (!FlushFileBuffers(h)) {
      r.why = named + "could not be synced: " + WindowsText(GetLastError());
    } else {
      r.written = true;
    }
  }
  UnlockFileEx(h, 0, 1, 0, &lock_at);
  CloseHandle(h);
  return r;
}

#endif

std::string CheckRecordFile(const std::string& path, const std::string& image_path, const std::string& log_path) {
  const std::string named = "the record file " + path + " ";
  const fs::path target = RealPath(path);  // a link to the file is followed, so the link stays
  std::error_code ec;
  if (fs::equivalent(target, Utf8Path(image_path), ec)) return named + "is the image file itself";
  if (!log_path.empty() && (RealPath(log_path) == target || fs::equivalent(target, Utf8Path(log_path), ec)))
    return named + "is the log as well";
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  if (!fs::is_directory(folder, ec)) return named + "is in a folder that does not exist";
  const std::string why = OpenAndLook(target);
  return why.empty() ? "" : named + why;
}

}  // namespace kvr
