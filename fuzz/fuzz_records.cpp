// Any file through the `records` reader, in each of its forms: record lines
// come out as whole records (each one re-serialises to itself), no input line
// counts both as a record and as skipped, the table and CSV hold no control
// character or broken UTF-8 from the file, every CSV row has its 14 fields,
// the JSON form is one array, and the exit code is 0 or 1.
//
// Input: a byte choosing the form (bits 0-1) and a result filter (bit 2),
// then the file's bytes.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include "fuzz_check.h"

#include "load_record.h"
#include "records_command.h"

namespace {

using json = nlohmann::ordered_json;
using kvr::cli::RecordsFormat;

// The fields of a CSV row (RFC 4180 quoting).
size_t CsvFields(const std::string& row) {
  size_t fields = 1;
  bool quoted = false;
  for (const char c : row) {
    if (c == '"') quoted = !quoted;
    else if (c == ',' && !quoted) ++fields;
  }
  Check(!quoted, "CSV quotes closed");
  return fields;
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto format = static_cast<RecordsFormat>(data[0] & 3);
  kvr::cli::RecordsFilter filter;
  if (data[0] & 4) filter.result = "complete";
  const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
  std::ostringstream out, err;
  const int code = kvr::cli::PrintRecords(FileHolding(file), filter, format, out, err);
  Check(code == 0 || code == 1, "exit code 0 or 1");
  const std::string text = out.str();

  size_t lines = 0;  // the file's lines that are not empty
  {
    std::istringstream in(file);
    std::string line;
    while (std::getline(in, line))
      if (!line.empty() && line != "\r") ++lines;
  }
  size_t skipped = 0;
  if (std::sscanf(err.str().c_str(), "records: %zu line", &skipped) != 1) skipped = 0;
  // An earlier report gives a record line per run, from one line or many.
  const bool earlier = file.find("kvr_loader_report") != std::string::npos;

  switch (format) {
    case RecordsFormat::kLines: {
      std::istringstream in(text);
      std::string line;
      size_t printed = 0;
      while (std::getline(in, line)) {
        ++printed;
        const json record = json::parse(line, nullptr, false);
        Check(!record.is_discarded() && record.is_object(), "a record line is a JSON object");
        Check(record.contains(kvr::kRecordKey) && record.contains("loads") && record["loads"].is_array() &&
                  !record["loads"].empty(),
              "a record line is a whole record with its loads");
        Check(record.dump() == line, "a record line re-serialises to itself");
        Check(Printable(line, ""), "a record line is valid UTF-8 without controls");
      }
      Check(earlier || printed + skipped <= lines, "no line both a record and skipped");
      break;
    }
    case RecordsFormat::kCsv: {
      Check(Printable(text, "\r\n"), "CSV without controls");
      size_t at = 0;
      while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        Check(end != std::string::npos, "each CSV row ends with CR LF");
        const std::string row = text.substr(at, end - at);
        Check(row.find_first_of("\r\n") == std::string::npos, "no line break inside a CSV row");
        Check(CsvFields(row) == 14, "every CSV row has 14 fields");
        at = end + 2;
      }
      break;
    }
    case RecordsFormat::kTable:
      Check(Printable(text, "\n"), "table without controls");
      break;
    case RecordsFormat::kJson: {
      const json all = json::parse(text, nullptr, false);
      Check(code != 0 || (!all.is_discarded() && all.is_array()), "the JSON form is one array");
      break;
    }
  }
  return 0;
}
