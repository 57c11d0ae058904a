// kvr-loader-cli: the loader for scripts and production lines, on the same
// core and serial component as the window, with reply time-outs, page
// retries, a progress line and exit codes; several ports at once (a gang
// load) with a combined view, a record of every load (JSON Lines) and the
// `records` command that reads it back.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "boot_loader_device.h"
#include "gang_load.h"
#include "hex_text.h"
#include "image_geometry.h"
#include "load_record.h"
#include "port_list.h"
#include "port_load.h"
#include "port_table.h"
#include "program_arguments.h"
#include "records_command.h"
#include "sha256.h"
#include "tool_options.h"
#include "update_file.h"
#include "update_file_maker.h"
#include "va_ports.h"

namespace {

using namespace kvr;
using namespace kvr::cli;

const char* kExitCodes =
    "Exit codes: 0 load complete; 1 usage or file error; 2 the port could not be opened or configured;\n"
    "3 the device stopped answering (retries used up); 4 the port was lost during the load;\n"
    "5 load complete, but the log or the record could not be written in full; 6 (--simulate) the load ran\n"
    "to its end, but the simulated device's image differs from the file; 130 interrupted (Ctrl-C, SIGTERM,\n"
    "SIGHUP, SIGPIPE), after closing the port. Several ports: 0 only when every load completed, otherwise\n"
    "the highest code among the others.";

// The image read once for every load; a wrong size is noted, and told in
// the command line's own words once the file is read.
class ImageReading final : public UpdateFileUi {
 public:
  void ClearLogs() override {}
  void WarnWrongSize() override { wrong_size = true; }
  void SetStatus(const std::string&) override {}
  bool wrong_size = false;
};

// What makes a file of the wrong size differ from a standard one (36864
// lines of 32 hex digits, each ended by CR LF, one more CR LF), and whether
// the image itself is whole all the same.
std::string WrongSizeWarning(const std::string& path, const std::string& text, int64_t size, bool whole) {
  std::string says = "warning: " + path + " is " + std::to_string(size) + " bytes, not the " +
                     std::to_string(ExpectedFileSize) + " of a standard update file";
  if (text.empty()) return says;  // not read
  size_t crlf = 0, lf = 0, cr = 0, lines = 0, long_lines = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t begin = at;
    const std::string_view line = NextLine(text, at);
    if (!line.empty()) ++lines;
    if (line.size() > 2 * LineBytes) ++long_lines;
    const size_t end = begin + line.size();
    if (end < text.size()) {
      if (text[end] == '\n') ++lf;
      else if (end + 1 < text.size() && text[end + 1] == '\n') ++crlf;
      else ++cr;
    }
  }
  std::vector<std::string> differs;
  if (crlf == 0 && lf > 0 && cr == 0) differs.push_back("its lines end in LF alone, not CR LF");
  if (crlf == 0 && cr > 0 && lf == 0) differs.push_back("its lines end in CR alone, not CR LF");
  if ((crlf > 0) + (lf > 0) + (cr > 0) > 1)
    differs.push_back("its line ends are mixed (" + std::to_string(crlf) + " CR LF, " + std::to_string(lf) + " LF, " +
                      std::to_string(cr) + " CR)");
  if (lines != static_cast<size_t>(ImageLines))
    differs.push_back("it holds " + std::to_string(lines) + " lines, not " + std::to_string(ImageLines) +
                      (lines > static_cast<size_t>(ImageLines) ? " (those after that are not loaded)" : ""));
  if (long_lines > 0)
    differs.push_back(std::to_string(long_lines) + (long_lines == 1 ? " line is" : " lines are") +
                      " longer than 32 characters (the rest is not loaded)");
  if (differs.empty()) differs.push_back("its lines are as they should be; the difference is at its end");
  says += ": ";
  for (size_t k = 0; k < differs.size(); ++k) says += (k == 0 ? "" : "; ") + differs[k];
  return says + (whole ? "; the image itself is whole (36864 lines of 32 hex digits) and is loaded"
                       : "; the image is not whole");
}

int FileError(const std::string& what) {
  std::cerr << "error: " << WithoutControls(what) << "\n";
  return kUsageOrFile;
}

