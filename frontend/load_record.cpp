#include "load_record.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "hex_text.h"
#include "load_record_file.h"
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

}  // namespace

std::string IsoTime(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(t);
  const auto day = floor<days>(ms);
  const year_month_day date(day);
  const hh_mm_ss<milliseconds> time(ms - day);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
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

namespace {

// Opens the record file as the append does; "" when it holds records or
// nothing, else why not.
std::string OpenAndLook(const fs::path& target) {
  // A folder is named as POSIX's open names it; Windows would only say that
  // access is denied.
  std::error_code ec;
  if (fs::is_directory(target, ec)) return "is not a plain file";
  base::Result<RecordFileHandle> file = RecordFileHandle::Open(target);
  if (!file) return file.error().text;
  if (file->Created()) RecordFileHandle::SyncFolder(target);
  return WhatItHolds(file->Read(0, kLookedAt));
}

// Appends `line` to the open file, whose lock this run holds.
base::Status AppendLocked(RecordFileHandle& file, const std::string& line) {
  if (const std::string holds = WhatItHolds(file.Read(0, kLookedAt)); !holds.empty()) return base::FileFailure(holds);
  const base::Result<int64_t> size = file.Size();
  if (!size) return base::FileFailure("cannot be read: " + size.error().text);
  // A last line cut short by a crash stays on its own line.
  const std::string last = *size > 0 ? file.Read(*size - 1, 1) : "";
  const bool cut_short = !last.empty() && last != "\n";
  // What this run wrote of its line goes again: the file keeps what it held.
  if (const base::Status written = file.WriteAt(*size, cut_short ? "\n" + line : line); !written)
    return base::FileFailure("could not take this run's record: " + written.error().text);
  if (const base::Status synced = file.Sync(); !synced)
    return base::FileFailure("could not be synced: " + synced.error().text);
  return {};
}

}  // namespace

base::Status AppendRecord(const std::string& path, const std::string& line,
                          const std::function<bool(const std::string& holder)>& keep_waiting) {
  const std::string named = "the record file " + path + " ";
  const fs::path target = RealPath(path);
  for (int turn = 0;; ++turn) {
    base::Result<RecordFileHandle> file = RecordFileHandle::Open(target);
    if (!file) return base::FileFailure(named + file.error().text);
    for (;;) {
      const base::Result<bool> locked = file->TryLock();
      if (!locked) return base::FileFailure(named + "cannot be locked: " + locked.error().text);
      if (*locked) break;
      if (!keep_waiting || !keep_waiting(file->Holder()))
        return base::Failure{base::FailureKind::kBusy,
                             named + "was still held by " + file->Holder() + " when the wait was ended"};
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Renamed away or removed while this run waited (the file was rotated):
    // the record goes into the file that has the name now.
    if (!file->StillNamed(target) && turn < 10) continue;
    if (file->Created()) RecordFileHandle::SyncFolder(target);
    const base::Status appended = AppendLocked(*file, line);
    if (!appended) return base::FileFailure(named + appended.error().text);
    return {};  // closing the file releases the lock
  }
}

base::Status CheckRecordFile(const std::string& path, const std::string& image_path, const std::string& log_path) {
  const auto refused = [&path](const std::string& why) {
    return base::FileFailure("the record file " + path + " " + why);
  };
  const fs::path target = RealPath(path);  // a link to the file is followed, so the link stays
  std::error_code ec;
  if (fs::equivalent(target, Utf8Path(image_path), ec)) return refused("is the image file itself");
  if (!log_path.empty() && (RealPath(log_path) == target || fs::equivalent(target, Utf8Path(log_path), ec)))
    return refused("is the log as well");
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  if (!fs::is_directory(folder, ec)) return refused("is in a folder that does not exist");
  if (const std::string why = OpenAndLook(target); !why.empty()) return refused(why);
  return {};
}

}  // namespace kvr
