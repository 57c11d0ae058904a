#include "records_command.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <vector>

#include "hex_text.h"
#include "load_record.h"
#include "program_arguments.h"

namespace kvr::cli {

namespace {

using json = nlohmann::ordered_json;

constexpr size_t kMaxLine = 16u << 20;             // a record of 64 ports is about 60 KiB
constexpr size_t kMaxEarlierReport = 64ull << 20;  // the earlier kind was never written larger
constexpr size_t kNamedSkips = 20;                 // line numbers named; the rest counted
constexpr int kMaxDepth = 64;  // a record nests four deep; copying or printing a deeper one recurses without bound

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

// A JSON text parsed; discarded when it is not JSON or nests too deep.
json Parse(const std::string& text) {
  return NestingDepth(text) > kMaxDepth ? json(json::value_t::discarded) : json::parse(text, nullptr, false);
}

std::string Text(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return "";
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string At(const json& object, const char* key) {
  return object.is_object() && object.contains(key) ? Text(object[key]) : "";
}

// A member, or null when there is none. (A record's operator[] would add the
// member, moving the others, while its loads are being gone through.)
const json& Member(const json& object, const char* key) {
  static const json none;
  if (!object.is_object()) return none;
  const auto it = object.find(key);
  return it == object.end() ? none : *it;
}

std::string Serial(const json& load) {
  return load.contains("usb") && load["usb"].is_object() ? At(load["usb"], "serial_number") : "";
}

bool Passes(const json& load, const RecordsFilter& f) {
  if (!load.is_object()) return false;
  if (!f.port.empty() && At(load, "port") != f.port && At(load, "device") != f.port && At(load, "by_id") != f.port)
    return false;
  if (!f.serial.empty() && Serial(load) != f.serial) return false;
  if (!f.result.empty() && At(load, "result") != f.result) return false;
  return f.since.empty() || At(load, "started") >= f.since;
}

// A CSV field (RFC 4180), controls escaped; one that a spreadsheet would take
// for a formula starts with an apostrophe.
std::string CsvField(const std::string& field) {
  std::string text = WithoutControls(field);
  if (!text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos) text = "'" + text;
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text + "  " : text + std::string(width - text.size() + 2, ' ');
}

constexpr const char* kCsvHeader =
    "started,ended,port,device,serial_number,result,exit_code,commands,page_retries,image_file,"
    "image_size,image_sha256,tool,message\r\n";

// Writes the records in the chosen form as they are read.
class Printer {
 public:
  Printer(RecordsFormat format, const RecordsFilter& filter, std::ostream& out)
      : format_(format), filter_(filter), out_(out) {}

  void Record(json record) {
    json& loads = record["loads"];
    json kept = json::array();
    for (const json& load : loads)
      if (Passes(load, filter_)) kept.push_back(load);
    if (kept.empty()) return;
    loads = kept;
    switch (format_) {
      case RecordsFormat::kJson:
        out_ << (printed_ == 0 ? "[\n" : ",\n") << record.dump(2, ' ', false, json::error_handler_t::replace);
        break;
      case RecordsFormat::kLines:
        out_ << record.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
        break;
      case RecordsFormat::kCsv:
        if (printed_ == 0) out_ << kCsvHeader;
        for (const json& load : loads) {
          const json& image = Member(record, "image");
          out_ << CsvField(At(load, "started")) << ',' << CsvField(At(load, "ended")) << ','
               << CsvField(At(load, "port")) << ',' << CsvField(At(load, "device")) << ',' << CsvField(Serial(load))
               << ',' << CsvField(At(load, "result")) << ',' << CsvField(At(load, "exit_code")) << ','
               << CsvField(At(load, "commands")) << ',' << CsvField(At(load, "page_retries")) << ','
               << CsvField(At(image, "file")) << ',' << CsvField(At(image, "size")) << ','
               << CsvField(At(image, "sha256")) << ',' << CsvField(At(record, "tool")) << ','
               << CsvField(At(load, "message")) << "\r\n";
        }
        break;
      case RecordsFormat::kTable:
        if (printed_ == 0)
          out_ << Padded("STARTED", 24) << Padded("PORT", 14) << Padded("SERIAL", 12) << Padded("RESULT", 14)
               << Padded("IMAGE SHA-256", 64) << "MESSAGE\n";
        for (const json& load : loads) {
          const auto cell = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
          out_ << Padded(WithoutControls(At(load, "started")), 24)
               << Padded(cell(WithoutControls(At(load, "port"))), 14) << Padded(cell(WithoutControls(Serial(load))), 12)
               << Padded(cell(WithoutControls(At(load, "result"))), 14)
               << Padded(cell(WithoutControls(At(Member(record, "image"), "sha256"))), 64)
               << WithoutControls(At(load, "message")) << "\n";
        }
        break;
    }
    ++printed_;
  }

  void Finish() {
    if (format_ == RecordsFormat::kJson) out_ << (printed_ == 0 ? "[]\n" : "\n]\n");
    if (format_ == RecordsFormat::kCsv && printed_ == 0) out_ << kCsvHeader;  // a spreadsheet's columns, no rows
    out_.flush();
  }

 private:
  RecordsFormat format_;
  const RecordsFilter& filter_;
  std::ostream& out_;
  size_t printed_ = 0;
};

bool IsRecord(const json& value) {
  return value.is_object() && value.contains(kRecordKey) && value.contains("loads") && value["loads"].is_array();
}

// A report of the earlier kind: one document {"kvr_loader_report": 1, "runs": [...]}.
bool IsEarlierReport(const json& doc) {
  return doc.is_object() && doc.contains("kvr_loader_report") && doc.contains("runs") && doc["runs"].is_array();
}

// Its runs as records.
void PrintEarlierReport(json& doc, Printer& printer) {
  for (json& run : doc["runs"]) {
    if (!run.is_object() || !run.contains("loads") || !run["loads"].is_array()) continue;
    json record = {{kRecordKey, kRecordVersion}};
    record.update(run);
    printer.Record(std::move(record));
  }
}

// An earlier report laid out over many lines, read whole.
bool ReadEarlierReport(std::ifstream& in, Printer& printer) {
  in.clear();
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size <= 0 || static_cast<uint64_t>(size) > kMaxEarlierReport) return false;
  in.seekg(0);
  std::string text(static_cast<size_t>(size), '\0');
  if (!in.read(text.data(), size)) return false;
  json doc = Parse(text);
  if (!IsEarlierReport(doc)) return false;
  PrintEarlierReport(doc, printer);
  return true;
}

}  // namespace

bool SinceTime(const std::string& text, std::string& normal) {
  // YYYY-MM-DD, then HH:MM, SS and mmm: each part's digits, and where it goes in the full form.
  std::string full = "0000-00-00T00:00:00.000Z";
  size_t i = 0;
  const auto digits = [&](size_t count, size_t into, int low, int high) {
    int value = 0;
    for (size_t k = 0; k < count; ++k, ++i) {
      if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
      value = value * 10 + (text[i] - '0');
      full[into + k] = text[i];
    }
    return value >= low && value <= high;
  };
  const auto mark = [&](char c) { return i < text.size() && text[i] == c && (++i, true); };
  if (!digits(4, 0, 1970, 9999) || !mark('-') || !digits(2, 5, 1, 12) || !mark('-') || !digits(2, 8, 1, 31))
    return false;
  if (i < text.size() && (text[i] == 'T' || text[i] == ' ')) {
    ++i;
    if (!digits(2, 11, 0, 23) || !mark(':') || !digits(2, 14, 0, 59)) return false;
    if (mark(':')) {
      if (!digits(2, 17, 0, 59)) return false;
      if (mark('.') && !digits(3, 20, 0, 999)) return false;
    }
  }
  mark('Z');
  if (i != text.size()) return false;
  normal = full;
  return true;
}

int PrintRecords(const std::string& path, const RecordsFilter& filter, RecordsFormat format, std::ostream& out,
                 std::ostream& err) {
  // Only a plain file: opening a FIFO would wait for a writer without end.
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(Utf8Path(path), ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    err << "error: the record file " << WithoutControls(path) << " is not a plain file\n";
    return 1;
  }
  errno = 0;
  std::ifstream in(Utf8Path(path), std::ios::binary);
  if (!in) {
    const std::string why = ec ? ec.message() : errno ? std::strerror(errno) : "refused";
    err << "error: the record file " << WithoutControls(path) << " cannot be read: " << why << "\n";
    return 1;
  }
  Printer printer(format, filter, out);
  // The earlier kind of report starts with a brace on a line of its own.
  char head[3] = {};
  in.read(head, sizeof head);
  const std::string start(head, static_cast<size_t>(in.gcount()));
  if (start.rfind("{\n", 0) == 0 || start == "{\r\n") {
    if (!ReadEarlierReport(in, printer)) {
      err << "error: " << WithoutControls(path) << " holds neither load records nor an earlier report\n";
      return 1;
    }
    printer.Finish();
    return 0;
  }
  in.clear();
  in.seekg(0);

  size_t number = 0, records = 0;
  std::vector<size_t> skipped;
  size_t skipped_count = 0;
  const auto skip = [&](size_t line) {
    if (skipped.size() < kNamedSkips) skipped.push_back(line);
    ++skipped_count;
  };
  std::string line;
  bool too_long = false;
  const auto take = [&] {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (too_long) {
      skip(number);
    } else if (!line.empty()) {
      json value = Parse(line);
      if (IsRecord(value)) {
        ++records;
        printer.Record(std::move(value));
      } else if (IsEarlierReport(value)) {  // an earlier report written on one line
        ++records;
        PrintEarlierReport(value, printer);
      } else {
        skip(number);
      }
    }
    line.clear();
    too_long = false;
  };
  std::vector<char> buffer(1 << 16);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    const size_t got = static_cast<size_t>(in.gcount());
    for (size_t k = 0; k < got; ++k) {
      if (buffer[k] == '\n') {
        take();
      } else if (!too_long) {
        if (line.size() < kMaxLine)
          line += buffer[k];
        else
          too_long = true, line.clear();
      }
    }
  }
  if (!line.empty() || too_long) take();  // the last line, without its newline (cut short)
  printer.Finish();
  // Nothing of a record file in it (an update file, notes): said once, not
  // as a cut-short write on every line.
  if (records == 0 && skipped_count > 0 && start.rfind("{\"", 0) != 0) {
    err << "error: " << WithoutControls(path) << " holds no load records\n";
    return 1;
  }
  if (skipped_count > 0) {
    err << "records: " << skipped_count << (skipped_count == 1 ? " line" : " lines")
        << " skipped, not a whole record (a write cut short): line";
    if (skipped_count > 1) err << "s";
    for (size_t k = 0; k < skipped.size(); ++k) err << (k == 0 ? " " : ", ") << skipped[k];
    if (skipped_count > skipped.size()) err << ", ...";
    err << "\n";
  }
  return 0;
}

}  // namespace kvr::cli