// --simulate-faults: split=N,noise=RATE,drop=RATE,repeat=RATE,hangup=FRAMES,
// seed=N,noiseat=REPLY:BYTES,line=BAUD. The failure says what is wrong.
base::Status ParseFaults(const std::string& list, sim::DeviceOptions& f) {
  const auto whole = [](const std::string& text, uint64_t hi, uint64_t& v) {
    return WholeIn<uint64_t>(text, 0, hi, v);
  };
  const auto rate = [](const std::string& text, double& v) {
    v = DecimalValue(text);
    return std::isfinite(v) && v >= 0 && v <= 1;
  };
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ',')) {
    const size_t eq = item.find('=');
    const std::string k = item.substr(0, eq), v = eq == std::string::npos ? "" : item.substr(eq + 1);
    const auto bad = [&item](const std::string& wants) {
      return base::UsageFailure("--simulate-faults: \"" + item + "\" " + wants);
    };
    uint64_t n = 0;
    if (k == "split") {
      if (!whole(v, 1024, n) || n < 1) return bad("wants split=N with N from 1 to 1024");
      f.pieces = static_cast<int>(n);
    } else if (k == "noise" || k == "drop" || k == "repeat") {
      double r = 0;
      if (!rate(v, r)) return bad("wants " + k + "=RATE with RATE from 0 to 1");
      (k == "noise" ? f.noise_rate : k == "drop" ? f.drop_rate : f.repeat_rate) = r;
    } else if (k == "hangup") {
      if (!whole(v, UINT64_MAX, n)) return bad("wants hangup=FRAMES, a whole number");
      f.hangup_after = n;
    } else if (k == "line") {  // a real line's timing at that rate
      if (!whole(v, 4000000, n) || n < 50) return bad("wants line=BAUD with BAUD from 50 to 4000000");
      f.line_baud = static_cast<uint32_t>(n);
    } else if (k == "seed") {
      if (!whole(v, UINT32_MAX, n)) return bad("wants seed=N with N from 0 to 4294967295");
      f.seed = static_cast<uint32_t>(n);
    } else if (k == "noiseat") {  // that many noise bytes before one reply
      const size_t colon = v.find(':');
      uint64_t bytes = 0;
      if (colon == std::string::npos || !whole(v.substr(0, colon), UINT64_MAX, n) ||
          !whole(v.substr(colon + 1), 1000000, bytes))
        return bad("wants noiseat=REPLY:BYTES with BYTES from 0 to 1000000");
      f.faults.push_back({sim::DeviceFault::Kind::kNoise, n, std::string(bytes, '~')});
    } else {
      return bad("is not one of split, noise, drop, repeat, hangup, seed, noiseat, line");
    }
  }
  return {};
}

int Usage(const std::string& problem) {
  ReportRefusal("kvr-loader-cli", problem);
  return kUsageOrFile;
}

// A failure said on standard error in the command line's words; its exit code.
int Refused(const base::Failure& failure) {
  switch (failure.kind) {
    case base::FailureKind::kUsage:
      return Usage(failure.text);
    case base::FailureKind::kInterrupted:
    case base::FailureKind::kBusy:
      std::cerr << "error: " << WithoutControls(failure.text) << "\n";
      return FactsOf(LoadOutcome::kInterrupted).exit_code;
    case base::FailureKind::kFile:
      break;
  }
  return FileError(failure.text);
}

// The jobs of a load: the ports named, or the simulated devices with their
// faults ("LIST" for every device, "D:LIST" for device D).
base::Result<std::vector<PortJob>> MakeJobs(const std::vector<std::string>& ports, bool simulate, int devices,
                                            const std::vector<std::string>& faults) {
  std::vector<PortJob> jobs;
  if (!simulate) {
    std::set<std::filesystem::path> seen;
    for (const std::string& port : ports) {
      if (port.empty()) return base::UsageFailure("--port needs a device path, not an empty text");
      // The same device by two names (a link, "..") is the same port.
      if (!seen.insert(RealPath(va::DevicePathFor(port))).second)
        return base::UsageFailure("the port " + port + " is named twice");
      jobs.push_back({port, false, {}});
    }
    if (jobs.size() > static_cast<size_t>(kMaxPorts))
      return base::UsageFailure("at most " + std::to_string(kMaxPorts) + " ports at once");
    return jobs;
  }
  for (int i = 1; i <= devices; ++i) jobs.push_back({devices == 1 ? "" : "sim" + std::to_string(i), true, {}});
  for (const std::string& item : faults) {
    std::string list = item;
    int device = 0;  // every device
    if (const size_t colon = list.find(':'); colon != std::string::npos && colon > 0 &&
                                             std::all_of(list.begin(), list.begin() + static_cast<long>(colon),
                                                         [](char c) { return c >= '0' && c <= '9'; })) {
      if (!WholeIn(std::string_view(list).substr(0, colon), 1, devices, device))
        return base::UsageFailure("--simulate-faults: \"" + item + "\" names a device from 1 to " +
                                  std::to_string(devices));
      list = list.substr(colon + 1);
    }
    for (int i = 1; i <= devices; ++i) {
      if (device != 0 && device != i) continue;
      if (const base::Status parsed = ParseFaults(list, jobs[static_cast<size_t>(i - 1)].faults); !parsed)
        return parsed.error();
    }
  }
  return jobs;
}

