// The `records` command: the record file of loads read back, one row per
// port's load, as a table for people, a JSON array, CSV for a spreadsheet or
// record lines (which also turns a report of the earlier kind, one JSON
// document, into a record file). Lines that are not whole records (a write
// cut short by a crash) are skipped, counted and named on standard error.
#pragma once

#include <iosfwd>
#include <string>

namespace kvr::cli {

struct RecordsFilter {
  std::string port;    // the load's port as given, its device or its by-id name
  std::string serial;  // the USB adapter's serial number
  std::string result;  // "complete", "no answer", ...
  std::string since;   // loads started at or after this UTC time (see SinceTime)
};

enum class RecordsFormat { kTable, kJson, kCsv, kLines };

// `text` as a time --since takes: YYYY-MM-DD, optionally followed by T or a
// blank and HH:MM, :SS, .mmm and a Z (all UTC), in the records' own form
// (2026-12-01T00:00:00.000Z); false when it is none.
bool SinceTime(const std::string& text, std::string& normal);

// Prints the loads in `path` that pass `filter`; the exit code (0, or 1 when
// the file cannot be read or holds no records).
int PrintRecords(const std::string& path, const RecordsFilter& filter, RecordsFormat format, std::ostream& out,
                 std::ostream& err);

}  // namespace kvr::cli
