// kvr-loader-cli: the loader for scripts and production lines, on the same
// core and serial component as the window, with reply time-outs, page
// retries, a progress line and exit codes.
#include <signal.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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
  kInterrupted = 130,
};

const char* kHelp =
    "usage:\n"
    "  kvr-loader-cli load (--port PATH | --simulate [--simulate-faults LIST]) FILE.KVR\n"
    "                 [--baud N] [--pause-ms N] [--reply-timeout SECONDS] [--retries N] [--log FILE] [--quiet]\n"
    "  kvr-loader-cli ports\n"
    "  kvr-loader-cli make-image FILE [--seed N]\n"
    "  kvr-loader-cli --help | --version\n"
    "\n"
    "load: sends FILE to the device's boot loader (38400 baud unless --baud), waiting more than\n"
    "  --pause-ms (default 50) before each command. When no reply comes within --reply-timeout\n"
    "  (default 10 s, from the command), or a reply is out of step, the line is let fall quiet and\n"
    "  the page starts again from its address command, up to --retries (default 3) times per page.\n"
    "  --log writes every reply as the window's debug log.\n"
    "  --simulate loads into the built-in simulated device and prints its verdict; --simulate-faults\n"
    "  takes split=N,noise=RATE,drop=RATE,repeat=RATE,hangup=FRAMES,seed=N,noiseat=REPLY:BYTES.\n"
    "\n"
    "exit codes: 0 load complete; 1 usage or file error; 2 port could not be opened or configured;\n"
    "  3 the device stopped answering (retries used up); 4 the port was lost during the load;\n"
    "  130 interrupted (Ctrl-C, SIGTERM), after closing the port.\n";

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
  ~Loader() override { g_stop = nullptr; }

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
  int Fail(int code, const std::string& what);

  Options o_;
  SystemTicks ticks_;
  va::TVaComm comm_;
  CommChannel port_{comm_};
  PageTable table_;
  UpdateFileState file_;
  LoadEngine engine_;
  std::ofstream log_;
  std::string finish_message_;
  int percent_ = 0;
  uint32_t last_progress_ms_ = 0;
  int last_printed_percent_ = -1;
  std::atomic<bool> lost_{false};
};

int Loader::Fail(int code, const std::string& what) {
  if (!o_.quiet && ErrIsTerminal()) std::cerr << "\n";
  std::cerr << "error: " << what << "\n";
  try {
    comm_.Close();
  } catch (...) {
  }
  return code;
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
  } catch (const std::exception& e) {
    return Fail(kUsageOrFile, o_.file + ": " + e.what());
  }
  if (!file_.Opened)
    return Fail(kUsageOrFile, o_.file + ": refused: an update file is at most 64 MiB; nothing was sent");
  // The engine's own check; a stop request (a signal) from here on is kept.
  if (const ImageProblem problem = engine_.Begin())
    return Fail(kUsageOrFile, o_.file + ": " + problem.Describe() + "; nothing was sent");
  if (!o_.log.empty()) {
    log_.open(o_.log);
    if (!log_) return Fail(kUsageOrFile, "cannot write the log " + o_.log);
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
  if (log_) engine_.SetLog([this](const std::string& line) { log_ << line << "\n"; });
  g_stop = &engine_.Stopper();
  if (g_interrupted.load()) return Fail(kInterrupted, "interrupted before the load; nothing was sent");
  try {
    comm_.Open();
  } catch (const std::exception& e) {
    return Fail(kPortError, e.what());
  }

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
  return kOk;
}

bool ParseFaults(const std::string& list, sim::DeviceOptions& f) {
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ',')) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos) return false;
    const std::string k = item.substr(0, eq);
    const char* v = item.c_str() + eq + 1;
    if (k == "split")
      f.pieces = std::atoi(v);
    else if (k == "noise")
      f.noise_rate = std::atof(v);
    else if (k == "drop")
      f.drop_rate = std::atof(v);
    else if (k == "repeat")
      f.repeat_rate = std::atof(v);
    else if (k == "hangup")
      f.hangup_after = std::strtoull(v, nullptr, 10);
    else if (k == "seed")
      f.seed = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
    else if (k == "noiseat") {  // noiseat=REPLY:BYTES: that many noise bytes before one reply
      char* end = nullptr;
      const uint64_t reply = std::strtoull(v, &end, 10);
      if (!end || *end != ':') return false;
      f.faults.push_back({sim::DeviceFault::Kind::kNoise, reply, std::string(std::strtoul(end + 1, nullptr, 10), '~')});
    } else
      return false;
  }
  return true;
}

int Usage(const std::string& problem) {
  std::cerr << "error: " << problem << "\n" << kHelp;
  return kUsageOrFile;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = Utf8Arguments(argc, argv);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << kHelp;
    return args.empty() ? kUsageOrFile : kOk;
  }
  if (args[0] == "--version" || args[0] == "-v") {
    std::cout << "kvr-loader-cli " KVR_VERSION "\n";
    return kOk;
  }
  const std::string command = args[0];
  if (command == "ports") {
    for (const std::string& p : va::ListPorts()) std::cout << p << "\n";
    return kOk;
  }
  if (command == "make-image") {
    if (args.size() < 2) return Usage("make-image needs a FILE");
    uint32_t seed = 2026;
    if (args.size() == 4 && args[2] == "--seed")
      seed = static_cast<uint32_t>(std::strtoul(args[3].c_str(), nullptr, 10));
    else if (args.size() != 2)
      return Usage("make-image FILE [--seed N]");
    try {
      sim::WriteFile(args[1], sim::MakeUpdateFileText(seed));
    } catch (const std::exception& e) {
      std::cerr << "error: " << e.what() << "\n";
      return kUsageOrFile;
    }
    return kOk;
  }
  if (command != "load") return Usage("unknown command " + command);

  Options o;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= args.size()) throw std::invalid_argument(std::string(name) + " needs a value");
      return args[++i];
    };
    try {
      if (a == "--port")
        o.port = value("--port");
      else if (a == "--simulate")
        o.simulate = true;
      else if (a == "--simulate-faults") {
        if (!ParseFaults(value("--simulate-faults"), o.faults)) return Usage("bad --simulate-faults list");
      } else if (a == "--baud")
        o.baud = static_cast<uint32_t>(std::stoul(value("--baud")));
      else if (a == "--pause-ms")
        o.load.pause_ms = static_cast<uint32_t>(std::stoul(value("--pause-ms")));
      else if (a == "--reply-timeout")
        o.load.reply_timeout_ms = static_cast<uint32_t>(std::stod(value("--reply-timeout")) * 1000);
      else if (a == "--retries")
        o.load.retries = std::stoi(value("--retries"));
      else if (a == "--log")
        o.log = value("--log");
      else if (a == "--quiet")
        o.quiet = true;
      else if (a == "--stop-after")
        o.stop_after = std::stoull(value("--stop-after"));
      else if (!a.empty() && a[0] == '-')
        return Usage("unknown option " + a);
      else if (o.file.empty())
        o.file = a;
      else
        return Usage("more than one file given");
    } catch (const std::exception& e) {
      return Usage(e.what());
    }
  }
  if (o.file.empty()) return Usage("no FILE.KVR given");
  if (o.port.empty() == !o.simulate) return Usage("give either --port PATH or --simulate");

#ifdef _WIN32
  if (o.simulate) return Usage("--simulate needs a system with pseudo-terminals; give --port COMn");
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
#else
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
#endif
  Loader loader(o);
  return loader.Run();
}
