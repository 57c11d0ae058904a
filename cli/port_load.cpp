#include "port_load.h"

#include <signal.h>
#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "hex_text.h"
#include "image_geometry.h"
#include "monotonic_clock.h"
#include "load_port.h"
#include "port_info.h"
#include "port_texts.h"
#include "update_file_maker.h"
#include "utf8_files.h"
#include "va_dispatch.h"
#ifdef _WIN32
#include "line_device.h"
#else
#include "pty_device.h"
#endif

namespace kvr::cli {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_interrupts{0};
// A single load's stop request, raised by the signal handler itself, so that
// a command waiting for its pause never goes out. A gang's loads are stopped
// by the gang's thread.
std::atomic<StopSignal*> g_single_stop{nullptr};

void OnSignal(int) {
  g_interrupted.store(true);
  g_interrupts.fetch_add(1);
  if (StopSignal* stop = g_single_stop.load()) stop->RequestFromSignal();
}

// Standard error is written by several loads at once: one line at a time.
std::mutex g_err_mutex;


}  // namespace

bool Interrupted() { return g_interrupted.load(); }

int InterruptCount() { return g_interrupts.load(); }

void CatchInterrupts() {
#ifdef _WIN32
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
#else
  // A dropped session (SIGHUP) or a closed output pipe (SIGPIPE) ends the load
  // as Ctrl-C does: the port is closed properly and the exit code is 130.
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(sig, &sa, nullptr);
#endif
}

bool ErrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(2) != 0;
#endif
}

PortLoad::PortLoad(const LoadOptions& options, PortJob job, const PageTable& table, const UpdateFileState& file,
                   const std::string& image_path, LoadOutput output)
    : options_(options),
      job_(std::move(job)),
      image_path_(image_path),
      table_(table),
      file_(file),
      output_(output),
      engine_(port_, ticks_, table, file, *this) {
  engine_.Configure(options_.load);
  outcome_.port = job_.port;
}

PortLoad::~PortLoad() {
  if (!Gang()) g_single_stop.store(nullptr);
  if (log_) std::fclose(log_);
}

void PortLoad::Say(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_err_mutex);
  if (Gang()) {
    std::cerr << WithoutControls(job_.port) << ": " << line << "\n";
  } else {
    std::cerr << (ErrIsTerminal() && !options_.quiet ? "\n" : "") << line << "\n";
  }
}

void PortLoad::LoadRetry(int attempt, const std::string& where, const std::string& why) {
  ++retries_;
  Publish();
  // A gang's view counts the retries on a terminal; a pipe gets every one.
  if (!options_.quiet && output_ != LoadOutput::kGangView)
    Say("retry " + std::to_string(attempt) + " of " + where + ": " + why);
}

std::string PermissionHint(const std::string& device_path) {
  return PermissionHintText(device_path, CheckPortPermission(device_path), kEnglishPortWords);
}

PortOutcome PortLoad::EndAs(LoadOutcome outcome, const std::string& what) {
  outcome_.outcome = outcome;
  outcome_.message = WithoutControls(what);
  if (output_ != LoadOutput::kGangView) {
    Say("error: " + outcome_.message);
    if (!outcome_.hint.empty()) Say("hint: " + outcome_.hint);
  }
  try {
    comm_.Close();
  } catch (...) {
  }
  return FinalOutcome();
}

PortOutcome PortLoad::FinalOutcome() {
  outcome_.ended = std::chrono::system_clock::now();
  const LoadProgress figures = engine_.Progress();
  outcome_.commands = figures.commands;
  outcome_.page_retries = figures.retries;
  outcome_.seconds = figures.elapsed_ms / 1000.0;
  device_.reset();  // a simulated device ends with its load (the port is closed)
  Publish();        // the view's last line shows where the load ended
  return outcome_;
}

