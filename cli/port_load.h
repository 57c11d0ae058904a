// One load of the image into one port (a device path or a simulated device),
// for a single load and for each port of a gang load: the port opened with the
// window's line settings, the load engine driven by the port's events, the
// outcome with its exit code. A single load runs on its own thread with a
// queue of its own; a gang's loads share one thread and one queue. A single load prints its progress
// line and messages; a gang load's loads publish their progress for the
// combined view instead.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "boot_loader_device.h"
#include "comm_channel.h"
#include "load_engine.h"
#include "page_table.h"
#include "result.h"
#include "tick_source.h"
#include "update_file.h"
#include "va_comm.h"
#include "va_dispatch.h"
#include "va_ports.h"

namespace kvr::sim {
class PtyDevice;
class InProcessDevice;
}  // namespace kvr::sim

namespace kvr::cli {

#ifndef _WIN32
using SimulatedDevice = sim::PtyDevice;
#else
using SimulatedDevice = sim::InProcessDevice;
#endif

// How often a load's loop looks at it (the interrupts, a lost port, the
// progress) while nothing falls due.
inline constexpr int64_t kLookEveryMs = 20;

// The run's own exit codes; a load's come with its outcome (FactsOf).
enum ExitCode {
  kOk = 0,
  kUsageOrFile = 1,
};

// Ctrl-C and its kin: set by the signal handler, seen by every load.
bool Interrupted();
// How many interrupts have come so far (a wait begun after one ends with the next).
int InterruptCount();
// Installs the handler for SIGINT and SIGTERM (and SIGHUP, SIGPIPE where they exist).
void CatchInterrupts();

// What to do about a port the user may not open; "" when the device's
// permissions are not what stands in the way.
std::string PermissionHint(const std::string& device_path);

// Progress goes to a terminal as lines rewritten in place, to a pipe line by line.
bool ErrIsTerminal();

// What every load of a run shares.
struct LoadOptions {
  uint32_t baud = 38400;
  LoadSettings load;
  std::string log;  // a single load's reply log ("" for none)
  bool quiet = false;
};

// One port of a run.
struct PortJob {
  std::string port;  // COM7, ttyUSB0 or a path; the label of a simulated device
  bool simulate = false;
  sim::DeviceOptions faults;  // the simulated device's
};

// How one load ended.
struct PortOutcome {
  std::string port;
  std::string device;  // the path opened
  va::TVaPortIdentity identity;
  LoadOutcome outcome = LoadOutcome::kIdle;
  std::string message;  // in words, for people
  std::string hint;     // what to do about a port the user may not open; "" for none
  uint64_t commands = 0;
  int page_retries = 0;
  std::chrono::system_clock::time_point started, ended;
  double seconds = 0;  // from the opening command to the end

  int ExitCode() const { return FactsOf(outcome).exit_code; }
  // As the record names it: "complete", "no answer", ...
  std::string Result() const { return std::string(FactsOf(outcome).record); }
};

// What the combined view shows of a running load.
struct PortProgress {
  int64_t pages_done = 0;
  int percent = 0;
  int retries = 0;
  double bytes_per_second = 0;
  int64_t remaining_ms = -1;
};

// What a load writes of its own.
enum class LoadOutput {
  kSingle,     // the progress line, messages, the summary on standard output
  kGangLines,  // plain lines prefixed with the port; progress also through Snapshot()
  kGangView,   // nothing: the combined view shows Snapshot(), the table the outcome
};

class PortLoad final : public LoadView {
 public:
  PortLoad(const LoadOptions& options, PortJob job, const PageTable& table, const UpdateFileState& file,
           const std::string& image_path, LoadOutput output);
  ~PortLoad() override;
  PortLoad(const PortLoad&) = delete;
  PortLoad& operator=(const PortLoad&) = delete;

  // Runs the load to its end on the calling thread (the port's events are
  // handed to this thread); the image must have passed CheckImage.
  PortOutcome Run();

