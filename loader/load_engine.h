// One load of the image into the boot loader, for every front end: the
// image check before anything is sent, the command link and the exchange, the
// pacing, the supervision of the replies (time-out, unknown or out-of-step
// replies, a bounded quiet period, page restarts, a retry limit), the progress
// figures and stopping. The front end opens the port, forwards its
// received-bytes events and calls Poll() a few times a second.
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


struct LoadProgress {
  int64_t lines = 0;  // data lines sent
  int64_t pages_done = 0;
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
  // returns no problem. Nothing is sent.
  ImageProblem Begin();
  // Sends the opening "DL:0" of a load that Begin prepared.
  void SendOpening();

  // The port's received-bytes event: gathers the replies and answers them.
  void OnRxChar(int count);
  // Time-outs, quiet periods and page restarts; call it every few tens of
  // milliseconds while a load runs.
  void Poll();
  // Ends the load: a pause in progress ends at once and nothing more is sent.
  void Stop();
  // The front end's ends: the port went away during the load, or the load
  // could not start after Begin (the port or the record file refused it).
  // Each reports its result to the view like any other end.
  void PortLost(const std::string& message);
  void Refuse(const std::string& message);
  // The request Stop() raises, for a signal handler (RequestFromSignal).
  StopSignal& Stopper() { return stop_; }

  LoadResult Result() const { return result_; }
  bool Running() const { return result_ == LoadResult::kRunning; }
  LoadProgress Progress();
  // "opening" or "page NNNN", then the last command (escaped).
  std::string Where() const;
  // The reply whose refusal used up the last retry ("" when the device fell
  // silent): what a front end names when the load gives up.
  const std::string& RefusedReply() const { return refused_reply_; }

  CommandLink& Link() { return link_; }
  const Exchange& TheExchange() const { return exchange_; }
  // Called with each debug-log line (" - > " + reply).
  void SetLog(std::function<void(const std::string&)> log) { link_.on_log = std::move(log); }

 private:
  enum class Phase { kIdle, kStarting, kAwaitReply, kSettling, kDone };

  // LoadView, for the exchange: its progress and status go to the front
  // end's view, its end of the last page completes the load.
  void SetProgress(int percent) override { view_.SetProgress(percent); }
  void SetStatus(const std::string& caption) override { view_.SetStatus(caption); }
  void LoadFinished(LoadResult result, const std::string& message) override;

  void OnReply(std::string_view reply);
  void AfterSend(uint64_t frames_before);
  void Fail(const std::string& why, std::string_view reply = {});
  void Finish(LoadResult result, const std::string& message);
  bool Elapsed(uint32_t since, uint32_t ms) { return static_cast<uint32_t>(ticks_.Ticks() - since) >= ms; }

  TickSource& ticks_;
  const PageTable& table_;
  const UpdateFileState& file_;
  LoadView& view_;
  LoadSettings settings_;
  StopSignal stop_;
  CommandLink link_;
  Exchange exchange_;

  Phase phase_ = Phase::kIdle;
  LoadResult result_ = LoadResult::kIdle;
  std::string expected_;       // the reply the last command asks for
  std::string refused_reply_;  // the reply behind the last failure
  uint32_t start_tick_ = 0;    // Begin
  uint32_t sent_tick_ = 0;     // the last command went out
  uint32_t attempt_tick_ = 0;  // a page restart began (quiet period)
  uint32_t quiet_tick_ = 0;    // the line last brought bytes
  bool retrying_ = false;      // the current command is a page restart's
  int page_retries_ = 0;
  int64_t retry_page_ = -2;  // the page the retries are counted for
  uint32_t end_tick_ = 0;
};

}  // namespace kvr
