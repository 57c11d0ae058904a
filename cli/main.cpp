// kvr-loader-cli: the loader for scripts and production lines, on the same
// core and serial component as the window, with reply time-outs, page
// retries, a progress line and exit codes.
#include <signal.h>
#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "boot_loader_device.h"
#include "comm_channel.h"
#include "command_link.h"
#include "exchange.h"
#include "hex_text.h"
#include "image_geometry.h"
#include "load_engine.h"
#include "page_table.h"
#include "program_arguments.h"
#include "tool_options.h"
#include "update_file.h"
#include "update_file_maker.h"
#include "va_comm.h"
#include "va_dispatch.h"
#include "va_ports.h"
#ifndef _WIN32
#include "pty_device.h"
#endif

namespace {

using namespace kvr;

enum ExitCode {
  kOk = 0,
  kUsageOrFile = 1,
  kPortError = 2,
  kNoAnswer = 3,
  kPortLost = 4,
  kLogIncomplete = 5,
  kInterrupted = 130,
};

const char* kExitCodes =
    "Exit codes: 0 load complete; 1 usage or file error; 2 the port could not be opened or configured;\n"
    "3 the device stopped answering (retries used up); 4 the port was lost during the load;\n"
    "5 load complete, but the log could not be written in full; 130 interrupted (Ctrl-C, SIGTERM,\n"
    "SIGHUP, SIGPIPE), after closing the port.";

std::atomic<bool> g_interrupted{false};
StopSignal* g_stop = nullptr;  // the running load's stop request
void OnSignal(int) {
  g_interrupted.store(true);
  if (StopSignal* stop = g_stop) stop->RequestFromSignal();
}

// Progress goes to the terminal as one rewritten line, to a pipe line by line.
bool ErrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(2) != 0;
#endif
}

struct Options {
  std::string port, file, log;
  bool simulate = false, quiet = false;
  sim::DeviceOptions faults;
  uint32_t baud = 38400;
  LoadSettings load;
  uint64_t stop_after = 0;  // benchmarks: stop after this many commands
};

class Loader final : public LoadView, public UpdateFileUi {
 public:
  explicit Loader(const Options& o) : o_(o), engine_(port_, ticks_, table_, file_, *this) {
    engine_.Configure(o_.load);
  }
  ~Loader() override {
    g_stop = nullptr;
    if (log_) std::fclose(log_);
  }

  int Run();

  // UpdateFileUi
  void ClearLogs() override {}
  void WarnWrongSize() override { std::cerr << "warning: " << kWrongFileMessage << "\n"; }
  // LoadView and UpdateFileUi
  void SetStatus(const std::string&) override {}
  void SetProgress(int percent) override { percent_ = percent; }
  void LoadRetry(int attempt, const std::string& where, const std::string& why) override {
    if (!o_.quiet)
      std::cerr << (ErrIsTerminal() ? "\n" : "") << "retry " << attempt << " of " << where << ": " << why << "\n";
  }
  void LoadFinished(LoadResult, const std::string& message) override { finish_message_ = message; }

 private:
  void Progress(bool force);
  // Opens the log without emptying it, and refuses the image itself (by what
  // was opened, not by name) and a pipe nobody reads; "" when all is well.
  std::string OpenLog();
  // Empties the log once the port is open (so a run that sends nothing keeps
  // the previous log).
  bool StartLog();
  // One line of the log; a failing write is reported once and the load goes on.
  void WriteLog(const std::string& line);
  void ReportLogFailure(int error);
  int Fail(int code, const std::string& what);

  Options o_;
  SystemTicks ticks_;
  va::TVaComm comm_;
  CommChannel port_{comm_};
  PageTable table_;
  UpdateFileState file_;
  LoadEngine engine_;
  std::FILE* log_ = nullptr;
  bool log_failed_ = false;
  std::string finish_message_;
  int percent_ = 0;
  uint32_t last_progress_ms_ = 0;
  int last_printed_percent_ = -1;
  std::atomic<bool> lost_{false};
};

int Loader::Fail(int code, const std::string& what) {
  if (!o_.quiet && ErrIsTerminal()) std::cerr << "\n";
  std::cerr << "error: " << WithoutControls(what) << "\n";
  try {
    comm_.Close();
  } catch (...) {
  }
  return code;
}

