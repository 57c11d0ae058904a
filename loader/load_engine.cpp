#include "load_engine.h"

#include <algorithm>
#include <cstdio>

#include "hex_text.h"
#include "image_geometry.h"

namespace kvr {

namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

std::string Seconds(uint32_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f s", ms / 1000.0);
  return buf;
}

}  // namespace

std::string ClockText(int64_t ms) {
  if (ms < 0) return "--:--";
  const auto seconds = static_cast<unsigned long long>(ms / 1000);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02llu:%02llu", seconds / 60, seconds % 60);
  return buf;
}

uint32_t QuietPeriodMs(uint32_t reply_timeout_ms) { return std::clamp<uint32_t>(reply_timeout_ms / 4, 10, 200); }

std::string ImageProblem::Describe() const {
  switch (kind) {
    case Kind::kNone:
      return {};
    case Kind::kNoFile:
      return "no update file is loaded (none was opened, or the last one was refused or could not be read)";
    case Kind::kBadRow:
      if (text.empty()) return "line " + std::to_string(line) + " of the image is missing or empty";
      return "line " + std::to_string(line) + " of the image is not 32 hexadecimal digits: \"" + Printable(text) + "\"";
  }
  return {};
}

ImageProblem CheckImage(const PageTable& table, const UpdateFileState& file) {
  ImageProblem problem;
  if (!file.Opened) {
    problem.kind = ImageProblem::Kind::kNoFile;
    return problem;
  }
  std::string row;
  for (int64_t line = 1; line <= ImageLines; ++line) {
    row.clear();
    table.AppendLineData(line, row);
    if (row.size() == 2 * LineBytes && std::all_of(row.begin(), row.end(), IsHexDigit)) continue;
    problem.kind = ImageProblem::Kind::kBadRow;
    problem.line = line;
    problem.text = row;
    return problem;
  }
  return problem;
}

LoadEngine::LoadEngine(ByteChannel& port, TickSource& ticks, const PageTable& table, const UpdateFileState& file,
                       LoadView& view)
    : ticks_(ticks), table_(table), file_(file), view_(view), link_(port, ticks), exchange_(link_, table, file, *this) {
  link_.on_reply = [this](std::string_view reply) { OnReply(reply); };
  link_.on_sent = [this](std::string_view) { OnSent(); };
}

void LoadEngine::Configure(const LoadSettings& settings) {
  settings_ = settings;
  link_.SetSendPause(settings.pause_ms);
}

ImageProblem LoadEngine::Begin() { return Begin(CheckImage(table_, file_)); }

ImageProblem LoadEngine::Begin(const ImageProblem& checked) {
  stop_.Clear();
  link_.Reset();
  exchange_.Reset();
  phase_ = Phase::kStarting;
  outcome_ = LoadOutcome::kRunning;
  end_message_.clear();
  refused_reply_.clear();
  retrying_ = false;
  page_retries_ = 0;
  retry_page_ = -2;
  commands_ = 0;
  retries_ = 0;
  start_tick_ = sent_tick_ = ticks_.Ticks();
  problem_ = checked;
  if (problem_) End(LoadOutcome::kImageError, problem_.Describe());
  return problem_;
}

void LoadEngine::SendOpening() {
  if (phase_ != Phase::kStarting || stop_.Requested()) return;
  phase_ = Phase::kAwaitReply;
  exchange_.Open();
}

void LoadEngine::OnSent() {
  ++commands_;
  sent_tick_ = ticks_.Ticks();
  if (settings_.stop_after && commands_ >= settings_.stop_after)
    End(LoadOutcome::kStopped, "stopped after " + std::to_string(commands_) + " commands");
}

void LoadEngine::OnRxChar(int count) {
  if (count > 0 && phase_ == Phase::kSettling) quiet_tick_ = ticks_.Ticks();
  link_.OnRxChar(count);
  // A line that never stops talking keeps the front end busy with these
  // events: the time limits are watched here too.
  Poll();
}

void LoadEngine::OnReply(std::string_view reply) {
  if (phase_ != Phase::kAwaitReply) return;  // nothing asked for: dropped
  // A stop raised from another thread or a signal since the last step: the
  // reply's next command (sent at once without a pause) never goes out.
  if (stop_.Requested()) {
    Poll();
    return;
  }
  const std::string_view due = exchange_.DueReply();
  if (reply.substr(0, due.size()) != due) {
    PageFailed("reply \"" + Printable(reply) + "\" where " + std::string(due) + " was due", reply);
    return;
  }
  retrying_ = false;
  exchange_.OnReply(reply);
}

