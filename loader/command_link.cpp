#include "command_link.h"

#include <algorithm>
#include <cstring>

namespace kvr {

std::vector<uint8_t> BuildFrame(std::string_view text) {
  std::vector<uint8_t> frame;
  frame.reserve(text.size() + 2);
  uint8_t sum = 0;
  for (char c : text) {
    const auto b = static_cast<uint8_t>(c);
    frame.push_back(b);
    sum = static_cast<uint8_t>(sum + b);
  }
  frame.push_back(sum);
  frame.push_back(13);
  return frame;
}

bool CommandLink::SendFrame(std::string_view text) {
  const std::vector<uint8_t> frame = BuildFrame(text);
  if (stop_ && stop_->Requested()) return false;
  if (send_pause_ms_ > 0 && !PauseMoreThan(ticks_, send_pause_ms_, stop_)) return false;
  if (stop_ && stop_->Requested()) return false;  // raised as the pause ended
  port_.WriteBuf(frame.data(), static_cast<int>(frame.size()));
  reply_pending_ = false;
  ++frames_sent_;
  last_command_.assign(text);
  last_send_tick_ = ticks_.Ticks();
  return true;
}

void CommandLink::OnRxChar(int count) {
  // An event may announce more than the receive buffer holds: read it in steps.
  while (count > 0) {
    const int want = std::min<int>(count, static_cast<int>(kReceiveBufferSize));
    int got = port_.ReadBuf(receive_buffer_.data(), want);
    if (got <= 0) return;
    got = std::min(got, want);
    count -= got;
    HandlePiece(static_cast<size_t>(got));
    if (got < want) return;  // fewer bytes than announced: do not wait for more
  }
}

// After a first piece without CR the classic program paused more than 20 ms
// for the rest of the reply. The pause is kept as the longest wait, but it
// ends as soon as the CR has arrived (or a stop is asked): what came
// meanwhile is then handled at once as the next piece, as the next receive
// event would have brought it.
void CommandLink::AwaitRestOfReply() {
  const uint32_t start = ticks_.Ticks();
  size_t got = 0;
  for (;;) {
    if (stop_ && stop_->Requested()) break;
    const uint32_t elapsed = ticks_.Ticks() - start;
    if (elapsed > kPiecePauseMs || got == receive_buffer_.size()) break;
    const int n = port_.ReadWithin(receive_buffer_.data() + got, static_cast<int>(receive_buffer_.size() - got),
                                   kPiecePauseMs + 1 - elapsed);
    if (n < 0) PauseMoreThan(ticks_, kPiecePauseMs, stop_);  // the channel cannot look: the whole pause
    if (n <= 0) break;                                       // nothing came in the time left
    const bool has_cr = std::memchr(receive_buffer_.data() + got, 13, static_cast<size_t>(n)) != nullptr;
    got += static_cast<size_t>(n);
    if (has_cr) break;
  }
  if (got > 0) HandlePiece(got);
}

void CommandLink::HandlePiece(size_t m) {
  const uint8_t* piece = receive_buffer_.data();
  const bool has_cr = std::memchr(piece, 13, m) != nullptr;
  // Bytes past the reply buffer are dropped; the reply still ends at its CR.
  const size_t at = reply_pending_ ? reply_offset_ : 0;
  if (at < kReplyBufferSize) std::memcpy(reply_buffer_.data() + at, piece, std::min(m, kReplyBufferSize - at));

  size_t length;
  if (!reply_pending_) {
    if (!has_cr) {
      reply_pending_ = true;
      reply_offset_ = m;
      AwaitRestOfReply();
      return;
    }
    length = m - 1;
  } else {
    if (!has_cr) {
      reply_offset_ += m;
      return;
    }
    length = reply_offset_ + m - 1;
    reply_pending_ = false;
    reply_offset_ = 0;
  }

  // The text drops exactly the last byte gathered, wherever the CR stood.
  const std::string text(reinterpret_cast<const char*>(reply_buffer_.data()), std::min(length, kReplyBufferSize));
  if (on_log) on_log(std::string(kReplyLogPrefix) + text);
  if (on_reply) on_reply(text);
}

}  // namespace kvr
