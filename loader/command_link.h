// Command frames out, replies in. A frame is the command text, one sum byte
// (text bytes summed modulo 256) and a carriage return. Replies are gathered
// across receive events until a carriage return has been seen.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_channel.h"
#include "tick_source.h"

namespace kvr {

// The frame for a command text: text bytes, their sum modulo 256, then 13.
std::vector<uint8_t> BuildFrame(std::string_view text);

inline constexpr uint32_t kSendPauseMs = 50;   // pause before every command (more than this)
inline constexpr uint32_t kPiecePauseMs = 20;  // pause after a first reply piece without CR
inline constexpr size_t kReceiveBufferSize = 1001;
inline constexpr size_t kReplyBufferSize = 1024;
inline constexpr std::string_view kReplyLogPrefix = " - > ";

class CommandLink {
 public:
  CommandLink(ByteChannel& port, TickSource& ticks) : port_(port), ticks_(ticks) {}
  CommandLink(const CommandLink&) = delete;
  CommandLink& operator=(const CommandLink&) = delete;

  // Frames the text, pauses more than 50 ms, writes the frame and drops any
  // half-gathered reply. Port failures propagate. A stop requested during the
  // pause ends it at once: nothing is written and the result is false.
  bool SendFrame(std::string_view text);

  // The receive step for an event announcing `count` waiting bytes: reads them
  // (in steps of at most 1001), gathers replies and, for each complete one,
  // logs " - > " + text and hands the text to the reply handler.
  void OnRxChar(int count);

  // Called with each complete reply text, after it has been logged.
  std::function<void(std::string_view reply)> on_reply;
  // Called with each debug-log line.
  std::function<void(const std::string& line)> on_log;

  bool ReplyPending() const { return reply_pending_; }
  size_t ReplyOffset() const { return reply_offset_; }
  // The pause before each command: more than this many milliseconds (50 by
  // default); 0 sends at once.
  void SetSendPause(uint32_t ms) { send_pause_ms_ = ms; }
  // The stop request that ends the pauses early (none by default).
  void SetStopSignal(StopSignal* stop) { stop_ = stop; }
  // The text of the last command sent.
  const std::string& LastCommand() const { return last_command_; }
  // Drops a half-gathered reply.
  void DropPendingReply() {
    reply_pending_ = false;
    reply_offset_ = 0;
  }

  // Frames written so far, and the tick count when the last one went out.
  uint64_t FramesSent() const { return frames_sent_; }
  uint32_t LastSendTick() const { return last_send_tick_; }

 private:
  void HandlePiece(size_t m);
  void AwaitRestOfReply();

  ByteChannel& port_;
  TickSource& ticks_;
  std::array<uint8_t, kReceiveBufferSize> receive_buffer_{};
  std::array<uint8_t, kReplyBufferSize> reply_buffer_{};
  bool reply_pending_ = false;
  size_t reply_offset_ = 0;  // reply bytes gathered before the current piece (may pass 1024)
  uint32_t send_pause_ms_ = kSendPauseMs;
  StopSignal* stop_ = nullptr;
  std::string last_command_;
  uint64_t frames_sent_ = 0;
  uint32_t last_send_tick_ = 0;
};

}  // namespace kvr