// Reads the image once for every load and checks it; nothing is opened or
// sent for an image that cannot be right; `digest` (when given) takes the bytes
// read. The failure is the file's, or an interrupt.
base::Status ReadImage(const std::string& path, PageTable& table, UpdateFileState& file, Sha256* digest) {
  ImageReading ui;
  std::string text;
  try {
    if (!OpenUpdateFile(path, table, file, ui, digest, &text))
      return base::FileFailure(path + ": not an update file (extension .KVR expected)");
  } catch (const EInOutError& e) {
    return base::FileFailure(path + ": " + e.Reason());
  } catch (const std::exception& e) {
    return base::FileFailure(path + ": " + e.what());
  }
  if (Interrupted())
    return base::Failure{base::FailureKind::kInterrupted, "interrupted while reading the file; nothing was sent"};
  const ImageProblem problem = file.Opened ? CheckImage(table, file) : ImageProblem{};
  if (ui.wrong_size) {
    std::error_code ec;
    const auto size = file.Opened ? static_cast<int64_t>(text.size())
                                  : static_cast<int64_t>(std::filesystem::file_size(Utf8Path(path), ec));
    std::cerr << WithoutControls(WrongSizeWarning(path, text, size, file.Opened && !problem)) << "\n";
  }
  if (!file.Opened) return base::FileFailure(path + ": refused: an update file is at most 64 MiB; nothing was sent");
  if (problem) return base::FileFailure(path + ": " + problem.Describe() + "; nothing was sent");
  return {};
}

// Appends the run to the record file, waiting for the lock as long as the
// operator lets it (a Ctrl-C ends the wait). A record that cannot be written
// goes whole to standard error; the exit code then says so.
int RecordRun(const std::string& path, const RunRecord& run) {
  const std::string line = RecordLine(run);
  const int interrupts = InterruptCount();
  std::string shown_holder;
  const base::Status appended = AppendRecord(path, line, [&](const std::string& holder) {
    if (holder != shown_holder) {
      std::cerr << "waiting for the record file " << WithoutControls(path) << ", held by " << holder
                << " (Ctrl-C ends the wait; the record then goes to standard error)" << std::endl;
      shown_holder = holder;
    }
    return InterruptCount() == interrupts;
  });
  if (appended) return run.exit_code;
  std::cerr << "warning: " << WithoutControls(appended.error().text)
            << "; the file keeps what it held, and this run's record is "
            << "not in it. The record:\n"
            << line << std::flush;
  if (appended.error().kind == base::FailureKind::kBusy) return FactsOf(LoadOutcome::kInterrupted).exit_code;
  return run.exit_code == kOk ? FactsOf(LoadOutcome::kLogIncomplete).exit_code : run.exit_code;
}

LoadRecord ToRecord(const PortOutcome& outcome) {
  LoadRecord r;
  r.port = outcome.port;
  r.device = outcome.device;
  r.identity = outcome.identity;
  r.started = outcome.started;
  r.ended = outcome.ended;
  r.commands = outcome.commands;
  r.page_retries = outcome.page_retries;
  r.result = outcome.Result();
  r.exit_code = outcome.ExitCode();
  r.message = outcome.message;
  return r;
}

