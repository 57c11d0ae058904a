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

void CommandLink::SendFrame(std::string_view text) {
  frame_ = BuildFrame(text);
  waiting_text_.assign(text);
  queued_tick_ = ticks_.Ticks();
  waiting_ = true;
  if (send_pause_ms_ == 0) Write();
}

int64_t CommandLink::MsUntilSend() {
  if (!waiting_) return -1;
  return send_pause_ms_ == 0 ? 0 : MsUntilMoreThan(ticks_, queued_tick_, send_pause_ms_);
}

bool CommandLink::SendIfDue() {
  if (MsUntilSend() != 0) return false;
  Write();
  return true;
}

void CommandLink::CancelSend() {
  waiting_ = false;
  held_.clear();
}

void CommandLink::Write() {
  // A command whose write fails is dropped as never sent, with what was kept for after it.
  waiting_ = false;
  std::vector<uint8_t> held;
  held.swap(held_);
  port_.WriteBuf(frame_.data(), static_cast<int>(frame_.size()));
  reply_pending_ = false;
  last_command_.swap(waiting_text_);
  if (on_sent) on_sent(last_command_);
  // What came during the pause is the next piece, after the command.
  for (size_t at = 0; at < held.size(); at += kReceiveBufferSize) {
    const size_t size = std::min(kReceiveBufferSize, held.size() - at);
    if (waiting_)
      Hold(held.data() + at, size);  // its reply asked for the next command at once
    else
      GatherReply(held.data() + at, size);
  }
}

void CommandLink::Hold(const uint8_t* bytes, size_t size) {
  const size_t keep = std::min(size, kHeldInputLimit - std::min(kHeldInputLimit, held_.size()));
  held_.insert(held_.end(), bytes, bytes + keep);
}

void CommandLink::OnRxChar(int count) {
  // An event may announce more than the receive buffer holds: read it in steps.
  while (count > 0) {
    const int want = std::min<int>(count, static_cast<int>(kReceiveBufferSize));
    int got = port_.ReadBuf(receive_buffer_.data(), want);
    if (got <= 0) return;
    got = std::min(got, want);
    count -= got;
    if (waiting_)
      Hold(receive_buffer_.data(), static_cast<size_t>(got));
    else
      GatherReply(receive_buffer_.data(), static_cast<size_t>(got));
    if (got < want) return;  // fewer bytes than announced: do not wait for more
  }
}

void CommandLink::GatherReply(const uint8_t* piece, size_t size) {
  const bool has_cr = std::memchr(piece, 13, size) != nullptr;
  // Bytes past the reply buffer are dropped; the reply still ends at its CR.
  const size_t at = reply_pending_ ? reply_offset_ : 0;
  if (at < kReplyBufferSize) std::memcpy(reply_buffer_.data() + at, piece, std::min(size, kReplyBufferSize - at));

  size_t length;
  if (!reply_pending_) {
    if (!has_cr) {
      // The rest comes with the next pieces: the reply is gathered until its CR.
      reply_pending_ = true;
      reply_offset_ = size;
      return;
    }
    length = size - 1;
  } else {
    if (!has_cr) {
      reply_offset_ += size;
      return;
    }
    length = reply_offset_ + size - 1;
    reply_pending_ = false;
    reply_offset_ = 0;
  }

  // The text drops exactly the last byte gathered, wherever the CR stood.
  const std::string text(reinterpret_cast<const char*>(reply_buffer_.data()), std::min(length, kReplyBufferSize));
  if (on_log) on_log(std::string(kReplyLogPrefix) + text);
  if (on_reply) on_reply(text);
}

}  // namespace kvr
