// The record of loads: a file of JSON Lines, one self-contained object per run
// (which image went into which port and device, when, and how it ended).
// A run is appended with one write under an exclusive lock on the file itself
// and synced; earlier lines are never read back or rewritten, so an append
// costs the same in a file of ten records and in one of a million. A line cut
// short by a crash is left on its own line, and every reader skips it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "result.h"
#include "va_ports.h"

namespace kvr {

// The key every record starts with; its value is the record's version.
inline constexpr char kRecordKey[] = "kvr_loader_record";
inline constexpr int kRecordVersion = 1;

struct ImageRecord {
  std::string file;  // as given
  int64_t size = 0;
  std::string sha256;
  bool edited = false;  // changed in the window's grid after it was read (then not the file's bytes)
};

struct LoadRecord {
  std::string port;    // as given
  std::string device;  // the path opened
  va::TVaPortIdentity identity;
  std::chrono::system_clock::time_point started, ended;
  uint64_t commands = 0;
  int page_retries = 0;
  std::string result;  // "complete", "stopped", "no answer", "port lost", ...
  int exit_code = 0;
  std::string message;
};

struct RunRecord {
  std::string tool;  // "kvr-loader-cli 1.0.0"
  ImageRecord image;
  std::chrono::system_clock::time_point started, ended;
  int exit_code = 0;
  std::vector<LoadRecord> loads;
};

// UTC in ISO 8601 with milliseconds: 2026-12-08T12:34:56.789Z.
std::string IsoTime(std::chrono::system_clock::time_point t);

// The run as one line of JSON, ending in a newline. A name (image, port,
// device) that is not UTF-8 is written readable, each stray byte as \xHH,
// and exactly beside it under the same key with "_hex": its bytes in
// hexadecimal.
std::string RecordLine(const RunRecord& run);

// Whether the record file can take a run, checked before anything is sent:
// it is opened the way the append opens it (made when missing) and must be
// a plain file that holds records or nothing, not the image and not the log
// ("" for none). The failure says why not, naming the file.
base::Status CheckRecordFile(const std::string& path, const std::string& image_path, const std::string& log_path);

// Appends `line` to the record file under its lock. When another program
// holds the lock, `keep_waiting(holder)` is called at once and then every
// 100 ms with who holds it ("kvr-loader-cli (process 1234)"); false ends the
// wait (a failure of kind kBusy). A failed write leaves the file as it was;
// the failure says what failed, naming the file.
base::Status AppendRecord(const std::string& path, const std::string& line,
                          const std::function<bool(const std::string& holder)>& keep_waiting);

}  // namespace kvr