// What the command line gave, by command.
struct LoadCommand {
  LoadOptions options;
  std::string file, ports_from, record_file;
  std::vector<std::string> ports, faults;
  bool simulate = false;
  int devices = 1;
  std::string reply_timeout = "10";
};
struct RecordsCommand {
  std::string file;
  RecordsFilter filter;
  bool json = false, csv = false, lines = false;
};
struct MakeImageCommand {
  std::string image;
  uint32_t seed = 2026;
  bool force = false;
};

CLI::App* AddLoadCommand(CLI::App& app, LoadCommand& command) {
  CLI::App* load = app.add_subcommand(
      "load", "Send FILE.KVR to the device's boot loader (to several at once); options may come before and after it.");
  load->add_option("FILE.KVR", command.file,
                   "The update file: its name ends in .KVR (any case); -- before a name that starts "
                   "with a dash.")
      ->required();
  CLI::Option* port = load->add_option(
      "--port", command.ports, "The serial port: COM7, ttyUSB0 or a device path; give it again for each further port.");
  port->allow_extra_args(false);  // one port per --port: the image may follow
  CLI::Option* port_list = load->add_option(
      "--ports-from", command.ports_from,
      "A file naming one port per line; # starts a comment that runs to the end of the line; blank lines are skipped.");
  CLI::Option* simulated =
      load->add_flag("--simulate", command.simulate, "Load into the built-in simulated device and print its verdict.");
  port->excludes(simulated);
  port_list->excludes(simulated);
  load->add_option("--simulate-devices", command.devices, "That many simulated devices at once (default 1).")
      ->check(WholeNumber(1, kMaxPorts))
      ->needs(simulated);
  load->add_option("--simulate-faults", command.faults,
                   "Faults of the simulated devices: [D:]split=N,noise=RATE,drop=RATE,repeat=RATE,hangup=FRAMES,"
                   "seed=N,noiseat=REPLY:BYTES,line=BAUD (a real line's timing: frames take their wire time, "
                   "replies come a byte at a time); with D: only device D. Give it again for other devices.")
      ->allow_extra_args(false)
      ->needs(simulated);
  load->add_option("--baud", command.options.baud, "Line rate (default 38400).")->check(WholeNumber(50, 4000000));
  load->add_option("--pause-ms", command.options.load.pause_ms,
                   "The pause before each command is longer than this (default 50).")
      ->check(WholeNumber(0, 60000));
  load->add_option("--reply-timeout", command.reply_timeout, "Seconds a reply may take, from its command (default 10).")
      ->check(DecimalNumber(0.01, 3600));
  load->add_option("--retries", command.options.load.retries, "Page restarts per page (default 3).")
      ->check(WholeNumber(0, 100));
  load->add_option("--log", command.options.log,
                   "Write every reply to this file, as the window's debug log (one port only).");
  load->add_option("--record,--report", command.record_file,
                   "Append a record of this run (ports, devices, image, times, results) to this file, one JSON "
                   "line per run (--report is its older name).");
  load->add_flag("--quiet", command.options.quiet, "No progress line.");
  load->add_option("--stop-after", command.options.load.stop_after, "Stop after this many commands (benchmarks).")
      ->check(WholeNumber(0, 1000000000))
      ->group("");
  load->footer(kExitCodes);
  return load;
}

void AddPortsCommand(CLI::App& app, bool& json) {
  CLI::App* ports = app.add_subcommand(
      "ports", "List the serial ports: name, whether it can be opened, adapter, USB ids, serial number, by-id name.");
  ports->add_flag("--json", json, "As a JSON array, one object per port.");
  ports->footer("Exit codes: 0 listed (also when no port is found); 1 usage error.");
}

void AddMakeImageCommand(CLI::App& app, MakeImageCommand& command) {
  CLI::App* make = app.add_subcommand("make-image", "Write a standard-size test image to FILE.");
  make->add_option("FILE", command.image,
                   "The file to write: its name ends in .KVR (a symbolic link there is refused).")
      ->required();
  make->add_option("--seed", command.seed, "Seed of the made-up bytes (default 2026).")
      ->check(WholeNumber(0, UINT32_MAX));
  make->add_flag("--force", command.force, "Replace FILE when it exists (without it an existing file is kept).");
  make->footer("Exit codes: 0 the image was written; 1 usage or file error.");
}