std::string Loader::OpenLog() {
  const std::string log = "the log " + o_.log;
#ifdef _WIN32
  std::error_code ec;
  if (std::filesystem::equivalent(o_.log, o_.file, ec)) return log + " is the image file itself";
  log_ = std::fopen(o_.log.c_str(), "a");
#else
  const int fd = open(o_.log.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0)
    return "cannot write " + log + ": " + (errno == ENXIO ? "a pipe that nobody reads" : std::strerror(errno));
  struct stat opened = {};
  struct stat image = {};
  if (fstat(fd, &opened) == 0 && stat(o_.file.c_str(), &image) == 0 && opened.st_dev == image.st_dev &&
      opened.st_ino == image.st_ino) {
    close(fd);
    return log + " is the image file itself";
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  log_ = fdopen(fd, "w");
  if (!log_) close(fd);
#endif
  return log_ ? std::string() : "cannot write " + log + ": " + std::strerror(errno);
}

bool Loader::StartLog() {
#ifdef _WIN32
  std::fclose(log_);
  log_ = std::fopen(o_.log.c_str(), "w");
  return log_ != nullptr;
#else
  struct stat st {};
  return fstat(fileno(log_), &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fileno(log_), 0) == 0;
#endif
}

void Loader::WriteLog(const std::string& line) {
  if (log_failed_ || !log_) return;
  // Flushed per line: a full disk shows at once, not at the end.
  if (std::fputs(line.c_str(), log_) < 0 || std::fputc('\n', log_) < 0 || std::fflush(log_) != 0)
    ReportLogFailure(errno);
}

void Loader::ReportLogFailure(int error) {
  log_failed_ = true;
  std::cerr << (ErrIsTerminal() && !o_.quiet ? "\n" : "") << "warning: writing the log " << WithoutControls(o_.log)
            << " failed (" << std::strerror(error) << "); the load goes on, the log is incomplete\n";
}

void Loader::Progress(bool force) {
  if (o_.quiet) return;
  const uint32_t now = ticks_.Ticks();
  const bool tty = ErrIsTerminal();
  if (!force && (tty ? now - last_progress_ms_ < 200 : percent_ == last_printed_percent_)) return;
  last_progress_ms_ = now;
  last_printed_percent_ = percent_;
  const LoadProgress p = engine_.Progress();
  char line[160];
  std::snprintf(line, sizeof line, "page %s/%s  %3d%%  %6.0f B/s  elapsed %s  remaining %s",
                HexUpper(p.pages_done, 4).c_str(), HexUpper(ImagePages, 4).c_str(), percent_, p.bytes_per_second,
                ClockText(p.elapsed_ms).c_str(), ClockText(p.remaining_ms).c_str());
  std::cerr << (tty ? "\r" : "") << line << (tty ? "" : "\n") << std::flush;
}

int Loader::Run() {
  // The file, with the window's core; nothing is opened or sent for an image
  // that cannot be right.
  try {
    if (!OpenUpdateFile(o_.file, table_, file_, *this))
      return Fail(kUsageOrFile, o_.file + ": not an update file (extension .KVR expected)");
  } catch (const EInOutError& e) {
    return Fail(kUsageOrFile, o_.file + ": " + e.Reason());
  } catch (const std::exception& e) {
    return Fail(kUsageOrFile, o_.file + ": " + e.what());
  }
  if (g_interrupted.load()) return Fail(kInterrupted, "interrupted while reading the file; nothing was sent");
  if (!file_.Opened)
    return Fail(kUsageOrFile, o_.file + ": refused: an update file is at most 64 MiB; nothing was sent");
  // The engine's own check; a stop request (a signal) from here on is kept.
  if (const ImageProblem problem = engine_.Begin())
    return Fail(kUsageOrFile, o_.file + ": " + problem.Describe() + "; nothing was sent");
  if (!o_.log.empty()) {
    if (const std::string wrong = OpenLog(); !wrong.empty()) return Fail(kUsageOrFile, wrong + "; nothing was sent");
  }

#ifndef _WIN32
  std::unique_ptr<sim::PtyDevice> device;
  if (o_.simulate) {
    device = std::make_unique<sim::PtyDevice>(o_.faults);
    o_.port = device->SlavePath();
  }
#endif

  // The port, with the window's line settings.
  auto queue = std::make_shared<va::TVaCallQueue>();
  queue->OnException = [](const std::string& m) { std::cerr << "error: " << m << "\n"; };
  va::SetMainThread(queue);
  comm_.SetDeviceName(va::DevicePathFor(o_.port));  // COM7, ttyUSB0 or a path
  comm_.SetFlowControl(va::TVaFlowControl());
  comm_.Buffers().SetReadTimeout(5000);
  comm_.Buffers().SetWriteTimeout(0);
  comm_.SetUserBaudrate(static_cast<int32_t>(o_.baud));
  comm_.ClosePause = [](uint32_t) {};
  comm_.OnRxChar = [this](va::TVaObject*, int count) { engine_.OnRxChar(count); };
  comm_.OnError = [this](va::TVaObject*, int errors) {
    if (errors & static_cast<int>(va::CE_DEVICE_LOST)) lost_.store(true);
  };
  if (log_) engine_.SetLog([this](const std::string& line) { WriteLog(line); });
  g_stop = &engine_.Stopper();
  if (g_interrupted.load()) return Fail(kInterrupted, "interrupted before the load; nothing was sent");
  try {
    comm_.Open();
  } catch (const std::exception& e) {
    return Fail(kPortError, e.what());
  }
  if (log_ && !StartLog()) return Fail(kUsageOrFile, "cannot empty the log " + o_.log + ": " + std::strerror(errno));

  try {
    engine_.SendOpening();
    while (engine_.Running()) {
      queue->ProcessMessages(20);
      if (g_interrupted.load()) return Fail(kInterrupted, "interrupted at " + engine_.Where() + "; the port is closed");
      if (lost_.load()) return Fail(kPortLost, "the port " + o_.port + " was lost at " + engine_.Where());
      if (o_.stop_after && engine_.Link().FramesSent() >= o_.stop_after) engine_.Stop();
      engine_.Poll();
      Progress(false);
    }
  } catch (const std::exception& e) {
    return Fail(kPortError, e.what());
  }
  if (g_interrupted.load()) return Fail(kInterrupted, "interrupted at " + engine_.Where() + "; the port is closed");
  if (engine_.Result() == LoadResult::kNoAnswer) return Fail(kNoAnswer, finish_message_);
  const bool complete = engine_.Result() == LoadResult::kComplete;
  Progress(true);
  if (!o_.quiet && ErrIsTerminal()) std::cerr << "\n";
  const uint64_t frames = engine_.Link().FramesSent();
  const double seconds = engine_.Progress().elapsed_ms / 1000.0;
  comm_.Close();
  std::cout << (complete ? "load complete: " : "stopped: ") << frames << " commands in " << seconds << " s ("
            << (seconds > 0 ? frames / seconds : 0) << " commands/s, " << (frames > 0 ? seconds * 1000 / frames : 0)
            << " ms per command)\n";
#ifndef _WIN32
  if (device) {
    const bool equal = sim::ImageEqualsFile(device->Image(), o_.file);
    if (complete) {
      std::cout << "simulated device: image " << (equal ? "equal to the file" : "NOT equal to the file") << "\n";
      if (!equal) return kNoAnswer;
    }
  }
#endif
  va::SetMainThread(nullptr);
  if (log_) {
    const int closed = std::fclose(log_);
    const int error = errno;
    log_ = nullptr;
    if (closed != 0 && !log_failed_) ReportLogFailure(error);
  }
  return log_failed_ && complete ? kLogIncomplete : kOk;
}

// --simulate-faults: split=N,noise=RATE,drop=RATE,repeat=RATE,hangup=FRAMES,
// seed=N,noiseat=REPLY:BYTES. Returns what is wrong, or "" when all is well.
std::string ParseFaults(const std::string& list, sim::DeviceOptions& f) {
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
    const std::string bad = "--simulate-faults: \"" + item + "\" ";
    uint64_t n = 0;
    if (k == "split") {
      if (!whole(v, 1024, n) || n < 1) return bad + "wants split=N with N from 1 to 1024";
      f.pieces = static_cast<int>(n);
    } else if (k == "noise" || k == "drop" || k == "repeat") {
      double r = 0;
      if (!rate(v, r)) return bad + "wants " + k + "=RATE with RATE from 0 to 1";
      (k == "noise" ? f.noise_rate : k == "drop" ? f.drop_rate : f.repeat_rate) = r;
    } else if (k == "hangup") {
      if (!whole(v, UINT64_MAX, n)) return bad + "wants hangup=FRAMES, a whole number";
      f.hangup_after = n;
    } else if (k == "seed") {
      if (!whole(v, UINT32_MAX, n)) return bad + "wants seed=N with N from 0 to 4294967295";
      f.seed = static_cast<uint32_t>(n);
    } else if (k == "noiseat") {  // that many noise bytes before one reply
      const size_t colon = v.find(':');
      uint64_t bytes = 0;
      if (colon == std::string::npos || !whole(v.substr(0, colon), UINT64_MAX, n) ||
          !whole(v.substr(colon + 1), 1000000, bytes))
        return bad + "wants noiseat=REPLY:BYTES with BYTES from 0 to 1000000";
      f.faults.push_back({sim::DeviceFault::Kind::kNoise, n, std::string(bytes, '~')});
    } else {
      return bad + "is not one of split, noise, drop, repeat, hangup, seed, noiseat";
    }
  }
  return {};
}

