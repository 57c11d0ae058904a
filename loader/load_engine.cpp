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
  link_.SetStopSignal(&stop_);
  link_.on_reply = [this](std::string_view reply) { OnReply(reply); };
}

void LoadEngine::Configure(const LoadSettings& settings) {
  settings_ = settings;
  link_.SetSendPause(settings.pause_ms);
}

ImageProblem LoadEngine::Begin() {
  ImageProblem problem = CheckImage(table_, file_);
  if (problem) {
    result_ = LoadResult::kRefused;
    return problem;
  }
  stop_.Clear();
  exchange_.Start();
  phase_ = Phase::kStarting;
  result_ = LoadResult::kRunning;
  expected_.clear();
  refused_reply_.clear();
  retrying_ = false;
  page_retries_ = 0;
  retry_page_ = -2;
  start_tick_ = sent_tick_ = ticks_.Ticks();
  return problem;
}

void LoadEngine::SendOpening() {
  if (phase_ != Phase::kStarting) return;
  const uint64_t before = link_.FramesSent();
  link_.SendFrame("DL:0");
  AfterSend(before);
}

void LoadEngine::AfterSend(uint64_t frames_before) {
  if (link_.FramesSent() == frames_before) return;  // nothing went out
  expected_ = ExpectedReply(link_.LastCommand());
  sent_tick_ = link_.LastSendTick();
  if (phase_ != Phase::kDone) phase_ = Phase::kAwaitReply;
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
  if (reply.substr(0, expected_.size()) != expected_) {
    Fail("reply \"" + Printable(reply) + "\" where " + expected_ + " was due", reply);
    return;
  }
  retrying_ = false;
  const uint64_t before = link_.FramesSent();
  exchange_.OnReply(reply);
  AfterSend(before);
}

void LoadEngine::Poll() {
  if (phase_ == Phase::kIdle || phase_ == Phase::kDone) return;
  if (stop_.Requested()) {
    Finish(LoadResult::kStopped, "stopped at " + Where());
    return;
  }
  const uint32_t timeout = settings_.reply_timeout_ms;
  const uint32_t quiet = QuietPeriodMs(timeout);
  if (phase_ == Phase::kAwaitReply) {
    // A restart's command shares one budget with its quiet period, so a page
    // gives up within (retries + 1) x (time-out + quiet period + pause).
    const bool late = Elapsed(sent_tick_, timeout + 1) ||
                      (retrying_ && Elapsed(attempt_tick_, quiet + settings_.pause_ms + 1 + timeout + 1));
    if (late) Fail("no reply within " + Seconds(timeout));
  } else if (phase_ == Phase::kSettling) {
    if (Elapsed(quiet_tick_, quiet)) {
      link_.DropPendingReply();
      retrying_ = true;
      const uint64_t before = link_.FramesSent();
      exchange_.RestartPage();
      AfterSend(before);
      if (stop_.Requested()) Finish(LoadResult::kStopped, "stopped at " + Where());
    } else if (Elapsed(attempt_tick_, timeout + 1)) {
      // Still the refused reply's noise (if one started it).
      Fail("the line did not fall quiet within " + Seconds(timeout), std::string(refused_reply_));
    }
  }
}

void LoadEngine::Fail(const std::string& why, std::string_view reply) {
  refused_reply_ = reply;
  const int64_t page = exchange_.PageFirstLine();
  if (page != retry_page_) {
    retry_page_ = page;
    page_retries_ = 0;
  }
  if (++page_retries_ > settings_.retries) {
    Finish(LoadResult::kNoAnswer, "the device stopped answering at " + Where() + " (" + why + ", " +
                                      std::to_string(settings_.retries) + " retries used)");
    return;
  }
  view_.LoadRetry(page_retries_, Where(), why);
  phase_ = Phase::kSettling;
  retrying_ = false;
  attempt_tick_ = quiet_tick_ = ticks_.Ticks();
}

void LoadEngine::Stop() {
  stop_.Request();
  if (phase_ != Phase::kIdle && phase_ != Phase::kDone) Finish(LoadResult::kStopped, "stopped at " + Where());
}

void LoadEngine::LoadFinished(LoadResult result, const std::string& message) {
  if (phase_ != Phase::kIdle && phase_ != Phase::kDone) Finish(result, message);
}

void LoadEngine::PortLost(const std::string& message) {
  stop_.Request();
  if (phase_ != Phase::kIdle && phase_ != Phase::kDone) Finish(LoadResult::kPortLost, message);
}

void LoadEngine::Refuse(const std::string& message) {
  stop_.Request();
  Finish(LoadResult::kRefused, message);
}

void LoadEngine::Finish(LoadResult result, const std::string& message) {
  phase_ = Phase::kDone;
  result_ = result;
  end_tick_ = ticks_.Ticks();
  view_.LoadFinished(result, message);
}

LoadProgress LoadEngine::Progress() {
  LoadProgress p;
  p.lines = exchange_.LineCounter();
  p.pages_done = p.lines / PageLines;
  p.percent = ProgressPercent(p.lines);
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