void AddRecordsCommand(CLI::App& app, RecordsCommand& command) {
  CLI::App* records = app.add_subcommand(
      "records", "Print the loads recorded in FILE (--record): time, port, serial number, result, image, message.");
  records->add_option("FILE", command.file, "The record file (an earlier JSON report is read too).")->required();
  records->add_option("--port", command.filter.port, "Only loads into this port (as given, its device or by-id name).");
  records->add_option("--serial", command.filter.serial, "Only loads through the USB adapter with this serial number.");
  records->add_option("--result", command.filter.result, "Only loads that ended so: " + OutcomeNames() + ".")
      ->check(CLI::Validator(
          [](std::string& v) -> std::string {
            return OutcomeNamed(v) ? "" : "\"" + v + "\" is not how a load ends: " + OutcomeNames();
          },
          "RESULT"));
  records->add_option("--since", command.filter.since,
                      "Only loads started at or after this UTC time: YYYY-MM-DD[THH:MM[:SS]].");
  CLI::Option* as_json = records->add_flag("--json", command.json, "As a JSON array of the records.");
  CLI::Option* as_csv = records->add_flag("--csv", command.csv, "As CSV, one row per load, for a spreadsheet.");
  CLI::Option* as_lines =
      records->add_flag("--lines", command.lines, "As record lines (turns an earlier JSON report into a record file).");
  as_json->excludes(as_csv)->excludes(as_lines);
  as_csv->excludes(as_lines);
  records->footer(
      "Lines that are not whole records (a write cut short) are skipped and named on standard error.\n"
      "Exit codes: 0 printed (also when no load matches); 1 usage error, or a file that holds no records.");
}

int ListPorts(bool json) {
  const std::vector<ListedPort> found = ListedPorts();
  if (json) {
    std::cout << PortsJson(found).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    return kOk;
  }
  if (found.empty()) {
    std::cerr << "no serial port found\n";
    return kOk;
  }
  std::cout << PortTable(found);
  // One hint is enough: the ports the user may not open are refused for one reason as a rule.
  for (const ListedPort& p : found) {
    const std::string hint = p.found.Access == va::acDenied ? PermissionHint(p.found.Path) : "";
    if (hint.empty()) continue;
    std::cerr << "hint: " << hint << "\n";
    break;
  }
  return kOk;
}

int ShowRecords(RecordsCommand& command) {
  if (!command.filter.since.empty() && !SinceTime(command.filter.since, command.filter.since))
    return Usage("--since: \"" + command.filter.since + "\" is not a time YYYY-MM-DD[THH:MM[:SS]] (UTC)");
  const RecordsFormat format = command.json    ? RecordsFormat::kJson
                               : command.csv   ? RecordsFormat::kCsv
                               : command.lines ? RecordsFormat::kLines
                                               : RecordsFormat::kTable;
  return PrintRecords(command.file, command.filter, format, std::cout, std::cerr);
}

int MakeImage(const MakeImageCommand& command) {
  // The loader takes only .KVR files: an image made under another name could not be loaded.
  if (!HasUpdateFileExtension(command.image))
    return Usage("make-image: " + command.image + ": the name must end in .KVR");
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target = Utf8Path(command.image);
  const fs::file_status there = fs::symlink_status(target, ec);
  // An update file made by mistake over a real one would destroy it: only
  // --force replaces a file, and then whole or not at all (a file beside it,
  // renamed over it).
  const bool replace = fs::is_regular_file(there);
  if (replace && !command.force) return FileError(command.image + " exists; --force replaces it");
  try {
    if (!replace) {
      sim::WriteFile(command.image, sim::MakeUpdateFileText(command.seed));  // refuses a link, a pipe or a folder there
      return kOk;
    }
    const std::string beside = command.image + ".making";
    sim::WriteFile(beside, sim::MakeUpdateFileText(command.seed));
    fs::rename(Utf8Path(beside), target, ec);
    if (ec) {
      const std::string why = ec.message();
      fs::remove(Utf8Path(beside), ec);
      return FileError("cannot replace " + command.image + ": " + why);
    }
  } catch (const std::exception& e) {
    return FileError(e.what());
  }
  return kOk;
}