base::Status PortLoad::OpenLog() {
  const std::string log = "the log " + options_.log;
#ifdef _WIN32
  std::error_code ec;
  if (std::filesystem::equivalent(base::Utf8Path(options_.log), base::Utf8Path(image_path_), ec))
    return base::FileFailure(log + " is the image file itself");
  log_ = base::OpenFile(options_.log, "a");
#else
  const int fd = open(options_.log.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0)
    return base::FileFailure("cannot write " + log + ": " +
                             (errno == ENXIO ? "a pipe that nobody reads" : std::strerror(errno)));
  struct stat opened = {};
  struct stat image = {};
  if (fstat(fd, &opened) == 0 && stat(image_path_.c_str(), &image) == 0 && opened.st_dev == image.st_dev &&
      opened.st_ino == image.st_ino) {
    close(fd);
    return base::FileFailure(log + " is the image file itself");
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  log_ = fdopen(fd, "w");
  if (!log_) close(fd);
#endif
  if (!log_) return base::FileFailure("cannot write " + log + ": " + std::strerror(errno));
  return {};
}

bool PortLoad::StartLog() {
#ifdef _WIN32
  std::fclose(log_);
  log_ = base::OpenFile(options_.log, "w");
  return log_ != nullptr;
#else
  struct stat st {};
  return fstat(fileno(log_), &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fileno(log_), 0) == 0;
#endif
}

void PortLoad::WriteLog(const std::string& line) {
  if (log_failed_ || !log_) return;
  // Flushed per line: a full disk shows at once, not at the end.
  if (std::fputs(line.c_str(), log_) < 0 || std::fputc('\n', log_) < 0 || std::fflush(log_) != 0)
    ReportLogFailure(errno);
}

void PortLoad::ReportLogFailure(int error) {
  log_failed_ = true;
  Say("warning: writing the log " + WithoutControls(options_.log) + " failed (" + std::strerror(error) +
      "); the load goes on, the log is incomplete");
}

void PortLoad::Publish() {
  const LoadProgress p = engine_.Progress();
  std::lock_guard<std::mutex> lock(progress_mutex_);
  published_.pages_done = p.pages_done;
  published_.percent = percent_;
  published_.retries = retries_;
  published_.bytes_per_second = p.bytes_per_second;
  published_.remaining_ms = p.remaining_ms;
}

PortProgress PortLoad::Snapshot() const {
  std::lock_guard<std::mutex> lock(progress_mutex_);
  return published_;
}

void PortLoad::Progress(bool force) {
  const uint32_t now = ticks_.Ticks();
  if (Gang()) {
    // Published a few times a second for the view; plain lines get one per percent.
    if (force || now - last_progress_ms_ >= 200) {
      last_progress_ms_ = now;
      Publish();
    }
    if (options_.quiet || output_ == LoadOutput::kGangView || (!force && percent_ == last_printed_percent_)) return;
  }
  // Asked only here: a gang's loads look at their progress every 20 ms each.
  const bool tty = ErrIsTerminal();
  if (!Gang()) {
    if (options_.quiet) return;
    if (!force && (tty ? now - last_progress_ms_ < 200 : percent_ == last_printed_percent_)) return;
    last_progress_ms_ = now;
  }
  last_printed_percent_ = percent_;
  const LoadProgress p = engine_.Progress();
  char line[160];
  std::snprintf(line, sizeof line, "page %s/%s  %3d%%  %6.0f B/s  elapsed %s  remaining %s",
                HexUpper(p.pages_done, 4).c_str(), HexUpper(ImagePages, 4).c_str(), percent_, p.bytes_per_second,
                ClockText(p.elapsed_ms).c_str(), ClockText(p.remaining_ms).c_str());
  if (Gang()) {
    Say(line);
  } else {
    std::lock_guard<std::mutex> lock(g_err_mutex);
    std::cerr << (tty ? "\r" : "") << line << (tty ? "" : "\n") << std::flush;
  }
}

#ifndef _WIN32
constexpr bool kRepliesByEventChar = true;
#else
constexpr bool kRepliesByEventChar = false;
#endif

PortOutcome PortLoad::Run() {
  // The port's events come to this thread through the queue.
  const auto queue = std::make_shared<va::TVaCallQueue>();
  queue->OnException = [this](const std::string& m) { ReportError(m); };
  if (const Phase prepared = Prepare(queue); !prepared) return prepared.error();
  if (const Phase started = Go(); !started) return started.error();
  for (;;) {
    // The port's events, until the load's next deadline (a command's pause,
    // a time limit) or a look at the interrupts and the progress line.
    // A deadline ends as the load's clock moves, not a whole millisecond on.
    const int64_t due = engine_.Running() ? engine_.MsUntilDue() : 0;
    queue->ProcessMessages(base::MonotonicMsFromNow(due < 0 ? kLookEveryMs : std::min<int64_t>(due, kLookEveryMs)));
    if (std::optional<PortOutcome> ended = Step()) return *ended;
  }
}

PortLoad::Phase PortLoad::Prepare(const std::shared_ptr<va::TVaMainThread>& main, const ImageProblem* checked) {
  outcome_.started = std::chrono::system_clock::now();
  if (const ImageProblem problem = checked ? *checked : CheckImage(table_, file_)) {
    engine_.Begin(problem);  // the engine ends it as an image error
    return EndAs(LoadOutcome::kImageError, image_path_ + ": " + problem.Describe() + "; nothing was sent");
  }
  if (!options_.log.empty()) {
    if (const base::Status opened = OpenLog(); !opened)
      return EndAs(LoadOutcome::kLogError, opened.error().text + "; nothing was sent");
  }
  std::string path = va::DevicePathFor(job_.port);
  if (job_.simulate) {
#ifndef _WIN32
    try {
      device_ = std::make_unique<sim::PtyDevice>(job_.faults);
    } catch (const std::exception& e) {
      return EndAs(LoadOutcome::kPortError, std::string("no simulated device: ") + e.what());
    }
    path = device_->SlavePath();
#else
    // Without pseudo-terminals the simulated device runs inside the program, on
    // a line without wire time, as fast as the device behind a terminal.
    device_ = std::make_unique<sim::InProcessDevice>(sim::LineDeviceOptions{job_.faults, false});
    comm_.DeviceOpener = device_->Opener();
    path = sim::kSimulatedPortName;
#endif
    if (job_.port.empty()) job_.port = outcome_.port = path;
  }
  outcome_.device = path;
  outcome_.identity = va::IdentifyPort(path);
  return OpenPort(path, main);
}

PortLoad::Phase PortLoad::Go() {
  // The load's clock starts here, not before the port opened: a gang's
  // ports open one after the other.
  if (Interrupted()) return EndAs(LoadOutcome::kInterrupted, "interrupted before the load; nothing was sent");
  engine_.Begin(ImageProblem{});
  try {
    engine_.SendOpening();
  } catch (const std::exception& e) {
    return EndAs(LoadOutcome::kPortError, e.what());
  }
  return {};
}

PortLoad::Phase PortLoad::OpenPort(const std::string& path, const std::shared_ptr<va::TVaMainThread>& main) {
  comm_.SetMainThread(main);
  // The window's line settings.
  SetUpLoadPort(
      comm_, path, options_.baud,
      [this](int count) {
        moved_ = true;
        engine_.OnRxChar(count);
      },
      [this] { lost_.store(true); });
  // A reply ends with its CR: the event thread gathers a reply's bytes, which
  // come a byte at a time on a real line, and hands them over once the CR has
  // come, instead of an event per byte. Bytes without a CR (noise, a line
  // that keeps talking) are taken at the load's next step. On Windows every
  // arrival stays an event: the event character's hand-over was measured and
  // tried against real line timing only on Linux, and a driver that never
  // reported it would leave each reply to the next look. The in-process
  // device has no event character either.
  if (kRepliesByEventChar && !comm_.DeviceOpener) {
    comm_.SetMonitorEvents(va::TVaCommEvents{va::ceError, va::ceRxFlag});
    comm_.EventChars().SetEventChar('\r');
    comm_.OnRxFlag = [this](va::TVaObject*) { TakeReceived(); };
  }
  comm_.ClosePause = [](uint32_t) {};
  if (log_) engine_.SetLog([this](const std::string& line) { WriteLog(line); });
  if (!Gang()) g_single_stop.store(&engine_.Stopper());
  if (Interrupted()) return EndAs(LoadOutcome::kInterrupted, "interrupted before the load; nothing was sent");
  try {
    comm_.Open();
  } catch (const std::exception& e) {
    // Opening a network port may take seconds: a Ctrl-C meanwhile is what ended it.
    if (Interrupted()) return EndAs(LoadOutcome::kInterrupted, "interrupted while the port opened; nothing was sent");
    outcome_.hint = PermissionHint(path);
    return EndAs(LoadOutcome::kPortError, e.what());
  }
  if (log_ && !StartLog())
    return EndAs(LoadOutcome::kLogError, "cannot empty the log " + options_.log + ": " + std::strerror(errno));
  return {};
}

void PortLoad::TakeReceived() {
  moved_ = true;
  if (const int waiting = comm_.InQueue(); waiting > 0) engine_.OnRxChar(waiting);
}

std::optional<PortOutcome> PortLoad::Step(bool take_received) {
  if (engine_.Running()) {
    try {
      if (Interrupted())
        return EndAs(LoadOutcome::kInterrupted, "interrupted at " + engine_.Where() + "; the port is closed");
      if (lost_.load())
        return EndAs(LoadOutcome::kPortLost, "the port " + job_.port + " was lost at " + engine_.Where());
      if (!event_error_.empty()) return EndAs(LoadOutcome::kPortError, event_error_);
      if (take_received || engine_.MsUntilDue() == 0) TakeReceived();
      engine_.Poll();
      Progress(false);
    } catch (const std::exception& e) {
      return EndAs(LoadOutcome::kPortError, e.what());
    }
    if (engine_.Running()) return std::nullopt;
  }
  return EndAfterExchange();
}

PortOutcome PortLoad::EndAfterExchange() {
  if (Interrupted())
    return EndAs(LoadOutcome::kInterrupted, "interrupted at " + engine_.Where() + "; the port is closed");
  if (engine_.Outcome() == LoadOutcome::kNoAnswer) return EndAs(LoadOutcome::kNoAnswer, engine_.EndMessage());
  if (!device_) return EndRanOrStopped({});
  return EndRanOrStopped([this] { return device_->Image(); });
}

PortOutcome PortLoad::EndRanOrStopped(const std::function<std::vector<uint8_t>()>& simulated_image) {
  const bool complete = engine_.Outcome() == LoadOutcome::kComplete;
  Progress(true);
  if (!Gang() && !options_.quiet && ErrIsTerminal()) std::cerr << "\n";
  const LoadProgress figures = engine_.Progress();
  const uint64_t frames = figures.commands;
  const double seconds = figures.elapsed_ms / 1000.0;
  comm_.Close();
  std::ostringstream summary;
  summary << (complete ? "load complete: " : "stopped: ") << frames << " commands in " << seconds << " s ("
          << (seconds > 0 ? frames / seconds : 0) << " commands/s, " << (frames > 0 ? seconds * 1000 / frames : 0)
          << " ms per command)";
  outcome_.outcome = complete ? LoadOutcome::kComplete : LoadOutcome::kStopped;
  outcome_.message = summary.str();
  if (!Gang()) std::cout << summary.str() << "\n";
  if (simulated_image && complete) {
    const bool equal = sim::ImageEqualsFile(simulated_image(), image_path_);
    const std::string verdict =
        std::string("simulated device: image ") + (equal ? "equal to the file" : "NOT equal to the file");
    outcome_.message += "; " + verdict;
    if (!Gang()) std::cout << verdict << "\n";
    if (!equal) {
      outcome_.outcome = LoadOutcome::kImageDiffers;
      return FinalOutcome();
    }
  }
  if (log_) {
    const int closed = std::fclose(log_);
    const int error = errno;
    log_ = nullptr;
    if (closed != 0 && !log_failed_) ReportLogFailure(error);
  }
  if (log_failed_ && complete) {
    outcome_.outcome = LoadOutcome::kLogIncomplete;
  }
  return FinalOutcome();
}

}  // namespace kvr::cli