  // A load driven by a loop of the caller's, on one thread: Prepare checks
  // the image and opens the port, nothing sent; Go starts the load (its
  // clock, the opening command); then Step whenever the load is due
  // (MsUntilDue) or at least every kLookEveryMs, until one of them gives the
  // outcome (the port closed). The port's events go to `main`, a queue the
  // same thread pumps. Step takes the bytes that came without a CR when the
  // load is due or `take_received` says so. `checked`, when given, is
  // CheckImage's result for the image (several loads of one image check it
  // once). Prepare and Go fail with the outcome when the load ends there;
  // Step gives the outcome once the load has ended.
  using Phase = base::Result<void, PortOutcome>;
  Phase Prepare(const std::shared_ptr<va::TVaMainThread>& main, const ImageProblem* checked = nullptr);
  Phase Go();
  std::optional<PortOutcome> Step(bool take_received = true);
  // Milliseconds until the load is due (0: now); -1 when only its port's
  // events move it on.
  int64_t MsUntilDue() { return engine_.MsUntilDue(); }
  // Whether the port's events have reached the engine since the last call
  // (its deadline may have moved).
  bool TakeMoved() { return std::exchange(moved_, false); }
  // A fault of the port met in its event's handling (a write from the receive
  // step): the load's next step ends it as the loop's own would.
  void ReportError(const std::string& message) {
    if (event_error_.empty()) event_error_ = message;
  }

  PortProgress Snapshot() const;
  // Ends the load from another thread (a gang's Ctrl-C): a command waiting
  // for its pause never goes out.
  void RequestStop() { engine_.Stopper().Request(); }

  // LoadView
  void SetStatus(const std::string&) override {}
  void SetProgress(int percent) override { percent_ = percent; }
  void LoadRetry(int attempt, const std::string& where, const std::string& why) override;
  void LoadEnded(LoadOutcome, const std::string&) override {}

 private:
  // Ends the load so: says why, closes the port.
  PortOutcome EndAs(LoadOutcome outcome, const std::string& what);
  // The outcome with the load's figures.
  PortOutcome FinalOutcome();
  // Opens the port with the load's settings and events.
  Phase OpenPort(const std::string& path, const std::shared_ptr<va::TVaMainThread>& main);
  // The bytes waiting at the port, to the engine.
  void TakeReceived();
  // The end of a load that left the exchange: an interrupt, no answer, or EndRanOrStopped.
  PortOutcome EndAfterExchange();
  // A load that ran to its end or was stopped; `simulated_image` (when set)
  // gives the simulated device's image, compared with the file.
  PortOutcome EndRanOrStopped(const std::function<std::vector<uint8_t>()>& simulated_image);
  void Progress(bool force);
  void Publish();
  // The single load's reply log: opened without emptying it, refusing the
  // image itself and a pipe nobody reads; emptied once the port is open, so
  // a run that sends nothing keeps the previous log.
  base::Status OpenLog();
  bool StartLog();
  void WriteLog(const std::string& line);
  void ReportLogFailure(int error);
  // A line of the load's own, on standard error (a gang load's prefixed).
  void Say(const std::string& line);

  const LoadOptions& options_;
  PortJob job_;
  const std::string image_path_;
  const PageTable& table_;
  const UpdateFileState& file_;
  const LoadOutput output_;
  bool Gang() const { return output_ != LoadOutput::kSingle; }  // one of several loads
  SystemTicks ticks_;
  std::unique_ptr<SimulatedDevice> device_;  // outlives the port (declared before it)
  va::TVaComm comm_;
  CommChannel port_{comm_};
  LoadEngine engine_;
  PortOutcome outcome_;
  std::FILE* log_ = nullptr;
  bool log_failed_ = false;
  int percent_ = 0;
  int retries_ = 0;
  bool moved_ = false;
  uint32_t last_progress_ms_ = 0;
  int last_printed_percent_ = -1;
  std::atomic<bool> lost_{false};
  std::string event_error_;  // the first exception of the port's event handling
  mutable std::mutex progress_mutex_;
  PortProgress published_;
};

}  // namespace kvr::cli