// The load's jobs from its options.
base::Result<std::vector<PortJob>> CheckLoadCommand(LoadCommand& command, const CLI::App& load) {
  using base::UsageFailure;
  if (load.count("--ports-from")) {
    if (command.ports_from.empty()) return UsageFailure("--ports-from needs a file name, not an empty text");
    if (const base::Status read = ReadPortList(command.ports_from, command.ports); !read) return read.error();
    if (command.ports.empty()) return UsageFailure("--ports-from: " + command.ports_from + " names no port");
  }
  if (command.ports.empty() && !command.simulate)
    return UsageFailure("load needs --port PATH, --ports-from FILE or --simulate");
  base::Result<std::vector<PortJob>> jobs = MakeJobs(command.ports, command.simulate, command.devices, command.faults);
  if (!jobs) return jobs;
  if (load.count("--log") && command.options.log.empty())
    return UsageFailure("--log needs a file name, not an empty text");
  if (!command.options.log.empty() && jobs->size() > 1)
    return UsageFailure("--log is for one port; a load into several records each in --record");
  if (load.count("--record") && command.record_file.empty())
    return UsageFailure("--record needs a file name, not an empty text");
  return jobs;
}

int Load(LoadCommand& command, const CLI::App& load) {
  base::Result<std::vector<PortJob>> checked = CheckLoadCommand(command, load);
  if (!checked) return Refused(checked.error());
  const std::vector<PortJob>& jobs = *checked;
  command.options.load.reply_timeout_ms =
      static_cast<uint32_t>(std::lround(DecimalValue(command.reply_timeout) * 1000));
  CatchInterrupts();

  PageTable table;
  UpdateFileState state;
  Sha256 digest;  // of the bytes read into the table, for the record
  if (const base::Status read = ReadImage(command.file, table, state, command.record_file.empty() ? nullptr : &digest);
      !read)
    return Refused(read.error());
  RunRecord run;
  run.tool = "kvr-loader-cli " KVR_VERSION;
  if (!command.record_file.empty()) {
    if (const base::Status checked = CheckRecordFile(command.record_file, command.file, command.options.log); !checked)
      return FileError(checked.error().text + "; nothing was sent");
    run.image = {command.file, static_cast<int64_t>(digest.Bytes()), digest.FinishHex()};
  }

  run.started = std::chrono::system_clock::now();
  std::vector<PortOutcome> outcomes;
  if (jobs.size() == 1) {
    PortLoad single(command.options, jobs[0], table, state, command.file, LoadOutput::kSingle);
    outcomes.push_back(single.Run());
  } else {
    outcomes = RunGang(command.options, jobs, table, state, command.file);
    std::cout << OutcomeTable(outcomes) << std::flush;
  }
  run.ended = std::chrono::system_clock::now();
  run.exit_code = CombinedExitCode(outcomes);
  for (const PortOutcome& outcome : outcomes) run.loads.push_back(ToRecord(outcome));
  return command.record_file.empty() ? run.exit_code : RecordRun(command.record_file, run);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Loads a DATAFLASH image into a KVR device through its serial boot loader.", "kvr-loader-cli");
  app.set_help_flag("-h,--help", "Show this help (or a command's) and exit.");
  app.set_version_flag("-v,--version", "kvr-loader-cli " KVR_VERSION, "Show the version and exit.");
  app.require_subcommand(1);
  app.footer(kExitCodes);
  LoadCommand load_command;
  RecordsCommand records_command;
  MakeImageCommand make_image_command;
  bool ports_json = false;
  const CLI::App* load = AddLoadCommand(app, load_command);
  AddPortsCommand(app, ports_json);
  AddMakeImageCommand(app, make_image_command);
  AddRecordsCommand(app, records_command);
  // Each command answers --version as the top level does; its help ends with its own exit codes.
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
    command->set_version_flag("-v,--version", "kvr-loader-cli " KVR_VERSION, "Show the version and exit.");
  if (argc < 2) {
    std::cout << app.help();
    return kUsageOrFile;
  }
  const std::string first = argv[1];
  const auto named = [&](CLI::App* command) { return command->get_name() == first; };
  if (!first.empty() && first[0] != '-' && app.get_subcommands(named).empty())
    return Usage("unknown command \"" + first + "\" (load, ports, records or make-image)");
  if (const std::optional<int> ended = ParseToolOptions(app, argc, argv)) return *ended;

  if (app.got_subcommand("ports")) return ListPorts(ports_json);
  if (app.got_subcommand("records")) return ShowRecords(records_command);
  if (app.got_subcommand("make-image")) return MakeImage(make_image_command);
  return Load(load_command, *load);
}