void LoadEngine::Poll() {
  if (!Underway()) return;
  if (stop_.Requested()) {
    End(LoadOutcome::kInterrupted, "stopped at " + Where());
    return;
  }
  if (link_.SendWaiting()) {
    link_.SendIfDue();
    return;
  }
  const uint32_t timeout = settings_.reply_timeout_ms;
  const uint32_t quiet = QuietPeriodMs(timeout);
  if (phase_ == Phase::kAwaitReply) {
    // A restart's command shares one budget with its quiet period, so a page
    // gives up within (retries + 1) x (time-out + quiet period + pause).
    const bool late = Elapsed(sent_tick_, timeout + 1) ||
                      (retrying_ && Elapsed(attempt_tick_, quiet + settings_.pause_ms + 1 + timeout + 1));
    if (late) PageFailed("no reply within " + Seconds(timeout));
  } else if (phase_ == Phase::kSettling) {
    if (Elapsed(quiet_tick_, quiet)) {
      link_.DropPendingReply();
      retrying_ = true;
      phase_ = Phase::kAwaitReply;
      exchange_.RestartPage();
    } else if (Elapsed(attempt_tick_, timeout + 1)) {
      // Still the refused reply's noise (if one started it).
      PageFailed("the line did not fall quiet within " + Seconds(timeout), std::string(refused_reply_));
    }
  }
}

int64_t LoadEngine::MsUntilDue() {
  if (!Underway() || phase_ == Phase::kStarting) return -1;
  if (stop_.Requested()) return 0;
  if (link_.SendWaiting()) return link_.MsUntilSend();
  const uint32_t timeout = settings_.reply_timeout_ms;
  const uint32_t quiet = QuietPeriodMs(timeout);
  if (phase_ == Phase::kSettling) return std::min(Left(quiet_tick_, quiet), Left(attempt_tick_, timeout + 1));
  int64_t left = Left(sent_tick_, timeout + 1);
  if (retrying_) left = std::min(left, Left(attempt_tick_, quiet + settings_.pause_ms + 1 + timeout + 1));
  return left;
}

void LoadEngine::PageFailed(const std::string& why, std::string_view reply) {
  refused_reply_ = reply;
  const int64_t page = exchange_.PageFirstLine();
  if (page != retry_page_) {
    retry_page_ = page;
    page_retries_ = 0;
  }
  if (++page_retries_ > settings_.retries) {
    End(LoadOutcome::kNoAnswer, "the device stopped answering at " + Where() + " (" + why + ", " +
                                    std::to_string(settings_.retries) +
                                    (settings_.retries == 1 ? " retry used)" : " retries used)"));
    return;
  }
  ++retries_;
  view_.LoadRetry(page_retries_, Where(), why);
  phase_ = Phase::kSettling;
  retrying_ = false;
  attempt_tick_ = quiet_tick_ = ticks_.Ticks();
}

void LoadEngine::Stop(const std::string& who) {
  stop_.Request();
  link_.CancelSend();
  if (Underway()) End(LoadOutcome::kInterrupted, who + " at " + Where());
}

void LoadEngine::LoadEnded(LoadOutcome outcome, const std::string& message) {
  if (Underway()) End(outcome, message);
}

void LoadEngine::PortLost(const std::string& message) {
  stop_.Request();
  link_.CancelSend();
  if (Underway()) End(LoadOutcome::kPortLost, message);
}

void LoadEngine::Refuse(LoadOutcome outcome, const std::string& message) {
  stop_.Request();
  link_.CancelSend();
  End(outcome, message);
}

void LoadEngine::End(LoadOutcome outcome, const std::string& message) {
  link_.CancelSend();
  phase_ = Phase::kDone;
  outcome_ = outcome;
  end_message_ = message;
  end_tick_ = ticks_.Ticks();
  view_.LoadEnded(outcome, message);
}

LoadProgress LoadEngine::Progress() {
  LoadProgress p;
  p.lines = exchange_.LineCounter();
  p.pages_done = p.lines / PageLines;
  if (const int64_t first = exchange_.PageFirstLine(); first >= 0) p.page = first / PageLines;
  p.percent = ProgressPercent(p.lines);
  p.commands = commands_;
  p.retries = retries_;
  const uint32_t now = phase_ == Phase::kDone ? end_tick_ : ticks_.Ticks();
  p.elapsed_ms = phase_ == Phase::kIdle ? 0 : now - start_tick_;
  if (p.elapsed_ms > 0 && p.lines > 0) {
    p.bytes_per_second = static_cast<double>(p.lines * LineBytes) * 1000.0 / p.elapsed_ms;
    const int64_t left = std::max<int64_t>(ImageBytes - p.lines * LineBytes, 0);
    p.remaining_ms = static_cast<int64_t>(left * 1000.0 / p.bytes_per_second);
  }
  return p;
}

std::string LoadEngine::Where() const {
  const int64_t first = exchange_.PageFirstLine();
  std::string where = first < 0 ? std::string("opening") : "page " + HexUpper(first / PageLines, 4);
  if (link_.LastCommand().empty()) return where + ", before the first command";
  return where + ", command " + Printable(link_.LastCommand());
}

}  // namespace kvr
