// One load of the image into the boot loader, for every front end: the
// image check before anything is sent, the command link and the exchange, the
// pacing, the supervision of the replies (time-out, unknown or out-of-step
// replies, a bounded quiet period, page restarts, a retry limit), the progress
// figures, stopping, and how the load ended: the engine is the one place a
// load ends. The front end opens the port and forwards its received-bytes
// events; nothing here waits. The pause before a command and every time
// limit are deadlines: MsUntilDue() says when the next one falls, and the
// front end's loop calls Poll() then (a timer in a window, the wait for the
// port's events on the command line).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "byte_channel.h"
#include "command_link.h"
#include "exchange.h"
#include "load_view.h"
#include "page_table.h"
#include "tick_source.h"
#include "update_file.h"

namespace kvr {

struct LoadSettings {
  uint32_t pause_ms = kSendPauseMs;   // the pause before each command is longer than this
  uint32_t reply_timeout_ms = 10000;  // from the moment a command went out
  int retries = 3;                    // page restarts per page
  uint64_t stop_after = 0;            // benchmarks: the load stops after this many commands (0: never)
};

// How long the line must stay quiet before a page restart: a quarter of the
// reply time-out, 10 to 200 ms.
uint32_t QuietPeriodMs(uint32_t reply_timeout_ms);

// Why a load may not start: the first row that is not what a data line must be.
struct ImageProblem {
  enum class Kind { kNone, kNoFile, kBadRow };
  Kind kind = Kind::kNone;
  int64_t line = 0;  // 1-based line of the image (the table row)
  std::string text;  // what the row holds
  explicit operator bool() const { return kind != Kind::kNone; }
  // In words, for the command line and logs.
  std::string Describe() const;
};

// Every one of the image's 36864 rows must be 32 hexadecimal digits.
ImageProblem CheckImage(const PageTable& table, const UpdateFileState& file);

// The figures of the load under way, or of the last one.
struct LoadProgress {
  int64_t lines = 0;  // data lines sent
  int64_t pages_done = 0;
  int64_t page = -1;            // the page under way or where the load ended (-1: at the opening)
  uint64_t commands = 0;        // commands sent in this load
  int retries = 0;              // page restarts in this load
  int percent = 0;              // the gauge's value
  double bytes_per_second = 0;  // image bytes sent per second so far
  uint32_t elapsed_ms = 0;
  int64_t remaining_ms = -1;  // -1 until a rate is known
};

// A duration as minutes and seconds ("35:07"); "--:--" when negative
// (not known yet).
std::string ClockText(int64_t ms);

class LoadEngine final : private LoadView {
 public:
  LoadEngine(ByteChannel& port, TickSource& ticks, const PageTable& table, const UpdateFileState& file, LoadView& view);
  LoadEngine(const LoadEngine&) = delete;
  LoadEngine& operator=(const LoadEngine&) = delete;

  void Configure(const LoadSettings& settings);
  const LoadSettings& Settings() const { return settings_; }

  // Checks the image; when it is sound, prepares a load from line 0 and
  // returns no problem. Nothing is sent. A refused image ends as an image
  // error.
  ImageProblem Begin();
  // Begin with what CheckImage(table, file) gave for this engine's image, for
  // several loads of one image (a gang's: checked once, not once a port).
  ImageProblem Begin(const ImageProblem& checked);
  // The opening "DL:0" of a load that Begin prepared, due once its pause is over.
  void SendOpening();

  // The port's received-bytes event: gathers the replies and answers them.
  void OnRxChar(int count);
  // Does what is due now: a command whose pause is over goes out; reply
  // time-outs, quiet periods and page restarts are watched. Port failures
  // propagate.
  void Poll();
  // Milliseconds until Poll has something to do (0: now); -1 when nothing
  // falls due without a reply or a front end's step (before the opening, or
  // after the end).
  int64_t MsUntilDue();
  // The operator ends the load: a command still waiting for its pause is
  // dropped, nothing more is sent, and the load ends as interrupted, its
  // message `who` + " at " + where it stood.
  void Stop(const std::string& who = "stopped");
  // The front end's ends: the port went away during the load, or the load
  // could not start after Begin (`outcome`: the port or the record file
  // refused it). Each reports its outcome to the view like any other end.
  void PortLost(const std::string& message);
  void Refuse(LoadOutcome outcome, const std::string& message);
  // The request Stop() raises, for a signal handler (RequestFromSignal); the
  // load ends at the next Poll.
  StopSignal& Stopper() { return stop_; }

  LoadOutcome Outcome() const { return outcome_; }
  bool Running() const { return outcome_ == LoadOutcome::kRunning; }
  // How the load ended, in words ("" while it runs).
  const std::string& EndMessage() const { return end_message_; }
  // What Begin found wrong with the image, when it refused it.
  const ImageProblem& Problem() const { return problem_; }
  LoadProgress Progress();
  // "opening" or "page NNNN", then the last command (escaped).
  std::string Where() const;
  // The reply whose refusal used up the last retry ("" when the device fell
  // silent): what a front end names when the load gives up.
  const std::string& RefusedReply() const { return refused_reply_; }

  // Called with each debug-log line (" - > " + reply).
  void SetLog(std::function<void(const std::string&)> log) { link_.on_log = std::move(log); }

 private:
  enum class Phase { kIdle, kStarting, kAwaitReply, kSettling, kDone };

  // LoadView, for the exchange: its progress and status go to the front
  // end's view, its end of the last page completes the load.
  void SetProgress(int percent) override { view_.SetProgress(percent); }
  void SetStatus(const std::string& caption) override { view_.SetStatus(caption); }
  void LoadEnded(LoadOutcome outcome, const std::string& message) override;

  void OnSent();
  void OnReply(std::string_view reply);
  // The page's attempt failed (`reply`, when one came instead of the one
  // due): the page starts again, or the load ends when its retries are used.
  void PageFailed(const std::string& why, std::string_view reply = {});
  // The load ends so: the view is told (LoadView::LoadEnded).
  void End(LoadOutcome outcome, const std::string& message);
  // A load has begun and not yet ended.
  bool Underway() const { return phase_ != Phase::kIdle && phase_ != Phase::kDone; }
  bool Elapsed(uint32_t since, uint32_t ms) { return static_cast<uint32_t>(ticks_.Ticks() - since) >= ms; }
  // Milliseconds until `ms` have elapsed since `since` (0 once they have).
  int64_t Left(uint32_t since, uint32_t ms) {
    const uint32_t elapsed = ticks_.Ticks() - since;
    return elapsed >= ms ? 0 : ms - elapsed;
  }

  TickSource& ticks_;
  const PageTable& table_;
  const UpdateFileState& file_;
  LoadView& view_;
  LoadSettings settings_;
  StopSignal stop_;
  CommandLink link_;
  Exchange exchange_;

  Phase phase_ = Phase::kIdle;
  LoadOutcome outcome_ = LoadOutcome::kIdle;
  std::string end_message_;
  ImageProblem problem_;
  std::string refused_reply_;  // the reply behind the last failure
  uint32_t start_tick_ = 0;    // Begin
  uint32_t sent_tick_ = 0;     // the last command went out
  uint32_t attempt_tick_ = 0;  // a page restart began (quiet period)
  uint32_t quiet_tick_ = 0;    // the line last brought bytes
  bool retrying_ = false;      // the current command is a page restart's
  int page_retries_ = 0;
  int64_t retry_page_ = -2;  // the page the retries are counted for
  uint64_t commands_ = 0;    // sent in this load
  int retries_ = 0;          // page restarts in this load
  uint32_t end_tick_ = 0;
};

}  // namespace kvr
