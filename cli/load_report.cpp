#include "load_report.h"

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "port_table.h"
#include "program_arguments.h"

namespace kvr::cli {

namespace {

namespace fs = std::filesystem;
// Keys in the order written here, for people reading the report.
using json = nlohmann::ordered_json;

constexpr const char* kFormatKey = "kvr_loader_report";
constexpr int kFormatVersion = 1;
constexpr uintmax_t kMaxReportBytes = 64ull * 1024 * 1024;
constexpr int kMaxDepth = 64;  // a report nests five deep; copying deeper ones recurses without bound
constexpr const char* kTemporaryName = ".kvr-report.XXXXXX";  // short: the report's own name may use the whole limit

// How deep arrays and objects nest in a JSON text (strings skipped).
int NestingDepth(const std::string& text) {
  int depth = 0, deepest = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

// A path in UTF-8, for messages (the narrow form could throw on Windows).
std::string Shown(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The folder a file is in ("." for a bare name).
fs::path FolderOf(const fs::path& file) { return file.parent_path().empty() ? fs::path(".") : file.parent_path(); }

// The runs already in the report; false (with `why`) when the file is not one.
bool ReadRuns(const fs::path& target, json& runs, std::string& why) {
  runs = json::array();
  std::error_code ec;
  const fs::file_status st = fs::status(target, ec);
  if (ec || !fs::exists(st)) return true;  // a new report
  if (!fs::is_regular_file(st)) {
    why = "is not a plain file";
    return false;
  }
  const uintmax_t size = fs::file_size(target, ec);
  if (ec) {
    why = "cannot be read: " + ec.message();
    return false;
  }
  if (size == 0) return true;  // made empty beforehand: a new report
  if (size > kMaxReportBytes) {
    why = "is larger than 64 MiB";
    return false;
  }
  std::ifstream in(target, std::ios::binary);
  std::string text(static_cast<size_t>(size), '\0');
  if (!in || !in.read(text.data(), static_cast<std::streamsize>(size))) {
    why = std::string("cannot be read: ") + std::strerror(errno);
    return false;
  }
  const json doc = NestingDepth(text) > kMaxDepth ? json(nullptr) : json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || !doc.contains(kFormatKey) || !doc.contains("runs") ||
      !doc["runs"].is_array()) {
    why = "holds something other than a load report";
    return false;
  }
  runs = doc["runs"];
  return true;
}

json LoadEntry(const PortOutcome& o) {
  return {{"port", o.port},
          {"device", o.device},
          {"by_id", DeviceTextJson(o.identity.ById)},
          {"usb", UsbJson(o.identity)},
          {"started", IsoTime(o.started)},
          {"ended", IsoTime(o.ended)},
          {"commands", o.commands},
          {"page_retries", o.page_retries},
          {"result", o.result},
          {"exit_code", o.exit_code},
          {"message", o.message}};
}

// Holds the report's folder locked while a run is appended, so that two
// programs appending at once do not lose each other's run (POSIX; elsewhere
// nothing).
class FolderLock {
 public:
  explicit FolderLock(const fs::path& folder) {
#ifndef _WIN32
    // Waits for another program's append, but not without end: after 30 s
    // (something else holds the folder) the run is written anyway.
    fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int turn = 0; fd_ >= 0 && turn < 600 && flock(fd_, LOCK_EX | LOCK_NB) != 0; ++turn)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
#else
    (void)folder;
#endif
  }
  ~FolderLock() {
#ifndef _WIN32
    if (fd_ >= 0) close(fd_);  // releases the lock
#endif
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_ = -1;
};

// Writes `text` to a new file beside `target` and renames it over `target`;
// a probe only makes the new file and removes it again.
std::string ReplaceFile(const fs::path& target, const std::string& text, bool probe = false) {
  const fs::path folder = FolderOf(target);
#ifdef _WIN32
  const fs::path temporary = folder / (".kvr-report." + std::to_string(_getpid()) + ".tmp");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::error_code ec;
      fs::remove(temporary, ec);
      return "cannot write in " + Shown(folder);
    }
  }
#else
  std::string name = (folder / kTemporaryName).string();
  const int fd = mkstemp(name.data());
  if (fd < 0) return "cannot write in " + Shown(folder) + ": " + std::strerror(errno);
  const fs::path temporary = name;
  // The report keeps its permissions; a new one gets the usual ones (umask).
  struct stat st {};
  mode_t mode = 0;
  if (stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const int error = errno;
  const bool ok = written == text.size() && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  close(fd);
  if (!ok) {
    unlink(name.c_str());
    return "cannot write " + name + ": " + std::strerror(written == text.size() ? errno : error);
  }
#endif
  std::error_code ec;
  if (probe) {
    fs::remove(temporary, ec);
    return {};
  }
  fs::rename(temporary, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return "cannot replace " + Shown(target) + ": " + ec.message();
  }
  return {};
}

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

std::string CheckReport(const std::string& path, const std::string& image_path, const std::string& log_path) {
  const std::string report = "the report " + path + " ";
  const fs::path target = RealPath(path);  // a link to the report is followed, so the link stays
  std::error_code ec;
  if (fs::equivalent(target, Utf8Path(image_path), ec)) return report + "is the image file itself";
  if (!log_path.empty() && (RealPath(log_path) == target || fs::equivalent(target, Utf8Path(log_path), ec)))
    return report + "is the log as well";
  const fs::path folder = FolderOf(target);
  if (!fs::is_directory(folder, ec)) return report + "is in a folder that does not exist";
  json runs;
  std::string why;
  if (!ReadRuns(target, runs, why)) return report + why;
  // The run is written beside the report at the end: a folder that takes no
  // new file would lose the record of a whole load.
  if (const std::string failed = ReplaceFile(target, "", true); !failed.empty())
    return report + "cannot be written: " + failed;
  return {};
}

std::string AppendReport(const std::string& path, const RunRecord& run) {
  const fs::path target = RealPath(path);  // a link to the report is followed, so the link stays
  FolderLock lock(FolderOf(target));
  json runs;
  std::string why;
  if (!ReadRuns(target, runs, why)) return "the report " + path + " " + why + " (left as it was)";
  json loads = json::array();
  for (const PortOutcome& o : run.loads) loads.push_back(LoadEntry(o));
  runs.push_back({{"tool", "kvr-loader-cli " KVR_VERSION},
                  {"started", IsoTime(run.started)},
                  {"ended", IsoTime(run.ended)},
                  {"exit_code", run.exit_code},
                  {"image", {{"file", run.image.file}, {"size", run.image.size}, {"sha256", run.image.sha256}}},
                  {"loads", loads}});
  const json doc = {{kFormatKey, kFormatVersion}, {"runs", runs}};
  // Names from the system may hold bytes that are not UTF-8: replaced, not refused.
  return ReplaceFile(target, doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

}  // namespace kvr::cli
