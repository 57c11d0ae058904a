// The load report: a JSON file that records every run (which image went into
// which port and device, when, and how it ended). A run is appended to the
// runs already in the file; the file is replaced in one step (written beside
// it, then renamed over it), so an interrupted run never leaves half a report.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "port_load.h"

namespace kvr::cli {

struct ImageRecord {
  std::string file;  // as given
  int64_t size = 0;
  std::string sha256;
};

struct RunRecord {
  ImageRecord image;
  std::chrono::system_clock::time_point started, ended;
  int exit_code = 0;
  std::vector<PortOutcome> loads;
};

// UTC in ISO 8601 with milliseconds: 2026-12-08T12:34:56.789Z.
std::string IsoTime(std::chrono::system_clock::time_point t);

// Whether the report can take a run, checked before anything is sent: a new
// file in an existing folder that takes new files, an empty file, or an
// earlier report of this tool; not a folder, not the image, not the log ("" for
// none). "" when it can, otherwise why not.
std::string CheckReport(const std::string& path, const std::string& image_path, const std::string& log_path);

// Appends the run to the report; "" when written, otherwise what failed (the
// earlier report is then left as it was).
std::string AppendReport(const std::string& path, const RunRecord& run);

}  // namespace kvr::cli