int Usage(const std::string& problem) {
  ReportRefusal("kvr-loader-cli", problem);
  return kUsageOrFile;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string faults, reply_timeout = "10";
  uint32_t seed = 2026;
  std::string image;
  CLI::App app("Loads a DATAFLASH image into a KVR device through its serial boot loader.", "kvr-loader-cli");
  app.set_help_flag("-h,--help", "Show this help (or a command's) and exit.");
  app.set_version_flag("-v,--version", "kvr-loader-cli " KVR_VERSION, "Show the version and exit.");
  app.require_subcommand(1);
  app.footer(kExitCodes);
  CLI::App* load = app.add_subcommand("load", "Send FILE.KVR to the device's boot loader.");
  load->add_option("FILE.KVR", o.file, "The update file.")->required();
  CLI::Option* port = load->add_option("--port", o.port, "The serial port: COM7, ttyUSB0 or a device path.");
  CLI::Option* simulate =
      load->add_flag("--simulate", o.simulate, "Load into the built-in simulated device and print its verdict.");
  port->excludes(simulate);
  load->add_option("--simulate-faults", faults,
                   "Faults of the simulated device: split=N,noise=RATE,drop=RATE,repeat=RATE,hangup=FRAMES,"
                   "seed=N,noiseat=REPLY:BYTES.")
      ->needs(simulate);
  load->add_option("--baud", o.baud, "Line rate (default 38400).")->check(WholeNumber(50, 4000000));
  load->add_option("--pause-ms", o.load.pause_ms, "The pause before each command is longer than this (default 50).")
      ->check(WholeNumber(0, 60000));
  load->add_option("--reply-timeout", reply_timeout, "Seconds a reply may take, from its command (default 10).")
      ->check(DecimalNumber(0.01, 3600));
  load->add_option("--retries", o.load.retries, "Page restarts per page (default 3).")->check(WholeNumber(0, 100));
  load->add_option("--log", o.log, "Write every reply to this file, as the window's debug log.");
  load->add_flag("--quiet", o.quiet, "No progress line.");
  load->add_option("--stop-after", o.stop_after, "Stop after this many commands (benchmarks).")
      ->check(WholeNumber(0, 1000000000))
      ->group("");
  app.add_subcommand("ports", "List the serial ports that can be opened.");
  CLI::App* make = app.add_subcommand("make-image", "Write a standard-size test image to FILE.");
  make->add_option("FILE", image, "The file to write (a symbolic link there is refused).")->required();
  make->add_option("--seed", seed, "Seed of the made-up bytes (default 2026).")->check(WholeNumber(0, UINT32_MAX));
  if (argc < 2) {
    std::cout << app.help();
    return kUsageOrFile;
  }
  if (const std::string first = argv[1];
      !first.empty() && first[0] != '-' && first != "load" && first != "ports" && first != "make-image")
    return Usage("unknown command \"" + first + "\" (load, ports or make-image)");
  if (const int code = ParseToolOptions(app, argc, argv); code >= 0) return code;

  if (app.got_subcommand("ports")) {
    for (const std::string& p : va::ListPorts()) std::cout << p << "\n";
    return kOk;
  }
  if (app.got_subcommand("make-image")) {
    try {
      sim::WriteFile(image, sim::MakeUpdateFileText(seed));
    } catch (const std::exception& e) {
      std::cerr << "error: " << WithoutControls(e.what()) << "\n";
      return kUsageOrFile;
    }
    return kOk;
  }
  if (load->count("--port") && o.port.empty()) return Usage("--port needs a device path, not an empty text");
  if (o.port.empty() && !o.simulate) return Usage("load needs --port PATH or --simulate");
  if (load->count("--log") && o.log.empty()) return Usage("--log needs a file name, not an empty text");
  if (const std::string wrong = ParseFaults(faults, o.faults); !wrong.empty()) return Usage(wrong);
  o.load.reply_timeout_ms = static_cast<uint32_t>(std::lround(DecimalValue(reply_timeout) * 1000));

#ifdef _WIN32
  if (o.simulate) return Usage("--simulate needs a system with pseudo-terminals; give --port COMn");
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
#else
  // A dropped session (SIGHUP) or a closed output pipe (SIGPIPE) ends the load
  // as Ctrl-C does: the port is closed properly and the exit code is 130.
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(sig, &sa, nullptr);
#endif
  Loader loader(o);
  return loader.Run();
}
