// Command frames out, replies in. A frame is the command text, one sum byte
// (text bytes summed modulo 256) and a carriage return. Replies are gathered
// across receive events until a carriage return has been seen.
//
// Nothing here waits. A command is written once the pause before it is over:
// at once when the pause is 0, otherwise by SendIfDue, which the front end's
// loop calls when MsUntilSend says the pause has run out. Bytes that arrive
// while a command waits are kept and handled right after it has gone out, as
// the next receive event would have brought them after a pause that held the
// line's reader.
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

inline constexpr uint32_t kSendPauseMs = 50;  // pause before every command (more than this)
inline constexpr size_t kReceiveBufferSize = 1001;
inline constexpr size_t kReplyBufferSize = 1024;
// Bytes kept while a command waits for its pause: a 38400-baud line brings
// about 200 in a pause; more is a device that will not stop talking, and the
// excess is dropped.
inline constexpr size_t kHeldInputLimit = 4096;
inline constexpr std::string_view kReplyLogPrefix = " - > ";

class CommandLink {
 public:
  CommandLink(ByteChannel& port, TickSource& ticks) : port_(port), ticks_(ticks) {}
  CommandLink(const CommandLink&) = delete;
  CommandLink& operator=(const CommandLink&) = delete;

  // Frames the text to go out once more than the pause has passed from now
  // (at once when the pause is 0). Only one command waits at a time: a
  // newer one replaces it. Port failures of an immediate write propagate.
  void SendFrame(std::string_view text);
  // Writes the waiting command when its pause is over and drops any
  // half-gathered reply; true when it went out. Port failures propagate;
  // the command is then dropped, as never sent.
  bool SendIfDue();
  bool SendWaiting() const { return waiting_; }
  // Milliseconds until the waiting command is due (0: due now); -1 when none waits.
  int64_t MsUntilSend();
  // Drops the waiting command and the bytes kept for after it: nothing more goes out.
  void CancelSend();

  // The receive step for an event announcing `count` waiting bytes: reads them
  // (in steps of at most 1001), gathers replies and, for each complete one,
  // logs " - > " + text and hands the text to the reply handler.
  void OnRxChar(int count);

  // Called with each complete reply text, after it has been logged.
  std::function<void(std::string_view reply)> on_reply;
  // Called with each debug-log line.
  std::function<void(const std::string& line)> on_log;
  // Called with each command as it has been written, before bytes kept
  // during its pause are handled.
  std::function<void(std::string_view command)> on_sent;

  // The pause before each command: more than this many milliseconds (50 by
  // default); 0 sends at once.
  void SetSendPause(uint32_t ms) { send_pause_ms_ = ms; }
  // The text of the last command written.
  const std::string& LastCommand() const { return last_command_; }
  // Forgets everything of the last load: the waiting command, the bytes kept,
  // a half-gathered reply and the last command.
  void Reset() {
    CancelSend();
    DropPendingReply();
    last_command_.clear();
  }
  // Drops a half-gathered reply.
  void DropPendingReply() {
    reply_pending_ = false;
    reply_offset_ = 0;
  }

 private:
  void Write();
  // Keeps bytes that come while a command waits for its pause (up to kHeldInputLimit).
  void Hold(const uint8_t* bytes, size_t size);
  // Adds a piece to the reply being gathered; a CR in it ends the reply.
  void GatherReply(const uint8_t* piece, size_t size);

  ByteChannel& port_;
  TickSource& ticks_;
  std::array<uint8_t, kReceiveBufferSize> receive_buffer_{};
  std::array<uint8_t, kReplyBufferSize> reply_buffer_{};
  bool reply_pending_ = false;
  size_t reply_offset_ = 0;  // reply bytes gathered before the current piece (may pass 1024)
  uint32_t send_pause_ms_ = kSendPauseMs;
  bool waiting_ = false;          // a command waits for its pause
  std::vector<uint8_t> frame_;    // the waiting command's frame
  std::string waiting_text_;
  uint32_t queued_tick_ = 0;      // when the waiting command was framed
  std::vector<uint8_t> held_;     // bytes that came while it waited
  std::string last_command_;
};

}  // namespace kvr
